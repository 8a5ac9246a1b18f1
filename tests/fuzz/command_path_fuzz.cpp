// Fuzz target of the controller's whole command path on the simulated board: the input is
// what a controller sends, read by the stream and TPKT layers of a controller connection,
// decoded and dispatched by the controller server to every command service the daemon binds,
// in its order (the heartbeat; the slot table with every slot factory, the stub child program
// standing in for pppd, the fax programs and the T.38 relay; the bus tests, the clock, E1 and
// SPI controls and the monitoring controller), and answered. The board has two mixer units
// and the files the monitoring controller reads and writes (versions, temperature, framer
// status, the "/var/monitoring/" folder). Between its frames the input also makes the
// board's device opens, requests and reads fail, and moves the clock on:
// - a piece that begins with the TPKT version (3) is a frame, sent as the controller sends it:
//   the length its header gives (at least the header, at most what is left), whole or not;
// - any other first byte is a step, chosen by its value modulo the number of steps (Step),
//   that takes its operands from the bytes after it (a missing one reads as 0).
// While the input runs, the controller's side checks what the daemon sends (Referee):
// - every message that decodes gets exactly one answer while the server handles it (a
//   destroy whose slot's release goes on: none then, its success once the release ends),
//   one the controller expects from the request and its own book of the slot numbers it
//   holds, moved on by the answers it has checked (answers::SlotBook): the cause where
//   they decide it (an unknown slot, a number past the table, a create on a busy number, a
//   command no service takes, a destroy in progress, a create the parameters refuse, a
//   request the slot's kind does not serve, a ping...), the sequence and slot numbers the
//   command carried; a message that does not decode gets none;
// - a create, connect, disconnect or PD request that needed a device request the input made
//   the board refuse is refused, one that needed none refused succeeds, from the book of
//   what the input armed on the board (answers::BoardBook) and of the requests each command
//   makes (where the book cannot tell, either answer passes); a refused create leaves no
//   slot;
// - user data that a slot with no link (a cas slot) takes goes out on no line of the board;
// - every frame the daemon sends decodes, and a signal comes from a slot number the
//   controller holds (or the one of the command being handled).
// After every input:
// - a destroy left waiting gets its answer as its slot's release ends;
// - once the controller's side closes and the board works again, no slot is left (in the
//   table or a factory), no output of the switch is driven (connected, or written with
//   anything but the idle byte off the shared bus) once the switch's re-disable pass has
//   covered the bus, no child process is left or waited for once those told to end have
//   gone, and the process holds no descriptor it did not hold before the input, compared
//   by what each refers to (the devices the services keep open from their first use are
//   held again first, as their next use would);
// - what the input left is undone (start()), and the services' state is then the one every
//   input starts from: the same timers, packet pool, trunk and CAS settings, LEDs, SPI
//   service and mixer units.
// A breach aborts the run. The loop runs on the test clock, moved on by the target only, so
// that no input makes the run wait for real time; only the children's ends are waited for,
// within a bound. An input passes no clock time but what its steps and its children's ends
// take. Corpus: tests/fuzz/command_path_corpus (TPKT frames of the protocol's examples,
// sessions of the slot kinds, of the mixer and of the hardware and monitoring services, long
// ones among them, and sessions with device failures). A run (the longest input and the
// engine's rare features as LLVMFuzzerInitialize sets them unless given):
//   build/fuzz/tests/command_path_fuzz -max_len=16384 -max_total_time=600 <new inputs>
//       tests/fuzz/command_path_corpus

#include "asn1/asn1.h"
#include "base/clock.h"
#include "base/fd.h"
#include "base/immortal.h"
#include "base/ini_file.h"
#include "base/packet.h"
#include "base/random.h"
#include "board/mcc.h"
#include "board/path.h"
#include "board/sim/hal_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mixer_model.h"
#include "board/sim/simulation.h"
#include "control/ctrl_server.h"
#include "control/heart_beat_ctl.h"
#include "control/service.h"
#include "hardware/bus_ctl.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/e1_ctl.h"
#include "hardware/hw_mux.h"
#include "hardware/hw_tests.h"
#include "hardware/spi_ctrl.h"
#include "hardware/tonec_receiver.h"
#include "messages/zgcp.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/child_wait.h"
#include "runtime/device_return.h"
#include "runtime/ipc_signal.h"
#include "runtime/multiplexer.h"
#include "server/start_up.h"
#include "slots/dsp_modem_slot.h"
#include "slots/mixer.h"
#include "slots/modem_slot.h"
#include "slots/slot_factory.h"
#include "slots/slots.h"
#include "slots/t38_slot.h"
#include "slots/voice_slot.h"
#include "tests/controller_client.h"
#include "tests/display_commands.h"
#include "tests/fuzz/answer_model.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/fuzz/fork_options.h"
#include "tests/fuzz_support.h"
#include "tests/loop_pump.h"
#include "tests/process_figures.h"
#include "tests/temp_root.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Real time the children told to end may take to go once the connection has closed.
constexpr int kChildEndMs = 10000;
constexpr char kTarget[] = "command_path_fuzz";
// The controller's side sends what it has a piece at a time, and reads the answers before
// the next; what the daemon writes for one piece (at most a few hundred messages) fits in
// its socket.
constexpr std::size_t kPiece = 4096;
constexpr int kDaemonSocketBytes = 16 << 20;
// The longest input, unless -max_len says otherwise: long sessions over many slot kinds and
// large frames fit.
constexpr char kMaxLen[] = "-max_len=16384";
// The daemon's runs reach tens of thousands of features, and the engine looks each feature
// of every run up in its list of rare ones, which keeps all seen fewer times than this
// threshold: at the engine's default (255) the list grows to thousands and the look-ups
// take most of the run's time; with this one it stays short, and the run reaches more in a
// given time (unless the command line says otherwise).
constexpr char kRareFeatures[] = "-entropic_feature_frequency_threshold=16";

