#include "signalling/lapd_nt.h"

#include "base/clock.h"
#include "signalling/lapd.h"
#include "signalling/lapd_test_support.h"
#include "tests/loop_pump.h"
#include "tests/memory_hdlc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using lapdtest::Bytes;

Bytes packetBytes(Packet const& p) { return Bytes(p.data(), p.data() + p.length()); }
Packet packetOf(Bytes const& b)
{
    Packet p;
    p.reserve_head(8);
    for (std::uint8_t x : b)
        p.put8(x);
    return p;
}
// A layer-3 message handed down a stack.
void sendDown(ProtocolsFamily& stack, Bytes const& message)
{
    Packet p;
    stack.prepare_head(p);
    for (std::uint8_t x : message)
        p.put8(x);
    stack.message(p);
}

// The network side alone in a stack: what it transmits is kept, what it delivers journaled.
class Network : public ProtocolsFamily {
public:
    Network() : link(new ISDN::LAPD_NT) { add_protocol_tail(link); }

    void transmit(Packet& p) override { sent.push_back(packetBytes(p)); }
    void on_message(Packet& p) override { events.push_back("up: " + p.text()); }
    void on_activated(Protocol*) override { events.push_back("activated"); }

    // A frame from the bus.
    void peer(Bytes const& frame)
    {
        Packet p = packetOf(frame);
        receive(p);
    }
    void down(Bytes const& message) { sendDown(*this, message); }
    template <class T>
    std::vector<T> take(std::vector<T>& from)
    {
        std::vector<T> out;
        out.swap(from);
        return out;
    }
    ISDN::LAPD_NT_user const& user(unsigned i) const { return link->user(i); }

    ISDN::LAPD_NT* link;  // owned by the stack
    std::vector<Bytes> sent;
    std::vector<std::string> events;
};

// A basic-rate user-side link in its own stack on an in-memory channel.
class Terminal : public ProtocolsFamily {
public:
    Terminal() : link(new ISDN::LAPD(ISDN::Side::user, 0))
    {
        add_protocol_tail(link);
        link->hdlc(&channel);
        link->change_to_bri();
        channel.bind(link);
    }
    void down(Bytes const& message) { sendDown(*this, message); }
    void on_message(Packet& p) override { events.push_back("up: " + p.text()); }
    void on_activated(Protocol*) override { events.push_back("activated"); }
    void on_deactivated(Protocol*, Protocol_status) override { events.push_back("deactivated"); }
    void on_status(Protocol_status) override {}
    int state() const
    {
        ACP::IsdnLinkInfo i;
        link->GetInfo(i);
        return i.get_lapdState().asInt();
    }

    testsupport::MemoryHdlc channel;
    ISDN::LAPD* link;
    std::vector<std::string> events;
    // Cut off the bus: hears nothing, is not heard.
    bool silent = false;
};

// The network side and its terminals on one bus, on the test clock.
struct Bus {
    explicit Bus(unsigned terminals)
    {
        for (unsigned i = 0; i < terminals; ++i)
            t.push_back(std::make_unique<Terminal>());
    }
    // Carries frames both ways until the bus is quiet; every frame the network sends is kept.
    void pump()
    {
        for (bool moved = true; moved;) {
            moved = false;
            std::vector<Bytes> down(net.sent.begin() + long(carried), net.sent.end());
            carried = net.sent.size();
            for (Bytes const& f : down)
                for (auto& x : t)
                    if (!x->silent)
                        x->channel.deliver(f);
            for (auto& x : t)
                for (Bytes const& f : x->channel.take())
                    if (!x->silent) {
                        net.peer(f);
                        moved = true;
                    }
            moved = moved || carried != net.sent.size();
        }
    }
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
        return net.take(net.sent);
    }

    Mux::TestClock clock;
    Network net;
    std::vector<std::unique_ptr<Terminal>> t;
    std::size_t carried = 0;
};

