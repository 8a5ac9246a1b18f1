// Fuzz target of the authentication link: the records the PPP authentication client sends
// (size, type, session, body) over real TCP connections to the daemon's listener
// (127.0.0.1:52000, in a network of the process's own), while the modem slots the input
// chooses exist, made as the controller makes them (create, and a connect with a trunk
// slot that opens the slot's line and so gives it its session), with the controller's
// activate answers and destroys, and the test clock moved on (the partial-record time-out).
//
// The first byte chooses the slots (Kind, and bit 2: a second, idle modem slot); then each
// byte begins a step, chosen by its value modulo kSteps, whose operands follow (a missing
// one reads as 0). A client is the connection at the operand modulo their number.
//
// A model of the link says what the daemon must do: which connections it keeps (within its
// bound, until the client ends, sends a size word out of 12..512, or holds part of a record
// for AuthClient::kPartMs), which modemProceeding signal each complete record makes (the
// first live slot of its session, requests and accounting of their exact sizes), and which
// connection gets the records of an activate (the first kept one whose last complete record
// named the slot's session). After every step:
// - every message to the controller is a whole TPKT frame that decodes, and the
//   modemProceeding signals are those the model expects, in order;
// - every record the daemon writes is well formed (its size word within the link's bounds,
//   a type the daemon sends with that type's size) and is the one expected;
// - the connections the daemon keeps are the model's, within the bound.
// Once the input is done the clients close, a new connection is served, the controller
// goes (every slot is destroyed), and no slot, connection, child, timer or descriptor the
// input made is left. A breach aborts the run; a run that cannot start (no root folder, the
// listener's port taken) says why in one line and stops. Corpus: slots/fuzz/auth_records_corpus.

#include "asn1/asn1.h"
#include "base/immortal.h"
#include "board/sim/simulation.h"
#include "control/ctrl_server.h"
#include "hardware/hw_mux.h"
#include "messages/zgcp.h"
#include "runtime/child_wait.h"
#include "runtime/ipc_signal.h"
#include "runtime/multiplexer.h"
#include "slots/auth_client.h"
#include "slots/modem_factory.h"
#include "slots/modem_slot.h"
#include "slots/slots.h"
#include "tests/auth_records.h"
#include "tests/controller_client.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/fuzz/fork_options.h"
#include "tests/fuzz_support.h"
#include "tests/loop_pump.h"
#include "tests/loopback.h"
#include "tests/slot_commands.h"

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;

constexpr char kTarget[] = "auth_records_fuzz";
// The longest input, unless -max_len says otherwise: long sessions of many records.
constexpr char kMaxLen[] = "-max_len=8192";
constexpr std::size_t kMaxClients = 24;
// Clock time the steps of one input may pass in all: several partial-record time-outs.
constexpr std::uint32_t kTimeSteps = 4 * AuthClient::kPartMs;
// Real time the bytes written on a loopback connection may take to arrive.
constexpr int kHandOverMs = 5000;
// Real time a child told to end may take to go.
constexpr int kChildEndMs = 10000;
constexpr unsigned kModemSlot = 1;
constexpr unsigned kIdleSlot = 2;
constexpr unsigned kSpareSlot = 3;
constexpr unsigned kTrunkSlot = 7;

enum Step {
    kConnect,   // a new connection
    kRecord,    // client, record (see record()): sent whole
    kSplit,     // client, cut, record: sent in two writes the daemon reads apart
    kRaw,       // client, n, then n bytes as they are
    kEnd,       // client, how: close, reset, or the client's half of the connection
    kTime,      // n: the clock moves on by 2^(n mod 15) ms, or AuthClient::kPartMs for 15
    kActivate,  // slot, four addresses, mtu: the controller's answer to a request
    kDestroy,   // slot: the controller destroys it
    kSteps
};

// The slots of an input, by its first byte.
enum Kind {
    kDataCall,  // a modem answering a data call: pppd runs, the session is the modem's number
    kFaxCall,   // a modem originating a fax call without a program: the modem's number
    kDigital,   // a digital modem on an interface: pppd runs, session -1
    kIdle,      // a modem whose line never opened: session -1
    kKinds
};

