#pragma once

// Shared by the fuzz targets of the signalling links: a link as the daemon runs it, in a PSTN
// slot whose HDLC channel of the MCC controller is joined to a trunk time slot on the
// simulated board, fed from the channel's far end and driven by the steps of an input (time,
// the controller's commands, the channel's faults, the packet pool running out), with the
// checks every target makes after an input.
//
// Frames come from the far end as the daemon meets them: written to the far end of the
// controller's channel, read by the channel in the loop and handed to the link by its slot.
// The real channel (not one in memory) is what gives the link its readiness, its full writes
// and the end of its line as the daemon has them, and the slot what it does about each.
// What the link writes is kept as the controller model receives it, in order, whatever then
// becomes of the channel. The loop runs on a test clock that only the steps move.

#include "base/clock.h"
#include "board/sim/mcc_model.h"
#include "board/sim/sim_board.h"
#include "messages/zgcp.h"
#include "signalling/fuzz/far_end.h"
#include "signalling/pstn_slot.h"
#include "slots/slot.h"
#include "tests/fuzz_support.h"
#include "tests/pool_drain.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace linkfuzz {

// Ends the run on a breach, saying which on the standard error, with the target's name.
[[noreturn]] void breach(std::string const& what);
// The same for a frame the link wrote, shown in hexadecimal.
[[noreturn]] void bad(Frame const& frame, std::string const& what);
// The octets of both, one after the other.
Frame join(Frame front, Frame const& back);

// The MCC controller's model, which also keeps every frame the daemon writes on any of its
// channels, in order, even when the channel ends before the frame is looked at.
class RecordingMcc : public board::sim::MccModel {
public:
    void received(board::sim::OpenFile& file, void const* data, std::size_t length) override;

    std::vector<Frame> frames;
};

// The trunk time slot the link is joined to: trunk 1, time slot 5, switch channel 37 both ways.
class TrunkLine : public Slot {
public:
    static constexpr int kChannel = 37;

    unsigned int GetTrunk() override { return 1; }
    unsigned int GetTrunkTimeSlot() override { return 5; }
    int IGetTransmitChannel() override { return kChannel; }
    int IGetReceiveChannel() override { return kChannel; }
    char const* GetName() const override { return "line"; }
};

// What the far end of a target hears of the bench's work besides the frames the link writes.
class BenchObserver {
public:
    virtual ~BenchObserver() = default;
    // A frame of the far end is about to reach the link's channel.
    virtual void pushing() {}
    // It reached the channel; taken: the link read it (no frame is taken without a packet).
    virtual void pushed(Frame const&, bool /*taken*/) {}
    // A message from the controller handed to the slot.
    virtual void handedDown(Frame const&) {}
};

// The PSTN slot, keeping what its link delivers upwards and what the network side of a bus
// hands it to send (whether the channel takes it or not).
class LinkSlot : public PstnSlot {
public:
    using PstnSlot::PstnSlot;
    void on_message(Packet& packet) override;
    void transmit(Packet& packet) override;

    std::vector<Frame> delivered;
    // For each delivery, the frames the channel had written by then (its txSU count): where
    // the delivery falls among the frames the link writes.
    std::vector<std::uint32_t> writtenAtDelivery;
    std::vector<Frame> handed;
};

// The steps every target takes from its input: the first byte of a step modulo the number of
// the target's steps; the common ones come first, each with its operand bytes.
enum Step : std::uint8_t {
    kTime,        // n: the clock moves on by kTimes[n modulo their number]
    kActivate,    // the controller's activate: the channel opens anew and the link starts
    kDeactivate,  // the controller's deactivate
    kData,        // n, then n octets: user data from the controller
    kBurst,       // n, x: n + 1 messages of four octets from x on, one after the other
    kCongest,     // the channel takes no frame before the next step, until kReady
    kReady,       // the channel takes frames again
    kLost,        // how: the channel's line ends (hung up, or its reads fail: kLineEnds)
    kPool,        // n: the packet pool keeps only n modulo 100 free blocks; again: all come back
    kRaw,         // n, then n + 1 octets: a frame from the far end as it comes
    kCommonSteps
};

// The clock steps: around every timer of the links.
constexpr std::uint32_t kTimes[] = {1,    20,   100,  499,  500,   999,   1000,  1001,  1500,
                                    1999, 2000, 3000, 4500, 7000,  8200,  10000, 12000, 45000};

// A link in its slot on the simulated board, one input at a time.
class Bench {
public:
    // Once per process: the board, the switch, a quiet log (LINK_FUZZ_LOG=1 shows it).
    // Built once and never destroyed: the switch singleton keeps the board's descriptor.
    Bench(char const* target, BenchObserver& observer);
    Bench(Bench const&) = delete;
    Bench& operator=(Bench const&) = delete;

    // A fresh clock, the pool's count, and the slot made and joined to the trunk time slot
    // (both ways for a basic-rate link, which then starts; a primary-rate or SS7 link starts
    // on the connect from the trunk).
    void begin(ZGCP::CreateParams const& params, bool basicRate);
    // The slot disconnected and destroyed: nothing of it is left (timers, packets, channels,
    // switch connections, descriptors).
    void end();

    // Runs a common step with its operands (but kDeactivate, which LinkTarget runs); the
    // channel refilled first while congested.
    void step(Step kind, Input& in);
    // Before a step of the target's own.
    void beforeStep();

