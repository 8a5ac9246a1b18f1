// Fuzz target of the controller's whole command path on the simulated board: the input is
// the byte stream a controller sends, read by the stream and TPKT layers of a controller
// connection, decoded and dispatched by the controller server to the heartbeat and the
// slot table (with every slot factory of the daemon, in the daemon's order; the stub child
// program stands in for pppd, the fax programs and the T.38 relay), and answered. After
// every input:
// - every message that decoded got exactly one answer (or still owes a delayed one);
// - once the controller's side closes, no slot is left (in the table or a factory), no
//   output of the switch is driven (connected, or written with anything but the idle byte
//   off the shared bus), no child process is left or waited for once those told to end
//   have gone, and the process holds no more descriptors than before the input.
// A breach aborts the run. The loop runs on the test clock, moved on by the target only, so
// that no input makes the run wait for real time; only the children's ends are waited for,
// within a bound. Seeds: tests/fuzz/command_path_seeds (TPKT frames of the protocol's
// examples, and sessions of the slot kinds).

#include "asn1/asn1.h"
#include "base/clock.h"
#include "base/immortal.h"
#include "board/path.h"
#include "board/sim/hal_model.h"
#include "board/sim/simulation.h"
#include "control/ctrl_server.h"
#include "control/heart_beat_ctl.h"
#include "control/service.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/hw_mux.h"
#include "hardware/tonec_receiver.h"
#include "messages/zgcp.h"
#include "runtime/child_wait.h"
#include "server/start_up.h"
#include "slots/dsp_modem_slot.h"
#include "slots/modem_slot.h"
#include "slots/slot_factory.h"
#include "slots/slots.h"
#include "slots/t38_slot.h"
#include "slots/voice_slot.h"
#include "tests/loop_pump.h"
#include "tests/stub_child.h"

#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

// Test-clock time that passes after an input, before the controller's side closes: past
// the grace periods of the children told to end, so that their timers fire too.
constexpr std::uint32_t kQuietMs = ModemSlot::kTerminateMs + 1000;
// Real time the children told to end may take to go once the connection has closed.
constexpr int kChildEndMs = 10000;

// Takes whatever is written and keeps nothing: the daemon's log lines are not looked at.
class Discard : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(char const*, std::streamsize n) override { return n; }
};

// A controller connection over one end of a socket pair.
class PairLink : public Control::Service {
public:
    PairLink() : Control::Service(false) {}
    void take(Fd const& fd) { TakeConnection(fd, "fuzz"); }

protected:
    bool ImplActivate() override { return true; }
    void ImplDeactivate() override {}
    void ImplOnDisconnect() override {}
};

// Between the connection and the controller server: counts the messages that decode.
class Counter : public Control::Notify {
public:
    void OnConnect() override { ctrlServer.OnConnect(); }
    void OnDisconnect() override { ctrlServer.OnDisconnect(); }
    void OnMessage(char const* data, int length) override
    {
        ASN1::CoderEnv env;
        env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
        ZGCP::Message message;
        if (ASN1::decode(data, data + length, &env, message, true))
            ++decoded;
        ctrlServer.OnMessage(data, length);
    }

    std::size_t decoded = 0;
};

// What the controller's side receives: TPKT frames, of which the responses are counted.
class Controller {
public:
    explicit Controller(int fd) : fd_(fd) {}

    void drain()
    {
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            in_.insert(in_.end(), buffer, buffer + n);
        while (in_.size() >= 4) {
            std::size_t const length = std::size_t(std::uint8_t(in_[2])) << 8 | std::uint8_t(in_[3]);
            if (in_[0] != 3 || length < 4)
                std::abort();  // the daemon sends nothing but whole TPKT frames
            if (in_.size() < length)
                return;
            ASN1::CoderEnv env;
            env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
            ZGCP::Message message;
            if (!ASN1::decode(in_.data() + 4, in_.data() + length, &env, message, true))
                std::abort();
            if (message.get_pdu().response_isSelected())
                ++responses;
            in_.erase(in_.begin(), in_.begin() + std::ptrdiff_t(length));
        }
    }

    std::size_t responses = 0;

private:
    int fd_;
    std::vector<char> in_;
};

