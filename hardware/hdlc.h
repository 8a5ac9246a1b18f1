#pragma once

#include "base/packet.h"
#include "runtime/device_read.h"
#include "runtime/event.h"

#include <cstdint>
#include <iosfwd>

namespace ZGCP {
class HdlcLinkInfo;
}

// The transmitter side of an HDLC channel, as the link protocols use it.
class GenericHDLC {
public:
    virtual ~GenericHDLC() = default;
    // True when the channel took the frame (an empty one counts as taken); false when it
    // cannot take it now: readiness is then reported later through on_hdlc_ready.
    virtual bool hdlc_transmit(Packet& packet) = 0;
    virtual bool is_open() const = 0;
    virtual bool is_ready() const = 0;
};

// Whole frames on the non-blocking descriptor of a frame channel: one read or write is one
// frame.
namespace FrameIo {

// One frame into a new packet without head room, as the readiness asks (runtime/device_read.h:
// a read of nothing ends the line). A frame that finds no free packet is read away: the
// result is data and the packet stays null.
DeviceRead read(int fd, short revents, Packet& packet);

enum class Write {
    written,
    full,    // the channel takes nothing now; it polls writable when it does again
    failed,  // errno set
};
Write write(int fd, Packet const& frame);

}  // namespace FrameIo

// One HDLC framing channel of the MCC controller ("/dev/mcc/ctl"), joined to a line through
// the time-slot switch while active.
//
// Whole frames travel as packets: the owner transmits with hdlc_transmit; received frames
// (address first, without flags and check bits), errors and transmitter readiness go to the
// bound observer. The observer may deactivate or re-activate the channel from inside its
// callbacks. While active, the line output the controller drives carries the controller's
// frames and the controller's own output copies the line. Deactivating or destroying the
// channel gives the controller's channel back with its output disabled, and leaves the line
// output idle unless another connection was made on it since.
class HDLC : public GenericHDLC {
public:
    class Notify {
    public:
        struct Cause {
            enum Type { readError = 0 };
        };

        virtual ~Notify() = default;
        virtual void on_hdlc_receive(Packet& packet) = 0;
        virtual void on_hdlc_error(Cause::Type cause) = 0;
        virtual void on_hdlc_ready() = 0;
    };

    struct Params {
        std::uint32_t trunk = 0;     // shown in the log header
        std::uint32_t timeslot = 0;  // shown in the log header
        // The line's switch channel: the controller always receives from it, and transmits
        // into it unless type is 2.
        std::int32_t tdm = -1;
        // The switch channel the controller transmits into when type is 2.
        std::int32_t txTdm = -1;
        // 0 SS7 signalling link, 1 primary-rate D channel or raw HDLC link, 2 basic-rate D
        // channel.
        std::uint32_t type = 0;
    };

    struct Statistics {
        std::uint32_t txSU = 0;        // frames written
        std::uint32_t txDiscard = 0;   // frames offered while not open
        std::uint32_t txError = 0;     // writes failed
        std::uint32_t txOverflow = 0;  // never counted by the channel
        std::uint32_t rxSU = 0;        // frames received
    };

    // The controller's receive packet size and thresholds of a signalling channel.
    static constexpr std::uint32_t kRxPacketSize = 512;
    static constexpr std::uint32_t kRxThreshold = 1;
    static constexpr std::uint32_t kTxThreshold = 4;

    HDLC();
    // Leaves the line; the descriptor closes with the event.
    ~HDLC() override;
    HDLC(HDLC const&) = delete;
    HDLC& operator=(HDLC const&) = delete;

    void params(Params const& p) { params_ = p; }
    Params const& params() const { return params_; }
    void trunk(unsigned n) { trunkNo_ = n; }
    // Kept for the owner; the channel does not use it.
    void logLevel(unsigned level) { logLevel_ = level; }
    unsigned logLevel() const { return logLevel_; }
    void bind(Notify* notify);
    // The observer becomes one that ignores everything.
    void unbind();

    // Allocates a controller channel and joins it to the line both ways; false (and
    // inactive, nothing of it left in the switch) when the device, the allocation, the
    // time-slot query or a switch connection fails.
    bool activate();
    // False when the switch refused a request of the leaving (the switch then disables the
    // outputs concerned itself).
    bool deactivate();

    bool hdlc_transmit(Packet& packet) override;
    bool is_open() const override { return event_.IsActive(); }
    bool is_ready() const override { return ready_; }
    Statistics const& statistics() const { return stats_; }
    // The counters as the controller receives them, with the owner's overflows added.
    ZGCP::HdlcLinkInfo linkInfo(std::uint32_t overflows = 0) const;

    // "hdlc [trunk/timeslot]: ".
    void PutHeader(std::ostream& os) const;

    // Loop callbacks: a readiness report, and the reading of one frame. Any end of the
    // descriptor (a read of nothing, a hang-up, an error, a descriptor found not open)
    // deactivates the channel and tells the observer (on_hdlc_error), once.
    void on_event(int fd, short revents);
    void do_read();

private:
    void readFrame(short revents);
    // Connects the switch, recording the line channel joined; a refusal is logged.
    bool join(int src, int dst, int& line);
    // The channel's line went away: the channel deactivates and the observer hears of it.
    void fail();
    // Undoes the switch connections of the active channel; false when a request failed.
    bool leaveLine();

    bool ready_ = false;
    Params params_;
    Statistics stats_;
    Event event_;
    unsigned logLevel_ = 0;
    unsigned trunkNo_ = 0;
    Notify* notify_ = nullptr;
    // The switch connections of the active channel: the controller's channel, the line output
    // it drives and the line channel its own output copies; -1 where none.
    struct Joins {
        int channel = -1;
        int lineOutput = -1;
        int lineInput = -1;
    } joins_;
    // Counts activations and deactivations, so that a callback sees a change made by the
    // observer.
    unsigned generation_ = 0;
};
