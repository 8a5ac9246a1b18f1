// Fuzz target of the event records of the RTP device "/dev/rtp" as the RTP slots read them
// (RtpSlot::OnRtpEvent): RTP channels made through the slot table, their PD event switched on
// and off with the controller's ioctls and their sessions begun again by codec changes, while
// the simulated device sends a slot's session whole records of the PD type and of others with
// any values, records that are short, long or empty (a read of 0 ends the session), bursts of
// them, and ends of the device. The input is a row of steps, each chosen by its first byte
// modulo kSteps (Step), its operands read from the bytes after it (a missing one reads as 0).
//
// Checks after every step, against what the target sent:
// - each whole record of the PD type that a slot's session took gives one rtp signal of that
//   slot, its pd value and timeout the record's words 1 and 2, in the order sent (as the
//   driver gives it: the slot reports what the device reads, whether or not the target has
//   switched the event on); a whole record of another type gives nothing;
// - each record of another length is dropped with one line;
// - a session that ends (a read of 0, a hang-up, an error) gives its slot one abort signal
//   and one line, once: the slot lets go of its open of the device, and nothing comes of the
//   slot after;
// - every message the server sends the controller decodes, and every signal encodes;
// - after the input, every slot destroyed and the board working again: no slot, session,
//   descriptor, timer or packet of the pool is left and no switch output is driven; then a
//   fresh channel's PD record is reported.
// A breach aborts the run. Each input starts from the same state: no slot, no failure armed,
// the clock at the same reading. Corpus: slots/fuzz/rtp_events_corpus. The daemon's log,
// with the signals the controller reads, is shown with RTP_EVENTS_LOG=1.

#include "board/rtp.h"
#include "hardware/hw_mux.h"
#include "messages/zgcp.h"
#include "slots/rtp_factory.h"
#include "slots/rtp_slot.h"
#include "slots/slots.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/loop_pump.h"
#include "tests/slot_commands.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iostream>
#include <string>
#include <vector>

namespace {

using testsupport::breach;
using Input = testsupport::FuzzInput;
using P = ZGCP::IoctlParams;

constexpr char kName[] = "rtp_events_fuzz";
// Sessions of several kilobytes: the length limit of the inputs the engine makes.
constexpr char kMaxLen[] = "-max_len=8192";

constexpr unsigned kFirstSlot = 40;
constexpr unsigned kSlots = 4;
constexpr std::uint32_t kStartMs = 1000000;
// Loop turns that read every record a step may queue.
constexpr int kSettleTurns = 1000;

enum Step {
    kCreate,   // slot: an RTP channel
    kDestroy,  // slot
    kPd,       // slot, on, then the timeout (4 bytes): the PD event switched on or off
    kCodec,    // slot, which: an encoder or decoder mode change (the session begun again)
    kRecord,   // slot, type, then value and timeout (4 bytes each), fill: a whole record
    kRaw,      // slot, length (255: the record sent last and more), then the bytes
    kBurst,    // count: the record sent last, again, to the same slot
    kEnd,      // slot, how: the slot's session ends, or the device's reads fail
    kFault,    // which, times: opens or requests of the device fail (a restart fails)
    kClear,    // the board works again
    kSteps
};

// What must come of a slot, in order.
struct Expected {
    bool abort = false;
    std::int32_t value = 0;
    std::int32_t timeout = 0;
};

// The daemon's part under test, built once and never destroyed.
struct Gateway : testsupport::DaemonHarness {
    Gateway() : DaemonHarness(kName, "RTP_EVENTS_LOG", kStartMs)
    {
        HwMux::instance();
        RtpFactory::instance();
        bind(signals);
    }

    testsupport::SignalWatch signals{kName};
    // The lines of records dropped and of sessions that ended.
    testsupport::LineCount dropped{std::cerr, ", dropped"};
    testsupport::LineCount ended{std::cerr, "fail to read from rtp: "};
};

Gateway* gateway = nullptr;

// One input's run.
class Run {
public:
    explicit Run(Input& in) : in_(in), dropped_(gateway->dropped.count()), ended_(gateway->ended.count()) {}

    void steps()
    {
        while (!in_.done())
            step(Step(in_.byte() % kSteps));
        check();
    }

    // Every slot goes and the board works again: nothing of them may stay.
    void finish()
    {
        for (unsigned s = 0; s < kSlots; ++s)
            gateway->table.Execute(kFirstSlot + s, testsupport::plainCommand(ZGCP::Command::destroy::id));
        gateway->env.sim.clearFailures();
        check();
        gateway->checkLeftOver();
    }

