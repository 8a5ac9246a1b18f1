// Fuzz target of the frame reader of the ISDN D-channel and QSIG slots (IsdnSlot::OnEvent and
// its FrameIo::read), as the daemon runs them: the slot made through the slot table on the
// simulated board, on its own channel of the MCC controller ("/dev/mcc/ctl") or on the
// signalling channel of the DSP data device ("/dev/dsp-data"), with a controller connected.
// The input's first byte chooses the slot (kKinds); then each byte begins a step, chosen by
// its value modulo kSteps (Step), its operands after it (a missing one reads as 0): the far
// end's Q.921 frames built from its own counters (lapd_far.h), raw frames (short, garbage),
// long I-frames of several kilobytes, an empty frame (a read of nothing: the end of the
// line), the line hung up or its reads failing, the clock, the controller's activate,
// deactivate and user data, B slots of a QSIG slot made and destroyed.
// After every step:
// - every frame the slot wrote is a Q.921 frame of the link's side that its address reader
//   and the trace decoder read back, and what the far end expects (lapd_far.h): sequence
//   numbers, P/F, TEI, the answers owed;
// - the userData signals of the slot are, in order, the information fields the far end's
//   frames had the link accept, octet for octet, and every message to the controller
//   decodes;
// - once the line has ended: the slot reported deactivated once, holds no channel, its link
//   is down with no timer running, user data is refused and an activate is answered with
//   deactivated.
// Once the input is done every slot is destroyed and nothing of them may be left (slots,
// switch outputs, descriptors, timers, packets of the pool); then a fresh slot of the same
// kind establishes its link and carries a message each way. A breach aborts the run.
// Corpus: signalling/fuzz/isdn_frames_corpus (each kind: establishment, data, malformed
// frames, ends of the line, a long session).

#include "asn1/per_common.h"
#include "board/dsp_data.h"
#include "board/mcc.h"
#include "board/sim/frame_line.h"
#include "hardware/hw_mux.h"
#include "runtime/multiplexer.h"
#include "signalling/fuzz/lapd_far.h"
#include "signalling/isdn_slot.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/loop_pump.h"
#include "tests/slot_commands.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace linkfuzz;
using testsupport::breach;
using S = ISDN::LAPDFullState;

constexpr char kName[] = "isdn_frames_fuzz";
constexpr char kMaxLen[] = "-max_len=8192";
constexpr std::uint32_t kStartMs = 1000000;
constexpr unsigned kSlot = 40;
constexpr unsigned kBSlot = 41;
// The longest I-frame a step sends: 64 octets times up to 256.
constexpr unsigned kLongUnit = 64;

struct Kind {
    bool qsig;
    bool basicRate;
    bool network;
};
Kind const kKinds[] = {{false, false, false}, {false, false, true}, {false, true, false},
                       {false, true, true},   {true, false, false}, {true, false, true}};

enum Step {
    kIFrame,       // the far end's frames (lapd_far.h)
    kSupervisory,
    kUnnumbered,
    kManagement,
    kRaw,          // n, then n modulo 64 + 1 octets as they come
    kLong,         // n: an I-frame in sequence carrying (n + 1) * kLongUnit octets
    kEmpty,        // a frame of no octets: the reader takes it for the end of the line
    kEnd,          // how: the line hangs up, or the next read fails (kLineEnds)
    kTime,         // n: the clock moves on by kTimes[n modulo their number]
    kActivate,     // the controller's commands
    kDeactivate,
    kData,         // n, then n octets
    kBurst,        // n, x: n + 1 messages of four octets from x on
    kBChannel,     // subslot: a B slot of the QSIG slot made, or destroyed
    kSteps
};

constexpr std::uint32_t kTimes[] = {1, 100, 999, 1000, 1001, 2000, 3000, 4500, 10000, 12000};

// The daemon's part under test, built once and never destroyed.
class Gateway : public testsupport::DaemonHarness {
public:
    Gateway() : DaemonHarness(kName, "ISDN_FRAMES_LOG", kStartMs)
    {
        HwMux::instance();
        IsdnFactory::instance();
        bind(signals);
    }

    testsupport::SignalWatch signals{kName};
};

Gateway* gateway = nullptr;

// One input's run.
class Run {
public:
    explicit Run(Input& in) : in_(in), kind_(kKinds[in.byte() % (sizeof kKinds / sizeof kKinds[0])]) {}

    void steps()
    {
        start();
        while (!in_.done())
            step(Step(in_.byte() % kSteps));
    }

