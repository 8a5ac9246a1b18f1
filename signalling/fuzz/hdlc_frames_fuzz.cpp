// Fuzz target of what the far end of a channel of the MCC controller sends to the two slots
// that hand its frames to the controller as they come: the raw HDLC link slot
// (HdlcSlot::on_hdlc_receive: frames behind an address and control octet, the bodies of the
// link's address gathered into hdlcPackages signals, held up to 100 ms while bit 7 of a
// body's second octet, the "more" bit, is set) and the MCC data slot (MccSlot::OnEvent: each
// frame one userData signal). Each slot is made through the slot table on the simulated
// board beside a trunk time slot, with a controller connected.
// The input's first byte chooses the slot (kKinds); then each byte begins a step, chosen by
// its value modulo kSteps (Step), its operands after it (a missing one reads as 0): frames of
// every length (kLengths) for the slot's address or another, with the "more" bit or
// without, bursts of up to 256 of them, the end of the line (hung up, its reads failing, an
// empty frame), the clock, the controller's packages or user data, activate and deactivate,
// and the joining to the trunk and the parting.
// The far end reads what it sent itself (Run::heard, Arrivals) and checks after every step:
// - the bodies the signals carry are, in order, each body it sent that a signal can carry
//   (one of the link's address under 16384 octets; a frame of the MCC line up to 1024
//   octets), whole and once; each other one gives its one line;
// - a signal goes up at a flush (a frame without the "more" bit, 100 ms after the first held
//   frame, the end of the line; every frame of the MCC line), or before the body that would
//   take it past 128 bodies or a TPKT frame, never else, and holds what was gathered since;
//   what was due has gone up when a step is over; every message to the controller decodes;
// - the frames the link writes carry its address, its sending sequence and the sequence of
//   the far end's last frame to it, and the packages' bodies in order; the MCC line's, the
//   user data;
// - once the line has ended: the slot said so once (deactivated, or abort), holds no
//   channel, let go of its open, runs no timer of the gathering, and refuses what the
//   controller sends until the link is opened again.
// Once the input is done both slots are destroyed and nothing of them may be left (slots,
// switch outputs, descriptors, timers, packets of the pool); then a fresh slot of the same
// kind carries a frame each way. A breach aborts the run. The daemon's log, with the signals
// the controller reads, is shown with HDLC_FRAMES_LOG=1.
// Corpus: signalling/fuzz/hdlc_frames_corpus.

#include "asn1/abstract_data.h"
#include "asn1/per_common.h"
#include "base/packet.h"
#include "board/mcc.h"
#include "control/tpkt_protocol.h"
#include "hardware/hw_mux.h"
#include "runtime/multiplexer.h"
#include "signalling/fuzz/far_end.h"
#include "signalling/hdlc_slot.h"
#include "slots/mcc_slot.h"
#include "slots/trunk_slot.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/loop_pump.h"
#include "tests/slot_commands.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace linkfuzz;
using testsupport::breach;
using Answer = Slots::Answer;

constexpr char kName[] = "hdlc_frames_fuzz";
constexpr char kMaxLen[] = "-max_len=8192";
constexpr std::uint32_t kStartMs = 1000000;
constexpr unsigned kTrunkSlot = 7;
constexpr unsigned kSlot = 40;
// Loop turns that read every frame a step may queue.
constexpr int kSettleTurns = 1000;
constexpr std::size_t kHeader = HdlcSlot::kHeaderSize;

struct Kind {
    bool link;
    std::uint16_t address;  // of a link
    ZGCP::MccType::NamedNumber type;
    ZGCP::MccMode::NamedNumber mode;
};
Kind const kKinds[] = {
    {true, 0x1234, ZGCP::MccType::data, ZGCP::MccMode::standard},
    {true, 0x0000, ZGCP::MccType::data, ZGCP::MccMode::standard},
    {true, 0xFFFF, ZGCP::MccType::data, ZGCP::MccMode::standard},
    {false, 0, ZGCP::MccType::data, ZGCP::MccMode::standard},
    {false, 0, ZGCP::MccType::transparent, ZGCP::MccMode::ss7},
};

