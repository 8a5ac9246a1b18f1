// Fuzz target of the records of the CAS device "/dev/e1-cas" as the E1 service reads them
// (E1Ctl::OnUpdateCas): trunks and time slots opened, set, read and closed with the
// controller's cas commands, while the simulated device sends the received bits of open
// channels as the driver does, whole records of any values, records that are short, long or
// empty (a read of 0 ends the device), bursts of them, and ends of the device between them;
// the clock moves on so that a device that ended is opened again. The input is a row of
// steps, each chosen by its first byte modulo kSteps (Step), its operands read from the bytes
// after it (a missing one reads as 0).
//
// Checks after every step, against what the target sent:
// - each whole record the service's open of the device took gives one cas signal with
//   exactly its path, time slot, received and transmitted bits, in the order sent; a change
//   of the received bits of an open channel gives one with the bits the channel sends;
// - a cas command reports only on its own trunk and time slot (its trunk level at time slot
//   0), and nothing for a trunk outside 0 to 3;
// - each record of another length is dropped with one line;
// - a device that ends is let go of (the model sees its open closed) and said once: one line
//   for the first end of an input, at most one for each end after;
// - every message the server sends the controller decodes, and every signal encodes;
// - after the input, the board working again, the device is back, every trunk and channel
//   the input opened is closed again, and no descriptor, timer or packet of the pool is left.
// A breach aborts the run. Each input starts from the same state: the device open with no
// trunk open, no failure armed, the clock at the same reading. Corpus:
// hardware/fuzz/cas_records_corpus. The daemon's log, with the signals the controller reads,
// is shown with CAS_RECORDS_LOG=1.

#include "board/e1_cas.h"
#include "hardware/e1_ctl.h"
#include "messages/zgcp.h"
#include "runtime/device_return.h"
#include "runtime/multiplexer.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/hardware_commands.h"
#include "tests/loop_pump.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using testsupport::breach;
using Input = testsupport::FuzzInput;

constexpr char kName[] = "cas_records_fuzz";
// Sessions of several kilobytes: the length limit of the inputs the engine makes.
constexpr char kMaxLen[] = "-max_len=8192";

constexpr std::uint32_t kStartMs = 1000000;
// Clock time the steps of one input may pass in all: past the longest wait of a device's
// return, so that a device that ended is tried several times.
constexpr std::uint32_t kTimeSteps = 3 * DeviceReturn::last_wait_ms;
// Loop turns that read every record a step may queue: the service reads one a turn.
constexpr int kSettleTurns = 1000;

enum Step {
    kCommand,   // which, trunk, time slot, value: a cas command of the controller
    kReceived,  // trunk, time slot, bits: the received bits of a time slot change
    kRecord,    // form, then path and time slot (a byte or a word each), rx, tx, reserved
    kRaw,       // length (255: the record sent last and more), then the bytes
    kBurst,     // count: the record sent last, again
    kEnd,       // how: the device ends, or its opens, requests or reads fail
    kTime,      // n: the clock moves on by 2^(n mod 17) ms, within kTimeSteps
    kClear,     // the board works again
    kSteps
};

// The daemon's part under test, built once and never destroyed.
struct Gateway : testsupport::DaemonHarness {
    Gateway() : DaemonHarness(kName, "CAS_RECORDS_LOG", kStartMs)
    {
        bind(signals);
        server.Bind(&E1Ctl::instance());
    }

    testsupport::SignalWatch signals{kName};
    // The lines of records dropped and of ends of the device.
    testsupport::LineCount dropped{std::cerr, ", dropped"};
    testsupport::LineCount ended{std::cerr, "cas interface closed: "};
};

Gateway* gateway = nullptr;

// A cas signal as the controller reads it.
struct Cas {
    std::int64_t path, timeslot, rx, tx;
    bool operator==(Cas const& o) const
    {
        return path == o.path && timeslot == o.timeslot && rx == o.rx && tx == o.tx;
    }
    std::string text() const
    {
        return std::to_string(path) + "/" + std::to_string(timeslot) + " rx=" + std::to_string(rx)
               + " tx=" + std::to_string(tx);
    }
};

// One input's run.
class Run {
public:
    explicit Run(Input& in) : in_(in), dropped_(gateway->dropped.count()), endLines_(gateway->ended.count()) {}

    void steps()
    {
        while (!in_.done())
            step(Step(in_.byte() % kSteps));
        check();
    }