// The steps of an input between its frames, by their first byte modulo kSteps, with their
// operand bytes. A device is the board's (device nodes by path, then the interfaces by name)
// at the operand modulo their number; a request the device model's at the operand modulo
// the number of its requests, in the order of its table.
enum Step {
    kFailOpen,       // device, error, times: the device's next opens fail
    kFailRequest,    // device, request (in the model's table), error, times
    kFailRead,       // device, fault (eof, hangup, err, then the errors), times
    kClearFailures,  // the board works again
    kTime,           // n: the clock moves on by 2^(n mod 11) ms, or 2^(n mod 18) ms from kLongWaits
                     // on, within kTimeSteps
    kRaw,            // n, then n bytes sent as they are (a stream that is not whole frames)
    kSteps
};
constexpr std::uint8_t kTpktVersion = 3;
// Clock time the steps of one input may pass in all: past the heartbeat's time-out, and no
// more, since every second costs the periodic checks of the services.
constexpr std::uint32_t kTimeSteps = HeartBeatCtl::timeout_ms + 10000;
// The operands of kTime from which it may pass seconds and more (up to 131 s): an eighth of
// them, since every second costs the periodic work of the services; the others pass up to
// a second.
constexpr std::uint8_t kLongWaits = 224;
// What a failing open, request or read gives. Not ENODEV: the line-chip service takes it for
// a board without SPI, for the rest of the process, so that every later input would run
// without it.
constexpr int kErrors[] = {EIO, EINVAL, EBUSY, EAGAIN, EINTR, ENOMEM, ENOENT, EFAULT, ENXIO, EPERM};
constexpr int kErrorCount = int(sizeof kErrors / sizeof kErrors[0]);
// Times a failure strikes, from an operand: 1 to 7, or until cleared.
int times(std::uint8_t operand) { return (operand & 7) == 7 ? -1 : (operand & 7) + 1; }

[[noreturn]] void breach(std::string const& what);
// The frames the daemon wrote on the board's MCC lines since the last look.
std::size_t lineFrames();

// What a message is, by its bytes (answers::Facts: whether it decodes, what it is, and what
// the controller expects of its answer). Messages repeat byte for byte (the periodic status
// signals, the answers, and the frames of an input the engine varies elsewhere): one seen
// before is not decoded again, as it would decode the same. A table made once, a place a
// message by its hash (one that takes the place of another makes it unknown again), so that
// no input allocates in it; messages too long for a place are always decoded.
class KnownFrames {
public:
    static constexpr std::size_t kPlaces = 4096;
    static constexpr std::size_t kLongest = 64;

    // What the message is, decoding it when it is not known.
    answers::Facts facts(char const* data, std::size_t length)
    {
        std::string_view const frame(data, length);
        Place* place = length <= kLongest ? &places_[std::hash<std::string_view>()(frame) % kPlaces] : nullptr;
        if (place && place->length == length && std::equal(frame.begin(), frame.end(), place->bytes.begin()))
            return place->facts;
        ZGCP::Message message;
        answers::Facts facts;
        if (testsupport::decodePer(testsupport::Bytes(data, data + length), message))
            facts = answers::factsOf(message);
        if (place) {
            std::copy(frame.begin(), frame.end(), place->bytes.begin());
            place->length = length;
            place->facts = facts;
        }
        return facts;
    }

private:
    struct Place {
        std::array<char, kLongest> bytes;
        std::size_t length = kLongest + 1;  // none
        answers::Facts facts;
    };
    std::vector<Place> places_{kPlaces};
};

// The message's value, for a breach's line.
std::string shown(char const* data, std::size_t length)
{
    ZGCP::Message message;
    return testsupport::decodePer(testsupport::Bytes(data, data + length), message) ? message.asValueNotation()
                                                                                   : "(does not decode)";
}

// Between the connection and the controller server, with the controller's side of the
// connection: what the daemon sends while the server handles a message is the message's
// (its one answer, and the signals of its handling); what it sends between messages is
// signals and the later answers of destroys. The controller judges every answer by its own
// book of the slot numbers (answers::SlotBook), which each answer it has checked moves on:
// the cause where its request and the book decide it, the sequence and slot numbers it
// repeats, exactly one per command (or one later, for a destroy whose release goes on); and
// every signal comes from a slot number it holds (or the one of the command being handled).
class Referee : public Control::Notify {
public:
    // The controller's side of the input's connection, read here from now on (-1: none); a
    // new one begins the input's book.
    void attach(int peer)
    {
        peer_ = peer;
        in_.clear();
        if (peer >= 0)
            book_.begin();
    }

