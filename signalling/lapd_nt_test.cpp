#include "signalling/lapd_nt.h"

#include "base/packet.h"
#include "signalling/lapd_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace lapdtest;

template <class T>
std::vector<T> taken(std::vector<T>& from)
{
    std::vector<T> out;
    out.swap(from);
    return out;
}

// The network side alone in a stack: what it transmits is kept, what it delivers journaled.
class Network : public ProtocolsFamily {
public:
    Network() : link(new ISDN::LAPD_NT) { add_protocol_tail(link); }

    void transmit(Packet& p) override
    {
        Packet const& frame = p;
        sent.emplace_back(frame.data(), frame.data() + frame.length());
    }
    void on_message(Packet& p) override { events.push_back("up: " + p.text()); }
    void on_activated(Protocol*) override { events.push_back("activated"); }

    // A frame from the bus.
    void peer(Bytes const& frame)
    {
        Packet p;
        p.reserve_head(8);
        for (std::uint8_t x : frame)
            p.put8(x);
        receive(p);
    }
    void down(Bytes const& message) { linktest::handDown(*this, message); }
    ISDN::LAPD_NT_user const& user(unsigned i) const { return link->user(i); }

    ISDN::LAPD_NT* link;  // owned by the stack
    std::vector<Bytes> sent;
    std::vector<std::string> events;
};

// The network side and basic-rate user-side terminals on one bus, on the test clock.
struct Bus {
    explicit Bus(unsigned terminals)
    {
        for (unsigned i = 0; i < terminals; ++i)
            t.push_back(std::make_unique<Link>(ISDN::Side::user, true));
    }
    // Carries frames both ways until the bus is quiet; every frame the network sends is kept.
    void pump()
    {
        for (bool moved = true; moved;) {
            moved = false;
            std::vector<Bytes> down(net.sent.begin() + long(carried), net.sent.end());
            carried = net.sent.size();
            for (std::size_t i = 0; i < t.size(); ++i)
                for (Bytes const& f : down)
                    if (hears(i))
                        t[i]->peer(f);
            for (std::size_t i = 0; i < t.size(); ++i)
                for (Bytes const& f : t[i]->channel.take())
                    if (hears(i)) {
                        net.peer(f);
                        moved = true;
                    }
            moved = moved || carried != net.sent.size();
        }
    }
    bool hears(std::size_t i) const { return int(i) != silent; }
    // Time passes in steps of 100 ms, the bus carrying what each step sends.
    void run(unsigned ms)
    {
        for (unsigned done = 0; done < ms; done += 100) {
            testsupport::advance(clock, 100);
            pump();
        }
    }
    std::vector<Bytes> sent()
    {
        carried = 0;
        return taken(net.sent);
    }
    // What the terminal reported upwards since last asked, its statuses left out.
    std::vector<std::string> upwards(unsigned i)
    {
        std::vector<std::string> out;
        for (std::string const& e : t[i]->take())
            if (e.rfind("status: ", 0) != 0)
                out.push_back(e);
        return out;
    }

    Mux::TestClock clock;
    Network net;
    std::vector<std::unique_ptr<Link>> t;
    std::size_t carried = 0;
    int silent = -1;  // the terminal cut off the bus: it hears nothing and is not heard
};

// Frames of the network side: TEI management, SABME, RR, and I-frames (always with P set).
Bytes assigned(unsigned ri, unsigned tei) { return teiFrame(ri, 2, tei); }
Bytes denied(unsigned ri, unsigned ai) { return teiFrame(ri, 3, ai); }
Bytes removal(unsigned tei) { return teiFrame(0, 6, tei); }
Bytes const kCheckRequest = teiFrame(0, 4, 127);
Bytes establish(unsigned tei) { return unnumbered(true, 0x6F, true, tei); }
Bytes rr(unsigned tei, bool command, unsigned nr, bool pf) { return supervisory(0, command, nr, pf, tei); }
Bytes netI(unsigned tei, unsigned ns, unsigned nr, Bytes const& info) { return iframe(ns, nr, true, info, tei); }
// Frames of a terminal.
Bytes request(unsigned ri, unsigned ai = 127) { return ours(teiFrame(ri, 1, ai)); }
Bytes checkResponse(unsigned ri, unsigned tei) { return ours(teiFrame(ri, 5, tei)); }
Bytes userI(unsigned tei, unsigned ns, unsigned nr, bool p, Bytes const& info) { return ours(iframe(ns, nr, p, info, tei)); }
// RR (type 0) or REJ (type 2).
Bytes userS(unsigned tei, unsigned type, bool command, unsigned nr, bool pf)
{
    return ours(supervisory(type, command, nr, pf, tei));
}