// Bytes as text, with what is not printable in hexadecimal.
std::string escaped(std::string const& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\%02x", c);
            out += hex;
        }
    }
    return out;
}

std::string describeAuth(std::int32_t slot, std::string const& user, std::string const& password)
{
    return "slot=" + std::to_string(slot) + " auth \"" + escaped(user) + "\" \"" + escaped(password) + "\"";
}

// The counters as high and low words, as the signal carries them.
std::string describeAcct(std::int32_t slot, std::vector<std::int32_t> const& words)
{
    std::string out = "slot=" + std::to_string(slot) + " acct";
    for (std::int32_t w : words)
        out += " " + std::to_string(w);
    return out;
}

// What the controller's side receives: whole TPKT frames that decode; the modemProceeding
// signals in short.
class Controller {
public:
    explicit Controller(int fd) : fd_(fd) {}

    void drain()
    {
        testsupport::receiveAll(fd_, in_);
        testsupport::takeFrames(kTarget, in_, [&](Bytes const& body) {
            ZGCP::Message message;
            if (!testsupport::decodePer(body, message))
                testsupport::breach(kTarget, "the controller got a message that does not decode");
            take(message);
        });
    }
    // Whole frames only: the daemon sends nothing but.
    bool idle() const { return in_.empty(); }

    std::vector<std::string> proceedings;

private:
    void take(ZGCP::Message const& message)
    {
        ZGCP::PDU const& pdu = message.get_pdu();
        if (!pdu.signal_isSelected() || !pdu.get_signal().modemProceeding_isSelected())
            return;
        std::int32_t const slot = message.slot_isPresent() ? message.get_slot().getValue() : -1;
        TERM::ModemProceeding const& p = pdu.get_signal().get_modemProceeding();
        if (p.auth_isSelected()) {
            proceedings.push_back(
                describeAuth(slot, p.get_auth().get_username(), p.get_auth().get_password()));
            return;
        }
        TERM::MdmAccounting const& a = p.get_acct();
        std::vector<std::int32_t> words;
        for (BASE::INTEGER64Bits const* c :
             {&a.get_octetsOut(), &a.get_octetsIn(), &a.get_packetsOut(), &a.get_packetsIn(), &a.get_time()}) {
            words.push_back(c->get_high().getValue());
            words.push_back(c->get_low().getValue());
        }
        proceedings.push_back(describeAcct(slot, words));
    }

    int fd_;
    Bytes in_;
};

// One connection of the authentication client, with the model of the daemon's side of it.
struct Client {
    Fd fd;
    // The daemon keeps the connection (it has not ended it, nor has the client).
    bool kept = false;
    // The client has ended it.
    bool ours = false;
    // The socket has seen the connection's end.
    bool ended = false;
    // The record the daemon is assembling.
    Bytes part;
    // The session of the last complete record; -1 before the first.
    std::int32_t session = -1;
    // Since when (clock milliseconds) the daemon holds part of a record.
    std::optional<std::uint32_t> partSince;
    // What the daemon wrote and has not been read as records yet; the records it owes.
    Bytes in;
    std::deque<Bytes> owed;
};

// The daemon's part under test, built once and never destroyed (the process's singletons
// still use it while the process exits).
struct Daemon {
    Daemon()
    {
        IPC::Signal::handle(SIGPIPE, OnBrokenPipe, SA_RESTART);
        // The daemon catches SIGHUP, so that its children have it at its default: a run
        // started with the signal ignored would hand that on to pppd, which then outlives
        // its hang-up.
        ::signal(SIGHUP, SIG_DFL);
        // In place of pppd: a program that runs until a signal ends it, or a minute (so that
        // one a crashed run leaves ends by itself).
        if (!testsupport::writeProgram(root + ModemSlot::kPppd, "#!/bin/sh\nexec /bin/sleep 60\n"))
            testsupport::cannotStart(kTarget, "cannot write its pppd");
        // A digital modem has an interface to take.
        simulation.board().device("hdlc1")->command({"p2p", "on"});
        testsupport::quietStreams("AUTH_RECORDS_LOG");
        HwMux::instance();
        factory = &ModemFactory::instance();
        if (factory->authPort() != ModemFactory::kAuthPort)
            testsupport::cannotStart(kTarget, "the authentication listener is not on its port");
        ctrlServer.Bind(&Slots::instance());
        ctrlServer.Activate(link);
        ChildWait::Activate();
    }