// Frames of the network side.
Bytes management(unsigned ri, unsigned type, unsigned ai, bool network = true)
{
    return {std::uint8_t(network ? 0xFE : 0xFC), 0xFF, 0x03, 0x0F, std::uint8_t(ri & 0xFF), std::uint8_t(ri >> 8),
            std::uint8_t(type), std::uint8_t(ai << 1 | 1)};
}
Bytes assigned(unsigned ri, unsigned tei) { return management(ri, 2, tei); }
Bytes denied(unsigned ri, unsigned ai) { return management(ri, 3, ai); }
Bytes removal(unsigned tei) { return management(0, 6, tei); }
Bytes const kCheckRequest = management(0, 4, 127);
Bytes sabme(unsigned tei) { return {0x02, std::uint8_t(tei << 1 | 1), 0x7F}; }
// RR: a network command has C/R 1, a network response C/R 0.
Bytes rr(unsigned tei, bool command, unsigned nr, bool pf)
{
    return {std::uint8_t(command ? 0x02 : 0x00), std::uint8_t(tei << 1 | 1), 0x01, std::uint8_t(nr << 1 | (pf ? 1 : 0))};
}
Bytes iframe(unsigned tei, unsigned ns, unsigned nr, Bytes const& info)
{
    Bytes f = {0x02, std::uint8_t(tei << 1 | 1), std::uint8_t(ns << 1), std::uint8_t(nr << 1 | 1)};
    f.insert(f.end(), info.begin(), info.end());
    return f;
}
// Frames of a terminal: its commands carry C/R 0, its responses C/R 1.
Bytes request(unsigned ri, unsigned ai = 127) { return management(ri, 1, ai, false); }
Bytes checkResponse(unsigned ri, unsigned tei) { return management(ri, 5, tei, false); }
Bytes userI(unsigned tei, unsigned ns, unsigned nr, bool p, Bytes const& info)
{
    Bytes f = {0x00, std::uint8_t(tei << 1 | 1), std::uint8_t(ns << 1), std::uint8_t(nr << 1 | (p ? 1 : 0))};
    f.insert(f.end(), info.begin(), info.end());
    return f;
}
// RR (0x01) or REJ (0x09) from a terminal.
Bytes userS(unsigned tei, unsigned char control, bool command, unsigned nr, bool pf)
{
    return {std::uint8_t(command ? 0x00 : 0x02), std::uint8_t(tei << 1 | 1), control, std::uint8_t(nr << 1 | (pf ? 1 : 0))};
}

Bytes const kSetup = {0x08, 0x01, 0x05, 0x05};
Bytes const kBroadcastSetup = {0x02, 0xFF, 0x03, 0x08, 0x01, 0x05, 0x05};

// One step: what happens, the frames the network sends (exactly) and what it delivers.
struct Step {
    char const* what;
    std::function<void(Bus&)> act;
    std::vector<Bytes> sent;
    std::vector<std::string> events;
};

