// Fuzz target of what the daemon's child programs give back to it, through the daemon's own
// readers: the T.38 relay program's count line (T38SoftFactory's resources report, read by
// ChildProgramLine, sent as the query signal of the slot table), the exec report of a fax
// sender (StartChildProgram's report pipe, ExecFailed) with the pages its exit code tells, and
// the ends of a T.38 relay and of a fax sender (their wait statuses, sent as abort). The
// programs are shell scripts written in place of the daemon's: each prints what the input
// gives (a file it cats) and ends as the input says (Ends): by itself with a code, by a
// signal, not at all (the daemon ends it), or it cannot be executed.
//
// The input is a row of steps, each chosen by its first byte modulo kSteps (Step), its
// operands read from the bytes after it (a missing one reads as 0); the bytes after
// kMaxSteps steps are not read (each step starts programs, which takes tens of
// milliseconds: a long input is long by what its programs print). After every step:
// - the query signals carry the count the daemon must read, found here from the bytes: the
//   leading decimal number of the first line's first 31 characters (blanks, a sign, digits:
//   0 when there is none, or when the program wrote nothing); the last count when that
//   number is one no int holds, when the bound cuts it (its sign or digits reach the bound
//   and the 32nd character is a digit), or when the program stays with its line open (no end
//   of line, and fewer than 31 characters, or 31 whose number reaches the bound with nothing
//   past it: killed once kCountMs of the clock have passed), each with one line on the error
//   stream, while a count taken gives none (at once from a program that stays with a line of
//   31 characters whose number ends before the bound); a report within kCountMs of the last
//   count is served with it at once, with no program started; every report asked for is sent;
// - a fax sender that ran reports its pages (its exit code, 0 when a signal ended it), one
//   that could not be executed none, whatever code its child ended with; then abort with the
//   wait status; a relay's end is told as its channel lost, then abort with the wait status;
//   a child that stays is ended by the destroy (killed after the grace period when it ignores
//   that) and reports nothing more;
// - no child is left, running or unreaped, and no timer, descriptor, slot or switch output
//   beyond what the run held before the input.
// A breach aborts the run. Each input starts from the same state: the count at kSeedCount,
// told by the program kCountMs of the clock before. Corpus: slots/fuzz/child_output_corpus. The daemon's log is shown with
// CHILD_OUTPUT_LOG=1.

#include "board/sim/mctl_model.h"
#include "messages/zgcp.h"
#include "runtime/child_wait.h"
#include "slots/dsp_modem_slot.h"
#include "slots/modem_factory.h"
#include "slots/t38_slot.h"
#include "tests/capture.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/fuzz/fork_options.h"
#include "tests/slot_commands.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::breach;
using Input = testsupport::FuzzInput;

constexpr char kTarget[] = "child_output_fuzz";
// The longest input, unless -max_len says otherwise: several long outputs.
constexpr char kMaxLen[] = "-max_len=12288";
constexpr std::uint32_t kStartMs = 1000000;
// Real time a child may take to write, to end and to be reaped.
constexpr int kChildMs = 10000;
// The longest output of a program: many times the line the count is read from.
constexpr std::size_t kLongOutput = 4096;
constexpr unsigned kMaxSteps = 16;
// The characters of the first line the count is read from, its end of line included: the
// target's own, not the daemon's.
constexpr std::size_t kCountLine = 31;
// The count every input starts with.
constexpr int kSeedCount = 7;
constexpr unsigned kSlot = 1;
constexpr unsigned kTrunk = 7;

enum Step {
    kCount,  // how (Ends), wait, reports, length (255: two more bytes, modulo kLongOutput + 1),
             // then the bytes the program prints: reports are asked after the wait (ms)
    kRelay,  // how: a T.38 relay starts on a channel and ends
    kFax,    // how: a fax sender starts on a modem and ends
    kSteps
};