    static void OnBrokenPipe(int) {}
    // The process's network and a fresh root, before anything is built.
    static std::string prepare()
    {
        testsupport::privateNetwork(kTarget);
        return testsupport::boardRoot(kTarget);
    }

    std::string root = prepare();
    Mux::TestClock clock;
    board::sim::Simulation simulation;
    testsupport::ControllerLink* link = new testsupport::ControllerLink;  // owned by ctrlServer
    ModemFactory* factory = nullptr;
};

Daemon* gateway = nullptr;

// One input's run: its clients, its controller connection and the model.
class Run {
public:
    Run()
    {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            std::abort();
        peer_ = Fd(pair[1]);
        gateway->link->take(Fd(pair[0]));
        controller_.emplace(peer_.lowlevel_fd());
    }

    void setUp(std::uint8_t choice)
    {
        Kind const kind = Kind(choice % kKinds);
        TERM::ModemParams params = testsupport::modemParams("");
        if (kind == kFaxCall) {
            params.set_fax();
            params.set_originate();
        } else if (kind == kDigital) {
            params.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
        }
        command(kModemSlot, testsupport::createCommand(testsupport::modemCreate(params)));
        if (kind != kIdle) {
            command(kTrunkSlot, testsupport::createCommand(testsupport::trunkParams(1, 5)));
            command(kModemSlot, testsupport::connectCommand(kTrunkSlot));
        }
        if (choice & 4)
            command(kIdleSlot, testsupport::createCommand(testsupport::modemCreate(testsupport::modemParams(""))));
        check();
    }

    void step(Step kind, testsupport::FuzzInput& in)
    {
        switch (kind) {
        case kConnect: connect(); break;
        case kRecord: {
            Client* c = client(in.byte());
            Bytes const r = record(in);
            if (c)
                send(*c, r);
            break;
        }
        case kSplit: {
            Client* c = client(in.byte());
            std::size_t const cut = in.byte();
            Bytes const r = record(in);
            if (c) {
                std::size_t const at = std::min(cut, r.size());
                send(*c, Bytes(r.begin(), r.begin() + std::ptrdiff_t(at)));
                send(*c, Bytes(r.begin() + std::ptrdiff_t(at), r.end()));
            }
            break;
        }
        case kRaw: {
            Client* c = client(in.byte());
            std::vector<std::uint8_t> const bytes = in.take(in.byte());
            if (c)
                send(*c, bytes);
            break;
        }
        case kEnd: {
            Client* c = client(in.byte());
            std::uint8_t const how = in.byte();
            if (c)
                end(*c, how % 3);
            break;
        }
        case kTime: {
            std::uint8_t const n = in.byte() % 16;
            testsupport::advance(gateway->clock, time_.spend(n == 15 ? AuthClient::kPartMs : 1u << n));
            expire();
            break;
        }
        case kActivate: activate(in); break;
        case kDestroy: destroy(in.byte() % 2 ? kIdleSlot : kModemSlot); break;
        default: break;
        }
        check();
    }