    void OnConnect() override { ctrlServer.OnConnect(); }
    void OnDisconnect() override
    {
        // What the daemon sent before it dropped the controller comes first; the slots and the
        // answers owed go with the controller.
        drain();
        book_.clear();
        ctrlServer.OnDisconnect();
    }
    void OnMessage(char const* data, int length) override
    {
        drain();
        std::size_t const size = std::size_t(std::max(length, 0));
        answers::Facts const facts = known_.facts(data, size);
        displays += facts.display;
        answers::SlotBook::Due const due =
            facts.pdu == answers::Facts::Pdu::undecodable ? answers::SlotBook::Due{0, false} : book_.expect(facts);
        handling_ = &facts;
        count_ = 0;
        answer_ = 0;
        // What the lines had before is not the message's.
        if (due.quiet)
            lineFrames();
        ctrlServer.OnMessage(data, length);
        drain();
        handling_ = nullptr;
        if (facts.pdu == answers::Facts::Pdu::undecodable) {
            if (count_ != 0)
                breach("a message that does not decode is answered");
            return;
        }
        if (count_ > 1 || (count_ == 0 && !due.mayWait) || (count_ == 1 && (answer_ & due.answers) == 0))
            breach(std::to_string(count_) + " answer(s)" + (count_ != 0 ? answers::text(answer_) : "") + " where"
                   + answers::text(due.answers) + (due.mayWait ? " or none for now" : "") + " is due: "
                   + shown(data, size));
        if (due.quiet && lineFrames() != 0)
            breach("user data that goes nowhere went out on a line: " + shown(data, size));
        checkRefusedCreate(facts, data, size);
        book_.answered(facts, answer_);
    }

    // Reads what the daemon sent.
    void drain()
    {
        if (peer_ < 0)
            return;
        testsupport::receiveAll(peer_, in_);
        testsupport::takeFrames(kTarget, in_, [this](std::vector<std::uint8_t> const& body) { seen(body); });
    }

    // Destroys that wait for their answer.
    std::size_t owed() const { return book_.owed(); }
    // What the input armed on the board, which the book judges the answers by.
    answers::SlotBook& book() { return book_; }

    // Display commands, which the monitoring controller keeps what they report of.
    std::size_t displays = 0;

private:
    // A create refused leaves no slot at its number (but when the old one's release goes on).
    void checkRefusedCreate(answers::Facts const& facts, char const* data, std::size_t size) const
    {
        using Cause = ZGCP::ErrorCause;
        bool const refused = answer_ != answers::kSuccess && answer_ != answers::of(Cause::slotIdBusy)
                             && answer_ != answers::of(Cause::destroyInProgress);
        if (facts.op == answers::Facts::Op::create && facts.slot < Slots::kCount && count_ == 1 && refused
            && Slots::instance().GetSlotAt(facts.slot) != nullptr)
            breach("a refused create left a slot: " + shown(data, size));
    }

    void seen(std::vector<std::uint8_t> const& body)
    {
        char const* const data = reinterpret_cast<char const*>(body.data());
        answers::Facts const facts = known_.facts(data, body.size());
        switch (facts.pdu) {
        case answers::Facts::Pdu::undecodable: breach("a frame the daemon sent does not decode");
        case answers::Facts::Pdu::response:
            if (handling_ == nullptr) {
                if (!book_.late(facts))
                    breach("an answer to no command that waits: " + shown(data, body.size()));
                return;
            }
            ++count_;
            answer_ = facts.answer;
            if (facts.seqPresent != handling_->seqPresent || (facts.seqPresent && facts.seq != handling_->seq)
                || facts.slotPresent != handling_->answerHasSlot() || (facts.slotPresent && facts.slot != handling_->slot))
                breach("an answer that does not repeat the command's sequence and slot numbers: " + shown(data, body.size()));
            return;
        case answers::Facts::Pdu::signal:
            if (facts.slotPresent && !book_.exists(facts.slot)
                && !(handling_ != nullptr && handling_->answerHasSlot() && handling_->slot == facts.slot))
                breach("a signal of a slot the controller does not hold: " + shown(data, body.size()));
            return;
        case answers::Facts::Pdu::command: breach("the daemon sent a command: " + shown(data, body.size()));
        }
    }

    int peer_ = -1;
    std::vector<std::uint8_t> in_;
    KnownFrames known_;
    answers::SlotBook book_;
    // The message being handled, and the answers read meanwhile (the last one).
    answers::Facts const* handling_ = nullptr;
    std::size_t count_ = 0;
    answers::Answers answer_ = 0;
};

// Processes of its own: the run goes on in a new process namespace with its own /proc, under
// a first process there that reaps what is orphaned, as a board's init does. The monitoring
// controller's look-up of a local controller program then reads the few processes of the
// run, not the machine's hundreds (at every controller's end), and never finds one of the
// machine's. The process that started it waits, passing on the signals that end a run, and
// ends as the run does; the namespace ends with that process, however it ends. A run
// started inside (a worker of -jobs) stays where it is.
constexpr char kOwnProcesses[] = "COMMAND_PATH_OWN_PROCESSES";
volatile pid_t forwardTo = 0;
// The signals that end a run.
constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2};

void forwardSignal(int signal) { ::kill(forwardTo, signal); }