// How a program ends, by an operand; the first two take one more.
enum class Ends {
    exits,          // code: by itself, with that code
    killed,         // signal (of kSignals): by that signal
    stays,          // not by itself: the daemon ends it
    ignores,        // not by itself, and SIGTERM and SIGHUP do not end it
    missing,        // there is no program
    notExecutable,  // a script without the right to execute it
    notProgram,     // executable, but neither a script nor a binary
    kinds
};
// Signals that end a shell without a core dump.
constexpr int kSignals[] = {SIGHUP, SIGINT, SIGKILL, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2};

struct Program {
    Ends ends = Ends::exits;
    int code = 0;  // the exit code or the signal

    static Program of(Input& in)
    {
        Program p;
        p.ends = Ends(in.byte() % int(Ends::kinds));
        if (p.ends == Ends::exits)
            p.code = in.byte();
        else if (p.ends == Ends::killed)
            p.code = kSignals[in.byte() % std::size(kSignals)];
        return p;
    }
    bool executed() const { return ends <= Ends::ignores; }
    bool endsItself() const { return ends != Ends::stays && ends != Ends::ignores; }
    // The wait status of a program that ends by itself, or of its child when it cannot be
    // executed (which ends with failCode).
    int status(int failCode) const
    {
        return !executed() ? failCode << 8 : ends == Ends::exits ? code << 8 : code;
    }
};

// What the daemon must take from a count program's output: the count, or none when the
// last count stands. told: the daemon has the line without waiting for the time limit.
struct CountRead {
    std::optional<int> count;
    bool told = true;
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool digit(char c) { return c >= '0' && c <= '9'; }

CountRead countOf(std::string const& output, bool ended)
{
    if (output.empty())
        return {ended ? std::optional<int>(0) : std::nullopt, ended};
    // The line: up to its end of line, within the bound; the character past the bound tells
    // whether a number that reaches the bound goes on.
    std::size_t const bound = kCountLine;
    std::size_t const end = output.find('\n');
    std::string const line = output.substr(0, end == std::string::npos ? bound : std::min(end + 1, bound));
    std::size_t at = 0;
    while (at < line.size() && blank(line[at]))
        ++at;
    std::size_t const start = at;
    bool const negative = at < line.size() && line[at] == '-';
    if (at < line.size() && (line[at] == '-' || line[at] == '+'))
        ++at;
    long long value = 0;
    std::size_t const first = at;
    for (; at < line.size() && digit(line[at]); ++at)
        value = std::min(value * 10 + (line[at] - '0'), 1LL << 40);
    // A sign or digits that run into the bound: only the character past it tells.
    bool const reaches = start < bound && at == bound;
    bool const whole = line.back() == '\n' || (line.size() == bound && !reaches);
    bool const past = output.size() > bound;
    if (!whole && !past && !ended)
        return {std::nullopt, false};
    // Cut there by a digit past the bound.
    if (reaches && past && digit(output[bound]))
        return {std::nullopt, true};
    if (at == first)
        return {0, true};
    value = negative ? -value : value;
    if (value < INT_MIN || value > INT_MAX)
        return {std::nullopt, true};
    return {int(value), true};
}

// A signal in short: "count 4", "pages 2", "abort 512", "receiver inactive".
std::string shown(ZGCP::Signal const& s)
{
    auto stream = [](char const* side, ZGCP::Stream const& st) {
        return std::string(side) + (st.active_isSelected() ? " active" : " inactive");
    };
    if (s.query_isSelected())
        return "count " + std::to_string(s.get_query().get_t38_instances().getValue());
    if (s.abort_isSelected())
        return "abort " + std::to_string(s.get_abort().getValue());
    if (s.modemProceeding_isSelected() && s.get_modemProceeding().acct_isSelected())
        return "pages " + std::to_string(s.get_modemProceeding().get_acct().get_octetsIn().get_low().getValue());
    if (s.receiver_isSelected())
        return stream("receiver", s.get_receiver());
    if (s.transmitter_isSelected())
        return stream("transmitter", s.get_transmitter());
    return s.asValueNotation();
}

std::string listed(std::vector<std::string> const& texts)
{
    std::string out;
    for (std::string const& t : texts)
        out += " [" + t + "]";
    return out;
}

void caught(int) {}

// Every signal a program may end by reaches it at its default, as from the daemon, which
// catches those it does not leave at their defaults: one ignored here (SIGPIPE by the
// harness, SIGHUP under nohup) is caught instead, which a child does not inherit.
void signalsAtDefault()
{
    for (int sig : kSignals) {
        struct sigaction action {};
        if (::sigaction(sig, nullptr, &action) != 0 || action.sa_handler != SIG_IGN)
            continue;
        action.sa_handler = caught;
        action.sa_flags = SA_RESTART;
        ::sigaction(sig, &action, nullptr);
    }
}

// The daemon's part under test, built once and never destroyed, with what the target knows
// of the count the daemon holds.
class Gateway : public testsupport::DaemonHarness {
public:
    Gateway() : DaemonHarness(kTarget, "CHILD_OUTPUT_LOG", kStartMs)
    {
        HwMux::instance();
        T38SoftFactory::instance();
        ChildWait::Activate();
        signalsAtDefault();
        bind(signals);
        // The fax programs' children print their lines on the process's output.
        if (int const none = ::open("/dev/null", O_WRONLY | O_CLOEXEC); !log && none >= 0) {
            ::dup2(none, 1);
            ::close(none);
        }
        idleTimers = multiplexer.timer_count();
    }