Bytes const kSetup = {0x08, 0x01, 0x05, 0x05};
Bytes const kBroadcastSetup = {0x02, 0xFF, 0x03, 0x08, 0x01, 0x05, 0x05};

// One step: what happens, the frames the network sends (exactly) and what it delivers.
struct BusStep {
    char const* what;
    std::function<void(Bus&)> act;
    std::vector<Bytes> sent;
    std::vector<std::string> events;
};

void run(Bus& b, std::vector<BusStep> const& steps)
{
    for (BusStep const& s : steps) {
        s.act(b);
        EXPECT_EQ(s.sent, b.sent()) << s.what;
        EXPECT_EQ(s.events, taken(b.net.events)) << s.what;
    }
}

std::function<void(Bus&)> peer(std::vector<Bytes> frames)
{
    return [frames](Bus& b) {
        for (Bytes const& f : frames)
            b.net.peer(f);
    };
}
std::function<void(Bus&)> down(Bytes message)
{
    return [message](Bus& b) { b.net.down(message); };
}
std::function<void(Bus&)> after(unsigned ms)
{
    return [ms](Bus& b) { testsupport::advance(b.clock, ms); };
}
std::function<void(Bus&)> expectAssigned(unsigned index, bool assigned)
{
    return [index, assigned](Bus& b) { EXPECT_EQ(assigned, b.net.user(index).is_assigned()) << index; };
}

// Three user-side terminals obtain TEIs 64, 65, 66 and their links; a SETUP reaches all of
// them; a call claimed by two terminals goes to the lower entry. Live terminals keep their
// TEIs through polls, their own enquiries and the check cycle; one cut off the bus loses it.
TEST(LapdNt, ServesLiveTerminalsAndDropsASilentOne)
{
    std::vector<unsigned> const ri = seedRi(27, 3);
    Bus b(3);
    run(b, {
               {"activation: identity check, reported active", [](Bus& x) { x.net.activate(); }, {kCheckRequest},
                {"activated"}},
               {"three identity requests: 64, 65, 66 with Ri echoed, a SABME after each",
                [](Bus& x) {
                    for (auto& t : x.t)
                        t->link->BeginTeiAssignProcedure();
                    x.pump();
                    for (unsigned i = 0; i < 3; ++i) {
                        EXPECT_EQ(ISDN::LAPDFullState::multipleFrameEstablished, x.t[i]->state());
                        EXPECT_EQ(std::vector<std::string>{"activated"}, x.upwards(i));
                    }
                },
                {assigned(ri[0], 64), establish(64), assigned(ri[1], 65), establish(65), assigned(ri[2], 66),
                 establish(66)},
                {}},
               {"a SETUP is broadcast to every terminal",
                [](Bus& x) {
                    x.net.down(kSetup);
                    x.pump();
                    for (unsigned i = 0; i < 3; ++i)
                        EXPECT_EQ(std::vector<std::string>{"up: 08 01 05 05"}, x.upwards(i));
                },
                {kBroadcastSetup},
                {}},
               {"the second terminal, then the first, answer the call",
                [](Bus& x) {
                    x.t[1]->down({0x08, 0x01, 0x85, 0x07});
                    x.t[0]->down({0x08, 0x01, 0x85, 0x07});
                    x.pump();
                },
                {},
                {"up: 08 01 85 07", "up: 08 01 85 07"}},
               {"the call's next message goes to the lower entry with P set; it acknowledges",
                [](Bus& x) {
                    x.net.down({0x08, 0x01, 0x05, 0x4D});
                    x.pump();
                    EXPECT_EQ(std::vector<std::string>{"up: 08 01 05 4D"}, x.upwards(0));
                    EXPECT_TRUE(x.upwards(1).empty());
                    EXPECT_EQ(ISDN::LAPD_NT_user::assigned, x.net.user(0).state());
                },
                {netI(64, 0, 1, {0x08, 0x01, 0x05, 0x4D})},
                {}},
           });

    b.silent = 1;
    testsupport::CaptureStream quiet(std::clog);
    b.run(63000);
    EXPECT_TRUE(b.net.user(0).is_assigned());
    EXPECT_FALSE(b.net.user(1).is_assigned());
    EXPECT_TRUE(b.net.user(2).is_assigned());
    for (unsigned k : {0u, 2u}) {
        EXPECT_EQ(ISDN::LAPDFullState::multipleFrameEstablished, b.t[k]->state()) << k;
        EXPECT_TRUE(b.upwards(k).empty()) << k;
    }
}

