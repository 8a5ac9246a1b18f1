#pragma once

#include "base/fd.h"
#include "runtime/accept_pause.h"
#include "runtime/event.h"
#include "runtime/owed_requests.h"
#include "slots/auth_client.h"
#include "slots/slot_factory.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <list>
#include <memory>
#include <string>
#include <vector>

class DspModemSlot;
class HdlcModemSlot;
class ModemSlot;

// Makes the modem slots of the `modem` create: a digital modem on a free point-to-point
// generic-HDLC interface when the create lists digital data modes, an analogue modem or fax
// on a DSP modem of "/dev/mctl" otherwise. It counts both for the resources answer, and
// runs the local authentication listener (TCP, 127.0.0.1) for the PPP authentication
// client, routing its records between the connections and the live modem slots by session
// number.
//
// An interface whose reset the driver refused when its slot went is owed that reset: said
// once, tried again on the back-off of OwedRequests, and neither free nor handed out before
// the driver takes it.
class ModemFactory : public SlotFactory, private OwedRequests::Owner {
public:
    static constexpr std::uint16_t kAuthPort = 52000;
    static constexpr int kAuthBacklog = 64;

    static ModemFactory& instance();

    // Counts the modems and interfaces, then listens on 127.0.0.1 at the port (0: a port
    // the system chooses; the daemon's factory listens on kAuthPort).
    explicit ModemFactory(std::uint16_t authPort = kAuthPort);
    ~ModemFactory() override;

    char const* GetName() const override { return "Modem"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    // Counts again: `modem` the modems, `digital-modems` the free interfaces.
    void Query(ZGCP::Resources& resources) override;
    void IQuery();
    // Sets up the authentication listener; false (logged) when it cannot.
    bool Init();

    // A slot going away leaves the lists; an interface slot's interface is free again.
    // Releasing a slot twice changes nothing.
    void ReleaseModemSlot(DspModemSlot* slot);
    void ReleaseModemSlot(HdlcModemSlot* slot);
    // The driver refused the reset of an interface handed back: it is owed.
    void OweReset(std::string const& interfaceName);
    bool owesReset(std::string const& interfaceName) const;

    // A record for the connection of its session (dropped, logged, when there is none).
    void SendAuth(attr const* record);
    // A complete record from a connection, for the slot of its session.
    void OnAuth(attr const* record);
    // The connection is closed and no call of it runs: it goes.
    void OnAuthSocketDisconnect(AuthClient* client);
    // The first live modem slot, in creation order, whose modem_id() is the number; null
    // when none has it.
    ModemSlot* FindModemByDsp(int modem) const;

    unsigned int modemCount() const { return modemCount_; }
    std::deque<std::string> const& freeInterfaces() const { return freeInterfaces_; }
    std::vector<DspModemSlot*> const& dspSlots() const { return dsp_; }
    std::size_t connections() const { return clients_.size(); }
    // How many authentication connections are kept at once (each costs two descriptors).
    // A PPP session runs on one modem line, a DSP modem of "/dev/mctl" or a point-to-point
    // generic-HDLC interface, in one live modem slot, and its authentication client holds
    // one connection; a client may open the next before the daemon has seen its last one
    // close. So twice the lines the factory counted (or the live modem slots, should the
    // count be out of date) serve every session the board can run; a connection beyond
    // that is accepted and closed at once.
    std::size_t authBound() const
    {
        return 2 * std::max(modemCount_ + freeInterfaces_.size() + hdlc_.size(), all_.size());
    }
    // The port the listener is bound to; 0 without a listener.
    std::uint16_t authPort() const;

    // "modem[<modems>,<live modem slots>]: ".
    void PutHeader(std::ostream& os) const;

private:
    void update_modemDevices();
    void update_hdlcDevices();
    bool held(std::string const& interfaceName) const;
    void OnSocketEvent(int fd, short revents);
    // The listening socket has ended: it stays closed until the process restarts.
    void ListenerFailed();
    // Resets, quietly, the interfaces owed it; each one reset is free again (a line).
    bool PayOwed() override;

    std::uint16_t port_;
    std::vector<DspModemSlot*> dsp_;
    std::vector<HdlcModemSlot*> hdlc_;
    // Every live modem slot in creation order: records go to the first of a session.
    std::vector<ModemSlot*> all_;
    unsigned int modemCount_ = 0;
    Fd listener_;
    Event listenEvent_;
    AcceptPause acceptPause_{listenEvent_};
    // In accept order.
    std::list<std::unique_ptr<AuthClient>> clients_;
    // Connections have been refused for the bound since the last one kept: only the first
    // refusal of such a run is logged.
    bool refusing_ = false;
    std::deque<std::string> freeInterfaces_;
    std::vector<std::string> owedResets_;
    OwedRequests owedRequests_{*this};
};