    // The board works again, the device comes back and what the input opened is closed.
    void finish()
    {
        gateway->env.sim.clearFailures();
        comeBack();
        std::set<std::uint32_t> trunks;
        for (auto const& [trunk, timeslot] : opened_)
            trunks.insert(trunk);
        for (std::uint32_t trunk : trunks) {
            command(testsupport::casCommand("open", int(trunk), 0));
            for (auto const& [t, timeslot] : opened_)
                if (t == trunk && timeslot != 0 && timeslot != 16)
                    command(testsupport::casCommand("close", int(trunk), int(timeslot)));
            command(testsupport::casCommand("close", int(trunk), 0));
        }
        // Bits the far end left go back to none, on channels closed now.
        board::sim::E1CasModel& cas = gateway->env.cas;
        for (int t = 0; t < board::sim::E1CasModel::kTrunks; ++t)
            for (int ts = 0; ts < board::sim::E1CasModel::kTimeslots; ++ts) {
                if (cas.channel(t, ts).open)
                    breach(kName, "time slot " + std::to_string(t) + "/" + std::to_string(ts) + " is left open");
                cas.setReceived(t, ts, 0);
            }
        opened_.clear();
        check();
        for (int t = 0; t < E1Ctl::kTrunks; ++t)
            if (cas.trunkOpen(t) || E1Ctl::instance().casOpen(t))
                breach(kName, "trunk " + std::to_string(t) + " is left open");
        gateway->checkLeftOver();
    }

    // A fresh channel's received bits are reported.
    void useAgain()
    {
        command(testsupport::casCommand("open", 0, 1, 9));
        received(0, 1, 5);
        check();
        if (gateway->env.cas.opens().size() != 1)
            breach(kName, "the device is not open once");
        finish();
    }

private:
    void step(Step kind)
    {
        switch (kind) {
        case kCommand: {
            static char const* const commands[] = {"open", "set", "close", "get"};
            std::uint8_t const which = in_.byte();
            std::uint8_t const trunk = in_.byte();
            std::uint8_t const timeslot = in_.byte();
            int const value = in_.byte();
            // Trunks 0 to 5, or -1; time slots 0 to 33.
            command(testsupport::casCommand(commands[which % 4], trunk & 0x80 ? -1 : trunk % 6, timeslot % 34,
                                            which & 0x80 ? -value : value));
            break;
        }
        case kReceived: {
            std::uint8_t const trunk = in_.byte();
            std::uint8_t const timeslot = in_.byte();
            received(trunk % E1Ctl::kTrunks, timeslot % E1Ctl::kTimeslots, in_.byte() % 16);
            break;
        }
        case kRecord: record(); break;
        case kRaw: {
            std::size_t const length = in_.byte();
            std::vector<std::uint8_t> bytes = in_.take(length % 255);
            // 255: the record sent last with the bytes after it, longer than a record.
            if (length == 255)
                bytes.insert(bytes.begin(), last_.begin(), last_.end());
            send(bytes);
            break;
        }
        case kBurst:
            for (unsigned i = 0, count = in_.byte(); i < count && !last_.empty(); ++i)
                if (!send(last_))
                    break;
            break;
        case kEnd: end(); break;
        case kTime: {
            std::uint32_t const ms = time_.spend(1u << (in_.byte() % 17));
            testsupport::passTime(gateway->clock, ms, 1000, [this] { check(); });
            break;
        }
        case kClear: gateway->env.sim.clearFailures(); break;
        default: break;
        }
        check();
    }

    // The command, as the controller sends it; its reports are checked against it.
    void command(ZGCP::Command const& command)
    {
        ZGCP::Message message;
        message.set_pdu().select_command() = command;
        std::vector<std::uint8_t> const bytes = testsupport::encodePer(message);
        gateway->server.OnMessage(reinterpret_cast<char const*>(bytes.data()), int(bytes.size()));
        ZGCP::CasChannel const& channel = command.get_ioctl().get_cas().get_channel();
        std::int64_t const trunk = channel.get_path().getValue();
        std::int64_t const timeslot = channel.get_timeslot().getValue();
        testsupport::settle(kSettleTurns);
        for (Cas const& c : take()) {
            if (trunk < 0 || trunk >= E1Ctl::kTrunks)
                breach(kName, "a report " + c.text() + " of a command on trunk " + std::to_string(trunk));
            if (c.path != trunk || (c.timeslot != 0 && c.timeslot != timeslot))
                breach(kName, "a report " + c.text() + " of a command on " + std::to_string(trunk) + "/"
                                  + std::to_string(timeslot));
        }
        ZGCP::CasCommandSignal const& cmd = command.get_ioctl().get_cas().get_cmd();
        if ((cmd.open_isSelected() || cmd.set_isSelected()) && trunk >= 0 && trunk < E1Ctl::kTrunks)
            opened_.insert({std::uint32_t(trunk), std::uint32_t(timeslot)});
    }

    // The far end's bits of a time slot change: the driver's record, when the channel is open.
    void received(int trunk, int timeslot, std::uint8_t bits)
    {
        board::sim::E1CasModel& cas = gateway->env.cas;
        board::sim::E1CasModel::Channel const c = cas.channel(trunk, timeslot);
        if (c.open && c.rx != bits && !cas.opens().empty())
            expected_.push_back({trunk, timeslot, bits, c.tx});
        cas.setReceived(trunk, timeslot, bits);
    }

    // A whole record of any values: a trunk and a time slot in range or not, any bits.
    void record()
    {
        std::uint8_t const form = in_.byte();
        cas_channel r{};
        r.path = form & 1 ? in_.word32() : in_.byte() % 6;
        r.timeslot = form & 2 ? in_.word32() : in_.byte() % 34;
        r.rx = in_.byte();
        r.tx = in_.byte();
        r.reserved[0] = r.reserved[1] = in_.byte();
        auto const* at = reinterpret_cast<std::uint8_t const*>(&r);
        send(std::vector<std::uint8_t>(at, at + sizeof r));
    }

