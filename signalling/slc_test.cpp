#include "signalling/slc.h"

#include "base/clock.h"
#include "base/packet.h"
#include "signalling/link_test_support.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/pcap_writer.h"
#include "tests/tshark.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using linktest::Bytes;
typedef SS7::SLC::State S;

// A link alone in a stack on an in-memory channel.
struct Side : linktest::Stack<SS7::SLC> {
    explicit Side(bool emergency = false) { link->set_emergency(emergency); }
    int state() const { return link->get_state_id(); }
    std::uint32_t counter(unsigned i) const { return link->statistics()[i]; }
};

struct Bench : Side {
    using Side::Side;
    void wait(unsigned ms) { testsupport::advance(clock, ms); }
    // Aligned with the peer and in service, the frames and reports taken.
    void inService()
    {
        activate();
        peer(lssu(SS7::SLC::SIN));
        peer({0xFF, 0xFF, 0x00});
        channel.take();
        take();
    }
    static Bytes lssu(unsigned indication) { return {0xFF, 0xFF, 0x01, std::uint8_t(indication)}; }

    Mux::TestClock clock;
};

// A signal unit with its header; the LI says the payload's length (63 above 62).
Bytes su(unsigned bsn, bool bib, unsigned fsn, bool fib, Bytes const& payload = {})
{
    Bytes f = {std::uint8_t(bsn | (bib ? 0x80 : 0)), std::uint8_t(fsn | (fib ? 0x80 : 0)),
               std::uint8_t(payload.size() <= 62 ? payload.size() : 63)};
    f.reserve(f.size() + payload.size());
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}
Bytes payload(unsigned n, std::uint8_t first = 0x80)
{
    Bytes p;
    for (unsigned i = 0; i < n; ++i)
        p.push_back(std::uint8_t(first + i));
    return p;
}

// The octets as Packet::text writes them.
std::string text(Bytes const& b)
{
    std::string out;
    static char const digits[] = "0123456789ABCDEF";
    for (std::uint8_t x : b)
        out += std::string(out.empty() ? "" : " ") + digits[x >> 4] + digits[x & 0xF];
    return out;
}

Bytes const kSio = Bench::lssu(0), kSin = Bench::lssu(1), kSie = Bench::lssu(2), kSios = Bench::lssu(3);
Bytes const kFisu = {0xFF, 0xFF, 0x00};
char const kDown[] = "deactivated: impossible phasing";

typedef linktest::Step<Bench> Step;
void run(Bench& b, std::vector<Step> const& steps) { linktest::run(b, steps); }

std::function<void(Bench&)> peer(Bytes f)
{
    return [f](Bench& b) { b.peer(f); };
}
std::function<void(Bench&)> wait(unsigned ms)
{
    return [ms](Bench& b) { b.wait(ms); };
}