// TEI management and the data link of one entry, with a scripted terminal.
TEST(LapdNt, AssignsTeisAndRunsEachLink)
{
    Bus b(0);
    Bytes const info = {0x08, 0x01, 0x06, 0x0F};
    // The k-th message of the call on TEI 70, as it is sent.
    auto seventy = [](std::uint8_t k) { return netI(70, k, 1, {0x08, 0x01, 0x07, 0x6E, k}); };
    run(b, {
               {"activation", [](Bus& x) { x.net.activate(); }, {kCheckRequest}, {"activated"}},
               {"a SETUP is broadcast with no terminal assigned", down(kSetup), {kBroadcastSetup}, {}},
               {"eight identity requests: TEIs 64 to 71",
                peer({request(0x100), request(0x101), request(0x102), request(0x103), request(0x104), request(0x105),
                      request(0x106), request(0x107)}),
                {assigned(0x100, 64), establish(64), assigned(0x101, 65), establish(65), assigned(0x102, 66), establish(66),
                 assigned(0x103, 67), establish(67), assigned(0x104, 68), establish(68), assigned(0x105, 69), establish(69),
                 assigned(0x106, 70), establish(70), assigned(0x107, 71), establish(71)},
                {}},
               {"the ninth is denied with Ai 127", peer({request(0x1FF)}), {denied(0x1FF, 127)}, {}},
               {"Ai 70 is denied with Ai 70, Ai 10 not answered", peer({request(0x222, 70), request(0x333, 10)}),
                {denied(0x222, 70)}, {}},
               {"an entry claims no call before its terminal does, not even call reference 0",
                down({0x08, 0x01, 0x00, 0x0F}), {}, {}},
               {"all eight in use: a frame from TEI 5 gets two removes", peer({userS(5, 0, true, 0, true)}),
                {removal(5), removal(5)}, {}},
               {"DISC from 71: UA, the entry is free", peer({{0x00, 71 << 1 | 1, 0x53}}), {{0x00, 71 << 1 | 1, 0x73}}, {}},
               {"a frame from unknown TEI 5 takes it: SABME, then the frame (P set: RR)",
                peer({userI(5, 0, 0, true, {0x08, 0x01, 0x86, 0x05})}), {establish(5), rr(5, false, 1, true)},
                {"up: 08 01 86 05"}},
               {"a message of its call goes to it", down(info), {netI(5, 0, 1, info)}, {}},
               {"an I-frame with P clear is not answered", peer({userI(5, 1, 1, false, {0x08, 0x01, 0x86, 0x07})}), {},
                {"up: 08 01 86 07"}},
               {"another message", down(info), {netI(5, 1, 2, info)}, {}},
               {"a 3-octet field is not delivered; its N(R) acknowledges",
                [](Bus& x) {
                    x.net.peer(userI(5, 2, 2, false, {0x08, 0x01, 0x86}));
                    testsupport::advance(x.clock, 1000);
                },
                {}, {}},
               {"V(R) advanced by it", down(info), {netI(5, 2, 3, info)}, {}},
               {"a REJ repeating the last acknowledgement resends", peer({userS(5, 2, false, 2, false)}),
                {netI(5, 2, 3, info)}, {}},
               {"the first frame of a new call rejected at once is resent",
                [info](Bus& x) {
                    x.net.peer(userI(70, 0, 0, false, {0x08, 0x01, 0x87, 0x05}));
                    x.net.down({0x08, 0x01, 0x07, 0x0F});
                    x.net.peer(userS(70, 2, false, 0, false));
                },
                {netI(70, 0, 1, {0x08, 0x01, 0x07, 0x0F}), netI(70, 0, 1, {0x08, 0x01, 0x07, 0x0F})},
                {"up: 08 01 87 05"}},
               {"seven frames outstanding: the next two wait",
                [](Bus& x) {
                    for (std::uint8_t k = 1; k <= 8; ++k)
                        x.net.down({0x08, 0x01, 0x07, 0x6E, k});
                },
                {seventy(1), seventy(2), seventy(3), seventy(4), seventy(5), seventy(6)},
                {}},
               {"two acknowledged: the two go", peer({userS(70, 0, false, 2, false)}), {seventy(7), seventy(8)}, {}},
               {"the frames still unacknowledged after 1000 ms are sent again", after(1000),
                {netI(5, 2, 3, info), seventy(2), seventy(3), seventy(4), seventy(5), seventy(6), seventy(7), seventy(8)},
                {}},
               {"a check answer for a TEI never checked is a duplicate", peer({checkResponse(0, 65)}),
                {removal(65), removal(65)}, {}},
               {"deactivation sends nothing", [](Bus& x) { x.net.deactivate(); }, {}, {}},
               {"and frees every entry", expectAssigned(0, false), {}, {}},
           });
}