    // A fresh channel reports a PD record.
    void useAgain()
    {
        if (!create(0))
            breach(kName, "a fresh RTP channel is refused");
        gateway->table.Execute(kFirstSlot, testsupport::ioctlCommand(pd(true, 50)));
        rtp_event record{};
        record.type = rtp_event_pd;
        record.value = 1;
        record.timeout = 50;
        if (!deliver(0, bytesOf(record)))
            breach(kName, "a fresh RTP channel's session takes no record");
        check();
        finish();
    }

private:
    void step(Step kind)
    {
        switch (kind) {
        case kCreate: create(in_.byte() % kSlots); break;
        case kDestroy:
            gateway->table.Execute(kFirstSlot + in_.byte() % kSlots,
                                   testsupport::plainCommand(ZGCP::Command::destroy::id));
            break;
        case kPd: {
            unsigned const s = in_.byte() % kSlots;
            bool const on = in_.byte() & 1;
            std::int32_t const timeout = std::int32_t(in_.word32());
            gateway->table.Execute(kFirstSlot + s, testsupport::ioctlCommand(pd(on, timeout)));
            break;
        }
        case kCodec: {
            unsigned const s = in_.byte() % kSlots;
            std::uint8_t const which = in_.byte();
            auto const mode = which & 2 ? ZGCP::CodecMode::ulaw : ZGCP::CodecMode::alaw;
            gateway->table.Execute(kFirstSlot + s,
                                   testsupport::ioctlCommand(which & 1 ? P(P::encoder_mode::id, mode)
                                                                       : P(P::decoder_mode::id, mode)));
            break;
        }
        case kRecord: record(); break;
        case kRaw: {
            unsigned const s = in_.byte() % kSlots;
            std::size_t const length = in_.byte();
            std::vector<std::uint8_t> bytes = in_.take(length % 255);
            // 255: the record sent last with the bytes after it, longer than a record.
            if (length == 255)
                bytes.insert(bytes.begin(), last_.begin(), last_.end());
            deliver(s, bytes);
            break;
        }
        case kBurst:
            for (unsigned i = 0, count = in_.byte(); i < count && !last_.empty(); ++i)
                if (!deliver(lastSlot_, last_))
                    break;
            break;
        case kEnd: end(); break;
        case kFault: fault(); break;
        case kClear: gateway->env.sim.clearFailures(); break;
        default: break;
        }
        check();
    }

    static P pd(bool on, std::int32_t timeout)
    {
        P p;
        if (on)
            p.select_pd_enable().set_timeout(timeout);
        else
            p.select_pd_disable();
        return p;
    }

    static std::vector<std::uint8_t> bytesOf(rtp_event const& record)
    {
        auto const* at = reinterpret_cast<std::uint8_t const*>(&record);
        return std::vector<std::uint8_t>(at, at + sizeof record);
    }

    RtpSlot* at(unsigned s) const { return dynamic_cast<RtpSlot*>(gateway->table.GetSlotAt(kFirstSlot + s)); }

    bool create(unsigned s)
    {
        ZGCP::CreateParams const params =
            testsupport::rtpParams(testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 7000 + 10 * int(s)));
        if (gateway->table.Execute(kFirstSlot + s, testsupport::createCommand(params)).kind != Slots::Answer::success)
            return false;
        gone_[s] = false;
        return at(s) != nullptr;
    }

    // The open of the device that carries the slot's session and that the slot watches;
    // null when none.
    board::sim::OpenFile* session(unsigned s) const
    {
        RtpSlot* slot = at(s);
        if (slot == nullptr || slot->GetTransmitChannel() < 0 || slot->watchError())
            return nullptr;
        gateway->env.sim.service();
        auto const* held = gateway->env.rtp.session(slot->GetTransmitChannel());
        if (held == nullptr)
            return nullptr;
        for (board::sim::OpenFile* f : gateway->env.rtp.opens())
            if (f->id() == held->open)
                return f;
        return nullptr;
    }

    // A whole record: the PD type or another, any value and timeout, the other words filled.
    void record()
    {
        unsigned const s = in_.byte() % kSlots;
        std::uint8_t const type = in_.byte();
        rtp_event r{};
        r.type = type < 192 ? rtp_event_pd : type < 224 ? std::int32_t(type & 3) : std::int32_t(in_.word32());
        r.value = std::int32_t(in_.word32());
        r.timeout = std::int32_t(in_.word32());
        std::fill(std::begin(r.reserved), std::end(r.reserved), std::int32_t(std::uint32_t(in_.byte()) * 0x01010101u));
        deliver(s, bytesOf(r));
    }

    // Sends the bytes to the slot's session as one record; what must come of it is noted
    // when the session takes it. True when it took it.
    bool deliver(unsigned s, std::vector<std::uint8_t> const& bytes)
    {
        last_ = bytes;
        lastSlot_ = s;
        board::sim::OpenFile* f = session(s);
        if (f == nullptr || !f->send(bytes.data(), bytes.size()))
            return false;
        if (bytes.empty()) {
            endOf(s, f);
        } else if (bytes.size() != sizeof(rtp_event)) {
            ++dropped_;
        } else {
            rtp_event r;
            std::memcpy(&r, bytes.data(), sizeof r);
            if (r.type == rtp_event_pd)
                expected_[s].push_back({false, r.value, r.timeout});
        }
        return true;
    }

    // The session of the slot, on that open, ends: one abort and one line.
    void endOf(unsigned s, board::sim::OpenFile* f)
    {
        expected_[s].push_back({true, 0, 0});
        ++ended_;
        endedOpens_.push_back(f->id());
        last_.clear();
    }