// Alignment, proving, the failures that end them, and what restarts an idle link (normal
// proving).
std::vector<Step> alignmentScenario()
{
    return {
        {"activation sends SIO", [](Bench& b) { b.activate(); }, {kSio}, S::not_aligned, {}},
        {"a message from above before service is dropped", [](Bench& b) { b.down(payload(3)); }, {}, S::not_aligned, {}},
        {"T2 expiry fails the link", wait(7000), {kSios}, S::idle, {kDown}},
        {"after a failure the peer's SIO realigns", peer(kSio), {kSin}, S::aligned, {}},
        {"T3 expiry", wait(1500), {kSios}, S::idle, {kDown}},
        {"the peer's SIN: proving", peer(kSin), {kSin}, S::proving, {}},
        {"SIN and SIE in proving are ignored",
         [](Bench& b) {
             b.peer(kSin);
             b.peer(kSie);
         },
         {}, S::proving, {}},
        {"T4 expiry: aligned ready, one FISU", wait(8200), {kFisu}, S::aligned_ready, {}},
        {"T1 expiry", wait(45000), {kSios}, S::idle, {kDown}},
        {"the peer's SIE: proving without emergency", peer(kSie), {kSin}, S::proving, {}},
        {"SIO in proving fails the link", peer(kSio), {kSios}, S::idle, {kDown}},
        {"proving again", peer(kSin), {kSin}, S::proving, {}},
        {"an MSU in proving: in service, not delivered", peer(su(127, true, 0, true, payload(3))), {kFisu, kFisu},
         S::in_service, {"activated"}},
        {"activation in service reports active again", [](Bench& b) { b.activate(); }, {}, S::in_service, {"activated"}},
        {"an LSSU in service fails the link",
         [](Bench& b) {
             testsupport::CaptureStream err(std::cerr);
             b.peer(kSie);
             EXPECT_NE(err.text().find("SS7/L2 [dpc=0, slc=0, trunk=0] (worked): receive lssu: emergency alignment  "
                                       "BSN=127 BIB=1 FSN=127 FIB=1\n"),
                       std::string::npos)
                 << err.text();
         },
         {kSios}, S::idle, {kDown}},
        {"deactivated: the peer's SIO does not realign",
         [](Bench& b) {
             b.deactivate();
             b.peer(kSio);
         },
         {kSios}, S::idle, {kDown}},
        {"deactivating an idle link sends SIOS and reports again", [](Bench& b) { b.deactivate(); }, {kSios}, S::idle,
         {kDown}},
        {"activation; a second one is ignored",
         [](Bench& b) {
             b.activate();
             b.activate();
         },
         {kSio}, S::not_aligned, {}},
        {"a trunk alarm fails the link", [](Bench& b) { b.link->OnTrunkHardStatus(false); }, {kSios}, S::idle, {kDown}},
        {"after the alarm neither the peer nor the trunk's return restarts it",
         [](Bench& b) {
             b.peer(kSio);
             b.link->OnTrunkHardStatus(true);
         },
         {}, S::idle, {}},
        {"an alarm for an idle link does nothing", [](Bench& b) { b.link->OnTrunkHardStatus(false); }, {}, S::idle, {}},
    };
}

// In service: sending with its sequence numbers and LI, acknowledgement, duplicates, negative
// acknowledgement, retransmission, and the failures of bad BSNs and FIBs.
std::vector<Step> serviceScenario()
{
    Bytes const a = payload(3, 0xA0), b3 = payload(3, 0xB0), c = payload(3, 0xC0);
    auto counters = [](std::vector<unsigned> which, std::vector<std::uint32_t> values) {
        return [which, values](Bench& b) {
            for (std::size_t i = 0; i < which.size(); ++i)
                EXPECT_EQ(values[i], b.counter(which[i])) << "counter " << which[i];
        };
    };
    return {
        {"the first MSU goes with FSN 0", [a](Bench& b) { b.down(a); }, {su(127, true, 0, true, a)}, S::in_service, {}},
        {"62 octets with LI 62, 63 with LI 63",
         [](Bench& b) {
             b.down(payload(62));
             b.down(payload(63));
         },
         {su(127, true, 1, true, payload(62)), su(127, true, 2, true, payload(63))}, S::in_service, {}},
        {"the peer acknowledges two", peer(su(1, true, 127, true)), {}, S::in_service, {}},
        {"one left in the RTB", counters({5}, {1}), {}, S::in_service, {}},
        {"an MSU in sequence goes up; a FISU acknowledges it", peer(su(2, true, 0, true, c)), {su(0, true, 2, true)},
         S::in_service, {"up: C0 C1 C2"}},
        {"a duplicate is dropped and its BSN not looked at", peer(su(99, true, 0, true, c)), {}, S::in_service, {}},
        {"one out-of-range BSN is ignored", peer(su(99, true, 1, true, c)), {su(1, true, 2, true)}, S::in_service,
         {"up: C0 C1 C2"}},
        {"an in-range BSN clears it", peer(su(2, true, 1, true)), {}, S::in_service, {}},
        {"an MSU out of sequence: BIB inverted, one FISU", peer(su(2, true, 3, true, c)), {su(1, false, 2, true)},
         S::in_service, {}},
        {"until the peer's FIB follows, MSUs are dropped", peer(su(2, true, 4, true, c)), {}, S::in_service, {}},
        {"the retransmission is accepted", peer(su(2, true, 2, false, c)), {su(2, false, 2, true)}, S::in_service,
         {"up: C0 C1 C2"}},
        {"two more MSUs",
         [a, b3](Bench& b) {
             b.down(a);
             b.down(b3);
         },
         {su(2, false, 3, true, a), su(2, false, 4, true, b3)}, S::in_service, {}},
        {"a BIB other than the last FIB resends the RTB, oldest first", peer(su(2, false, 2, false)),
         {su(2, false, 3, false, a), su(2, false, 4, false, b3)}, S::in_service, {}},
        {"counted: one retransmission, one negative acknowledgement", counters({6, 7}, {1, 1}), {}, S::in_service, {}},
        {"a bad FIB without a nack is noted once", peer(su(4, true, 2, true)), {}, S::in_service, {}},
        {"a second fails the link", peer(su(4, true, 2, true)), {kSios}, S::idle, {kDown}},
        {"aligned again", [](Bench& b) { b.inService(); }, {}, S::in_service, {}},
        {"a bad BSN is noted once", peer(su(50, true, 0, true, c)), {su(0, true, 127, true)}, S::in_service,
         {"up: C0 C1 C2"}},
        {"a second fails the link; its MSU is not taken", peer(su(50, true, 1, true, c)), {kSios}, S::idle, {kDown}},
    };
}

