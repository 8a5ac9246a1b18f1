#pragma once

// Shared by the fuzz targets that drive the daemon's slots and device services on the
// simulated board in process: the input's bytes, the end of a run on a breach, the
// daemon's log kept out of the way, a network of the process's own, the controller's side
// of the server's connection (every message read back with the protocol's own coder), and
// what a target compares before and after an input (the descriptors held, the switch
// outputs driven).

#include "asn1/asn1.h"
#include "base/clock.h"
#include "base/immortal.h"
#include "base/packet.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "control/ctrl_server.h"
#include "control/service.h"
#include "hardware/hw_mux.h"
#include "messages/zgcp.h"
#include "runtime/multiplexer.h"
#include "slots/slot_factory.h"
#include "slots/slots.h"
#include "tests/loop_pump.h"
#include "tests/process_figures.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace fuzzsupport {

// The bytes of an input, read in order; past the end they read as 0.
class Input {
public:
    Input(std::uint8_t const* data, std::size_t size) : at_(data), end_(data + size) {}

    bool done() const { return at_ == end_; }
    std::size_t left() const { return std::size_t(end_ - at_); }
    std::uint8_t byte() { return done() ? 0 : *at_++; }
    std::uint16_t word16() { return std::uint16_t(byte() << 8 | byte()); }
    std::uint32_t word32() { return std::uint32_t(word16()) << 16 | word16(); }
    // The next n bytes, or what is left.
    std::vector<std::uint8_t> take(std::size_t n)
    {
        n = std::min(n, left());
        std::vector<std::uint8_t> out(at_, at_ + n);
        at_ += n;
        return out;
    }

private:
    std::uint8_t const* at_;
    std::uint8_t const* end_;
};

// For LLVMFuzzerInitialize: newly covered functions are not printed. Naming them starts a
// symbolizer process, whose pipes the descriptor checks would take for ones the daemon left.
inline void quietNewFunctions(int* argc, char*** argv)
{
    static char quiet[] = "-print_funcs=0";
    static std::vector<char*> args(*argv, *argv + *argc);
    args.insert(args.begin() + 1, quiet);
    args.push_back(nullptr);
    *argc = int(args.size()) - 1;
    *argv = args.data();
}

// A value of the protocol decoded from the bytes (aligned PER); false when they hold none.
template <class Value>
bool decodePer(std::vector<std::uint8_t> const& bytes, Value& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    auto const* begin = reinterpret_cast<char const*>(bytes.data());
    return !bytes.empty() && ASN1::decode(begin, begin + bytes.size(), &env, value, true);
}

// The clock moves on by ms, a second at a time at most, with check() after each move.
template <class Check>
void passTime(Mux::TestClock& clock, std::uint32_t ms, Check check)
{
    for (std::uint32_t left = ms; left > 0;) {
        std::uint32_t const now = std::min<std::uint32_t>(left, 1000);
        testsupport::advance(clock, now);
        left -= now;
        check();
    }
}

// Ends the run on a breach, saying which on the standard error (which the daemon's log,
// kept out of the way, does not reach).
[[noreturn]] inline void breach(char const* target, std::string const& what)
{
    std::fprintf(stderr, "%s: %s\n", target, what.c_str());
    std::abort();
}

// Takes whatever is written and keeps nothing.
class Discard : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(char const*, std::streamsize n) override { return n; }
};

// The daemon's log goes nowhere unless the environment variable is set (to look into a
// finding); true when it is shown.
inline bool quietLog(char const* variable)
{
    // Never destroyed: the streams flush into it at exit.
    static Discard* const discard = new Discard;
    bool const shown = std::getenv(variable) != nullptr;
    if (!shown)
        for (std::ostream* s : {&std::cout, &std::cerr, &std::clog})
            s->rdbuf(discard);
    return shown;
}

// A network of the process's own with only its loopback up (when the process may make one):
// the ports the slots bind and the peers they send to never reach the machine's network.
inline void privateNetwork(char const* target)
{
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "%s: runs on the machine's network\n", target);
        return;
    }
    Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq loopback{};
    std::strcpy(loopback.ifr_name, "lo");
    loopback.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    ::ioctl(socket.lowlevel_fd(), SIOCSIFFLAGS, &loopback);
}

// The descriptors the process holds but the board's own (the board has seen the daemon's
// closes first), each as its number and what it refers to, sorted.
inline std::vector<std::string> descriptors(board::sim::SimBoard& board)
{
    board.service();
    std::vector<int> const own = board.ownDescriptors();
    std::vector<std::string> out;
    for (auto const& [number, target] : testsupport::descriptorTargets(::getpid()))
        if (std::find(own.begin(), own.end(), number) == own.end())
            out.push_back(std::to_string(number) + " " + target);
    std::sort(out.begin(), out.end());
    return out;
}

// The descriptors of after that were not held before: " [12 socket:[5127]]".
inline std::string descriptorsLeft(std::vector<std::string> const& before, std::vector<std::string> const& after)
{
    std::string out;
    for (std::string const& d : after)
        if (!std::binary_search(before.begin(), before.end(), d) && d.find("/proc/") == std::string::npos)
            out += " [" + d + "]";
    return out;
}