    void end()
    {
        unsigned const s = in_.byte() % kSlots;
        std::uint8_t const how = in_.byte();
        board::sim::SimBoard& board = gateway->env.sim;
        using Kind = board::sim::ReadFault::Kind;
        switch (how % 4) {
        case 0:
            // The device's end of the slot's session is shut: its reads give 0.
            if (board::sim::OpenFile* f = session(s)) {
                ::shutdown(f->modelFd(), SHUT_WR);
                endOf(s, f);
            }
            break;
        case 1:
        case 2: {
            // The oldest open of the device is struck: a hang-up or an error.
            auto const& opens = gateway->env.rtp.opens();
            if (opens.empty())
                break;
            board::sim::OpenFile* const oldest = opens.front();
            for (unsigned t = 0; t < kSlots; ++t)
                if (session(t) == oldest) {
                    board.failRead(rtp::kPath, board::sim::ReadFault{how % 4 == 1 ? Kind::hangup : Kind::err, 0}, 1);
                    endOf(t, oldest);
                    break;
                }
            break;
        }
        default: {
            // The next reads fail with an error: EAGAIN is nothing, another one ends what it
            // strikes; the strikes not taken at once are taken back.
            unsigned const times = 1 + how / 4 % 3;
            int const error = how & 0x80 ? EAGAIN : EIO;
            unsigned held = 0;
            for (unsigned t = 0; t < kSlots; ++t)
                held += session(t) != nullptr;
            if (held == 0)
                break;
            board.failRead(rtp::kPath, board::sim::ReadFault{Kind::error, error}, int(times));
            if (error != EAGAIN)
                anyEnds_ += std::min(times, held);
            testsupport::settle(kSettleTurns);
            board.clearFailures();
            break;
        }
        }
    }

    void fault()
    {
        std::uint8_t const which = in_.byte();
        int const times = 1 + in_.byte() % 3;
        board::sim::SimBoard& board = gateway->env.sim;
        if (which % 4 == 0) {
            board.failOpen(rtp::kPath, EIO, times);
            return;
        }
        auto const& requests = gateway->env.rtp.requests();
        board.failRequest(rtp::kPath, requests[which / 4 % requests.size()].number, EIO, times);
    }

    // What came must be what the records called for, all of it.
    void check()
    {
        // A record dropped ends its slot's turn of the loop: a burst takes a turn each.
        testsupport::settle(kSettleTurns);
        for (auto const& signal : gateway->controller.take()) {
            unsigned const s = unsigned(signal.slot) - kFirstSlot;
            bool const rtp = signal.signal.rtp_isSelected();
            bool const abort = signal.signal.abort_isSelected();
            if (!rtp && !abort)
                continue;
            if (s >= kSlots)
                breach(kName, "an event signal of slot " + std::to_string(signal.slot));
            if (abort && expected_[s].empty() && anyEnds_ > 0 && !gone_[s]) {
                // An end that a read error brought to one of the sessions held.
                --anyEnds_;
                ++ended_;
                gone_[s] = true;
                continue;
            }
            if (expected_[s].empty())
                breach(kName, "a signal no record called for: " + signal.signal.asValueNotation());
            Expected const e = expected_[s].front();
            expected_[s].pop_front();
            if (e.abort != abort)
                breach(kName, "slot " + std::to_string(signal.slot) + " sent " + signal.signal.asValueNotation()
                                  + (e.abort ? " where its session ended" : " where a PD record came"));
            if (abort) {
                gone_[s] = true;
                continue;
            }
            auto const& event = signal.signal.get_rtp().get_pd();
            if (event.get_value().getValue() != e.value || event.get_timeout().getValue() != e.timeout)
                breach(kName, "a PD signal " + signal.signal.asValueNotation() + " of the record of value "
                                  + std::to_string(e.value) + " and timeout " + std::to_string(e.timeout));
        }
        for (unsigned s = 0; s < kSlots; ++s)
            if (!expected_[s].empty())
                breach(kName, "slot " + std::to_string(kFirstSlot + s) + " did not report "
                                  + (expected_[s].front().abort ? "its session's end" : "a PD record"));
        if (anyEnds_ > 0)
            breach(kName, "a read error ended no session");
        testsupport::checkLines(kName, gateway->dropped, dropped_, "records dropped");
        testsupport::checkLines(kName, gateway->ended, ended_, "sessions ended");
        // The slot of a session that ended polls its open no more.
        testsupport::checkLetGo(kName, gateway->env.sim, gateway->env.rtp, endedOpens_);
    }

    Input& in_;
    // The lines of dropped records and of ended sessions there must be.
    std::size_t dropped_;
    std::size_t ended_;
    // The slots whose session ended.
    std::array<bool, kSlots> gone_{};
    std::array<std::deque<Expected>, kSlots> expected_;
    // Ends a read error brought to sessions the target does not name.
    unsigned anyEnds_ = 0;
    std::vector<unsigned> endedOpens_;
    std::vector<std::uint8_t> last_;
    unsigned lastSlot_ = 0;
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