TEST(Slc, AlignsProvesAndFails)
{
    Bench b;
    run(b, alignmentScenario());
}

TEST(Slc, CarriesAcknowledgesAndRetransmitsInService)
{
    Bench b;
    b.inService();
    run(b, serviceScenario());
}

// The length indicator against what follows the header.
TEST(Slc, ChecksTheLengthIndicator)
{
    struct Case {
        char const* what;
        Bytes frame;
        char const* logged;  // on the error stream; "" for nothing
        std::vector<std::string> events;
    } const cases[] = {
        {"2 octets: dropped", {0xFF, 0xFF}, "ignore packet, length too small FF FF\n", {}},
        {"LI 5, 8 octets: cut to 5", {0xFF, 0x80, 5, 1, 2, 3, 4, 5, 6, 7, 8},
         "invalid packet length, expected = 5, received = 8\n"
         "SS7/L2 [dpc=0, slc=0, trunk=0] (worked): truncate 3 octet(s) : 01 02 03 04 05 06 07 08\n",
         {"up: 01 02 03 04 05"}},
        {"LI 10, 5 octets: taken as they are", {0xFF, 0x80, 10, 1, 2, 3, 4, 5},
         "invalid packet length, expected = 10, received = 5\n", {"up: 01 02 03 04 05"}},
        {"70 octets, LI 63: silent", su(127, true, 0, true, payload(70)), "", {"up: " + text(payload(70))}},
        {"70 octets, LI 62: not cut",
         [] {
             Bytes f = su(127, true, 0, true, payload(70));
             f[2] = 62;
             return f;
         }(),
         "invalid packet length, expected = 62, received = 70\nSS7/L2 [dpc=0, slc=0, trunk=0] (worked): can't "
         "truncate signalling unit.\n",
         {"up: " + text(payload(70))}},
    };
    for (Case const& c : cases) {
        Bench b;
        b.inService();
        std::uint32_t const received = b.counter(1), octets = b.counter(3);
        testsupport::CaptureStream err(std::cerr);
        b.peer(c.frame);
        EXPECT_EQ(c.events, b.take()) << c.what;
        std::string const text = err.text();
        if (*c.logged == '\0')
            EXPECT_EQ("", text) << c.what;
        else
            EXPECT_NE(std::string::npos, text.find(c.logged)) << c.what << "\n" << text;
        EXPECT_EQ(octets + c.frame.size(), b.counter(3)) << c.what;
        EXPECT_EQ(received + (c.frame.size() >= 3 ? 1 : 0), b.counter(1)) << c.what;
    }
}