void run(Bus& b, std::vector<Step> const& steps)
{
    for (Step const& s : steps) {
        s.act(b);
        EXPECT_EQ(s.sent, b.sent()) << s.what;
        EXPECT_EQ(s.events, b.net.take(b.net.events)) << s.what;
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
std::function<void(Bus&)> wait(unsigned ms)
{
    return [ms](Bus& b) { testsupport::advance(b.clock, ms); };
}
std::function<void(Bus&)> expectAssigned(unsigned index, bool assigned)
{
    return [index, assigned](Bus& b) { EXPECT_EQ(assigned, b.net.user(index).is_assigned()) << index; };
}

// Three user-side terminals obtain TEIs 64, 65, 66 and their links; a SETUP reaches all of
// them; a terminal's answer claims the call, whose messages then go to it alone.
TEST(LapdNt, ServesTerminalsOnTheBus)
{
    std::vector<unsigned> const ri = lapdtest::seedRi(27, 3);
    Bus b(3);
    run(b, {
               {"activation: identity check, reported active", [](Bus& x) { x.net.activate(); }, {kCheckRequest},
                {"activated"}},
               {"three identity requests: 64, 65, 66 with Ri echoed, a SABME after each",
                [](Bus& x) {
                    for (auto& t : x.t)
                        t->link->BeginTeiAssignProcedure();
                    x.pump();
                    for (auto& t : x.t) {
                        EXPECT_EQ(ISDN::LAPDFullState::multipleFrameEstablished, t->state());
                        EXPECT_EQ(std::vector<std::string>{"activated"}, x.net.take(t->events));
                    }
                },
                {assigned(ri[0], 64), sabme(64), assigned(ri[1], 65), sabme(65), assigned(ri[2], 66), sabme(66)},
                {}},
               {"a SETUP is broadcast to every terminal",
                [](Bus& x) {
                    x.net.down(kSetup);
                    x.pump();
                    for (auto& t : x.t)
                        EXPECT_EQ(std::vector<std::string>{"up: 08 01 05 05"}, x.net.take(t->events));
                },
                {kBroadcastSetup},
                {}},
               {"the second terminal answers: its I-frame goes up",
                [](Bus& x) {
                    x.t[1]->down({0x08, 0x01, 0x85, 0x07});
                    x.pump();
                },
                {},
                {"up: 08 01 85 07"}},
               {"the call's next message goes to it with P set; it acknowledges",
                [](Bus& x) {
                    x.net.down({0x08, 0x01, 0x05, 0x0F});
                    x.pump();
                    EXPECT_EQ(std::vector<std::string>{"up: 08 01 05 0F"}, x.net.take(x.t[1]->events));
                    EXPECT_TRUE(x.net.take(x.t[0]->events).empty());
                    EXPECT_EQ(ISDN::LAPD_NT_user::assigned, x.net.user(1).state());
                },
                {iframe(65, 0, 1, {0x08, 0x01, 0x05, 0x0F})},
                {}},
               {"a message of a call no terminal claimed is dropped", down({0x08, 0x01, 0x09, 0x0F}), {}, {}},
               {"a call reference held by two terminals goes to the lower entry",
                [](Bus& x) {
                    x.t[0]->down({0x08, 0x01, 0x85, 0x07});
                    x.pump();
                    x.net.down({0x08, 0x01, 0x05, 0x4D});
                    x.pump();
                    EXPECT_EQ(std::vector<std::string>{"up: 08 01 05 4D"}, x.net.take(x.t[0]->events));
                },
                {iframe(64, 0, 1, {0x08, 0x01, 0x05, 0x4D})},
                {"up: 08 01 85 07"}},
           });
}

// TEI management and the data link of one entry, with a scripted terminal.
TEST(LapdNt, AssignsTeisAndRunsEachLink)
{
    Bus b(0);
    Bytes const info = {0x08, 0x01, 0x06, 0x0F};
    run(b, {
               {"activation", [](Bus& x) { x.net.activate(); }, {kCheckRequest}, {"activated"}},
               {"a SETUP is broadcast with no terminal assigned", down(kSetup), {kBroadcastSetup}, {}},
               {"eight identity requests: TEIs 64 to 71",
                peer({request(0x100), request(0x101), request(0x102), request(0x103), request(0x104), request(0x105),
                      request(0x106), request(0x107)}),
                {assigned(0x100, 64), sabme(64), assigned(0x101, 65), sabme(65), assigned(0x102, 66), sabme(66),
                 assigned(0x103, 67), sabme(67), assigned(0x104, 68), sabme(68), assigned(0x105, 69), sabme(69),
                 assigned(0x106, 70), sabme(70), assigned(0x107, 71), sabme(71)},
                {}},
               {"the ninth is denied with Ai 127", peer({request(0x1FF)}), {denied(0x1FF, 127)}, {}},
               {"Ai 70 is denied with Ai 70, Ai 10 not answered", peer({request(0x222, 70), request(0x333, 10)}),
                {denied(0x222, 70)}, {}},
               {"an entry claims no call before its terminal does, not even call reference 0",
                down({0x08, 0x01, 0x00, 0x0F}), {}, {}},
               {"all eight in use: a frame from TEI 5 gets two removes", peer({userS(5, 0x01, true, 0, true)}),
                {removal(5), removal(5)}, {}},
               {"DISC from 71: UA, the entry is free", peer({{0x00, 71 << 1 | 1, 0x53}}), {{0x00, 71 << 1 | 1, 0x73}}, {}},
               {"a frame from unknown TEI 5 takes it: SABME, then the frame (P set: RR)",
                peer({userI(5, 0, 0, true, {0x08, 0x01, 0x86, 0x05})}), {sabme(5), rr(5, false, 1, true)},
                {"up: 08 01 86 05"}},
               {"a message of its call goes to it", down(info), {iframe(5, 0, 1, info)}, {}},
               {"an I-frame with P clear is not answered", peer({userI(5, 1, 1, false, {0x08, 0x01, 0x86, 0x07})}), {},
                {"up: 08 01 86 07"}},
               {"another message", down(info), {iframe(5, 1, 2, info)}, {}},
               {"a 3-octet field is not delivered; its N(R) acknowledges",
                [](Bus& x) {
                    x.net.peer(userI(5, 2, 2, false, {0x08, 0x01, 0x86}));
                    testsupport::advance(x.clock, 1000);
                },
                {}, {}},
               {"V(R) advanced by it", down(info), {iframe(5, 2, 3, info)}, {}},
               {"a REJ repeating the last acknowledgement resends", peer({userS(5, 0x09, false, 2, false)}),
                {iframe(5, 2, 3, info)}, {}},
               {"the first frame of a new call rejected at once is resent",
                [info](Bus& x) {
                    x.net.peer(userI(70, 0, 0, false, {0x08, 0x01, 0x87, 0x05}));
                    x.net.down({0x08, 0x01, 0x07, 0x0F});
                    x.net.peer(userS(70, 0x09, false, 0, false));
                },
                {iframe(70, 0, 1, {0x08, 0x01, 0x07, 0x0F}), iframe(70, 0, 1, {0x08, 0x01, 0x07, 0x0F})},
                {"up: 08 01 87 05"}},
               {"seven frames outstanding: the next two wait",
                [](Bus& x) {
                    for (std::uint8_t k = 1; k <= 8; ++k)
                        x.net.down({0x08, 0x01, 0x07, 0x6E, k});
                },
                {iframe(70, 1, 1, {0x08, 0x01, 0x07, 0x6E, 1}), iframe(70, 2, 1, {0x08, 0x01, 0x07, 0x6E, 2}),
                 iframe(70, 3, 1, {0x08, 0x01, 0x07, 0x6E, 3}), iframe(70, 4, 1, {0x08, 0x01, 0x07, 0x6E, 4}),
                 iframe(70, 5, 1, {0x08, 0x01, 0x07, 0x6E, 5}), iframe(70, 6, 1, {0x08, 0x01, 0x07, 0x6E, 6})},
                {}},
               {"two acknowledged: the two go", peer({userS(70, 0x01, false, 2, false)}),
                {iframe(70, 7, 1, {0x08, 0x01, 0x07, 0x6E, 7}), iframe(70, 8, 1, {0x08, 0x01, 0x07, 0x6E, 8})}, {}},
               {"the frames still unacknowledged after 1000 ms are sent again", wait(1000),
                {iframe(5, 2, 3, info), iframe(70, 2, 1, {0x08, 0x01, 0x07, 0x6E, 2}), iframe(70, 3, 1, {0x08, 0x01, 0x07, 0x6E, 3}),
                 iframe(70, 4, 1, {0x08, 0x01, 0x07, 0x6E, 4}), iframe(70, 5, 1, {0x08, 0x01, 0x07, 0x6E, 5}),
                 iframe(70, 6, 1, {0x08, 0x01, 0x07, 0x6E, 6}), iframe(70, 7, 1, {0x08, 0x01, 0x07, 0x6E, 7}),
                 iframe(70, 8, 1, {0x08, 0x01, 0x07, 0x6E, 8})},
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
               {"two terminals", peer({request(1), request(2)}), {assigned(1, 64), sabme(64), assigned(2, 65), sabme(65)},
                {}},
               {"a verify request checks at once", peer({management(7, 7, 127, false)}), {kCheckRequest}, {}},
               {"64 answers", peer({checkResponse(0x1111, 64)}), {}, {}},
               {"65 does not: removed after 2000 ms", wait(2000), {}, {}},
               {"65 is free", expectAssigned(1, false), {}, {}},
               {"the same answer again is ignored", peer({checkResponse(0x1111, 64)}), {}, {}},
               {"another Ri for 64 removes it", peer({checkResponse(0x2222, 64)}), {removal(64), removal(64)}, {}},
               {"an answer for 66, which has no entry, takes one", peer({checkResponse(0x3333, 66)}), {sabme(66)}, {}},
               {"an answer with Ai 127 is removed", peer({checkResponse(0x4444, 127)}), {removal(127), removal(127)}, {}},
               {"66 stays silent for 9999 ms", wait(9999), {}, {}},
               {"then it is polled", wait(1), {rr(66, true, 0, true)}, {}},
               {"and polled again three times", wait(3000),
                {rr(66, true, 0, true), rr(66, true, 0, true), rr(66, true, 0, true)}, {}},
               {"the fourth expiry gives it up", wait(1000), {}, {}},
               {"66 is free", expectAssigned(0, false), {}, {}},
               {"the check cycle comes round 60000 ms after the last", wait(60000 - 16000), {kCheckRequest}, {}},
           });
}

// Live terminals keep their TEIs through polls, their own enquiries and the check cycle; a
// terminal cut off the bus loses its TEI.
TEST(LapdNt, KeepsLiveTerminalsAndDropsASilentOne)
{
    lapdtest::seedRi(31, 3);
    Bus b(3);
    b.net.activate();
    for (auto& t : b.t)
        t->link->BeginTeiAssignProcedure();
    b.pump();
    b.t[1]->silent = true;
    testsupport::CaptureStream quiet(std::clog);
    b.run(63000);
    EXPECT_TRUE(b.net.user(0).is_assigned());
    EXPECT_FALSE(b.net.user(1).is_assigned());
    EXPECT_TRUE(b.net.user(2).is_assigned());
    EXPECT_EQ(ISDN::LAPDFullState::multipleFrameEstablished, b.t[0]->state());
    EXPECT_EQ(ISDN::LAPDFullState::multipleFrameEstablished, b.t[2]->state());
    for (unsigned k : {0u, 2u})
        EXPECT_EQ(std::vector<std::string>{"activated"}, b.net.take(b.t[k]->events)) << k;
}

}  // namespace