enum Step {
    kFrame,       // flags, control, length, x: a frame (Run::build)
    kBurst,       // n, flags, length, x: n + 1 frames alike but for their first body octet;
                  // flags bit 2 clear: the last one without the "more" bit
    kEnd,         // how: the line ends, or its reads fail (kLineEnds); past them: an empty frame
    kTime,        // n: the clock moves on by kTimes[n modulo their number]
    kSend,        // n, length, x: n modulo 130 + 1 packages of length modulo 32 octets, or user
                  // data of length + 1 octets
    kActivate,    // the controller's commands
    kDeactivate,
    kJoin,        // how: joined to the trunk time slot (from it, or to it), or parted (bit 1)
    kSteps
};

// Frame lengths (the address and control octets of a link's frame included) around every
// bound: the header, the MCC slot's read, a signal's body, a packet; a length selector past
// them is a short length of its own.
constexpr std::size_t kLengths[] = {0,    1,     2,     3,     4,     5,     8,     64,    255,
                                    256,  512,   1023,  1024,  1025,  1026,  4096,  16383, 16384,
                                    16386, 16387, 16388, 30000, 65535, 65536, 65537, 70000};
constexpr std::size_t kLengthCount = sizeof kLengths / sizeof kLengths[0];
constexpr std::uint32_t kTimes[] = {1, 50, 99, 100, 101, 150, 3000};

// The bodies the far end sent that signals must carry, in order, and the points where what
// was sent so far is due: a signal ends at such a point, or short of it where the next body
// would take it past what one signal carries; once a step is over, everything up to the last
// point has gone up.
class Arrivals {
public:
    void sent(Frame body)
    {
        pending_.push_back(std::move(body));
        ++sent_;
    }
    // What was sent so far goes up now.
    void flush()
    {
        if (sent_ > (points_.empty() ? arrived_ : points_.back()))
            points_.push_back(sent_);
    }
    // A signal carrying the bodies; empty when they are the next due, or why not.
    std::string arrived(std::vector<Frame> const& bodies)
    {
        std::size_t const n = bodies.size();
        if (n == 0)
            return "a signal that carries no body";
        for (std::size_t i = 0; i < n; ++i) {
            if (i == pending_.size())
                return "a body " + shown(bodies[i]) + " the far end did not send (or sent once only)";
            if (bodies[i] != pending_[i])
                return "a body " + shown(bodies[i]) + " where " + shown(pending_[i]) + " was due";
        }
        std::uint64_t const end = arrived_ + n;
        bool const atPoint = !points_.empty() && end == points_.front();
        if (!points_.empty() && end > points_.front())
            return "a signal of " + std::to_string(n) + " bodies holds " + std::to_string(end - points_.front())
                   + " past a flush";
        if (!atPoint && !full(bodies))
            return "a signal of " + std::to_string(n) + " bodies before they were due";
        pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(n));
        arrived_ = end;
        while (!points_.empty() && points_.front() <= arrived_)
            points_.pop_front();
        return {};
    }

    // Once a step's signals are in: empty when every body due has gone up, or why not.
    std::string missing() const
    {
        if (points_.empty())
            return {};
        return std::to_string(points_.back() - arrived_) + " bodies due did not go up, the first "
               + shown(pending_.front());
    }

private:
    // Whether the signal may go up short of a flush: it holds as many bodies as one carries,
    // or the next body would take it near a TPKT frame (within 8 octets a body and 128).
    bool full(std::vector<Frame> const& bodies) const
    {
        if (bodies.size() == ASN1::MaximumArraySize)
            return true;
        if (bodies.size() == pending_.size())
            return false;
        std::size_t octets = pending_[bodies.size()].size() + 8 * (bodies.size() + 1) + 128;
        for (Frame const& b : bodies)
            octets += b.size();
        return octets > Tpkt_protocol::max_body;
    }

    std::deque<Frame> pending_;
    std::deque<std::uint64_t> points_;
    std::uint64_t sent_ = 0;
    std::uint64_t arrived_ = 0;
};

// The daemon's part under test, built once and never destroyed.
class Gateway : public testsupport::DaemonHarness {
public:
    Gateway() : DaemonHarness(kName, "HDLC_FRAMES_LOG", kStartMs)
    {
        HwMux::instance();
        TrunkFactory::e1(1);
        HdlcSlotFactory::instance();
        MccFactory::instance();
        bind(signals);
    }