    // The clients close, a new connection is served, the controller goes.
    void finish()
    {
        for (Client& c : clients_)
            if (!c.ours)
                end(c, 0);
        check();
        if (gateway->factory->connections() != 0)
            testsupport::breach(kTarget, "connections outlive their clients");
        served();
        ::shutdown(peer_.lowlevel_fd(), SHUT_RDWR);
        peer_.close();
        testsupport::settle();
        if (gateway->link->IsConnected())
            testsupport::breach(kTarget, "the controller connection outlives its peer");
    }

private:
    // A record from the input: type (1 to 4 by the byte modulo 6, 0 for 4, the next four
    // bytes for 5), session (-1, 0, 1 by the byte modulo 4, the next four bytes for 3),
    // size (the type's own when the byte is below 0x80, else the next two bytes modulo
    // 1024), then the body from the input, zeros where it ends.
    static Bytes record(testsupport::FuzzInput& in)
    {
        static std::uint32_t const sizes[] = {sizeof(attr), sizeof(voauth), sizeof(auth_accept), sizeof(auth_address),
                                              sizeof(voacct)};
        std::uint8_t const t = in.byte() % 6;
        std::uint32_t const type = t == 5 ? in.word32() : t;
        std::uint8_t const s = in.byte() % 4;
        std::int32_t const session = s == 3 ? std::int32_t(in.word32()) : std::int32_t(s) - 1;
        std::uint8_t const z = in.byte();
        std::uint32_t const size = z < 0x80 ? sizes[type <= 4 ? type : 0] : in.word16() % 1024u;
        Bytes out = testsupport::words({size, type, std::uint32_t(session)});
        if (size > out.size()) {
            Bytes const body = in.take(size - out.size());
            out.insert(out.end(), body.begin(), body.end());
            out.resize(size, 0);
        }
        return out;
    }

    // The address text of an operand: a dotted address of the next four bytes when it is
    // below 0x80, else a text of up to 20 bytes.
    static std::string address(testsupport::FuzzInput& in)
    {
        if (in.byte() >= 0x80)
            return in.text(20);
        std::string out;
        for (int i = 0; i < 4; ++i)
            out += (i ? "." : "") + std::to_string(in.byte());
        return out;
    }

    Client* client(std::uint8_t operand)
    {
        if (clients_.empty())
            return nullptr;
        Client& c = clients_[operand % clients_.size()];
        return c.ours ? nullptr : &c;
    }

    std::size_t kept() const
    {
        return std::size_t(std::count_if(clients_.begin(), clients_.end(), [](Client const& c) { return c.kept; }));
    }