// The outputs of the switch still driven, as the switch model's runs ("513<512"):
// connected to an input, or written with anything but the idle byte, which only outputs off
// the shared bus send when let go.
inline std::string drivenOutputs(board::sim::HalModel const& hal)
{
    std::istringstream outputs(hal.dump());
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

// What an input must leave as it found it: the descriptors the process holds, the loop's
// pending timers and the free blocks of the packet pool, as taken once the services hold
// what they keep from their first use.
class Baseline {
public:
    void take(board::sim::SimBoard& board)
    {
        descriptors_ = descriptors(board);
        timers_ = multiplexer.timer_count();
        packets_ = _Packet::Pool::available();
        taken_ = true;
    }
    bool taken() const { return taken_; }
    unsigned timers() const { return timers_; }

    // What is left beyond it; empty when nothing.
    std::string left(board::sim::SimBoard& board) const
    {
        if (!taken_)
            return {};
        std::vector<std::string> const held = descriptors(board);
        if (held.size() > descriptors_.size())
            return "descriptors are left:" + descriptorsLeft(descriptors_, held);
        if (multiplexer.timer_count() != timers_)
            return "timers are left: " + std::to_string(multiplexer.timer_count()) + " of " + std::to_string(timers_);
        if (_Packet::Pool::available() != packets_)
            return "packets of the pool are left";
        return {};
    }

private:
    bool taken_ = false;
    std::vector<std::string> descriptors_;
    unsigned timers_ = 0;
    unsigned packets_ = 0;
};

// What is left of the slots (in the table or a factory) and of the switch outputs they
// drove; empty when nothing.
inline std::string slotsLeft(board::sim::HalModel const& hal)
{
    if (!Slots::instance().live().empty())
        return "a slot is left";
    for (SlotFactory* f = SlotFactory::first(); f != nullptr; f = f->next())
        if (!f->slots().empty())
            return "a slot is left in a factory";
    if (std::string const driven = drivenOutputs(hal); !driven.empty())
        return "switch outputs are left driven:" + driven;
    return {};
}

// Sees every signal as the server shows it, while the slot sends it: each must encode and
// decode again; seen() looks further.
class SignalWatch : public CtrlSrv::Service {
public:
    explicit SignalWatch(char const* target) : target_(target) {}
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(ZGCP::Command const&) override { return false; }
    void OnSignal(ZGCP::Signal const& signal) override;

protected:
    virtual void seen(ZGCP::Signal const&) {}

private:
    char const* target_;
};

// The start of an input. The first builds the target's environment (a Gateway with its
// clock, its simulated board `env` and its `baseline`), never destroyed, and uses it once
// (warmUp) so that the services hold what they keep from their first use before the baseline
// is taken. Every input starts with the clock at startMs while nothing is pending on it.
template <class Gateway, class WarmUp>
void prepare(Gateway*& gateway, WarmUp warmUp, std::uint32_t startMs)
{
    if (gateway == nullptr) {
        static Immortal<Gateway> instance;
        gateway = &instance.value;
        warmUp();
        gateway->baseline.take(gateway->env.sim);
    }
    if (multiplexer.timer_count() == 0)
        gateway->clock.setMilliseconds(startMs);
}

// The controller's side of a server's connection, over a socket pair: every message the
// server sends is read back as a whole TPKT frame and decoded with the protocol's own
// coder; the signals are kept with their slot numbers.
class ControllerEnd {
public:
    struct Signal {
        int slot;  // -1 when the message names none
        ZGCP::Signal signal;
    };

    // Connects the server, which keeps its end for the process.
    explicit ControllerEnd(CtrlSrv::Server& server)
    {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            std::abort();
        peer_ = Fd(pair[1]);
        // Room for every signal of a burst the loop sends in one turn, before this end reads:
        // the server's writes would otherwise wait, then end the connection.
        int const room = 16 << 20;
        if (::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0)
            ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        auto* link = new Link;  // owned by the server
        server.Activate(link);
        link->take(Fd(pair[0]));
    }

    // Reads what has come: the signals of the whole frames, in order. A frame that is not a
    // TPKT frame holding one message that decodes, or the end of the connection, is the
    // breach given back in `error`.
    std::vector<Signal> take(std::string& error)
    {
        char buffer[65536];
        ssize_t n;
        while ((n = ::recv(peer_.lowlevel_fd(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            in_.insert(in_.end(), buffer, buffer + n);
        if (n == 0) {
            error = "the server ended the controller's connection";
            return {};
        }
        std::vector<Signal> out;
        while (in_.size() >= 4) {
            std::size_t const length = std::size_t(std::uint8_t(in_[2])) << 8 | std::uint8_t(in_[3]);
            if (in_[0] != 3 || length < 4) {
                error = "a frame that is not TPKT";
                return out;
            }
            if (in_.size() < length)
                break;
            ASN1::CoderEnv env;
            env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
            ZGCP::Message message;
            if (!ASN1::decode(in_.data() + 4, in_.data() + length, &env, message, true)) {
                error = "a message that does not decode";
                return out;
            }
            if (message.get_pdu().signal_isSelected())
                out.push_back({message.slot_isPresent() ? int(message.get_slot().getValue()) : -1,
                               message.get_pdu().get_signal()});
            in_.erase(in_.begin(), in_.begin() + std::ptrdiff_t(length));
        }
        return out;
    }

private:
    class Link : public Control::Service {
    public:
        Link() : Control::Service(false) {}
        void take(Fd const& fd) { TakeConnection(fd, "fuzz"); }

    protected:
        bool ImplActivate() override { return true; }
        void ImplDeactivate() override {}
        void ImplOnDisconnect() override {}
    };

    Fd peer_;
    std::vector<char> in_;
};

// Whether the signal encodes and decodes again with the protocol's own coder, in a message
// as the server sends it (a signal that does not encode never reaches the controller).
inline bool codes(ZGCP::Signal const& signal)
{
    ZGCP::Message message;
    message.set_slot(1);
    message.set_pdu().select_signal(signal);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    if (!env.encode(message, octets))
        return false;
    ZGCP::Message back;
    return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, back, true);
}

inline void SignalWatch::OnSignal(ZGCP::Signal const& signal)
{
    if (!codes(signal))
        breach(target_, "a signal that does not encode: " + signal.asValueNotation());
    seen(signal);
}

}  // namespace fuzzsupport