    testsupport::SignalWatch signals{kName};
    // The lines of the frames and bodies the slots do not carry.
    testsupport::LineCount shortFrames{std::clog, "octets dropped"};
    testsupport::LineCount longBodies{std::clog, "is longer than a signal carries, dropped"};
    testsupport::LineCount longFrames{std::cerr, "octets dropped"};
};

Gateway* gateway = nullptr;

// One input's run: the far end of the slot's line and the controller above it.
class Run {
public:
    explicit Run(Input& in) : in_(in), kind_(kKinds[in.byte() % (sizeof kKinds / sizeof kKinds[0])]) {}

    void steps()
    {
        start();
        while (!in_.done())
            step(Step(in_.byte() % kSteps));
    }

    // Both slots go: nothing of them may stay.
    void finish()
    {
        settle();
        for (unsigned n : {kSlot, kTrunkSlot})
            gateway->table.Execute(n, testsupport::plainCommand(ZGCP::Command::destroy::id));
        settle();
        gateway->env.sim.clearFailures();
        gateway->controller.take();
        gateway->checkLeftOver();
    }

    // A fresh slot carries a frame each way.
    void useAgain()
    {
        start();
        join(0);
        frame(0, 0x20, kHeader + 3, 0x55);
        send(1, 3, 0x66);
        frames();
        signals();
        if (received_ != 1 || !written_.empty() || ends_ != 0)
            breach(kName, "a fresh slot does not carry a frame each way");
        finish();
    }

private:
    void start()
    {
        ZGCP::CreateParams const params = kind_.link ? testsupport::hdlcParams(2, kind_.address)
                                                     : testsupport::mccParams(kind_.type, kind_.mode);
        if (gateway->table.Execute(kTrunkSlot, testsupport::createCommand(testsupport::trunkParams(1, 5))).kind
                != Answer::success
            || gateway->table.Execute(kSlot, testsupport::createCommand(params)).kind != Answer::success)
            breach(kName, "the slots are not made");
        settle();
        gateway->controller.take();
        arrivals_ = Arrivals();
        written_.clear();
        heldSince_.reset();
        sequence_ = peerSequence_ = 0;
        joins_[0] = joins_[1] = everJoined_ = ended_ = false;
        ends_ = received_ = 0;
        shortFrames_ = longBodies_ = longFrames_ = 0;
        shortLines_ = gateway->shortFrames.count();
        longBodyLines_ = gateway->longBodies.count();
        longFrameLines_ = gateway->longFrames.count();
    }

    void step(Step kind)
    {
        if (gateway->log)
            std::clog << kName << ": step " << unsigned(kind) << std::endl;
        frames();
        ends_ = 0;
        switch (kind) {
        case kFrame: {
            std::uint8_t const flags = in_.byte();
            std::uint8_t const control = in_.byte();
            std::size_t const length = lengthOf(in_.byte());
            frame(flags, control, length, in_.byte());
            break;
        }
        case kBurst: burst(); break;
        case kEnd: end(in_.byte()); break;
        case kTime: passTime(kTimes[in_.byte() % (sizeof kTimes / sizeof kTimes[0])]); break;
        case kSend: {
            unsigned const n = in_.byte() % 130u + 1;
            std::uint8_t const length = in_.byte();
            send(n, length, in_.byte());
            break;
        }
        case kActivate: activate(); break;
        case kDeactivate: command(testsupport::plainCommand(ZGCP::Command::deactivate::id)); break;
        case kJoin: join(in_.byte()); break;
        case kSteps: break;
        }
        settle();
        frames();
        signals();
        lines();
        if (ends_ != 0)
            breach(kName, "the slot reported an end of its line that did not happen");
    }

    static std::size_t lengthOf(std::uint8_t selector)
    {
        return selector < kLengthCount ? kLengths[selector] : selector - kLengthCount;
    }