// 200 MSUs waiting: the next is refused and counted; 127 unacknowledged: the next waits for
// an acknowledgement.
TEST(Slc, BoundsItsBuffers)
{
    Bench b;
    b.inService();
    for (unsigned i = 0; i < 127; ++i)
        b.down({std::uint8_t(i), 0, 0});
    EXPECT_EQ(127u, b.channel.take().size());
    EXPECT_EQ(127u, b.counter(5));
    {
        testsupport::CaptureStream err(std::cerr);
        for (unsigned i = 0; i < 201; ++i)
            b.down({0xEE, std::uint8_t(i), 0});
        EXPECT_NE(std::string::npos, err.text().find("no space in TB buffer, TB=200 RTB=127 ignoring msu: EE C8 00\n"))
            << err.text();
    }
    EXPECT_EQ(1u, b.counter(4));
    EXPECT_TRUE(b.channel.take().empty());
    // Two acknowledged: two wait no longer.
    b.peer(su(1, true, 127, true));
    EXPECT_EQ((std::vector<Bytes>{su(127, true, 127, true, {0xEE, 0, 0}), su(127, true, 0, true, {0xEE, 1, 0})}),
              b.channel.take());
}

// A frame the channel refuses stays first in the TB, and the FISUs meanwhile claim only what
// went out; the TB is discarded when the link leaves service, its packets back in the pool.
TEST(Slc, WaitsForTheChannelAndDiscardsTheTbWhenLeavingService)
{
    Bench b;
    b.inService();
    unsigned const free = _Packet::Pool::available();
    b.channel.refusing = true;
    b.down(payload(3));
    b.channel.refusing = false;
    b.peer(su(127, true, 0, true, payload(3, 0x10)));
    EXPECT_EQ(std::vector<Bytes>{su(0, true, 127, true)}, b.channel.take());
    b.channel.ready();
    EXPECT_EQ(std::vector<Bytes>{su(0, true, 0, true, payload(3))}, b.channel.take());

    b.channel.refusing = true;
    b.down(payload(4));
    b.down(payload(5));
    b.channel.refusing = false;
    {
        testsupport::CaptureStream err(std::cerr);
        b.deactivate();
        EXPECT_NE(std::string::npos, err.text().find("(idle): discard 2 msu in TB\n")) << err.text();
    }
    EXPECT_EQ(free, _Packet::Pool::available());
    b.inService();
    b.down(payload(3));
    EXPECT_EQ(std::vector<Bytes>{su(127, true, 0, true, payload(3))}, b.channel.take());
}

TEST(Slc, WithoutAChannelSendsNothing)
{
    Bench b;
    b.link->hdlc(nullptr);
    testsupport::CaptureStream log(std::clog);
    b.activate();
    b.peer(kSin);
    b.peer(kFisu);
    EXPECT_EQ(S::in_service, b.state());
    EXPECT_EQ(2u, log.count("no HDLC interface attached!!!\n"));
    EXPECT_TRUE(b.channel.take().empty());
}

// A congestion report is held back for a second after the last one let through; the
// construction counts as one.
TEST(Slc, HoldsCongestionReportsBackForASecond)
{
    Mux::TestClock clock;
    Side s;
    struct Case {
        unsigned wait;
        bool held;
    } const cases[] = {{0, true}, {999, true}, {1, false}, {0, true}, {999, true}, {1, false}, {5000, false}};
    for (Case const& c : cases) {
        clock.advance(c.wait);
        EXPECT_EQ(c.held, s.link->CoutCongestion()) << "after " << c.wait << " ms more";
    }
}

