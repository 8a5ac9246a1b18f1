#pragma once

#include "base/fd.h"
#include "runtime/device_read.h"
#include "runtime/event.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <iosfwd>

// A raw frame channel of the MCC controller: user data from the controller is written to the
// channel as one frame (answered with an error when it is not written), and every frame the
// channel delivers goes to the controller as a userData signal; a frame longer than the slot
// reads is dropped with a line, never sent up cut. The channel's switch channel is the slot's,
// both ways, until the line ends: the slot then loses its channel.
class MccSlot : public Slot {
public:
    // The largest frame the slot reads and sends up.
    static constexpr unsigned kBufferSize = 1024;

    // Takes the allocated channel and its time slot.
    MccSlot(int timeslot, Fd channel);

    // One write of the bytes; a failure is logged and refuses the data.
    bool IUserData(std::vector<char> const& data) override;
    // The channel goes back with its switch output disabled.
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    char const* GetName() const override { return "MCC"; }

    // Reads the frames waiting; the end of the line ends the slot's reading and its channel.
    void OnEvent(int fd, short revents);

    void PutHeader(std::ostream& os) const;

private:
    void lost(DeviceRead const& why);

    int channel_;
    Event event_;
};

// Makes MCC data slots and reports the controller's channel counts.
class MccFactory : public SlotFactory {
public:
    static MccFactory& instance();

    MccFactory() = default;

    char const* GetName() const override { return "MCC"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    // mcc-data, mcc-bri and mcc-trans; 0 when the device cannot tell.
    void Query(ZGCP::Resources& resources) override;

    void PutHeader(std::ostream& os) const { os << "mcc: "; }
};