    // Every slot goes: nothing of them may stay.
    void finish()
    {
        for (unsigned n : {kBSlot, kSlot})
            gateway->table.Execute(n, testsupport::plainCommand(ZGCP::Command::destroy::id));
        testsupport::settle();
        gateway->env.sim.clearFailures();
        signals();
        gateway->checkLeftOver();
    }

    // A fresh slot establishes its link and carries a message each way.
    void useAgain()
    {
        start();
        command(testsupport::plainCommand(ZGCP::Command::activate::id));
        push(join(far_.address(0, false, far_.tei()), {ISDN::LAPD::UA | 0x10}));
        userData({8, 1, 1, 0x7B});
        push(join(far_.address(0, false, far_.tei()), {0x01, std::uint8_t(far_.acknowledgeAll() << 1)}));
        push(join(join(far_.address(0, true, far_.tei()), {0, std::uint8_t(far_.acknowledgeAll() << 1)}), kMessages[1]));
        if (lapdState(slot().link()) != S::multipleFrameEstablished || activated_ != 1 || received_ != 1)
            breach(kName, std::string("a fresh slot does not carry a message each way: ") + slot().link().state_text());
        finish();
    }

private:
    static Frame join(Frame front, Frame const& back)
    {
        front.insert(front.end(), back.begin(), back.end());
        return front;
    }

    void start()
    {
        ZGCP::CreateParams const params = kind_.qsig ? testsupport::qsigParams(kind_.network)
                                                     : testsupport::isdnParams(kind_.basicRate ? ZGCP::IsdnType::bri
                                                                                               : ZGCP::IsdnType::pri,
                                                                               2, kind_.network);
        if (gateway->table.Execute(kSlot, testsupport::createCommand(params)).kind != Slots::Answer::success)
            breach(kName, "the slot is not made");
        channel_ = slot().IGetReceiveChannel();
        far_ = LapdFar(kName, kind_.network, kind_.basicRate && !kind_.qsig);
        far_.beginStep(false);
        activated_ = received_ = 0;
        ended_ = false;
        signals();
    }

    IsdnSlot& slot() { return dynamic_cast<IsdnSlot&>(*gateway->table.GetSlotAt(kSlot)); }
    board::sim::LineDevice& device()
    {
        if (kind_.qsig)
            return gateway->env.dspData;
        return gateway->env.mcc;
    }
    char const* path() const { return kind_.qsig ? dspdata::kPath : mcc::kPath; }

    void step(Step kind)
    {
        far_.beginStep(kind == kTime);
        deactivated_ = 0;
        bool const open = slot().is_open();
        // The line ends with an empty frame and with the faults that end a descriptor, and
        // only then.
        bool ends = false;
        switch (kind) {
        case kIFrame: push(farIFrame(far_, in_)); break;
        case kSupervisory: push(farSupervisory(far_, in_)); break;
        case kUnnumbered: push(farUnnumbered(far_, in_)); break;
        case kManagement: push(farManagement(far_, in_)); break;
        case kRaw: {
            std::size_t const n = in_.byte() % 64u + 1;
            Frame const f = in_.take(n);
            // An input that ends here sends no empty frame: kEmpty does.
            if (!f.empty())
                push(f);
            break;
        }
        case kLong: {
            std::size_t const n = (in_.byte() + 1u) * kLongUnit;
            Frame f = join(far_.address(0, true, far_.tei()),
                           {std::uint8_t(far_.expectedNs() << 1), std::uint8_t(far_.acknowledgeAll() << 1)});
            for (std::size_t i = 0; i < n; ++i)
                f.push_back(std::uint8_t(i));
            push(f);
            break;
        }
        case kEmpty:
            push({});
            ends = open;
            break;
        case kEnd: ends = end(in_.byte()) && open; break;
        case kTime:
            testsupport::advance(gateway->clock, kTimes[in_.byte() % (sizeof kTimes / sizeof kTimes[0])]);
            testsupport::settle();
            break;
        case kActivate: command(testsupport::plainCommand(ZGCP::Command::activate::id)); break;
        case kDeactivate: command(testsupport::plainCommand(ZGCP::Command::deactivate::id)); break;
        case kData: {
            std::size_t const n = in_.byte();
            userData(in_.take(n));
            break;
        }
        case kBurst: {
            unsigned const n = in_.byte() + 1u;
            std::uint8_t const x = in_.byte();
            for (unsigned i = 0; i < n; ++i)
                userData({8, 1, x, std::uint8_t(x + i)});
            break;
        }
        case kBChannel: bChannel(in_.byte()); break;
        case kSteps: break;
        }
        frames();
        signals();
        far_.endStep(open && slot().is_open());
        if (open && slot().is_open() == ends)
            breach(kName, ends ? "the slot reads on after the end of its line" : "the slot let go of a line that goes on");
        if (ends)
            checkEnded();
    }