    // A frame of the length: the address (the slot's, or another with flags bit 0) and the
    // control octet, then the body: a serial number of the far end's, then the "more" bit
    // (flags bit 1) with x, then octets counting on from x. A frame of the MCC line is the
    // body alone.
    Frame build(std::uint8_t flags, std::uint8_t control, std::size_t length, std::uint8_t x)
    {
        Frame f(length);
        std::size_t const at = kind_.link ? kHeader : 0;
        std::uint16_t const address = flags & 1 ? std::uint16_t(kind_.address ^ (1u + (flags >> 2))) : kind_.address;
        std::uint8_t const head[kHeader] = {std::uint8_t(address >> 8), std::uint8_t(address), control};
        for (std::size_t i = 0; i < length; ++i) {
            if (i < at)
                f[i] = head[i];
            else if (i == at)
                f[i] = std::uint8_t(serial_++);
            else if (i == at + 1)
                f[i] = std::uint8_t((flags & 2 ? 0x80 : 0) | (x & 0x7F));
            else
                f[i] = std::uint8_t(x + i);
        }
        return f;
    }

    void frame(std::uint8_t flags, std::uint8_t control, std::size_t length, std::uint8_t x)
    {
        if (length == 0)
            end(sizeof kLineEnds / sizeof kLineEnds[0]);
        else if (push(build(flags, control, length, x)))
            settle();
    }

    void burst()
    {
        unsigned const n = in_.byte() + 1u;
        std::uint8_t const flags = in_.byte();
        std::size_t const length = std::max<std::size_t>(lengthOf(in_.byte()), 1);
        std::uint8_t const x = in_.byte();
        for (unsigned i = 0; i < n; ++i)
            if (!push(build(std::uint8_t(i + 1 < n || flags & 4 ? flags | 2 : flags & ~2), std::uint8_t(i << 5), length, x)))
                return;
    }

    // The far end's line: the switch channel of the one channel of the controller open, -1
    // when none is.
    int line()
    {
        gateway->env.sim.service();
        std::vector<int> const channels = gateway->env.mcc.timeslots();
        if (channels.size() > 1)
            breach(kName, "the slot holds more than one channel of the controller");
        return channels.empty() ? -1 : channels[0];
    }

    // The frame goes to the slot's line, read as the far end sent it; false when there is
    // no line to take it.
    bool push(Frame const& f)
    {
        int const channel = line();
        if (channel < 0)
            return false;
        if (!gateway->env.mcc.push(channel, f)) {
            settle();
            if (!gateway->env.mcc.push(channel, f))
                breach(kName, "the slot reads no frame from its line");
        }
        heard(f);
        return true;
    }

    // What the slot is to make of a frame sent, by the far end's own reading of it.
    void heard(Frame const& f)
    {
        if (!kind_.link) {
            if (f.size() > MccSlot::kBufferSize) {
                ++longFrames_;
                return;
            }
            arrivals_.sent(f);
            arrivals_.flush();
            return;
        }
        if (f.size() < kHeader) {
            ++shortFrames_;
            return;
        }
        Frame body(f.begin() + kHeader, f.end());
        bool const more = body.size() >= 2 && (body[1] & 0x80);
        if ((f[0] << 8 | f[1]) == kind_.address) {
            peerSequence_ = f[2] >> 5;
            if (body.size() >= ASN1::per::FragmentLength)
                ++longBodies_;
            else
                arrivals_.sent(std::move(body));
        }
        if (!more) {
            arrivals_.flush();
            heldSince_.reset();
        } else if (!heldSince_) {
            heldSince_ = now();
        }
    }

    static std::uint64_t now() { return gateway->clock.nowUs() / 1000; }

    void passTime(std::uint32_t ms)
    {
        testsupport::advance(gateway->clock, ms);
        settle();
        if (heldSince_ && now() >= *heldSince_ + HdlcSlot::kGatherMs) {
            arrivals_.flush();
            heldSince_.reset();
        }
    }

    // The line ends in a way (past kLineEnds: an empty frame), or its reads fail for a
    // while; when it ends, the slot lets go of it and says so once.
    void end(std::uint8_t how)
    {
        int const channel = line();
        if (channel < 0)
            return;
        unsigned const open = openOf(channel);
        bool ended = true;
        if (how % (std::size(kLineEnds) + 1) == std::size(kLineEnds)) {
            gateway->env.mcc.push(channel, {});
        } else if (std::optional<Fault> const& fault = lineEnd(how)) {
            gateway->env.sim.failRead(mcc::kPath, *fault, 1);
            ended = ends(fault);
        } else {
            gateway->env.mcc.hangUp(channel);
        }
        settle();
        gateway->env.sim.clearFailures();
        if (!ended) {
            if (line() != channel)
                breach(kName, "the slot let go of a line that goes on");
            return;
        }
        if (kind_.link) {
            arrivals_.flush();
            heldSince_.reset();
        }
        signals();
        checkEnded(open);
    }