    // The bytes as one record to the service's open of the device; what must come of it is
    // noted when it took it.
    bool send(std::vector<std::uint8_t> const& bytes)
    {
        last_ = bytes;
        auto const& opens = gateway->env.cas.opens();
        if (opens.empty() || !opens.front()->send(bytes.data(), bytes.size()))
            return false;
        if (bytes.empty()) {
            ended(opens.front());
        } else if (bytes.size() != sizeof(cas_channel)) {
            ++dropped_;
        } else {
            cas_channel r;
            std::memcpy(&r, bytes.data(), sizeof r);
            expected_.push_back({std::int32_t(r.path), std::int32_t(r.timeslot), r.rx, r.tx});
        }
        return true;
    }

    // The device ends on that open: it is let go of, and said at most once.
    void ended(board::sim::OpenFile* f)
    {
        ++ends_;
        endedOpens_.push_back(f->id());
        last_.clear();
    }

    void end()
    {
        std::uint8_t const how = in_.byte();
        board::sim::SimBoard& board = gateway->env.sim;
        auto const& opens = gateway->env.cas.opens();
        using Kind = board::sim::ReadFault::Kind;
        int const times = 1 + how / 8 % 3;
        switch (how % 6) {
        case 0:
            // The device's end is shut: the reads give 0.
            if (!opens.empty()) {
                ::shutdown(opens.front()->modelFd(), SHUT_WR);
                ended(opens.front());
            }
            break;
        case 1:
        case 2:
            if (!opens.empty()) {
                board.failRead(e1cas::kPath, board::sim::ReadFault{how % 6 == 1 ? Kind::hangup : Kind::err, 0}, 1);
                ended(opens.front());
            }
            break;
        case 3:
            // The next read fails with an error: EAGAIN is nothing, another one an end.
            if (!opens.empty()) {
                bool const again = how & 0x80;
                board.failRead(e1cas::kPath, board::sim::ReadFault{Kind::error, again ? EAGAIN : EIO}, 1);
                if (!again)
                    ended(opens.front());
                testsupport::settle(kSettleTurns);
                board.clearFailures();
            }
            break;
        case 4: board.failOpen(e1cas::kPath, EIO, how & 0x80 ? -1 : times); break;
        default: {
            auto const& requests = gateway->env.cas.requests();
            board.failRequest(e1cas::kPath, requests[how / 8 % requests.size()].number, EIO, times);
            break;
        }
        }
    }

    // The tries go on until the device is back and past its trial.
    void comeBack()
    {
        for (std::uint32_t waited = 0; waited <= 2 * DeviceReturn::last_wait_ms; waited += 1000) {
            if (!E1Ctl::instance().casAway() && multiplexer.timer_count() == gateway->baseline.timers())
                break;
            testsupport::advance(gateway->clock, 1000);
            check();
        }
        if (E1Ctl::instance().casAway() || gateway->env.cas.opens().size() != 1)
            breach(kName, "the device that ended is not back");
    }

    // The cas signals that came.
    std::vector<Cas> take()
    {
        std::vector<Cas> out;
        for (auto const& signal : gateway->controller.take()) {
            if (!signal.signal.cas_isSelected())
                continue;
            auto const& cas = signal.signal.get_cas();
            out.push_back({cas.get_channel().get_path().getValue(), cas.get_channel().get_timeslot().getValue(),
                           cas.get_rx().getValue(), cas.get_tx().getValue()});
        }
        return out;
    }

    // What came must be what the records called for, all of it.
    void check()
    {
        testsupport::settle(kSettleTurns);
        for (Cas const& c : take()) {
            if (expected_.empty())
                breach(kName, "a cas signal no record called for: " + c.text());
            if (!(c == expected_.front()))
                breach(kName, "a cas signal " + c.text() + " of the record " + expected_.front().text());
            expected_.pop_front();
        }
        if (!expected_.empty())
            breach(kName, "no cas signal of the record " + expected_.front().text());
        testsupport::checkLines(kName, gateway->dropped, dropped_, "records dropped");
        std::size_t const lines = gateway->ended.count() - endLines_;
        if (lines > ends_ || (ends_ > 0 && lines == 0))
            breach(kName, std::to_string(lines) + " lines of the device's end for " + std::to_string(ends_) + " ends");
        testsupport::checkLetGo(kName, gateway->env.sim, gateway->env.cas, endedOpens_);
        if (gateway->env.cas.opens().size() > 1)
            breach(kName, "the device is open more than once");
    }

    Input& in_;
    std::deque<Cas> expected_;
    // The lines of dropped records there must be; those of the device's ends there were when
    // the input began, and the ends since.
    std::size_t dropped_;
    std::size_t endLines_;
    std::size_t ends_ = 0;
    std::vector<unsigned> endedOpens_;
    std::set<std::pair<std::uint32_t, std::uint32_t>> opened_;
    std::vector<std::uint8_t> last_;
    testsupport::TimeBudget time_{kTimeSteps};
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