// An MSU payload straight through the send path, behind the send header of the moment; one
// that is no MSU (fewer than 3 or more than 273 octets) is refused, said only with the msu
// processing switch.
TEST(Slc, SendsAnMsuStraightThroughTheSendPath)
{
    char const refused[] = "SS7/L2 [dpc=0, slc=0, trunk=0] (not aligned): fail to send msu (bad packet)\n";
    struct Case {
        std::optional<Bytes> payload;
        bool msuTrace;
        bool sent;
        std::string error;
    } const cases[] = {
        {payload(3), true, true, ""},     {payload(273), true, true, ""}, {Bytes{}, true, false, refused},
        {payload(2), true, false, refused}, {payload(274), false, false, ""}, {std::nullopt, false, false, ""},
    };
    Bench b;
    b.activate();
    b.channel.take();
    for (Case const& c : cases) {
        b.link->trace().msu_processing = c.msuTrace;
        Packet p;
        if (c.payload) {
            b.prepare_head(p);
            for (std::uint8_t x : *c.payload)
                p.put8(x);
        }
        testsupport::CaptureStream err(std::cerr);
        EXPECT_EQ(c.sent, b.link->send_msu(p));
        EXPECT_EQ(c.error, err.text());
        EXPECT_EQ(c.sent ? std::vector<Bytes>{su(127, true, 127, true, *c.payload)} : std::vector<Bytes>{},
                  b.channel.take());
    }
}

// In service, a message from above that would not read as an MSU (fewer than 3 octets read as
// an LSSU or a FISU; an MSU carries 273 at most) is refused with a line, and takes no FSN.
TEST(Slc, RefusesMessagesThatAreNoMsu)
{
    Bench b;
    b.inService();
    for (unsigned n : {0u, 1u, 2u, 274u}) {
        testsupport::CaptureStream err(std::cerr);
        b.down(payload(n));
        EXPECT_EQ("SS7/L2 [dpc=0, slc=0, trunk=0] (worked): discard msu of " + std::to_string(n)
                      + " octets: an MSU carries 3 to 273\n",
                  err.text());
        EXPECT_EQ(std::vector<Bytes>{}, b.channel.take()) << n;
    }
    b.down(payload(3));
    b.down(payload(273));
    EXPECT_EQ((std::vector<Bytes>{su(127, true, 0, true, payload(3)), su(127, true, 1, true, payload(273))}),
              b.channel.take());
}

// Two links on one channel, each one's frames handed to the other until both are quiet.
struct BackToBack {
    explicit BackToBack(bool emergency) : a(emergency), b(emergency) {}

    // Impairment of the MSUs from a to b: each is passed, dropped, doubled, or held back to
    // follow the next one.
    enum Fate { pass, drop, twice, swap };

    // A frame held back is let go when nothing else moves.
    void pump(std::vector<Fate> const& plan = {})
    {
        for (;;) {
            bool moved = false;
            for (Bytes const& f : impair(a.channel.take(), plan)) {
                b.peer(f);
                moved = true;
            }
            for (Bytes const& f : b.channel.take()) {
                a.peer(f);
                moved = true;
            }
            if (!moved && held) {
                b.peer(*held);
                held.reset();
                moved = true;
            }
            if (!moved)
                return;
        }
    }
    std::vector<Bytes> impair(std::vector<Bytes> frames, std::vector<Fate> const& plan)
    {
        std::vector<Bytes> out;
        for (Bytes& f : frames) {
            Fate const fate = f.size() > 5 && msus < plan.size() ? plan[msus] : pass;
            msus += f.size() > 5 ? 1 : 0;
            if (fate != drop)
                out.push_back(f);
            if (fate == twice)
                out.push_back(f);
            if (held) {
                out.push_back(*held);
                held.reset();
            }
            if (fate == swap) {
                held = f;
                out.pop_back();
            }
        }
        return out;
    }