    // A new connection, unless the input has made its most (extra: one more after those).
    void connect(bool extra = false)
    {
        if (clients_.size() >= kMaxClients && !extra)
            return;
        std::size_t const bound = gateway->factory->authBound();
        Client c;
        c.fd = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!c.fd)
            testsupport::cannotGoOn(kTarget, std::string("no socket for a client: ") + std::strerror(errno));
        sockaddr_in const to = testsupport::loopbackAddress(ModemFactory::kAuthPort);
        if (int const error = testsupport::connectWithin(c.fd.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&to),
                                                         sizeof to, kHandOverMs))
            testsupport::breach(kTarget, std::string("the authentication listener takes no connection: ")
                                             + std::strerror(error));
        testsupport::promptSocket(c.fd.lowlevel_fd());
        // A connection beyond the bound is accepted and closed at once.
        c.kept = kept() < bound;
        clients_.push_back(std::move(c));
        testsupport::settle();
    }

    void send(Client& c, Bytes const& bytes)
    {
        for (std::size_t sent = 0; sent < bytes.size();) {
            ssize_t const n = ::send(c.fd.lowlevel_fd(), bytes.data() + sent, bytes.size() - sent,
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (n > 0)
                sent += std::size_t(n);
            testsupport::settle();
            readReplies();
        }
        testsupport::handedOver(c.fd.lowlevel_fd(), kHandOverMs);
        testsupport::settle();
        model(c, bytes);
    }

    // What the daemon makes of the bytes, as AuthClient reads them.
    void model(Client& c, Bytes const& bytes)
    {
        bool completed = false;
        for (std::uint8_t b : bytes) {
            if (!c.kept)
                return;
            c.part.push_back(b);
            if (c.part.size() < sizeof(std::uint32_t))
                continue;
            std::uint32_t size = 0;
            std::memcpy(&size, c.part.data(), sizeof size);
            if (size < auth::kMinSize || size > auth::kMaxSize) {
                c.kept = false;
                return;
            }
            if (c.part.size() < size)
                continue;
            attr header;
            std::memcpy(&header, c.part.data(), sizeof header);
            c.session = header.session;
            route(c.part);
            c.part.clear();
            completed = true;
        }
        std::uint32_t const now = Mux::milliseconds();
        if (completed)
            c.partSince.reset();
        if (!c.part.empty() && !c.partSince)
            c.partSince = now;
    }

    // The first live modem slot of the session, in the order they were made.
    ModemSlot* slotOf(std::int32_t session, unsigned* number = nullptr) const
    {
        for (unsigned n : made_) {
            auto* slot = dynamic_cast<ModemSlot*>(Slots::instance().GetSlotAt(n));
            if (slot && slot->modem_id() == session) {
                if (number)
                    *number = n;
                return slot;
            }
        }
        return nullptr;
    }

    // The signal a complete record makes.
    void route(Bytes const& r)
    {
        attr header;
        std::memcpy(&header, r.data(), sizeof header);
        unsigned slot = 0;
        if (!slotOf(header.session, &slot))
            return;
        auto field = [&](std::size_t at) {
            char const* text = reinterpret_cast<char const*>(r.data() + at);
            return std::string(text, ::strnlen(text, auth::kTextSize));
        };
        if (header.type == auth::kRequest && header.size == sizeof(voauth)) {
            expected_.push_back(describeAuth(std::int32_t(slot), field(offsetof(voauth, username)),
                                             field(offsetof(voauth, password))));
        } else if (header.type == auth::kAccounting && header.size == sizeof(voacct)) {
            voacct a;
            std::memcpy(&a, r.data(), sizeof a);
            expected_.push_back(describeAcct(
                std::int32_t(slot),
                {std::int32_t(a.octetsOutHigh), std::int32_t(a.octetsOutLow), std::int32_t(a.octetsInHigh),
                 std::int32_t(a.octetsInLow), std::int32_t(a.packetsOutHigh), std::int32_t(a.packetsOutLow),
                 std::int32_t(a.packetsInHigh), std::int32_t(a.packetsInLow), 0, std::int32_t(a.time)}));
        }
    }

    void end(Client& c, int how)
    {
        if (how == 2) {
            // The daemon reads the end and closes its side.
            ::shutdown(c.fd.lowlevel_fd(), SHUT_WR);
            testsupport::settle();
            readReplies();
        } else {
            if (how == 1) {
                linger const reset{1, 0};
                ::setsockopt(c.fd.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            c.fd.close();
        }
        c.kept = false;
        c.ours = true;
        c.fd.close();
        testsupport::settle();
    }

    // The connections that held part of a record for the time-out are closed.
    void expire()
    {
        std::uint32_t const now = Mux::milliseconds();
        for (Client& c : clients_)
            if (c.kept && c.partSince && now - *c.partSince >= AuthClient::kPartMs)
                c.kept = false;
    }

    void activate(testsupport::FuzzInput& in)
    {
        unsigned const number = in.byte() % 2 ? kIdleSlot : kModemSlot;
        std::string const remote = address(in), netmask = address(in), gw = address(in), dns = address(in);
        int const mtu = std::int32_t(in.word32());
        command(number, testsupport::modemActivate(remote, netmask, gw, dns, mtu), [&] {
            if (auto* slot = dynamic_cast<ModemSlot*>(Slots::instance().GetSlotAt(number)))
                owe(slot->modem_id(), remote, netmask, gw, dns, mtu);
        });
    }

    // The records of an activate, owed to the first kept connection of the session.
    void owe(std::int32_t session, std::string const& remote, std::string const& netmask, std::string const& gw,
             std::string const& dns, int mtu)
    {
        auto c = std::find_if(clients_.begin(), clients_.end(),
                              [&](Client const& k) { return k.kept && k.session == session; });
        if (c == clients_.end())
            return;
        auto ip = [](std::string const& text) { return std::uint32_t(::inet_addr(text.c_str())); };
        auth_accept const accept{{sizeof(auth_accept), auth::kAccept, session}, 1};
        auth_address const addr{{sizeof(auth_address), auth::kAddress, session},
                                0,
                                ip(remote),
                                ip(netmask),
                                ip(gw),
                                ip(dns),
                                std::uint32_t(mtu)};
        auto const* a = reinterpret_cast<std::uint8_t const*>(&accept);
        auto const* b = reinterpret_cast<std::uint8_t const*>(&addr);
        c->owed.emplace_back(a, a + sizeof accept);
        c->owed.emplace_back(b, b + sizeof addr);
    }

    void destroy(unsigned number)
    {
        command(number, testsupport::plainCommand(ZGCP::Command::destroy::id));
        // A slot whose pppd runs goes when pppd has: the model routes by the slots alive.
        if (!testsupport::runUntil([&] { return Slots::instance().GetSlotAt(number) == nullptr; }, kChildEndMs))
            testsupport::breach(kTarget, "a destroyed modem slot stays");
    }

    // Sends a command for the slot; before lets the model see the slot as the command finds
    // it. False when the command cannot be encoded.
    bool command(unsigned slot, ZGCP::Command const& c, std::function<void()> const& before = {})
    {
        Bytes const body = testsupport::encodeZgcp(testsupport::zgcpCommand(c, int(++seq_), slot));
        if (body.empty())
            return false;
        if (std::find(made_.begin(), made_.end(), slot) == made_.end() && c.create_isSelected() && slot != kTrunkSlot)
            made_.push_back(slot);
        if (before)
            before();
        Bytes const frame = testsupport::tpktFrame(body);
        if (::send(peer_.lowlevel_fd(), frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
            testsupport::breach(kTarget, "the controller connection takes no command");
        testsupport::settle();
        readReplies();
        return true;
    }

    // What the daemon wrote to the clients and the controller, read as it comes.
    void readReplies()
    {
        controller_->drain();
        for (Client& c : clients_) {
            if (!c.fd)
                continue;
            std::size_t const had = c.in.size();
            if (testsupport::receiveAll(c.fd.lowlevel_fd(), c.in))
                c.ended = true;
            if (c.in.size() > had)
                testsupport::promptSocket(c.fd.lowlevel_fd());
        }
    }

    // The records a client got: each well formed and the one it is owed.
    void readRecords(Client& c, std::size_t number)
    {
        std::string const which = "client " + std::to_string(number) + ": ";
        while (c.in.size() >= sizeof(attr)) {
            attr header;
            std::memcpy(&header, c.in.data(), sizeof header);
            std::uint32_t const own = header.type == auth::kAccept    ? sizeof(auth_accept)
                                    : header.type == auth::kAddress ? sizeof(auth_address)
                                                                    : 0;
            if (header.size < auth::kMinSize || header.size > auth::kMaxSize || header.size != own)
                testsupport::breach(kTarget, which + "a record of type " + std::to_string(header.type) + " and size " +
                                                 std::to_string(header.size));
            if (c.in.size() < header.size)
                break;
            Bytes const r(c.in.begin(), c.in.begin() + header.size);
            c.in.erase(c.in.begin(), c.in.begin() + header.size);
            if (c.owed.empty() || c.owed.front() != r)
                testsupport::breach(kTarget, which + "a record it is not owed, of session " +
                                                 std::to_string(header.session));
            c.owed.pop_front();
        }
        if (!c.in.empty() || !c.owed.empty())
            testsupport::breach(kTarget, which + "records it is owed did not come whole");
    }

    // The bytes of the records a client is owed, all come (or its connection ended).
    bool owedCame() const
    {
        return std::all_of(clients_.begin(), clients_.end(), [](Client const& c) {
            std::size_t owed = 0;
            for (Bytes const& r : c.owed)
                owed += r.size();
            return c.ended || !c.fd || c.in.size() >= owed;
        });
    }

    void check()
    {
        // The daemon's small writes may wait for the client's acknowledgement of the last.
        testsupport::runUntil(
            [&] {
                readReplies();
                return owedCame();
            },
            kHandOverMs);
        if (!controller_->idle())
            testsupport::breach(kTarget, "the controller got part of a frame");
        if (controller_->proceedings != expected_) {
            std::string text = "modemProceeding signals:";
            for (std::string const& s : controller_->proceedings)
                text += " [" + s + "]";
            text += "; expected:";
            for (std::string const& s : expected_)
                text += " [" + s + "]";
            testsupport::breach(kTarget, text);
        }
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            Client& c = clients_[i];
            readRecords(c, i);
            if (c.ours)
                continue;
            if (c.kept && c.ended)
                testsupport::breach(kTarget, "client " + std::to_string(i) + ": the daemon ended a good connection");
            if (!c.kept && !c.ended)
                testsupport::breach(kTarget, "client " + std::to_string(i) + ": the daemon keeps a bad connection");
            if (c.ended) {
                c.ours = true;
                c.fd.close();
            }
        }
        std::size_t const connections = gateway->factory->connections();
        if (connections != kept() || connections > gateway->factory->authBound())
            testsupport::breach(kTarget, "the daemon keeps " + std::to_string(connections) + " connections, " +
                                             std::to_string(kept()) + " expected, bound " +
                                             std::to_string(gateway->factory->authBound()));
    }

    // A new connection after the others have gone is read and routed.
    void served()
    {
        ModemSlot* slot = nullptr;
        for (unsigned n : made_)
            if ((slot = dynamic_cast<ModemSlot*>(Slots::instance().GetSlotAt(n))))
                break;
        if (!slot) {
            command(kSpareSlot, testsupport::createCommand(testsupport::modemCreate(testsupport::modemParams(""))));
            slot = dynamic_cast<ModemSlot*>(Slots::instance().GetSlotAt(kSpareSlot));
        }
        if (!slot)
            testsupport::breach(kTarget, "no modem slot to serve");
        std::size_t const before = expected_.size();
        connect(true);
        send(clients_.back(), testsupport::authRequest(slot->modem_id(), "served", "after"));
        if (expected_.size() != before + 1)
            testsupport::breach(kTarget, "a new connection is not served");
        check();
        end(clients_.back(), 0);
        check();
    }

    Fd peer_;
    std::optional<Controller> controller_;
    std::vector<Client> clients_;
    // The modem slots made, in order.
    std::vector<unsigned> made_;
    std::vector<std::string> expected_;
    std::uint32_t seq_ = 0;
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
    // Built at the first input: a process that only runs the workers (-jobs) builds none.
    if (gateway == nullptr)
        testsupport::start(kTarget, [] {
            static Immortal<Daemon> instance;
            gateway = &instance.value;
        });
    testsupport::settle();
    testsupport::Baseline baseline;
    baseline.take(gateway->simulation.board().ownDescriptors());
    {
        Run run;
        testsupport::FuzzInput in(data, size);
        run.setUp(in.byte());
        while (!in.done())
            run.step(Step(in.byte() % kSteps), in);
        run.finish();
    }
    // The clock moves on while the children go, so that one that does not is killed as the
    // daemon kills it.
    if (!testsupport::runUntil(
            [] {
                testsupport::advance(gateway->clock, 100);
                return !testsupport::slotLeft() && !testsupport::childLeft();
            },
            kChildEndMs))
        testsupport::breach(kTarget, testsupport::slotLeft() ? "a slot is left" : "a child process is left");
    if (gateway->factory->connections() != 0)
        testsupport::breach(kTarget, "a connection is left");
    // A descriptor of a child that has gone may still be closing.
    std::string left;
    if (!testsupport::runUntil(
            [&] {
                left = baseline.left(gateway->simulation.board().ownDescriptors());
                return left.empty();
            },
            kChildEndMs))
        testsupport::breach(kTarget, left);
    return 0;
}