// A network of the process's own with only its loopback up (when the process may make one):
// the daemon's fixed ports and the peers an input names never reach the machine's network.
void privateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        std::cerr << "command_path_fuzz: runs on the machine's network" << std::endl;
        return;
    }
    Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq loopback{};
    std::strcpy(loopback.ifr_name, "lo");
    loopback.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    ::ioctl(socket.lowlevel_fd(), SIOCSIFFLAGS, &loopback);
}

// The daemon's part under test, built once and never destroyed (the process's singletons
// still use it while the process exits).
struct Daemon {
    Daemon()
    {
        privateNetwork();
        char folder[] = "/tmp/gw-fuzz-XXXXXX";
        if (::mkdtemp(folder))
            board::setRoot(folder);
        root = folder;
        for (char const* program : {ModemSlot::kPppd, DspModemSlot::kFaxSender, DspModemSlot::kFaxReceiver,
                                    T38SoftFactory::kProgram})
            stubs.emplace_back(root, program);
        // A stub the run leaves behind (it ended on a crash) ends by itself after a while.
        for (testsupport::StubChild const& stub : stubs)
            stub.configure("INSTANCES=2 RUN=60");
        std::filesystem::create_directories(root + PlaySlotFile::kFolder);
        std::ofstream(root + PlaySlotFile::kFolder + "hello") << std::string(400, '\xd5');
        // A digital modem has an interface to take.
        simulation.board().device("hdlc1")->command({"p2p", "on"});
        // The daemon's log is shown only when asked for (COMMAND_PATH_LOG=1, to look into a finding).
        if (std::getenv("COMMAND_PATH_LOG") == nullptr)
            for (std::ostream* s : {&std::cout, &std::cerr, &std::clog})
                s->rdbuf(&discard);

        // The slot factories and the switch as the daemon builds them (the static trunk
        // factories are there already).
        BuildSlotFactories();
        HwMux::instance();
        // Device services the slots start at first use and keep: started here, so that
        // their descriptors are held before the first input.
        Hardware::TonecReceiverService::instance();
        Hardware::DSProcReceiverService::instance();

        ctrlServer.Bind(&HeartBeatCtl::instance());
        ctrlServer.Bind(&Slots::instance());
        ctrlServer.Activate(link);
        link->Bind(&counter);
        ChildWait::Activate();
    }

    Discard discard;
    Mux::TestClock clock;
    board::sim::Simulation simulation;
    std::string root;
    std::vector<testsupport::StubChild> stubs;
    PairLink* link = new PairLink;  // owned by ctrlServer
    Counter counter;
};

Daemon* gateway = nullptr;

// The outputs of the switch still driven, as the switch model's runs ("513<512"):
// connected to an input, or written with anything but the idle byte, which only outputs off
// the shared bus send when let go.
std::string drivenOutputs()
{
    auto* hal = dynamic_cast<board::sim::HalModel*>(gateway->simulation.board().device("/dev/hal"));
    std::istringstream outputs(hal ? hal->dump() : "");
    std::string driven;
    for (std::string run; outputs >> run;) {
        if (run.find(":off") != std::string::npos)
            continue;
        std::size_t const at = run.find("=0xd5");
        std::size_t const dash = run.find('-');
        long const first = std::stol(run);
        long const last = dash < at ? std::stol(run.substr(dash + 1)) : first;
        if (at == std::string::npos || (last >= HwMux::kBusFirst && first < HwMux::kBusFirst + HwMux::kBusCount))
            driven += " " + run;
    }
    return driven;
}

// Whether a slot is left in the table or in a factory.
bool slotLeft()
{
    if (!Slots::instance().live().empty())
        return true;
    for (SlotFactory* f = SlotFactory::first(); f != nullptr; f = f->next())
        if (!f->slots().empty())
            return true;
    return false;
}

// Whether a child process is left (running or not reaped yet), or the daemon still waits
// for one.
bool childLeft()
{
    siginfo_t info{};
    bool const child = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
    return child || ChildWaitService::childWaitService->waiting() != 0 || T38SoftFactory::instance().retiring() != 0;
}

// What is left of the children: "[123 (sh) S] waited for 1, retiring 0".
std::string childrenLeft()
{
    std::string out;
    for (auto const& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state, parent;
        if (stat >> pid >> name >> state >> parent && parent == std::to_string(::getpid()))
            out += "[" + pid + " " + name + " " + state + "] ";
    }
    return out + "waited for " + std::to_string(ChildWaitService::childWaitService->waiting()) + ", retiring "
         + std::to_string(T38SoftFactory::instance().retiring());
}