    // The open of the controller's device whose line is at the switch channel.
    static unsigned openOf(int channel)
    {
        for (board::sim::OpenFile const* f : gateway->env.mcc.opens())
            if (auto const* s = dynamic_cast<board::sim::LineState const*>(f->state.get()); s && s->channel == channel)
                return f->id();
        breach(kName, "no open of the controller's device at the slot's line");
    }

    void checkEnded(unsigned open)
    {
        if (ends_ != 1)
            breach(kName, std::to_string(ends_) + " reports of the slot at the end of its line");
        ends_ = 0;
        testsupport::checkLetGo(kName, gateway->env.sim, gateway->env.mcc, {open});
        if (line() != -1)
            breach(kName, "the slot reads on after the end of its line");
        // Only the link's report timer runs.
        if (multiplexer.timer_count() != gateway->baseline.timers() + (kind_.link ? 1 : 0))
            breach(kName, "a timer runs on after the end of the line");
        bool const holds = kind_.link ? link().channel().is_open() : slot().HoldsChannel();
        if (holds)
            breach(kName, "the slot holds its channel after the end of its line");
        ended_ = true;
    }

    // The controller's packages (a link) or user data (an MCC line).
    void send(unsigned n, std::uint8_t length, std::uint8_t x)
    {
        if (!kind_.link) {
            Frame data(length + 1u);
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = std::uint8_t(x + i);
            bool const taken = command(testsupport::userDataCommand(std::vector<char>(data.begin(), data.end())))
                               == Answer::success;
            if (taken && ended_)
                breach(kName, "user data taken by a slot whose line has ended");
            if (taken)
                written_.push_back(data);
            return;
        }
        std::vector<std::vector<char>> bodies(n);
        for (std::vector<char>& body : bodies) {
            body.resize(length % 32u);
            for (std::size_t i = 0; i < body.size(); ++i)
                body[i] = char(i == 0 ? serial_++ : x + i);
        }
        std::size_t const room = HdlcSlot::kQueueSize - written_.size();
        bool const taken = command(testsupport::hdlcPackagesCommand(bodies)) == Answer::success;
        if (taken != (!ended_ && n <= room))
            breach(kName, std::string("packages ") + (taken ? "taken" : "refused") + ": " + std::to_string(n)
                              + " with room for " + std::to_string(room) + (ended_ ? " after the end of the line" : ""));
        for (std::size_t i = 0; taken && i < bodies.size(); ++i) {
            Frame f = {std::uint8_t(kind_.address >> 8), std::uint8_t(kind_.address),
                       std::uint8_t(sequence_++ << 5 | peerSequence_)};
            f.insert(f.end(), bodies[i].begin(), bodies[i].end());
            written_.push_back(f);
        }
    }

    void activate()
    {
        command(testsupport::plainCommand(ZGCP::Command::activate::id));
        if (kind_.link && line() >= 0)
            ended_ = false;
        signals();
        // A link that was never joined has no line to open, and says so.
        if (kind_.link && !everJoined_ && ends_ == 1)
            ends_ = 0;
    }

    // Joined to the trunk time slot from it (or to it, with bit 0), or parted both ways (bit
    // 1). A join already made makes nothing new.
    void join(std::uint8_t how)
    {
        if (how & 2) {
            command(testsupport::plainCommand(ZGCP::Command::disconnect::id));
            gateway->table.Execute(kTrunkSlot, testsupport::plainCommand(ZGCP::Command::disconnect::id));
            settle();
            if (kind_.link && (joins_[0] || joins_[1]) && line() >= 0)
                breach(kName, "the link's channel stays open once it is parted from the trunk");
            joins_[0] = joins_[1] = false;
            return;
        }
        bool& made = joins_[how & 1];
        bool const joined = how & 1 ? command(testsupport::connectCommand(kTrunkSlot)) == Answer::success
                                    : gateway->table.Execute(kTrunkSlot, testsupport::connectCommand(kSlot)).kind
                                          == Answer::success;
        settle();
        if (joined && !made && kind_.link) {
            if (line() < 0)
                breach(kName, "the link opens no channel when joined to the trunk");
            everJoined_ = true;
            ended_ = false;
        }
        made = made || joined;
    }

