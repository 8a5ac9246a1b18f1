#pragma once

#include "hardware/tonec_receiver.h"
#include "messages/acp.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct dsproc_bss_event;
struct dsproc_flags_event;
struct dsproc_tone_event;
struct rtp_event;
class SlotFactory;
class Slots;

namespace Hardware {
struct DSProcSDEvent;
struct DSProcVADEvent;
}
namespace TERM {
class ModemInformation;
class ModemProceeding;
class RtpRadioRequest;
class TermActivateParams;
}
namespace ZARNGW {
class ProtoZarnPackets;
}
namespace ZGCP {
class IoctlParams;
class IoctlResponse;
class RtpEvent;
class SDEvent;
class Signal;
class TonecEvent;
class VADEvent;
}

// A termination the controller creates, connects and destroys by number.
//
// Media flows from a slot's source to the slot, and from the slot to its listeners. Slot
// kinds override the I-prefixed hooks; the slot table and the connection rules
// (slots/connection.h) drive them. Every event of a slot reaches the controller as a
// ZGCP signal for the slot's number, through the senders below.
//
// A slot is made on the heap by its factory and owned by the slot table from its creation
// until the table deletes it; source and listeners are not owned.
class Slot {
public:
    // The id of a slot the table has not numbered yet.
    static constexpr std::uint32_t kNoId = 0xFFFFFFFF;

    Slot() = default;
    virtual ~Slot();
    Slot(Slot const&) = delete;
    Slot& operator=(Slot const&) = delete;

    // Trunk and time slot of a slot that stands for a trunk time slot; 0xFFFFFFFF otherwise.
    virtual unsigned int GetTrunk();
    virtual unsigned int GetTrunkTimeSlot();
    // A line state reported by the trunk controls, passed on by a factory.
    virtual void OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state);

    // Once, after the table has numbered the slot and answered its create.
    virtual void IAfterCreate();
    // True: the slot may go at once. False: its release goes on; it calls on_release()
    // when done.
    virtual bool IBeforeDestroy();
    // The controller's commands of the same names; false is answered `unsupported`, or
    // `insufficientResources` when the hook called LackResources.
    virtual bool IActivate(TERM::TermActivateParams const& params);
    virtual bool IDeactivate();
    virtual bool IUserData(std::vector<char> const& data);
    virtual bool Ioctl(ZGCP::IoctlParams const& params);

    // The side of a connection with the higher priority programs the hardware.
    virtual int GetConnectionPriority();
    // The hardware step of a connection. The defaults go through the switch.
    virtual bool IHwConnectTransmitter(Slot& destination);
    virtual bool IHwConnectReceiver(Slot& source);
    virtual bool IHwDisconnectTransmitter(Slot& destination);
    virtual bool IHwDisconnectReceiver(Slot& source);

    // Open the transmit or receive side for a first connection: whether the slot has it.
    virtual bool IOnOutputStream();
    virtual bool IOnInputStream();
    // Close them after the last connection.
    virtual void IOnOutputRelease();
    virtual void IOnInputRelease();

    // The switch input carrying the slot's output and the switch output feeding its input;
    // -1 when none.
    virtual int IGetTransmitChannel();
    virtual int IGetReceiveChannel();

    // The kind's short name for log lines.
    virtual char const* GetName() const = 0;

    std::uint32_t GetId() const { return id_; }
    bool GetInputStream() const { return inputActive_; }
    bool GetOutputStream() const { return outputActive_; }
    bool is_releasing() const { return releasing_; }
    SlotFactory* GetSlotFactory() { return factory_; }
    Slot* GetSource() const { return source_; }
    // The slots this one feeds, in the order they were connected.
    std::vector<Slot*> const& GetListeners() const { return listeners_; }

    int GetTransmitChannel() { return IGetTransmitChannel(); }
    int GetReceiveChannel() { return IGetReceiveChannel(); }

    // The log name: the number (at least two digits), "na" before numbering, then ":" and
    // the kind ("07:trunk", "na:map").
    void Put(std::ostream& os) const;

    // To the controller, for this slot's number.
    void SendSignal(ZGCP::Signal const& signal);

    // Logical links: this slot receives from src / from nobody.
    void LogicalConnect(Slot& src);
    void LogicalDisconnect();

    // First step of removing the slot: true when it may be deleted at once (it has left its
    // factory then); false when its release goes on.
    bool BeforeDestroy();
    // Called by a kind whose postponed release has finished; the slot is deleted before
    // this returns, so the caller must not touch it afterwards.
    void on_release();

    // Stream state changes, reported to the controller; turning a side off disconnects it.
    void OnChangeInputStream(bool on);
    void OnChangeOutputStream(bool on);

    // Whether the last command hook refused for want of resources; asking clears it.
    bool TakeResourceLack()
    {
        bool const lack = lacksResources_;
        lacksResources_ = false;
        return lack;
    }

    // Signal senders.
    void OnTonecEvent(ZGCP::TonecEvent const& event);
    void OnNumber(std::string const& digits);
    void OnModem(TERM::ModemProceeding const& proceeding);
    void OnModem(TERM::ModemInformation const& information);
    void OnActivated();
    void OnDeactivated();
    void OnAbort(int cause);
    void OnUserData(std::vector<char> const& data);
    void OnIoctlResponse(ZGCP::IoctlResponse const& response);
    void OnRtpRadioEvent(TERM::RtpRadioRequest const& request);
    void OnVADEvent(ZGCP::VADEvent const& event);
    void OnProtoZarnEvent(ZARNGW::ProtoZarnPackets const& packets);
    void OnSDEvent(ZGCP::SDEvent const& event);
    void OnRtpEvent(ZGCP::RtpEvent const& event);

    // Translators of the tone, voice-processing and RTP device events into signals.
    void processTonecEvent(Hardware::TonecReceiver::Params const& params);
    void processToneGenEvent();
    void processVADEvent(Hardware::DSProcVADEvent const& event);
    void processSDEvent(Hardware::DSProcSDEvent const& event);
    void processToneFltEvent(dsproc_tone_event const* event);
    void processFlagsEvent(dsproc_flags_event const* event);
    void processBSSEvent(dsproc_bss_event const* event);
    void processRtpEvent(rtp_event const& event);

protected:
    // Called by a command hook that refuses for want of resources, before it returns false.
    void LackResources() { lacksResources_ = true; }

private:
    friend class Slots;
    friend class SlotFactory;

    std::uint32_t id_ = kNoId;
    std::vector<Slot*> listeners_;
    Slot* source_ = nullptr;
    SlotFactory* factory_ = nullptr;
    bool inputActive_ = false;
    bool outputActive_ = false;
    bool releasing_ = false;
    // A destroy command waits for this slot's release: its answer goes out with delayedSeq.
    bool answerOwed_ = false;
    std::uint32_t delayedSeq_ = 0;
    // BeforeDestroy is running, and on_release was called from inside it.
    bool inBeforeDestroy_ = false;
    bool releasedEarly_ = false;
    bool lacksResources_ = false;
};

std::ostream& operator<<(std::ostream& os, Slot const& slot);