    std::string path(char const* boardPath) const { return root + boardPath; }

    std::string root = testsupport::boardRoot(kTarget, {"/usr/local/sbin", "/var"});
    board::sim::MctlModel& mctl = env.sim.add<board::sim::MctlModel>();
    // Its authentication listener on a port the system chooses.
    ModemFactory modems{0};
    testsupport::SignalWatch signals{kTarget};
    // The timers pending while no program runs.
    unsigned idleTimers = 0;
    int count = 0;
    // The clock when the last count came in; none before the first.
    std::optional<std::uint32_t> countedAt;
};

Gateway* gateway = nullptr;

// One input's run.
class Run {
public:
    explicit Run(Input& in) : in_(in) {}

    void steps()
    {
        for (unsigned step = 0; step < kMaxSteps && !in_.done(); ++step) {
            switch (Step(in_.byte() % kSteps)) {
            case kCount: {
                Program const p = Program::of(in_);
                std::uint8_t const wait = in_.byte();
                unsigned const reports = 1 + in_.byte() % 3;
                std::size_t n = in_.byte();
                if (n == 255)
                    n = in_.word16() % (kLongOutput + 1);
                std::vector<std::uint8_t> const bytes = in_.take(n);
                // Mostly a fresh count; else a report up to a second after the last.
                std::uint32_t const waitMs = wait < 0x80 ? T38SoftFactory::kCountMs : (wait - 0x80u) * 8;
                count(p, std::string(bytes.begin(), bytes.end()), reports, waitMs);
                break;
            }
            case kRelay: relay(Program::of(in_)); break;
            case kFax: fax(Program::of(in_)); break;
            default: break;
            }
        }
    }

    // Each step leaves nothing behind.
    void finish() { gateway->checkLeftOver(); }

    // A program asked afresh tells its count kCountMs before the clock reading every input
    // starts from (nothing is pending on the clock then), so that every input finds the same
    // count of the same age; without a count since the last of these, that one still serves.
    void useAgain()
    {
        gateway->clock.setMilliseconds(kStartMs - T38SoftFactory::kCountMs);
        count(Program{}, std::to_string(kSeedCount) + "\n", 1, 0);
    }

private:
    // The program's file at the board path, as the input says; the output file it prints
    // when there is output.
    void install(char const* program, Program const& p, std::string const& output)
    {
        std::string const path = gateway->path(program);
        std::string const printed = gateway->path("/var/output");
        ::unlink(started().c_str());
        std::string text = "#!/bin/sh\n";
        if (!output.empty()) {
            std::ofstream(printed, std::ios::binary | std::ios::trunc) << output;
            text += "cat '" + printed + "'\n";
        }
        switch (p.ends) {
        case Ends::exits: text += "exit " + std::to_string(p.code) + "\n"; break;
        case Ends::killed: text += "kill -" + std::to_string(p.code) + " $$\n"; break;
        case Ends::ignores: text += "trap '' TERM HUP\n"; [[fallthrough]];
        case Ends::stays: text += ": >'" + started() + "'\nexec /bin/sleep 60\n"; break;
        case Ends::missing: ::unlink(path.c_str()); return;
        case Ends::notProgram: text = std::string(4, '\0') + "not a program\n"; break;
        default: break;
        }
        if (!testsupport::writeProgram(path, text, p.ends != Ends::notExecutable))
            testsupport::cannotStart(kTarget, "cannot write " + path);
    }

