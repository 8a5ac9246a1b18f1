// Fuzz target of the controller's whole command path on the simulated board: the input is
// the byte stream a controller sends, read by the stream and TPKT layers of a controller
// connection, decoded and dispatched by the controller server to the heartbeat and the
// slot table (with the daemon's slot factories), and answered. After every input:
// - every message that decoded got exactly one answer (or still owes a delayed one);
// - once the controller's side closes, no slot is left and no output of the switch is
//   driven (connected, or written with anything but the idle byte off the shared bus).
// A breach aborts the run. Seeds: tests/fuzz/command_path_seeds (TPKT frames of the
// protocol's examples).

#include "asn1/asn1.h"
#include "base/clock.h"
#include "base/immortal.h"
#include "board/path.h"
#include "board/sim/hal_model.h"
#include "board/sim/simulation.h"
#include "control/ctrl_server.h"
#include "control/heart_beat_ctl.h"
#include "control/service.h"
#include "hardware/hw_mux.h"
#include "messages/zgcp.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/map_slot.h"
#include "slots/mcc_slot.h"
#include "slots/slots.h"
#include "tests/loop_pump.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

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

// The daemon's part under test, built once and never destroyed (the process's singletons
// still use it while the process exits).
struct Daemon {
    Daemon()
    {
        char root[] = "/tmp/gw-fuzz-XXXXXX";
        if (::mkdtemp(root))
            board::setRoot(root);
        for (std::ostream* s : {&std::cout, &std::cerr, &std::clog})
            s->rdbuf(&discard);
        HwMux::instance();
        MapFactory::instance();
        ExtFactory::instance();
        MccFactory::instance();
        EchoFactory::instance();
        ctrlServer.Bind(&HeartBeatCtl::instance());
        ctrlServer.Bind(&Slots::instance());
        ctrlServer.Activate(link);
        link->Bind(&counter);
    }

    Discard discard;
    Mux::TestClock clock;
    board::sim::Simulation simulation;
    PairLink* link = new PairLink;  // owned by ctrlServer
    Counter counter;
};

Daemon* gateway = nullptr;

// Whether an output of the switch is still driven: connected to an input, or written with
// anything but the idle byte, which only outputs off the shared bus send when let go.
bool switchDriven()
{
    auto* hal = dynamic_cast<board::sim::HalModel*>(gateway->simulation.board().device("/dev/hal"));
    std::istringstream outputs(hal ? hal->dump() : "");
    for (std::string run; outputs >> run;) {
        if (run.find(":off") != std::string::npos)
            continue;
        std::size_t const at = run.find("=0xd5");
        if (at == std::string::npos)
            return true;
        std::size_t const dash = run.find('-');
        long const first = std::stol(run);
        long const last = dash < at ? std::stol(run.substr(dash + 1)) : first;
        if (last >= HwMux::kBusFirst && first < HwMux::kBusFirst + HwMux::kBusCount)
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static Immortal<Daemon> instance;
    gateway = &instance.value;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
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
    testsupport::settle(1000);
    controller.drain();
    if (controller.responses + ctrlServer.delayed_count() != gateway->counter.decoded - decodedBefore)
        std::abort();

    peer.close();
    testsupport::settle(1000);
    if (gateway->link->IsConnected() || !Slots::instance().live().empty() || switchDriven())
        std::abort();
    return 0;
}