    // A frame of the far end, as the slot reads it, in the state the link was in; taken: the
    // slot reads it (the checks of its answers follow at once).
    void push(Frame const& f)
    {
        frames();
        unsigned const state = lapdState(slot().link());
        bool const open = slot().is_open();
        device().command({"push", std::to_string(channel_), board::sim::frameText(f)});
        testsupport::settle();
        if (open && !f.empty())
            far_.received(f, state);
        frames();
        signals();
    }

    void userData(Frame const& message)
    {
        far_.fromAbove(message);
        bool const taken = command(testsupport::userDataCommand(std::vector<char>(message.begin(), message.end())))
                           == Slots::Answer::success;
        if (taken && ended_)
            breach(kName, "user data taken by a slot whose line has ended");
    }

    Slots::Answer::Kind command(ZGCP::Command const& c)
    {
        Slots::Answer::Kind const answer = gateway->table.Execute(kSlot, c).kind;
        testsupport::settle();
        return answer;
    }

    // Whether the way ends the line.
    bool end(std::uint8_t how)
    {
        frames();
        std::optional<Fault> const& fault = lineEnd(how);
        if (fault)
            gateway->env.sim.failRead(path(), *fault, 1);
        else
            device().command({"hangup", std::to_string(channel_)});
        testsupport::settle();
        gateway->env.sim.clearFailures();
        return linkfuzz::ends(fault);
    }

    void bChannel(std::uint8_t subslot)
    {
        if (!kind_.qsig)
            return;
        ZGCP::Command const c = gateway->table.GetSlotAt(kBSlot) == nullptr
                                    ? testsupport::createCommand(testsupport::qsigBParams(kSlot, 1 + subslot % 3u))
                                    : testsupport::plainCommand(ZGCP::Command::destroy::id);
        gateway->table.Execute(kBSlot, c);
        testsupport::settle();
    }

    // The frames the slot wrote, read back and checked by the far end (lapd_far.h).
    void frames()
    {
        board::sim::FrameLine* line = channel_ < 0 ? nullptr : device().line(channel_);
        if (line == nullptr)
            return;
        for (Frame const& f : line->take())
            far_.sent(f);
    }

    // The signals of the slot: its userData those the far end had the link accept.
    void signals()
    {
        // What a signal does not carry goes nowhere.
        std::vector<Frame> expected;
        for (Frame& f : far_.takeDelivered())
            if (f.size() < ASN1::per::FragmentLength)
                expected.push_back(std::move(f));
        std::size_t next = 0;
        for (auto const& s : gateway->controller.take()) {
            if (s.slot != int(kSlot))
                continue;
            if (s.signal.activated_isSelected())
                ++activated_;
            if (s.signal.deactivated_isSelected())
                ++deactivated_;
            if (!s.signal.userData_isSelected())
                continue;
            ++received_;
            auto const& data = s.signal.get_userData();
            Frame const got(data.begin(), data.end());
            if (next == expected.size() || got != expected[next])
                breach(kName, "a userData signal " + shown(got) + " other than the far end's next accepted information "
                                  + (next < expected.size() ? shown(expected[next]) : std::string("(none)")));
            ++next;
        }
        if (next != expected.size())
            breach(kName, "the far end's information " + shown(expected[next]) + " did not go to the controller");
    }

    // The line has ended in the step: the slot reported it once and let go of its channel,
    // its link stopped, and what the controller asks from now on is refused or answered as
    // down.
    void checkEnded()
    {
        if (deactivated_ != 1)
            breach(kName, std::to_string(deactivated_) + " deactivated signals at the end of the line");
        if (slot().HoldsChannel() || slot().IGetReceiveChannel() != -1)
            breach(kName, "the slot holds its channel after the end of its line");
        if (lapdState(slot().link()) != S::teiUnassigned || multiplexer.timer_count() != gateway->baseline.timers())
            breach(kName, std::string("the link runs on after the end of its line: ") + slot().link().state_text());
        ended_ = true;
        channel_ = -1;
        deactivated_ = 0;
        command(testsupport::plainCommand(ZGCP::Command::activate::id));
        signals();
        if (deactivated_ != 1)
            breach(kName, "an activate after the end of the line is not answered with deactivated");
    }

    Input& in_;
    Kind kind_;
    LapdFar far_;
    int channel_ = -1;
    bool ended_ = false;
    unsigned activated_ = 0;
    unsigned deactivated_ = 0;
    unsigned received_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    testsupport::quietFuzzer(argc, argv, {kMaxLen});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    testsupport::runInput<Run>(gateway, kStartMs, data, size);
    return 0;
}
