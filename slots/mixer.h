#pragma once

#include "board/mixer.h"
#include "board/voice.h"
#include "messages/zgcp.h"
#include "runtime/owed_requests.h"
#include "slots/slot_factory.h"

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <vector>

class Slot;

// The conference mixer "/dev/mixer": its units, the ports the controller creates on their
// channels (slots/mixer_slot.h) and the factory that keeps the unit table.
namespace Mixer {

class MixerFactory;
class MixerSlot;
class TdmInput;
class TdmOutput;

// One request to the mixer driver on an open of its own (opened and closed each time):
// the request's result, or -1 with errno set, the open's when the device cannot be opened.
int mixer_ctl(unsigned long request, void* record);

// One unit of the mixer as the driver enumerates it.
//
// Owned by the factory's table while the driver lists it and by each of its ports: a unit
// the driver no longer lists is dead, and goes with its last port.
//
// A route that a port's release leaves summed because the driver refuses to undo it is owed
// by the unit: said once, tried again on the back-off of OwedRequests, and undone before a
// new port's routes name either of its channels (that create is declined while the driver
// still refuses). The driver lets go of it with the unit.
class Mixer : public std::enable_shared_from_this<Mixer>, private OwedRequests::Owner {
public:
    Mixer(int id, MixerFactory& factory);
    Mixer(Mixer const&) = delete;
    Mixer& operator=(Mixer const&) = delete;

    int id() const { return id_; }
    bool isDead() const { return dead_; }
    // "mixer [3]: ".
    void PutHeader(std::ostream& os) const;

    // The driver's address of a channel of this unit; false for an rtp channel.
    bool Channel2Slot(ZGCP::MixerChannel const& channel, mix_slot& slot) const;
    // The switch timeslot of a channel; -1 (and a line) when the driver refuses it.
    int channel2timeslot(int channel) const;
    // Removes every source of the summing channel.
    bool ClearTX(ZGCP::MixerChannel const& channel);
    // Makes the output's channel add its inputs (or itself when it lists none). Every route
    // is translated before the channel is touched, and a failed request clears the channel
    // again, so a false leaves no route of the output behind.
    bool SetTX(ZGCP::MixerOutParams const& params);
    // Clears every summing channel (a unit found for the first time).
    void Reset();
    // The driver no longer lists the unit: every port is told (abort 0).
    void Clear();

    MixerSlot* Register(MixerSlot* port);
    void UnRegister(MixerSlot* port);
    // The ports registered, in the order they were made.
    std::vector<MixerSlot*> const& ports() const { return ports_; }

    // A port on a channel of this unit; null when the parameters do not fit the unit.
    Slot* New(ZGCP::MixerInParams const& params);
    Slot* New(ZGCP::MixerOutParams const& params);
    // What a port's destroy undoes on the unit: its routes (unless the unit is superseded),
    // its registration.
    void Release(TdmInput& port);
    void Release(TdmOutput& port);
    // Routes of the channel are owed: left summed by what let go of them.
    bool owes(int channel) const;

    // A route left summed: the source tx of the summing channel rx, or all its sources.
    struct Leftover {
        static constexpr int kAllSources = -1;
        int rx;
        int tx;
    };

private:
    friend class MixerFactory;

    // The timeslot of a TDM channel that a port may take; -1 when it may take none (a port
    // of the unit holds it).
    int portTimeslot(ZGCP::MixerChannel const& channel) const;
    // The unit disappeared and another came back under its number: the routes of that
    // number are the other's.
    bool superseded() const;
    // A channel record of this unit.
    mix_slot tdm(int channel) const { return mix_slot{id_, mix_slot_tdm, channel}; }
    // MIX_RX_ADD; a failure is written with the error.
    bool add(mix_route& route);

    // MIX_RX_REMOVE of the source, or MIX_RX_CLEAR of all: the driver's result.
    int request(Leftover const& leftover) const;
    // The request made again: true when the route is gone (a source the driver does not
    // have is gone).
    bool undo(Leftover const& leftover) const;
    // The driver refused to undo it: owed (said once), unless the driver let go of the unit.
    void owe(Leftover const& leftover);
    // Undoes what is owed on the channels a new port's routes name; false (a line) while the
    // driver still refuses some of it.
    bool settle(std::vector<int> const& channels);
    // Undoes, quietly, the owed leftovers that pass; each goes (a line) once undone.
    template <class Pass>
    void pay(Pass pass);
    bool PayOwed() override;

    int id_;
    bool dead_ = false;
    MixerFactory& factory_;
    std::vector<MixerSlot*> ports_;
    std::vector<Leftover> owed_;
    OwedRequests owedRequests_{*this};
};

// The factory of the mixer ports (create alternatives mixerOut and mixerIn) and the table
// of the mixer units, which every resource query refreshes from the driver. It does not
// enumerate when built: no port can be made before the first query.
class MixerFactory : public SlotFactory {
public:
    // Units taken from one enumeration at most.
    static constexpr std::size_t kMaxUnits = 100;
    // Processing costs reported with each unit.
    static constexpr int kDpuPerMixer = 770;
    static constexpr int kDpuPerEc = 17;
    static constexpr int kDpuPerLms = 24;

    static MixerFactory& instance();

    MixerFactory() = default;

    char const* GetName() const override { return "Mixer"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    // Refreshes the table and reports one mixer entry a unit, in table order.
    void Query(ZGCP::Resources& resources) override;

    // Enumerates the units: new ones are added and reset, those not listed any more are
    // cleared and dropped; then the voice driver's version is read.
    void RefreshResources();
    void QueryDriverVersion();
    // The live unit with that number; null when none.
    std::shared_ptr<Mixer> findMixer(int unit) const;

    // The smallest over the units enumerated last; -1 when none.
    int tdm_channels() const { return tdmChannels_; }
    int mixer_inputs() const { return mixerInputs_; }
    bool versionValid() const { return versionValid_; }
    voice_version const& driverVersion() const { return version_; }
    std::vector<std::shared_ptr<Mixer>> const& units() const { return units_; }

    // "mixer: ".
    void PutHeader(std::ostream& os) const;

private:
    bool versionValid_ = false;
    voice_version version_{};
    int mixerInputs_ = -1;
    int tdmChannels_ = -1;
    std::vector<std::shared_ptr<Mixer>> units_;
};

}  // namespace Mixer