// The supervision of a silent terminal and the identity check cycle.
TEST(LapdNt, PollsAndChecks)
{
    Bus b(0);
    run(b, {
               {"activation", [](Bus& x) { x.net.activate(); }, {kCheckRequest}, {"activated"}},
               {"two terminals", peer({request(1), request(2)}), {assigned(1, 64), establish(64), assigned(2, 65), establish(65)},
                {}},
               {"a verify request checks at once", peer({ours(teiFrame(7, 7, 127))}), {kCheckRequest}, {}},
               {"64 answers", peer({checkResponse(0x1111, 64)}), {}, {}},
               {"65 does not: removed after 2000 ms", after(2000), {}, {}},
               {"65 is free", expectAssigned(1, false), {}, {}},
               {"the same answer again is ignored", peer({checkResponse(0x1111, 64)}), {}, {}},
               {"another Ri for 64 removes it", peer({checkResponse(0x2222, 64)}), {removal(64), removal(64)}, {}},
               {"an answer for 66, which has no entry, takes one", peer({checkResponse(0x3333, 66)}), {establish(66)}, {}},
               {"an answer with Ai 127 is removed", peer({checkResponse(0x4444, 127)}), {removal(127), removal(127)}, {}},
               {"66 stays silent for 9999 ms", after(9999), {}, {}},
               {"then it is polled", after(1), {rr(66, true, 0, true)}, {}},
               {"and polled again three times", after(3000),
                {rr(66, true, 0, true), rr(66, true, 0, true), rr(66, true, 0, true)}, {}},
               {"the fourth expiry gives it up", after(1000), {}, {}},
               {"66 is free", expectAssigned(0, false), {}, {}},
               {"the check cycle comes round 60000 ms after the last", after(60000 - 16000), {kCheckRequest}, {}},
           });
}

// However a terminal goes, what was queued for it goes with it: the frames waiting for its
// acknowledgement and the messages waiting behind them give their packets back at once.
TEST(LapdNt, ATerminalGivenUpHoldsNoPacket)
{
    struct Case {
        char const* what;
        std::function<void(Bus&)> lose;
    } const cases[] = {
        {"deactivation", [](Bus& x) { x.net.deactivate(); }},
        {"DISC", peer({{0x00, 64 << 1 | 1, 0x53}})},
        {"DM", peer({ours(unnumbered(false, 0x0F, true, 64))})},
        {"the identity check unanswered", [](Bus& x) {
             x.net.peer(ours(teiFrame(7, 7, 127)));
             testsupport::advance(x.clock, ISDN::LAPD_NT_user::kCheckWait);
         }},
        {"N200 expiries", after(ISDN::LAPD_NT_user::kT200 * (ISDN::LAPD_NT_user::kN200 + 1))},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        Bus b(0);
        b.net.activate();
        unsigned const free = _Packet::Pool::available();
        b.net.peer(request(1));
        b.net.peer(userI(64, 0, 0, false, kSetup));
        // After the identity check, the assignment and the SABME, seven go out unacknowledged;
        // three wait.
        for (std::uint8_t k = 0; k < 10; ++k)
            b.net.down({0x08, 0x01, 0x85, 0x07, k});
        EXPECT_EQ(3u + 7u, b.sent().size());
        c.lose(b);
        EXPECT_FALSE(b.net.user(0).is_assigned());
        EXPECT_EQ(free, _Packet::Pool::available());
    }
}

}  // namespace
