// Fuzz target of the SNMP agent link: what an agent process sends the daemon's monitoring
// controller over the link (MON messages in TPKT frames), its ends, and the clock moved on
// across the link's ping (5 s), silence drop (30 s) and reconnection (10 s). Each input
// gets a monitoring controller of its own on a fresh simulated board and test clock,
// configured with one agent link to the target's agent listener; the agent takes every
// connection the link makes.
//
// Each byte begins a step, chosen by its value modulo kSteps, whose operands follow (a
// missing one reads as 0). After every step, on the agent's side:
// - every message the daemon sent is a whole TPKT frame that decodes as a MON message;
// - while connected, the daemon has sent something within the last ping period;
// - a link that heard nothing from the agent for the silence time and a ping period more is
//   gone, and, while the agent sent only whole frames, a link is never dropped before the
//   silence time;
// - a link that went is back within the reconnection wait, and its first messages supply
//   every item the agent has had.
// Once the input is done the link is dropped once more and must come back the same way;
// then the controller and the board go, and no timer or descriptor is left. A breach
// aborts the run. Corpus: monitoring/fuzz/agent_link_corpus.

#include "base/clock.h"
#include "base/immortal.h"
#include "control/connector.h"
#include "messages/mon.h"
#include "monitoring/fuzz/monitoring_bench.h"
#include "monitoring/snmp_agent_instance.h"
#include "tests/controller_client.h"
#include "tests/fake_agent.h"
#include "tests/fuzz_support.h"
#include "tests/loop_pump.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::breach;

constexpr char kTarget[] = "agent_link_fuzz";
// Sessions of several kilobytes: the length limit of the inputs the engine makes.
constexpr char kMaxLen[] = "-max_len=8192";
// Clock time the steps of one input may pass in all: past a silence drop and its return.
constexpr std::uint32_t kTimeSteps = 3 * SnmpAgentInstance::silence_ms;
// The agent reads what came at least this often while the clock moves on: what it reads is
// stamped at most this late.
constexpr std::uint32_t kReadEveryMs = 500;
// Real time the bytes written on a loopback connection may take to leave.
constexpr int kHandOverMs = 5000;
constexpr std::uint32_t kReconnectMs = Control::Connector<Control::ServiceNet>::reconnect_wait_ms;

enum Step {
    kFrame,  // a MON message built from the operands (see message()), in one frame
    kTpkt,   // n, then n bytes as the body of one frame (at least one byte)
    kRaw,    // n, then n bytes as they are
    kTime,   // n: the clock moves on by 2^(n mod 16) ms
    kEnd,    // how: the agent closes its connection, or resets it
    kPongs,  // the agent answers pings from now on, or no longer
    kSteps
};

// The process's part: its network, its root, the agent's listener.
struct Process : monfuzz::Process {
    Process() : monfuzz::Process(kTarget, "AGENT_LINK_LOG") {}
};

Process* process = nullptr;

// A text operand as an IA5String takes it.
std::string ia5(testsupport::FuzzInput& in, std::size_t max)
{
    std::string text = in.text(max);
    for (char& c : text)
        c = char(c & 0x7f);
    return text;
}

MON::IniName iniName(testsupport::FuzzInput& in)
{
    MON::IniName name;
    name.set_section(ia5(in, 16));
    name.set_name(ia5(in, 16));
    name.set_index(std::int32_t(in.word32()));
    return name;
}

MON::CommonResponse common(testsupport::FuzzInput& in)
{
    MON::CommonResponse r;
    std::uint8_t const b = in.byte();
    if (b % 2 == 0)
        r.select_success();
    else
        r.select_error() = MON::ErrorCause(MON::ErrorCause::NamedNumber(b / 2 % 2));
    return r;
}