// The descriptors the process holds, each as its number and what it refers to; the board
// has seen the daemon's closes first, so that the models' ends of closed devices are gone.
std::vector<std::string> descriptors()
{
    gateway->simulation.board().service();
    std::vector<std::string> out;
    for (auto const& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        out.push_back(entry.path().filename().string() + " " + std::filesystem::read_symlink(entry, ignored).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The descriptors held after that were not before, with the device each was opened on since
// the journal's mark: "[12 socket:[5127] /dev/mixer]".
std::string descriptorsLeft(std::vector<std::string> const& before, std::vector<std::string> const& after,
                            std::uint64_t mark)
{
    std::string out;
    auto const opens = gateway->simulation.board().journal().since(mark);
    for (std::string const& d : after) {
        if (std::binary_search(before.begin(), before.end(), d) || d.find("/proc/") != std::string::npos)
            continue;
        out += " [" + d;
        for (auto const& e : opens)
            if (e.kind == board::sim::JournalEntry::Kind::open && e.result == std::stoi(d))
                out += " " + e.path;
        out += "]";
    }
    return out;
}

// Ends the run on a breach, saying which (on the standard error, which the daemon's log
// does not use), and with it the children of the input.
[[noreturn]] void breach(std::string const& what)
{
    std::fprintf(stderr, "command_path_fuzz: %s\n", what.c_str());
    for (testsupport::StubChild const& stub : gateway->stubs)
        for (int pid : stub.pids())
            ::kill(pid, SIGKILL);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Newly covered functions are not printed: naming them starts a symbolizer process, a
    // child that the checks would take for one the daemon left.
    static char quiet[] = "-print_funcs=0";
    static std::vector<char*> args(*argv, *argv + *argc);
    args.insert(args.begin() + 1, quiet);
    args.push_back(nullptr);
    *argc = int(args.size()) - 1;
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // Built at the first input: a process that only runs the workers (-jobs) builds none, as
    // its reaping of children would take the workers' exits from it.
    if (gateway == nullptr) {
        static Immortal<Daemon> instance;
        gateway = &instance.value;
    }
    std::vector<std::string> const descriptorsBefore = descriptors();
    std::uint64_t const mark = gateway->simulation.board().journal().next();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        std::abort();
    Fd peer(pair[1]);
    gateway->link->take(Fd(pair[0]));
    Controller controller(peer.lowlevel_fd());
    std::size_t const decodedBefore = gateway->counter.decoded;

    // Written a piece at a time, answers taken in between, so that neither side waits.
    for (std::size_t sent = 0; sent < size;) {
        ssize_t const n = ::send(peer.lowlevel_fd(), data + sent, std::min<std::size_t>(size - sent, 4096),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            sent += std::size_t(n);
        testsupport::settle(1000);
        controller.drain();
    }
    testsupport::advance(gateway->clock, kQuietMs);
    testsupport::settle(1000);
    controller.drain();
    if (controller.responses + ctrlServer.delayed_count() != gateway->counter.decoded - decodedBefore)
        breach("a message without exactly one answer");

    // Shut first: a child that has not executed its program yet holds a copy of the peer.
    ::shutdown(peer.lowlevel_fd(), SHUT_RDWR);
    peer.close();
    testsupport::settle(1000);
    if (gateway->link->IsConnected())
        breach("the connection outlives its peer");
    if (slotLeft())
        breach("a slot is left");
    if (std::string const driven = drivenOutputs(); !driven.empty())
        breach("switch outputs are left driven:" + driven);
    // The clock moves on while the children go, so that one that does not is killed as the
    // daemon kills it.
    if (!testsupport::runUntil(
            [] {
                testsupport::advance(gateway->clock, 100);
                return !childLeft();
            },
            kChildEndMs))
        breach("a child process is left: " + childrenLeft());
    // The devices a child held end when the last process holding them has gone (a process
    // the child started may outlive it for a moment).
    std::vector<std::string> descriptorsAfter;
    if (!testsupport::runUntil(
            [&] {
                descriptorsAfter = descriptors();
                return descriptorsAfter.size() <= descriptorsBefore.size();
            },
            kChildEndMs))
        breach("descriptors are left:" + descriptorsLeft(descriptorsBefore, descriptorsAfter, mark));
    for (testsupport::StubChild const& stub : gateway->stubs)
        std::filesystem::remove(stub.path() + ".log");
    return 0;
}