    // The file a program that stays makes once it has printed its output and set what it
    // ignores.
    static std::string started() { return gateway->path("/var/started"); }
    static void waitStarted()
    {
        if (!testsupport::runUntil([] { return ::access(started().c_str(), F_OK) == 0; }, kChildMs))
            breach(kTarget, "a program did not start");
    }

    // The signals the controller has got since the last look.
    static std::vector<std::string> signals()
    {
        std::vector<std::string> out;
        for (auto const& s : gateway->controller.take())
            out.push_back(shown(s.signal));
        return out;
    }
    void expectSignals(std::vector<std::string> const& expected, char const* when)
    {
        std::vector<std::string> got;
        testsupport::runUntil(
            [&] {
                for (std::string& s : signals())
                    got.push_back(std::move(s));
                return got.size() >= expected.size();
            },
            kChildMs);
        testsupport::settle();
        for (std::string& s : signals())
            got.push_back(std::move(s));
        if (got != expected)
            breach(kTarget, std::string(when) + ": signals" + listed(got) + "; expected" + listed(expected));
    }

    // The children go, the clock moving on as long as one is left (so that one the daemon
    // kills at a time limit is killed).
    static void childrenGone()
    {
        if (!testsupport::runUntil(
                [] {
                    if (!testsupport::childLeft() && T38SoftFactory::instance().retiring() == 0)
                        return true;
                    testsupport::advance(gateway->clock, 100);
                    return false;
                },
                kChildMs))
            breach(kTarget, "a child process is left");
    }
    // At the end of a step: nothing of it may stay.
    static void leftOver()
    {
        childrenGone();
        gateway->checkLeftOver();
    }

    void count(Program const& p, std::string const& output, unsigned reports, std::uint32_t waitMs)
    {
        testsupport::advance(gateway->clock, waitMs);
        std::int32_t const age = std::int32_t(Mux::milliseconds() - gateway->countedAt.value_or(0));
        bool const served = gateway->countedAt && age >= 0 && age < std::int32_t(T38SoftFactory::kCountMs);
        install(T38SoftFactory::kProgram, p, output);
        CountRead const read =
            served ? CountRead{gateway->count, true} : countOf(p.executed() ? output : "", p.endsItself());
        testsupport::CaptureStream err(std::cerr);
        for (unsigned i = 0; i < reports; ++i)
            gateway->table.UpdateHardwareResources();
        if (served && testsupport::childLeft())
            breach(kTarget, "a count that serves still runs the program");
        if (!read.told) {
            waitStarted();
            testsupport::advance(gateway->clock, T38SoftFactory::kCountMs);
        }
        std::uint32_t const in = Mux::milliseconds();
        int const expected = read.count.value_or(gateway->count);
        expectSignals(std::vector<std::string>(reports, "count " + std::to_string(expected)), "the count");
        // A program that told its count and stays is killed at the time limit; one that has
        // ended leaves nothing pending, at once.
        if (!p.endsItself())
            testsupport::advance(gateway->clock, T38SoftFactory::kCountMs);
        if (!testsupport::runUntil([] { return !testsupport::childLeft(); }, kChildMs))
            breach(kTarget, "the count's program is left");
        if (multiplexer.timer_count() != gateway->idleTimers)
            breach(kTarget, "timers are left once the count is in: " + std::to_string(multiplexer.timer_count()) + " of "
                                + std::to_string(gateway->idleTimers));
        gateway->checkLeftOver();
        std::string const said = err.text();
        std::size_t const lines = std::size_t(std::count(said.begin(), said.end(), '\n'));
        if (lines != (read.count ? 0u : 1u) || (lines && said.rfind("t38soft: t38 daemon", 0) != 0))
            breach(kTarget, "the count's error lines: \"" + said + "\"");
        if (!served) {
            gateway->count = expected;
            gateway->countedAt = in;
        }
    }