    Answer::Kind command(ZGCP::Command const& c)
    {
        Answer::Kind const answer = gateway->table.Execute(kSlot, c).kind;
        settle();
        return answer;
    }

    static void settle() { testsupport::settle(kSettleTurns); }

    HdlcSlot& link() { return dynamic_cast<HdlcSlot&>(*gateway->table.GetSlotAt(kSlot)); }
    Slot& slot() { return *gateway->table.GetSlotAt(kSlot); }

    // The frames the slot wrote: the next ones due, in order.
    void frames()
    {
        int const channel = line();
        board::sim::FrameLine* far = channel < 0 ? nullptr : gateway->env.mcc.line(channel);
        if (far == nullptr)
            return;
        for (Frame const& f : far->take()) {
            if (written_.empty() || f != written_.front())
                breach(kName, "a frame " + shown(f) + " written where "
                                  + (written_.empty() ? std::string("none") : shown(written_.front())) + " was due");
            written_.pop_front();
        }
        // User data is written at once; packages as soon as the channel is ready.
        bool const drains = kind_.link ? link().channel().is_ready() : true;
        if (drains && !written_.empty())
            breach(kName, "what the controller sent was not written: " + shown(written_.front()));
    }

    // The slot's signals: the bodies they carry as due, and its reports of an end.
    void signals()
    {
        for (auto const& s : gateway->controller.take()) {
            if (s.slot != int(kSlot))
                continue;
            ZGCP::Signal const& signal = s.signal;
            std::vector<Frame> bodies;
            if (signal.deactivated_isSelected() || signal.abort_isSelected())
                ++ends_;
            else if (signal.userData_isSelected())
                bodies.emplace_back(signal.get_userData().begin(), signal.get_userData().end());
            else if (signal.ioctl_isSelected() && signal.get_ioctl().hdlcPackages_isSelected())
                for (ZGCP::HdlcPackage const& p : signal.get_ioctl().get_hdlcPackages())
                    bodies.emplace_back(p.get_body().begin(), p.get_body().end());
            else
                continue;
            if (bodies.empty() && (signal.deactivated_isSelected() || signal.abort_isSelected()))
                continue;
            if (std::string const why = arrivals_.arrived(bodies); !why.empty())
                breach(kName, why);
            ++received_;
        }
        if (std::string const why = arrivals_.missing(); !why.empty())
            breach(kName, why);
    }

    // One line for each frame or body the slot does not carry.
    void lines()
    {
        testsupport::checkLines(kName, gateway->shortFrames, shortLines_ + shortFrames_, "frames shorter than a header");
        testsupport::checkLines(kName, gateway->longBodies, longBodyLines_ + longBodies_, "bodies no signal carries");
        testsupport::checkLines(kName, gateway->longFrames, longFrameLines_ + longFrames_, "frames longer than a read");
    }

    Input& in_;
    Kind kind_;
    Arrivals arrivals_;
    // What the slot is to write, in order.
    std::deque<Frame> written_;
    // The first held frame's time, while the link gathers.
    std::optional<std::uint64_t> heldSince_;
    std::uint8_t serial_ = 0;
    std::uint8_t sequence_ = 0;
    std::uint8_t peerSequence_ = 0;
    // Joined from the trunk time slot, and to it; ever since the slot was made.
    bool joins_[2] = {false, false};
    bool everJoined_ = false;
    bool ended_ = false;
    unsigned ends_ = 0;
    unsigned received_ = 0;
    std::size_t shortFrames_ = 0;
    std::size_t longBodies_ = 0;
    std::size_t longFrames_ = 0;
    std::size_t shortLines_ = 0;
    std::size_t longBodyLines_ = 0;
    std::size_t longFrameLines_ = 0;
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