    Mux::TestClock clock;
    Side a, b;
    std::size_t msus = 0;
    std::optional<Bytes> held;
};

// Back to back, both links prove for their period (emergency or normal), then carry MSUs
// through a channel that drops, doubles and reorders them: each arrives once, in order,
// through negative acknowledgement and retransmission.
TEST(Slc, BackToBackLinksProveAndCarryMsusThroughALossyChannel)
{
    struct Case {
        bool emergency;
        unsigned proving;
    } const cases[] = {{true, 500}, {false, 8200}};
    typedef BackToBack B;
    std::vector<B::Fate> const plan = {B::pass, B::drop, B::pass, B::twice, B::swap, B::pass, B::pass,
                                       B::drop, B::drop, B::pass, B::swap, B::pass, B::pass};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.proving);
        BackToBack w(c.emergency);
        w.a.activate();
        w.b.activate();
        w.pump();
        EXPECT_EQ(S::proving, w.a.state());
        EXPECT_EQ(S::proving, w.b.state());
        testsupport::advance(w.clock, c.proving - 1);
        w.pump();
        EXPECT_EQ(S::proving, w.a.state());
        testsupport::advance(w.clock, 1);
        w.pump();
        ASSERT_EQ(S::in_service, w.a.state());
        EXPECT_EQ(S::in_service, w.b.state());
        EXPECT_EQ(std::vector<std::string>{"activated"}, w.a.take());
        EXPECT_EQ(std::vector<std::string>{"activated"}, w.b.take());

        std::vector<std::string> expected;
        for (unsigned i = 0; i < 10; ++i) {
            Bytes const p = {0x83, std::uint8_t(i), 0x55};
            w.a.down(p);
            expected.push_back("up: " + text(p));
            w.pump(plan);
        }
        EXPECT_EQ(expected, w.b.take());
        EXPECT_EQ(S::in_service, w.a.state());
        EXPECT_EQ(S::in_service, w.b.state());
        EXPECT_GT(w.b.counter(7), 0u);
        EXPECT_GT(w.a.counter(6), 0u);
        EXPECT_EQ(0u, w.a.counter(5));
    }
}

// The frames of the scenarios, as an MTP2 capture, read back by an independent dissector.
TEST(SlcWire, FramesDecodedByTshark)
{
    if (testsupport::findTool("tshark").empty())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): no independent MTP2 dissector";
    std::vector<testsupport::MemoryHdlc::Frame> frames;
    {
        Bench b;
        run(b, alignmentScenario());
        frames = b.channel.journal;
    }
    {
        Bench b;
        b.inService();
        run(b, serviceScenario());
        frames.insert(frames.end(), b.channel.journal.begin(), b.channel.journal.end());
    }
    testsupport::PcapWriter capture(testsupport::PcapWriter::kMtp2);
    std::vector<std::vector<std::string>> expected;
    for (testsupport::MemoryHdlc::Frame const& f : frames) {
        Bytes const& x = f.bytes;
        if (x.size() < 3)
            continue;
        capture.add(x);
        auto text = [](unsigned v) { return std::to_string(v); };
        unsigned const li = x[2] & 0x3F;
        expected.push_back({text(x[0] & 0x7F), text(x[0] >> 7), text(x[1] & 0x7F), text(x[1] >> 7), text(li),
                            li == 1 || li == 2 ? text(x[3]) : ""});
    }
    std::vector<std::vector<std::string>> rows;
    std::string error;
    ASSERT_TRUE(testsupport::tsharkFields(capture.bytes(),
                                          {"mtp2.bsn", "mtp2.bib", "mtp2.fsn", "mtp2.fib", "mtp2.li", "mtp2.sf"}, rows,
                                          error))
        << error;
    ASSERT_EQ(expected.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(expected[i], rows[i]) << "frame " << i + 1;
}

}  // namespace