// A message of every kind the module has: the operand's value picks the PDU and its
// alternative, lists take a count operand, texts a length.
MON::Message message(testsupport::FuzzInput& in)
{
    MON::Message m;
    MON::PDU& pdu = m.set_pdu();
    std::uint8_t const kind = in.byte();
    std::size_t const count = in.byte() % 4;
    switch (kind % 9) {
    case 0: {
        auto& commands = pdu.select_command().select_snmp_set().set_commands();
        for (std::size_t i = 0; i < count; ++i) {
            MON::SnmpSetCommand c;
            c.set_uniq(std::int32_t(in.word32()));
            if (in.byte() % 2)
                c.set_id().select_oid(ia5(in, 24));
            else
                c.set_id().select_name(iniName(in));
            c.set_value(ia5(in, 24));
            commands.push_back(c);
        }
        break;
    }
    case 1: {
        auto& sinks = pdu.select_command().select_snmp_trapsink_set().set_trapsinks();
        for (std::size_t i = 0; i < count; ++i) {
            MON::SnmpTrapsink sink;
            sink.set_host(ia5(in, 24));
            if (in.byte() % 2)
                sink.set_port(std::int32_t(in.word32()));
            sinks.push_back(sink);
        }
        break;
    }
    case 2: {
        auto& traps = pdu.select_command().select_snmp_trap_send().set_traps();
        for (std::size_t i = 0; i < count; ++i) {
            MON::SnmpTrap trap;
            if (in.byte() % 2)
                trap.set_trap().select_oid(ia5(in, 24));
            else
                trap.set_trap().select_name(ia5(in, 24));
            traps.push_back(trap);
        }
        break;
    }
    case 3: pdu.select_command().select_ping(); break;
    case 4: {
        auto& responses = pdu.select_response().select_snmp_set().set_responses();
        for (std::size_t i = 0; i < count; ++i) {
            MON::SnmpSetResponse r;
            r.set_uniq(std::int32_t(in.word32()));
            r.set_response(common(in));
            responses.push_back(r);
        }
        break;
    }
    case 5: pdu.select_response().select_snmp_trapsink_set(common(in)); break;
    case 6: pdu.select_response().select_snmp_trap_send(common(in)); break;
    case 7: pdu.select_response().select_ping(common(in)); break;
    default: {
        MON::SnmpSetSignal& s = pdu.select_signal().select_snmp_set();
        s.set_oid(ia5(in, 24));
        s.set_name(iniName(in));
        s.set_value(ia5(in, 24));
        break;
    }
    }
    return m;
}

// The agent's side of one input, with what it knows of the link.
class Agent {
public:
    explicit Agent(Mux::TestClock& clock) : clock_(clock) {}

    // Takes the link's first connection and its items.
    void start()
    {
        if (!testsupport::runUntil([&] { return take(); }, 10000))
            breach(kTarget, "the link does not connect");
        check();
    }

    void step(Step kind, testsupport::FuzzInput& in)
    {
        switch (kind) {
        case kFrame: {
            Bytes const body = testsupport::encodePer(message(in));
            if (body.empty())
                breach(kTarget, "a message of the module does not encode");
            send(testsupport::tpktFrame(body), true);
            break;
        }
        case kTpkt: {
            std::vector<std::uint8_t> const body = in.take(std::max<std::size_t>(in.byte(), 1));
            send(testsupport::tpktFrame(body.empty() ? Bytes{0} : body), true);
            break;
        }
        case kRaw: send(in.take(in.byte()), false); break;
        case kTime: pass(time_.spend(1u << (in.byte() % 16))); break;
        case kEnd: end(in.byte() % 2 == 1); break;
        case kPongs: pongs_ = !pongs_; break;
        default: break;
        }
        check();
    }

    // The link is dropped once more and comes back with every item.
    void finish()
    {
        if (link_)
            end(false);
        pass(kReconnectMs + kReadEveryMs);
        check();
        if (!link_)
            breach(kTarget, "the link did not come back");
        link_.close();
        testsupport::settle();
    }

private:
    std::uint32_t now() const { return Mux::milliseconds(); }

    // Accepts the link's connection when one waits; the first messages on it are the
    // items again.
    bool take()
    {
        Fd accepted = process->listener.accept(0);
        if (!accepted)
            return false;
        link_ = std::move(accepted);
        testsupport::promptSocket(link_.lowlevel_fd());
        in_.clear();
        connectedAt_ = now();
        lastSent_ = connectedAt_;
        lastHeard_ = connectedAt_;
        lastFrame_ = connectedAt_;
        clean_ = true;
        dropped_.reset();
        testsupport::settle();
        std::map<std::string, std::string> const before = items_;
        std::map<std::string, std::string> again;
        read(&again);
        // The values may have changed while the link was down.
        for (auto const& item : before)
            if (again.count(item.first) == 0)
                breach(kTarget, "a connection that came back lacks the item " + item.first);
        return true;
    }