    // A frame from the far end, handed to the link before this returns.
    void push(Frame const& frame);
    // A message from the controller; whether the slot took it.
    bool userData(Frame const& message);
    // The link's frames go out as written: the channel is open and takes them, the pool
    // gives packets.
    bool sendsFreely();
    // Runs the loop until it has nothing left to do at once.
    void settle();
    void passTime(std::uint32_t ms);
    // The frames the link wrote since the last take, oldest first.
    std::vector<Frame> take();
    // A console command of the channel's far end (words after the switch channel), as the
    // board's console has it: "peer on", "terminals 3", "terminal 1 send 0801...".
    std::string farEnd(std::vector<std::string> const& words);
    // The switch channel of the link's controller channel; -1 when it has none open.
    int channel();

    // The far end of the link's channel; null when it has none open.
    board::sim::FrameLine* line();
    // A packet holding the octets, for the links' own readers of frames; it holds a block of
    // its own, so that it is there while the pool is drained.
    Packet const& packet(Frame const& octets);

    LinkSlot& slot() { return *slot_; }
    // Whether the slot is there (between begin and end).
    bool live() const { return slot_ != nullptr; }
    // The link: the slot's only layer.
    template <class Link>
    Link& link()
    {
        return static_cast<Link&>(*slot_->lowest_layer());
    }
    // Timers running besides the slot's report timer.
    unsigned linkTimers() const;
    // After a step that stopped the link: no timer of it runs and it holds no packet.
    void checkStopped(char const* what);

private:
    void fill();
    int daemonDescriptor();
    std::size_t descriptorCount();
    void lose(std::uint8_t how);
    void checkSwitch();

    std::unique_ptr<board::sim::SimBoard> sim_;
    std::unique_ptr<board::ScopedBoard> installed_;
    RecordingMcc* mcc_ = nullptr;
    TrunkLine line_;
    std::unique_ptr<Mux::TestClock> clock_;
    std::unique_ptr<LinkSlot> slot_;
    BenchObserver& observer_;
    bool basicRate_ = false;
    std::optional<testsupport::PoolDrain> drain_;
    std::size_t poolBefore_ = 0;
    std::size_t descriptorsBefore_ = 0;
    bool congested_ = false;
    // The daemon's descriptor of the channel, as last found.
    int descriptor_ = -1;
    Packet scratch_;
};

// The run of one input, the same for every target: the first byte configures the link, which
// is built in its slot; each step (the common ones, then the target's own) is followed by the
// check of every frame the link wrote and of its state; then the slot is destroyed, and a new
// link of the same configuration is built and has to work.
class LinkTarget : public BenchObserver {
public:
    // steps: the number of steps, common ones included.
    LinkTarget(char const* name, unsigned steps) : bench_(name, *this), steps_(steps) {}
    virtual ~LinkTarget() = default;
    LinkTarget(LinkTarget const&) = delete;
    LinkTarget& operator=(LinkTarget const&) = delete;

    void run(std::uint8_t const* data, std::size_t size);

protected:
    virtual void configure(std::uint8_t choice) = 0;
    // The slot's creation parameters, and whether it is joined both ways.
    virtual ZGCP::CreateParams params() const = 0;
    virtual bool basicRate() const { return false; }
    // A new link: what the far end knew of the last one goes.
    virtual void forget() = 0;
    virtual void own(std::uint8_t kind, Input& in) = 0;
    // One frame the link wrote, oldest first.
    virtual void check(Frame const& frame) = 0;
    // Before a step of the kind, and after it, before its frames are checked.
    virtual void beginStep(std::uint8_t /*kind*/) {}
    virtual void endStep(std::uint8_t /*kind*/) {}
    // The link's state after a step.
    virtual void checkState(std::uint8_t kind) = 0;
    // The link's state right after the controller's deactivate, before the loop hands it
    // anything more.
    virtual void checkDeactivated() {}
    // The new link does its work.
    virtual void serve() = 0;

    // Checks the frames written since the last call.
    virtual void checkFrames();

    Bench bench_;

private:
    void start();
    void finish();

    unsigned steps_;
};

// A target whose far end keeps what it learns of the link (Far) from the frames the link
// writes, and builds its frames from it: the first of the target's own steps each push the
// frame of the builder at their place; other() runs the rest.
template <class Far>
class FarEndTarget : public LinkTarget {
protected:
    using Builder = std::function<Frame(Far&, Input&)>;

    FarEndTarget(char const* name, unsigned steps, std::vector<Builder> builders)
        : LinkTarget(name, steps), builders_(std::move(builders))
    {
    }

    void forget() override { far_ = Far(); }
    void own(std::uint8_t kind, Input& in) override
    {
        std::size_t const at = std::size_t(kind) - kCommonSteps;
        if (at < builders_.size())
            bench_.push(builders_[at](far_, in));
        else
            other(kind, in);
    }
    virtual void other(std::uint8_t kind, Input& in) = 0;

    Far far_;

private:
    std::vector<Builder> builders_;
};

// The longest input of a target unless the command line says otherwise: long sessions of
// hundreds of frames fit.
inline constexpr char kMaxLen[] = "-max_len=8192";

// For LLVMFuzzerInitialize: quiet, with the length limit.
inline int initialize(int* argc, char*** argv)
{
    testsupport::quietFuzzer(argc, argv, {kMaxLen});
    return 0;
}

// The entry point of a target: the Target, built at the first input and never destroyed,
// runs each input.
template <class Target>
int runInput(std::uint8_t const* data, std::size_t size)
{
    static Target& target = *new Target;
    target.run(data, size);
    return 0;
}

}  // namespace linkfuzz