// Waits for the child, passing on the signals that end a run, and ends as it does, the
// board root with it (which the run removes itself unless it crashed); as the first process
// of the namespace, reaps every process orphaned meanwhile.
// Those signals are blocked from before the fork until their handlers are in place (mask
// gives the mask to go back to then), so that none that comes meanwhile is lost: the first
// process of a namespace drops one it has no handler for.
[[noreturn]] void waitFor(pid_t child, sigset_t const& mask)
{
    forwardTo = child;
    for (int signal : kForwarded)
        IPC::Signal::handle(signal, forwardSignal, SA_RESTART);
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    for (;;) {
        int status = 0;
        pid_t const ended = ::waitpid(-1, &status, 0);
        if (ended == child || (ended < 0 && errno != EINTR)) {
            testsupport::removeBoardRoot();
            ::_exit(ended < 0 ? 127 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
    }
}

// The namespace's first process ends when its parent does, however that ends (a SIGKILL,
// the machine out of memory), and the kernel then ends every process in the namespace: the
// first asks for SIGKILL at its parent's end, and ends now if the parent ended before it
// asked, which the pipe whose write end the parent alone holds tells by its hang-up (the
// parent is outside the namespace: getppid() reads 0 there, whether it lives or not). The
// signal comes when the parent's thread that forked ends: it waits in waitFor() until then.
void endWithParent(Fd parentEnd)
{
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        testsupport::cannotStart(kTarget, std::string("no end with its parent: ") + std::strerror(errno));
    pollfd end{parentEnd.lowlevel_fd(), POLLIN, 0};
    if (::poll(&end, 1, 0) != 0)
        ::_exit(1);
}

void privateProcesses()
{
    if (std::getenv(kOwnProcesses) != nullptr)
        return;
    if (::unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) {
        std::fprintf(stderr, "%s: runs among the machine's processes\n", kTarget);
        return;
    }
    ::setenv(kOwnProcesses, "1", 1);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        testsupport::cannotStart(kTarget, std::string("no pipe to its first process: ") + std::strerror(errno));
    // The write end is held by this process alone, until it ends (waitFor() does not return).
    Fd parentEnd(ends[0]);
    Fd held(ends[1]);
    sigset_t forwarded, mask;
    ::sigemptyset(&forwarded);
    for (int signal : kForwarded)
        ::sigaddset(&forwarded, signal);
    ::sigprocmask(SIG_BLOCK, &forwarded, &mask);
    pid_t const first = ::fork();
    if (first > 0) {
        parentEnd.close();
        waitFor(first, mask);
    }
    if (first == 0) {
        held.close();
        endWithParent(std::move(parentEnd));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
            std::fprintf(stderr, "%s: sees the machine's processes\n", kTarget);
        if (pid_t const run = ::fork(); run > 0)
            waitFor(run, mask);
    }
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
}

// As the daemon's start-up has it: a write to a peer or a device that has gone fails with
// EPIPE instead of ending the process.
void OnBrokenPipe(int) {}

// The board files the monitoring controller reads (board paths and contents).
struct BoardFile {
    char const* path;
    char const* text;
};
constexpr BoardFile kBoardFiles[] = {
    {"/var/version", "B1.0\n"},
    {"/var/u-boot-version", "U2.1\n"},
    {"/var/fpga-version", "F3\n"},
    {"/var/board-version", "R4\n"},
    {"/proc/temperature", "45 C\n"},
    {"/proc/voice/version", "voice 1.2 2023-07-14 14:51\n"},
    {"/proc/driver/hdlc/peb22554/0", "Current state           : No Carrier\n"},
    {"/proc/driver/hdlc/peb22554/1",
     "Current state           : Synchronized\nLoss of Signal          : no\n"
     "Loss of Frame Alignment : yes\nReceive Slip Negative   : 3\nReceive Slip Positive   : 1\n"},
};
constexpr char kMonitoringFolder[] = "/var/monitoring";
// The program installed in place of each of the daemon's child programs: asked for its
// count of instances, it tells two; otherwise it runs until a signal ends it, or a minute
// (so that one a crashed run leaves ends by itself). No more than that, since a shell
// started per child, and programs it starts, cost every input that starts one.
constexpr char kStubProgram[] = "#!/bin/sh\n[ \"$1\" = --num-of-instances ] && { echo 2; exit 0; }\nexec /bin/sleep 60\n";
// The mixer units: number, TDM channels, mixer inputs.
constexpr int kMixerUnits[][3] = {{0, 32, 16}, {1, 16, 8}};

// What every input starts from, and what start() brings back after one.
struct Start {
    std::uint64_t clockUs = 0;
    // The timers armed then (none is waited for before they are known).
    unsigned timers = ~0u;
    // The descriptors held then (descriptors()).
    std::map<int, std::string> descriptors;
    // What the monitoring controller knows (monitoringFacts()).
    std::string monitoring;
    // Every service's state that an input could leave changed, as text (state()).
    std::string state;
};

// The daemon's part under test, built once and never destroyed (the process's singletons
// still use it while the process exits).
struct Daemon {
    Daemon()
    {
        testsupport::privateNetwork(kTarget);
        // The monitoring controller then samples no network interface: the close of a packet
        // socket waits for the kernel's grace period at every sample, every 2 s of the clock.
        testsupport::noPacketSockets(kTarget);
        IPC::Signal::handle(SIGPIPE, OnBrokenPipe, SA_RESTART);
        // In the run's own mounts, the board's files are in memory: the monitoring
        // controller's status files and folders are made and removed at every input.
        if (std::getenv(kOwnProcesses) != nullptr
            && ::mount("tmpfs", root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
            std::fprintf(stderr, "%s: the board's files are on disk\n", kTarget);
        for (char const* program : {ModemSlot::kPppd, DspModemSlot::kFaxSender, DspModemSlot::kFaxReceiver,
                                    T38SoftFactory::kProgram})
            testsupport::writeProgram(root + program, kStubProgram);
        testsupport::writeProgram(root + PlaySlotFile::kFolder + "hello", std::string(400, '\xd5'), false);
        for (BoardFile const& file : kBoardFiles)
            testsupport::writeProgram(root + file.path, file.text, false);
        std::filesystem::create_directories(root + kMonitoringFolder);
        auto& mixer = dynamic_cast<board::sim::MixerModel&>(*simulation.board().device(mixer::kPath));
        for (auto const& [unit, channels, inputs] : kMixerUnits)
            mixer.addUnit(unit, channels, inputs);
        // A digital modem has an interface to take.
        simulation.board().device("hdlc1")->command({"p2p", "on"});
        // The daemon's log is shown only when asked for (COMMAND_PATH_LOG=1, to look into a finding).
        testsupport::quietStreams("COMMAND_PATH_LOG");

        // The services as the daemon builds and binds them (the static trunk factories are
        // there already), with no configuration file.
        BuildServices(config);
        BindCommandServices();
        ctrlServer.Activate(link);
        link->Bind(&referee);
        ChildWait::Activate();
        devices = simulation.board().devices();
    }

    IniFile::File config;
    Mux::TestClock clock;
    // The wall clock stands still: what the daemon stamps with it is the same at every input.
    testsupport::FrozenWallClock wallClock{1689346260};
    // The board root LLVMFuzzerInitialize made.
    std::string root = board::root();
    board::sim::Simulation simulation;
    board::sim::HalModel& hal = dynamic_cast<board::sim::HalModel&>(*simulation.board().device("/dev/hal"));
    testsupport::ControllerLink* link = new testsupport::ControllerLink;  // owned by ctrlServer
    Referee referee;
    // The devices an input's steps name, by their operand modulo their number.
    std::vector<board::sim::Device*> devices;
    // Whether the clock moved since the input began.
    bool clockMoved = false;
    Start start;
};

Daemon* gateway = nullptr;

// The clock moves on by ms, the due timers fired on the way.
void advance(std::uint32_t ms)
{
    testsupport::advance(gateway->clock, ms);
    gateway->clockMoved = true;
}

std::size_t lineFrames()
{
    board::sim::SimBoard& board = gateway->simulation.board();
    board.service();
    auto& lines = dynamic_cast<board::sim::MccModel&>(*board.device(mcc::kPath));
    std::size_t frames = 0;
    for (int timeslot : lines.timeslots())
        frames += lines.takeWritten(timeslot).size();
    return frames;
}

// The devices the daemon's services keep open from their first use, opened now where an
// input's failure closed one, as the services' next use would. A device that ended comes
// back by its own tries, the last a minute after the one before: the clock moves on until
// each is back, so that what an input finds open does not depend on the input before it.
void holdDevices()
{
    HwMux::instance().IsOpened();
    BusCtl::instance().IsOpen();
    spiCtrl::instance().init_device_and_channels();
    E1Ctl::instance().IsOpen();
    E1Ctl::instance().CheckOpenCas();
    MonitoringCtl::instance().IsOpen();
    Hardware::DriverService* const services[] = {&Hardware::TonecReceiverService::instance(),
                                                 &Hardware::DSProcReceiverService::instance()};
    for (Hardware::DriverService* service : services)
        if (!service->IsActive())
            service->init();
    auto const away = [&] {
        return E1Ctl::instance().casAway()
               || std::any_of(std::begin(services), std::end(services), [](auto* s) { return s->away(); });
    };
    for (std::uint32_t waited = 0; away() && waited <= DeviceReturn::last_wait_ms; waited += 1000)
        advance(1000);
}

// The timers an input left that end by themselves (a device back on trial) run out: the
// clock moves on to each in turn, within a bound, until no more are armed than at the start.
void timersRunOut()
{
    constexpr std::uint32_t kBoundMs = 2 * DeviceReturn::last_wait_ms;
    for (std::uint32_t waited = 0; multiplexer.timer_count() > gateway->start.timers && waited <= kBoundMs;) {
        std::uint32_t const wait = std::uint32_t(std::max(multiplexer.next_timer_wait(), 0));
        advance(wait);
        waited += std::max<std::uint32_t>(wait, 1);
    }
}

// The state of the services that an input could leave changed and start() brings back, as
// text: one "name=value" a fact.
std::string state()
{
    std::ostringstream os;
    E1Ctl const& e1 = E1Ctl::instance();
    os << "pool=" << _Packet::Pool::available() << " timers=" << multiplexer.timer_count() << " next-timer=" << multiplexer.next_timer_wait()
       << " tclk=" << e1.tclk() << " e1-polling=" << e1.polling() << " cas=";
    for (int trunk = 0; trunk < E1Ctl::kTrunks; ++trunk)
        os << e1.casOpen(trunk);
    os << " spi=" << spiCtrl::instance().available() << spiCtrl::instance().polling()
       << " heartbeat=" << HeartBeatCtl::instance().running() << " leds=" << int(MonitoringCtl::instance().ledByte())
       << " mixers=";
    for (auto const& unit : Mixer::MixerFactory::instance().units())
        os << unit->id() << (unit->isDead() ? "dead" : "") << ",";
    return os.str();
}

// What start() found changed since the start: "tclk=4 (was tclk=0)".
std::string changes(std::string const& now, std::string const& was)
{
    std::istringstream a(now), b(was);
    std::string out;
    for (std::string x, y; a >> x && b >> y;)
        if (x != y)
            out += " " + x + " (was " + y + ")";
    return out;
}

// The mixer factory's units, as a resource query refreshes them, are the board's.
bool mixersKnown()
{
    std::vector<std::shared_ptr<Mixer::Mixer>> const& units = Mixer::MixerFactory::instance().units();
    return units.size() == std::size(kMixerUnits)
           && std::equal(units.begin(), units.end(), std::begin(kMixerUnits),
                         [](auto const& unit, auto const& want) { return unit->id() == want[0] && !unit->isDead(); });
}

// What the monitoring controller knows of the board and of the controller, as text.
std::string monitoringFacts()
{
    MonitoringDataHolder& data = MonitoringCtl::instance().data();
    std::ostringstream os;
    os << data.getPowerStatus().asInt() << ' ' << data.getDipValue() << ' ' << data.getConfigVersion() << ' '
       << data.getTemperature() << ' ' << data.getBuildVersion() << data.getFPGAVersion() << data.getBootVersion()
       << data.getBoardVersion() << ' ' << data.GetBoardStatus().size() << ' ' << data.GetEmPhoneStatus().size()
       << ' ' << data.GetTermCounters().size() << ' ' << data.GetTrapHosts().size() << ' '
       << data.getSelfControllerStatus().asInt();
    return os.str();
}

// The bus tests' outputs, trunks, CAS and LEDs as at the start: bus outputs whose release
// failed are let go (as the next controller's end would), the trunks are clock masters,
// the CAS trunks and channels closed, the front LEDs off.
void undoHardware()
{
    HwTests::instance().OnDisconnect();
    E1Ctl& e1 = E1Ctl::instance();
    for (std::uint32_t trunk = 0; trunk < 32; ++trunk) {
        if ((e1.tclk() >> trunk & 1) == 0)
            continue;
        ZGCP::TrunkCfg cfg;
        cfg.set_trunk(std::int32_t(trunk));
        cfg.set_mode(ZGCP::TrunkMode::master);
        e1.SetMode(cfg);
    }
    for (std::uint32_t trunk = 0; trunk < std::uint32_t(E1Ctl::kTrunks); ++trunk) {
        if (!e1.casOpen(int(trunk)))
            continue;
        for (std::uint32_t timeslot = E1Ctl::kTimeslots; timeslot-- > 0;)
            e1.HandleCasClose(cas_channel{trunk, timeslot, 0, 0, {0, 0}});
    }
    MonitoringCtl& monitoring = MonitoringCtl::instance();
    for (unsigned framer = 0; monitoring.ledByte() != 0 && framer < 4; ++framer)
        monitoring.setFramerLed(testsupport::framerDisplay(framer, true, false).get_framer());
}

// What the monitoring controller learnt from the controller's displays, or otherwise
// changed, is forgotten with the files it wrote: its data are made anew (they learn the
// board's facts again from the checks of clockBack()). True when they were.
bool forgetMonitoring()
{
    if (gateway->referee.displays == 0 && monitoringFacts() == gateway->start.monitoring)
        return false;
    MonitoringDataHolder& data = MonitoringCtl::instance().data();
    data.~MonitoringDataHolder();
    for (auto const& entry : std::filesystem::directory_iterator(gateway->root + kMonitoringFolder))
        std::filesystem::remove_all(entry.path());
    new (&data) MonitoringDataHolder();
    gateway->referee.displays = 0;
    return true;
}

// The clock back to the start, and the periodic timers with it: each fires first where it
// did at the start; their checks run once here.
void clockBack()
{
    gateway->clock.setMilliseconds(std::uint32_t(gateway->start.clockUs / 1000));
    MonitoringCtl& monitoring = MonitoringCtl::instance();
    monitoring.onBkgCheckTimer(nullptr);
    monitoring.onPowerCheckTimer(nullptr);
    monitoring.onControllerCheckTimer(nullptr);
    E1Ctl::instance().SetTimer();
    gateway->clockMoved = false;
    // What the checks queued for later (the SNMP agents' batch) goes now: an input leaves
    // nothing allocated for the next one to free.
    testsupport::settle();
}

// Undoes what an input left, once its checks are done (the board works again, no slot, no
// child, no connection): the services are brought back to the state every input starts
// from, and the clock back to its time with them.
void start()
{
    undoHardware();
    if (!mixersKnown())
        Mixer::MixerFactory::instance().RefreshResources();
    if (forgetMonitoring() || gateway->clockMoved)
        clockBack();
    std::srand(1);
}

// The process's children (running or not reaped yet), each as its pid and "123 (sh) S".
std::vector<std::pair<pid_t, std::string>> children()
{
    std::vector<std::pair<pid_t, std::string>> out;
    for (pid_t const pid : testsupport::children(::getpid())) {
        std::string const folder = "/proc/" + std::to_string(pid);
        std::string name, state;
        std::getline(std::ifstream(folder + "/comm"), name);
        testsupport::statFields(folder) >> state;
        out.emplace_back(pid, std::to_string(pid) + " (" + name + ") " + state);
    }
    return out;
}

// Ends the run on a breach, saying which (on the standard error, which the daemon's log
// does not use), and with it the children of the input.
[[noreturn]] void breach(std::string const& what)
{
    for (auto const& [pid, shown] : children())
        ::kill(pid, SIGKILL);
    testsupport::breach(kTarget, what);
}

// Whether a child process is left (running or not reaped yet), or the daemon still waits
// for one.
bool childLeft() { return testsupport::childLeft() || T38SoftFactory::instance().retiring() != 0; }

// What is left of the children: "[123 (sh) S] waited for 1, retiring 0".
std::string childrenLeft()
{
    std::string out;
    for (auto const& [pid, shown] : children())
        out += "[" + shown + "] ";
    return out + "waited for " + std::to_string(ChildWaitService::childWaitService->waiting()) + ", retiring "
         + std::to_string(T38SoftFactory::instance().retiring());
}

// The descriptors the process holds but the board's own (the board has seen the daemon's
// closes first), each with what it refers to; an open of a board device as the device
// ("device /dev/hal"), since its socket is a new one at every open (and a read failure may
// make it a pipe).
std::map<int, std::string> descriptors()
{
    board::sim::SimBoard& board = gateway->simulation.board();
    board.service();
    std::map<int, std::string> held = testsupport::heldDescriptors(board.ownDescriptors());
    for (auto& [number, target] : held)
        if (board::sim::OpenFile const* open = board.openOf(number))
            target = "device " + open->device().path();
    return held;
}

// The descriptors held after that were not before, by what they are: a device's opens
// beyond those held before, any other one that is not the same number leading to the same
// thing (" [12 socket:[5127]] [14 device /dev/mcc/ctl]"). The services open again where an
// input closed the devices they hold, maybe under other numbers.
std::string descriptorsLeft(std::map<int, std::string> const& before, std::map<int, std::string> const& after)
{
    auto const identity = [](int number, std::string const& target) {
        return target.rfind("device ", 0) == 0 ? target : std::to_string(number) + " " + target;
    };
    std::multiset<std::string> held;
    for (auto const& [number, target] : before)
        held.insert(identity(number, target));
    std::string out;
    for (auto const& [number, target] : after) {
        auto const known = held.find(identity(number, target));
        if (known != held.end())
            held.erase(known);
        else
            out += " [" + std::to_string(number) + " " + target + "]";
    }
    return out;
}

// The bytes of an input, with a look at the next one and at the frame that begins there.
class Input : public testsupport::FuzzInput {
public:
    Input(std::uint8_t const* data, std::size_t size) : FuzzInput(data, size), end_(data + size) {}

    std::uint8_t peek() const { return done() ? 0 : *(end_ - left()); }
    // The length of the TPKT frame that begins here, at least its header.
    std::size_t frameLength() const
    {
        if (left() < 4)
            return 4;
        std::uint8_t const* at = end_ - left();
        return std::max<std::size_t>(std::size_t(at[2]) << 8 | at[3], 4);
    }
    // The next n bytes, or what is left, appended to out.
    void take(std::size_t n, std::vector<char>& out)
    {
        std::vector<std::uint8_t> const bytes = FuzzInput::take(n);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }

private:
    std::uint8_t const* end_;
};

// Sends what the controller has to send, a piece at a time, taking the answers in between,
// so that neither side waits. What the daemon no longer reads (it dropped the controller)
// is not sent. True when there was something to send: the loop then has nothing left to do
// at once.
bool send(int peer, std::vector<char>& bytes)
{
    bool const any = !bytes.empty();
    for (std::size_t sent = 0; sent < bytes.size();) {
        ssize_t const n = ::send(peer, bytes.data() + sent, std::min<std::size_t>(bytes.size() - sent, kPiece),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            sent += std::size_t(n);
        else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
        testsupport::settle(1000);
        gateway->referee.drain();
    }
    bytes.clear();
    return any;
}

// The clock moves on, the due timers fired on the way; then the controller's side takes the
// answers and signals (its socket holds all those of the longest wait).
void passTime(std::uint32_t ms)
{
    advance(ms);
    gateway->referee.drain();
}

// The device an operand names.
board::sim::Device const& device(std::uint8_t operand) { return *gateway->devices[operand % gateway->devices.size()]; }

// One step of the board or the clock, its operands read from the input; timeLeft: what
// the clock may still pass in this input.
void step(Step kind, Input& in, std::uint32_t& timeLeft)
{
    board::sim::SimBoard& board = gateway->simulation.board();
    answers::SlotBook& book = gateway->referee.book();
    switch (kind) {
    case kFailOpen: {
        std::string const& path = device(in.byte()).path();
        int const error = kErrors[in.byte() % kErrorCount];
        int const count = times(in.byte());
        board.failOpen(path, error, count);
        book.board().arm(path, answers::kOpen, count);
        break;
    }
    case kFailRequest: {
        board::sim::Device const& named = device(in.byte());
        std::vector<board::sim::RequestInfo> const& requests = named.requests();
        std::uint8_t const request = in.byte();
        int const error = kErrors[in.byte() % kErrorCount];
        int const count = times(in.byte());
        if (requests.empty())
            break;
        unsigned long const number = requests[request % requests.size()].number;
        board.failRequest(named.path(), number, error, count);
        book.board().arm(named.path(), number, count);
        break;
    }
    case kFailRead: {
        using Kind = board::sim::ReadFault::Kind;
        std::string const& path = device(in.byte()).path();
        // Kind's first three: eof, hangup, err.
        int const fault = in.byte() % (3 + kErrorCount);
        board::sim::ReadFault const read =
            fault < 3 ? board::sim::ReadFault{Kind(fault), 0} : board::sim::ReadFault{Kind::error, kErrors[fault - 3]};
        board.failRead(path, read, times(in.byte()));
        book.failReads(path);
        break;
    }
    case kClearFailures:
        board.clearFailures();
        book.board().clear();
        break;
    case kTime: {
        std::uint8_t const n = in.byte();
        std::uint32_t const ms = std::min(std::uint32_t(1) << (n >= kLongWaits ? n % 18 : n % 11), timeLeft);
        timeLeft -= ms;
        passTime(ms);
        break;
    }
    default: break;
    }
}

// One input, from the start to its checks.
void run(std::uint8_t const* data, std::size_t size)
{
    std::map<int, std::string> const& descriptorsBefore = gateway->start.descriptors;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        std::abort();
    // The daemon writes its answers and signals at once, waiting (in real time, a second at
    // most, then it drops the controller) while the socket is full; the controller's side
    // reads them between the loop's turns only. The socket takes what any piece of input
    // (kPiece) can make the daemon write in one go.
    int const room = kDaemonSocketBytes;
    if (::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0)
        ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    Fd peer(pair[1]);
    Referee& referee = gateway->referee;
    referee.attach(peer.lowlevel_fd());
    gateway->link->take(Fd(pair[0]));

    // Frames and raw bytes in a row go as one stream; a step of the board or the clock
    // comes once what came before it has been sent and handled.
    Input in(data, size);
    std::vector<char> stream;
    std::uint32_t timeLeft = kTimeSteps;
    while (!in.done()) {
        if (in.peek() == kTpktVersion) {
            in.take(in.frameLength(), stream);
            continue;
        }
        Step const kind = Step(in.byte() % kSteps);
        if (kind == kRaw) {
            std::uint8_t const n = in.byte();
            in.take(n, stream);
            continue;
        }
        send(peer.lowlevel_fd(), stream);
        step(kind, in, timeLeft);
    }
    // After a step (or at once) the loop may have work left.
    if (!send(peer.lowlevel_fd(), stream)) {
        testsupport::settle(1000);
        referee.drain();
    }
    // A destroy whose release went on is answered when the release ends: the clock moves on
    // while the children are hung up, then killed, as the slots do.
    if (!testsupport::runUntil(
            [&] {
                referee.drain();
                if (referee.owed() == 0 || !gateway->link->IsConnected())
                    return true;
                advance(100);
                return false;
            },
            kChildEndMs))
        breach(std::to_string(referee.owed()) + " destroy(s) left without their answer");

    // Shut first: a child that has not executed its program yet holds a copy of the peer.
    referee.attach(-1);
    ::shutdown(peer.lowlevel_fd(), SHUT_RDWR);
    peer.close();
    testsupport::settle(1000);
    if (gateway->link->IsConnected())
        breach("the connection outlives its peer");
    // What is left once the board works again.
    gateway->simulation.board().clearFailures();
    holdDevices();
    testsupport::settle(1000);
    if (testsupport::slotLeft())
        breach("a slot is left");
    // Bus outputs whose disable the board refused are the re-disable pass's.
    testsupport::redisableBus();
    if (std::string const driven = testsupport::drivenOutputs(gateway->hal); !driven.empty())
        breach("switch outputs are left driven:" + driven);
    // The clock moves on while the children go, so that one that does not is killed as the
    // daemon kills it.
    if (!testsupport::runUntil(
            [] {
                if (!childLeft())
                    return true;
                advance(100);
                return false;
            },
            kChildEndMs))
        breach("a child process is left: " + childrenLeft());
    timersRunOut();
    // The devices a child held end when the last process holding them has gone (a process
    // the child started may outlive it for a moment).
    if (!testsupport::runUntil([&] { return descriptorsLeft(descriptorsBefore, descriptors()).empty(); }, kChildEndMs))
        breach("descriptors are left:" + descriptorsLeft(descriptorsBefore, descriptors()));
}

// The daemon as every input finds it: built, its devices held, one controller connection
// made and ended (what the first connection starts runs from then on), brought to the start.
void build()
{
    static Immortal<Daemon> instance;
    gateway = &instance.value;
    SeedRandomOnce();
    holdDevices();
    gateway->start.descriptors = descriptors();
    gateway->referee.displays = 1;
    std::uint8_t const ping[] = {kTpktVersion, 0, 0, 6, 6, 0};
    run(ping, sizeof ping);
    gateway->start.clockUs = gateway->clock.nowUs();
    gateway->clockMoved = true;
    start();
    gateway->start.timers = multiplexer.timer_count();
    gateway->start.descriptors = descriptors();
    gateway->start.monitoring = monitoringFacts();
    gateway->start.state = state();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Made before the run's processes are, so that the first of them removes it however the
    // run ends.
    testsupport::boardRoot(kTarget);
    privateProcesses();
    // Newly covered functions are not printed: naming them starts a symbolizer process, a
    // child that the checks would take for one the daemon left. The longest input and the
    // rare features are as kMaxLen and kRareFeatures say unless the command line says
    // otherwise (its flags come after).
    testsupport::quietFuzzer(argc, argv, {kMaxLen, kRareFeatures});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // Built at the first input: a process that only runs the workers (-jobs) builds none, as
    // its reaping of children would take the workers' exits from it.
    if (gateway == nullptr)
        build();
    run(data, size);
    start();
    if (std::string const now = state(); now != gateway->start.state)
        breach("the state an input left is not undone:" + changes(now, gateway->start.state));
    return 0;
}