    void command(unsigned slot, ZGCP::Command const& c, Slots::Answer::Kind expected, char const* what)
    {
        if (gateway->table.Execute(slot, c).kind != expected)
            breach(kTarget, std::string(what) + " is not answered as it should be");
    }

    // A program that stays ends when its slot is destroyed (or is killed after the grace
    // period), and is told nothing more.
    void destroyRunning(Slots::Answer::Kind answer)
    {
        waitStarted();
        command(kSlot, testsupport::plainCommand(ZGCP::Command::destroy::id), answer, "a destroy");
        childrenGone();
        expectSignals({}, "a child that stays, once destroyed");
    }

    void relay(Program const& p)
    {
        install(T38SoftFactory::kProgram, p, "");
        command(kSlot, testsupport::createCommand(testsupport::t38Params("10.0.0.1", 4000, 5000)),
                Slots::Answer::success, "a relay's create");
        if (!p.endsItself()) {
            signals();
            destroyRunning(Slots::Answer::success);
            leftOver();
            return;
        }
        expectSignals({"transmitter active", "receiver active", "receiver inactive", "transmitter inactive",
                       "abort " + std::to_string(p.status(T38SoftFactory::kExecFailed))},
                      "a relay's end");
        command(kSlot, testsupport::plainCommand(ZGCP::Command::destroy::id), Slots::Answer::success,
                "the destroy of a relay that ended");
        leftOver();
    }

    void fax(Program const& p)
    {
        install(DspModemSlot::kFaxSender, p, "");
        TERM::ModemParams params = testsupport::modemParams("");
        params.set_fax();
        params.set_execargs().push_back(ASN1::IA5String("page"));
        command(kSlot, testsupport::createCommand(testsupport::modemCreate(params)), Slots::Answer::success,
                "a fax sender's create");
        command(kTrunk, testsupport::createCommand(testsupport::trunkParams(1, 5)), Slots::Answer::success,
                "a trunk's create");
        command(kSlot, testsupport::connectCommand(kTrunk), Slots::Answer::success, "a fax sender's connect");
        signals();
        if (p.ends == Ends::stays) {
            // SIGHUP ends it: it ran, and sent no page.
            waitStarted();
            command(kSlot, testsupport::plainCommand(ZGCP::Command::destroy::id), Slots::Answer::delayed,
                    "the destroy of a fax sender");
            childrenGone();
            expectSignals({"pages 0"}, "a fax sender destroyed");
        } else if (p.ends == Ends::ignores) {
            // Killed once the slot has gone.
            destroyRunning(Slots::Answer::delayed);
        } else {
            std::vector<std::string> expected;
            if (p.executed())
                expected.push_back("pages " + std::to_string(p.ends == Ends::exits ? p.code : 0));
            expected.push_back("abort " + std::to_string(p.status(ModemSlot::kExecFailed)));
            expectSignals(expected, "a fax sender's end");
            command(kSlot, testsupport::plainCommand(ZGCP::Command::destroy::id), Slots::Answer::success,
                    "the destroy of a fax sender that ended");
        }
        command(kTrunk, testsupport::plainCommand(ZGCP::Command::destroy::id), Slots::Answer::success,
                "a trunk's destroy");
        signals();
        leftOver();
    }

    Input& in_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    testsupport::quietFuzzer(argc, argv, {kMaxLen});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (gateway == nullptr)
        testsupport::start(kTarget, [] { testsupport::prepare<Run>(gateway, kStartMs); });
    testsupport::runInput<Run>(gateway, kStartMs, data, size);
    return 0;
}