    void send(Bytes const& bytes, bool wholeFrame)
    {
        if (!link_)
            return;
        for (std::size_t sent = 0; sent < bytes.size();) {
            ssize_t const n =
                ::send(link_.lowlevel_fd(), bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (n > 0)
                sent += std::size_t(n);
            testsupport::settle();
            read();
        }
        if (link_ && !testsupport::handedOver(link_.lowlevel_fd(), kHandOverMs))
            breach(kTarget, "the agent's bytes do not leave");
        testsupport::settle();
        lastHeard_ = now();
        if (!wholeFrame)
            clean_ = false;
        else
            lastFrame_ = now();
        read();
    }

    // What came on the link: whole TPKT frames of MON messages; the items of its set
    // commands kept, also into again when given. The link's end is noted.
    void read(std::map<std::string, std::string>* again = nullptr)
    {
        if (!link_) {
            take();
            return;
        }
        bool const ended = testsupport::receiveAll(link_.lowlevel_fd(), in_);
        testsupport::takeFrames(kTarget, in_, [&](Bytes const& body) {
            MON::Message m;
            if (!testsupport::decodePer(body, m))
                breach(kTarget, "the agent got a message that does not decode");
            lastSent_ = now();
            testsupport::collectItems(m, items_);
            if (again)
                testsupport::collectItems(m, *again);
            if (pongs_ && testsupport::describeMon(m) == "ping")
                pong();
        });
        if (!ended)
            return;
        if (!in_.empty())
            breach(kTarget, "the link ended within a frame");
        std::uint32_t const quiet = now() - std::max(lastFrame_, connectedAt_);
        // Stamps are late by the read period at most: the link made its decision earlier.
        if (clean_ && quiet + kReadEveryMs <= std::uint32_t(SnmpAgentInstance::silence_ms))
            breach(kTarget, "the link was dropped after " + std::to_string(quiet) + " ms of silence");
        link_.close();
        dropped_ = now();
    }

    void pong()
    {
        MON::Message m;
        m.set_pdu().select_response().select_ping().select_success();
        Bytes const frame = testsupport::tpktFrame(testsupport::encodePer(m));
        if (::send(link_.lowlevel_fd(), frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL) == ssize_t(frame.size()))
            pending_ = true;
    }

    void end(bool reset)
    {
        if (!link_)
            return;
        if (reset) {
            linger const now{1, 0};
            ::setsockopt(link_.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &now, sizeof now);
        }
        link_.close();
        in_.clear();
        dropped_ = now();
        testsupport::settle();
    }

    // The clock moves on, the agent reading at least every kReadEveryMs.
    void pass(std::uint32_t ms)
    {
        testsupport::passTime(clock_, ms, kReadEveryMs, [this] {
            read();
            flushPongs();
        });
    }

    // Pongs sent while reading are heard once the daemon has read them.
    void flushPongs()
    {
        if (!pending_)
            return;
        pending_ = false;
        if (link_ && !testsupport::handedOver(link_.lowlevel_fd(), kHandOverMs))
            breach(kTarget, "the agent's bytes do not leave");
        testsupport::settle();
        lastHeard_ = now();
        lastFrame_ = now();
        read();
    }

    void check()
    {
        read();
        flushPongs();
        if (link_) {
            if (now() - lastSent_ >= SnmpAgentInstance::ping_ms)
                breach(kTarget, "the link sent nothing for " + std::to_string(now() - lastSent_) + " ms");
            std::uint32_t const quiet = now() - std::max(lastHeard_, connectedAt_);
            if (quiet >= std::uint32_t(SnmpAgentInstance::silence_ms) + SnmpAgentInstance::ping_ms + kReadEveryMs)
                breach(kTarget, "the link outlived " + std::to_string(quiet) + " ms of silence");
        } else if (dropped_ && now() - *dropped_ >= kReconnectMs + kReadEveryMs) {
            breach(kTarget, "the link is not back " + std::to_string(now() - *dropped_) + " ms after its end");
        }
    }

    Mux::TestClock& clock_;
    Fd link_;
    Bytes in_;
    // Every item the agent has had, with its last value.
    std::map<std::string, std::string> items_;
    std::uint32_t connectedAt_ = 0;
    // When the daemon last sent something; when the agent last sent anything, and last sent
    // a whole frame.
    std::uint32_t lastSent_ = 0;
    std::uint32_t lastHeard_ = 0;
    std::uint32_t lastFrame_ = 0;
    // The agent has sent only whole frames on this connection.
    bool clean_ = true;
    bool pongs_ = false;
    bool pending_ = false;
    // When the agent saw the connection end, while it waits for the next.
    std::optional<std::uint32_t> dropped_;
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
    if (process == nullptr) {
        static Immortal<Process> instance;
        process = &instance.value;
    }
    monfuzz::runInput(*process, [&](monfuzz::Controller& controller) {
        Agent agent(controller.clock);
        agent.start();
        testsupport::FuzzInput in(data, size);
        while (!in.done())
            agent.step(Step(in.byte() % kSteps), in);
        agent.finish();
    });
    return 0;
}
