#pragma once

#include "base/clock.h"
#include "base/random.h"
#include "signalling/lapd.h"
#include "signalling/link_test_support.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace lapdtest {

using linktest::Bytes;

// A LAPD link in a stack on an in-memory channel; its statuses and flow changes are events too.
class Link : public linktest::Stack<ISDN::LAPD>, public ISDN::LAPD::Notify {
public:
    explicit Link(ISDN::Side::type side = ISDN::Side::user, bool bri = false, unsigned log = 0) : Stack(side, log)
    {
        link->BindNotify(this);
        if (bri)
            link->change_to_bri();
    }

    ACP::IsdnLinkInfo info() const
    {
        ACP::IsdnLinkInfo i;
        link->GetInfo(i);
        return i;
    }
    int state() const { return info().get_lapdState().asInt(); }

    void on_status(Protocol_status s) override { events.push_back("status: " + s->message()); }
    void OnLAPD_FlowStatusChange(ISDN::LAPD* l) override
    {
        events.push_back(l->GetFlowStatus() == ISDN::LAPD::FlowStatus::congested ? "congested" : "normal");
    }
};

// The link driven by the test clock.
struct Bench : Link {
    using Link::Link;
    void wait(unsigned ms) { testsupport::advance(clock, ms); }

    Mux::TestClock clock;
};

typedef linktest::Step<Bench> Step;
inline void run(Bench& b, std::vector<Step> const& steps) { linktest::run(b, steps); }
inline std::function<void(Bench&)> peer(Bytes f)
{
    return [f](Bench& b) { b.peer(f); };
}
inline std::function<void(Bench&)> wait(unsigned ms)
{
    return [ms](Bench& b) { b.wait(ms); };
}

// Frames of the network side peer (TEI 0 unless given): commands carry C/R 1, responses 0.
inline std::uint8_t addr1(bool command, unsigned sapi = 0) { return std::uint8_t(sapi << 2 | (command ? 2 : 0)); }
inline Bytes unnumbered(bool command, std::uint8_t code, bool pf, unsigned tei = 0)
{
    return {addr1(command), std::uint8_t(tei << 1 | 1), std::uint8_t(code | (pf ? 0x10 : 0))};
}
inline Bytes sabme(bool p = true) { return unnumbered(true, 0x6F, p); }
inline Bytes disc(bool p = true) { return unnumbered(true, 0x43, p); }
inline Bytes ua(bool f = true) { return unnumbered(false, 0x63, f); }
inline Bytes dm(bool f = true) { return unnumbered(false, 0x0F, f); }
inline Bytes frmr(bool f = false) { return unnumbered(false, 0x87, f); }
// RR (0), RNR (1) or REJ (2).
inline Bytes supervisory(unsigned type, bool command, unsigned nr, bool pf, unsigned tei = 0)
{
    return {addr1(command), std::uint8_t(tei << 1 | 1), std::uint8_t(type * 4 + 1), std::uint8_t(nr << 1 | (pf ? 1 : 0))};
}
inline Bytes iframe(unsigned ns, unsigned nr, bool p, Bytes const& info = {0x08, 0x00, 0x7B}, unsigned tei = 0)
{
    Bytes f = {addr1(true), std::uint8_t(tei << 1 | 1), std::uint8_t(ns << 1), std::uint8_t(nr << 1 | (p ? 1 : 0))};
    f.reserve(f.size() + info.size());
    f.insert(f.end(), info.begin(), info.end());
    return f;
}
inline Bytes teiFrame(unsigned ri, unsigned type, unsigned ai)
{
    return {0xFE, 0xFF, 0x03, 0x0F, std::uint8_t(ri & 0xFF), std::uint8_t(ri >> 8), std::uint8_t(type),
            std::uint8_t(ai << 1 | 1)};
}

// Frames of the user-side link (TEI 0 unless given): commands carry C/R 0, responses 1.
inline Bytes ours(Bytes f)
{
    f[0] ^= 0x02;
    return f;
}
inline Bytes sent_iframe(unsigned ns, unsigned nr, Bytes const& info, unsigned tei = 0)
{
    return ours(iframe(ns, nr, false, info, tei));
}

// The identity requests' reference numbers the link will draw (it takes them from rand, which
// is seeded here so that they are known).
inline std::vector<unsigned> seedRi(unsigned seed, unsigned n)
{
    SeedRandomOnce();
    std::srand(seed);
    std::vector<unsigned> ri;
    for (unsigned i = 0; i < n; ++i)
        ri.push_back(unsigned(std::rand()) & 0xFFFF);
    std::srand(seed);
    return ri;
}

inline std::vector<std::string> status(std::vector<char const*> texts)
{
    std::vector<std::string> out;
    for (char const* t : texts)
        out.push_back(std::string("status: ") + t);
    return out;
}

char const* const kStopT200 = "trying to stop T200 while T203 running";

// Establishment, data in both directions with acknowledgement, rejection and polling,
// timer recovery after T203, and the release (a user-side link, primary rate).
inline std::vector<Step> dataScenario()
{
    return {
        {"SABME answered with UA", peer(sabme()), {{0x02, 0x01, 0x73}}, 6, {"activated"}},
        {"eight messages give seven I-frames",
         [](Bench& b) {
             for (unsigned k = 0; k < 8; ++k)
                 b.down({std::uint8_t(0xA0 + k)});
         },
         {sent_iframe(0, 0, {0xA0}), sent_iframe(1, 0, {0xA1}), sent_iframe(2, 0, {0xA2}), sent_iframe(3, 0, {0xA3}),
          sent_iframe(4, 0, {0xA4}), sent_iframe(5, 0, {0xA5}), sent_iframe(6, 0, {0xA6})},
         6, {}},
        {"RR for three frames lets the eighth go", peer(supervisory(0, false, 3, false)), {sent_iframe(7, 0, {0xA7})}, 6, {}},
        {"RR for all stops T200 and starts T203",
         [](Bench& b) {
             b.peer(supervisory(0, false, 8, false));
             ACP::IsdnLinkInfo const i = b.info();
             EXPECT_FALSE(bool(i.get_t200run()));
             EXPECT_TRUE(bool(i.get_t203run()));
             EXPECT_EQ(0, i.get_queueAck().getValue());
         },
         {}, 6, {}},
        {"I-frame in sequence goes up, RR acknowledges", peer(iframe(0, 8, false)), {{0x02, 0x01, 0x01, 0x02}}, 6,
         {"up: 08 00 7B", std::string("status: ") + kStopT200}},
        {"I-frame out of sequence: one REJ", peer(iframe(2, 8, false)), {{0x02, 0x01, 0x09, 0x02}}, 6, status({kStopT200})},
        {"still out of sequence: no second REJ", peer(iframe(3, 8, false)), {}, 6, status({kStopT200})},
        {"polled while rejecting: RR F=1", peer(iframe(3, 8, true)), {{0x02, 0x01, 0x01, 0x03}}, 6, status({kStopT200})},
        {"in sequence again", peer(iframe(1, 8, false)), {{0x02, 0x01, 0x01, 0x04}}, 6,
         {"up: 08 00 7B", std::string("status: ") + kStopT200}},
        {"T203 expiry: enquiry and timer recovery", wait(ISDN::LAPD::kT203),
         {{0x00, 0x01, 0x01, 0x05}}, 7, {}},
        {"RR F=1 ends timer recovery", peer(supervisory(0, false, 8, true)), {}, 6, {}},
        {"release request sends DISC", [](Bench& b) { b.deactivate(); }, {{0x00, 0x01, 0x53}}, 5, {}},
        {"UA ends the release", peer(ua()), {}, 3, {"deactivated: success (UA received)"}},
    };
}

// Unanswered enquiries in timer recovery, then unanswered SABMEs.
inline std::vector<Step> recoveryScenario()
{
    auto const t200 = wait(ISDN::LAPD::kT200);
    Bytes const enquiry = {0x00, 0x01, 0x01, 0x01}, establish = {0x00, 0x01, 0x7F};
    return {
        {"established", peer(sabme()), {{0x02, 0x01, 0x73}}, 6, {"activated"}},
        {"one I-frame", [](Bench& b) { b.down({0xA0}); }, {sent_iframe(0, 0, {0xA0})}, 6, {}},
        {"T200 in state 6: enquiry, timer recovery", t200, {enquiry}, 7, {}},
        {"first repeat", t200, {enquiry}, 7, {}},
        {"second repeat", t200, {enquiry}, 7, {}},
        {"N200 repeats unanswered: re-establishment", t200, {establish}, 4,
         status({"Unsuccessful retransmission (N200 times) - Status enquiry"})},
        {"SABME repeated", t200, {establish}, 4, {}},
        {"SABME repeated again", t200, {establish}, 4, {}},
        {"fourth SABME", t200, {establish}, 4, {}},
        {"no answer: the link is down", t200, {}, 3,
         {"status: Unsuccessful retransmission (N200 times) - SABME",
          "deactivated: link error (T200 expired N200 times)"}},
    };
}

// The frames of the peer in each state, and the local requests in states 3 and 4.
inline std::vector<Step> peerFramesScenario()
{
    Bytes const ack = {0x02, 0x01, 0x73}, establish = {0x00, 0x01, 0x7F};
    return {
        {"established", peer(sabme()), {ack}, 6, {"activated"}},
        {"two I-frames",
         [](Bench& b) {
             b.down({0xA0});
             b.down({0xA1});
         },
         {sent_iframe(0, 0, {0xA0}), sent_iframe(1, 0, {0xA1})}, 6, {}},
        {"unsolicited UA: reported, the frames kept",
         [](Bench& b) {
             b.peer(ua(false));
             ACP::IsdnLinkInfo const i = b.info();
             EXPECT_EQ(2, i.get_vs().getValue());
             EXPECT_EQ(0, i.get_va().getValue());
             EXPECT_EQ(2, i.get_queueAck().getValue());
         },
         {}, 6, status({"UA (F = 0)"})},
        {"RR acknowledges both",
         [](Bench& b) {
             b.peer(supervisory(0, false, 2, false));
             EXPECT_EQ(0, b.info().get_queueAck().getValue());
         },
         {}, 6, {}},
        {"REJ response F=1", peer(supervisory(2, false, 2, true)), {}, 6, status({"Supervisory (F = 1)", kStopT200})},
        {"RR response F=1: no report of its own", peer(supervisory(0, false, 2, true)), {}, 6, status({kStopT200})},
        {"SABME while established", peer(sabme()), {ack}, 6,
         {"status: Peer initiated re-establishment - SABME", "activated", std::string("status: ") + kStopT200}},
        {"N(R) error: re-establishment", peer(supervisory(0, false, 5, false)), {establish}, 4,
         status({"Other - N(R) error"})},
        {"DM F=1 while establishing", peer(dm(true)), {}, 3, {"deactivated: error (DM received)"}},
        {"DM F=0 in state 3 establishes", peer(dm(false)), {establish}, 4, {}},
        {"UA F=1", peer(ua()), {}, 6, {"activated"}},
        {"FRMR", peer(frmr()), {establish}, 4, status({"Other - Receipt of FRMR response"})},
        {"UA again", peer(ua()), {}, 6, {"activated"}},
        {"DM F=0 while established", peer(dm(false)), {establish}, 4, status({"Receipt of DM response (F = 0)"})},
        {"UA once more", peer(ua()), {}, 6, {"activated"}},
        {"DISC while established", peer(disc()), {ack}, 3,
         {std::string("status: ") + kStopT200, "deactivated: remote error (DISC received)"}},
        {"DISC in state 3: DM", peer(disc()), {{0x02, 0x01, 0x1F}}, 3, {}},
        {"UI and TEI frames ignored on primary rate",
         [](Bench& b) {
             b.peer({0x02, 0x01, 0x03, 0x08, 0x00, 0x7B});
             b.peer(teiFrame(0, 6, 127));
         },
         {}, 3, {}},
        {"release request in state 3", [](Bench& b) { b.deactivate(); }, {}, 3,
         {"deactivated: success (deactivated locally)"}},
        {"establish request", [](Bench& b) { b.activate(); }, {establish}, 4, {}},
        {"release request while establishing", [](Bench& b) { b.deactivate(); }, {{0x00, 0x01, 0x53}}, 3,
         {"status: trying to stop T203 while T200 running", "status: trying to stop T202 while T200 running",
          "deactivated: success (deactivated locally)"}},
    };
}

// TEI management of a basic-rate user side (the bench made with bri true); ri are the
// reference numbers from seedRi.
inline std::vector<Step> teiScenario(std::vector<unsigned> const& ri)
{
    auto request = [](unsigned r) { return ours(teiFrame(r, 1, 127)); };
    auto const t202 = wait(ISDN::LAPD::kT202);
    return {
        {"identity remove for the group TEI: identity request", peer(teiFrame(0, 6, 127)), {request(ri[0])}, 1, {}},
        {"repeated after T202", t202, {request(ri[1])}, 1, {}},
        {"third request", t202, {request(ri[2])}, 1, {}},
        {"fourth request", t202, {request(ri[3])}, 1, {}},
        {"fifth request", t202, {request(ri[4])}, 1, {}},
        {"no answer: the procedure fails", t202, {}, 0, {"deactivated: link error (T202 expired N202 times)"}},
        {"a message in state 0 asks for a TEI again", [](Bench& b) { b.down({0x30, 0x31}); }, {request(ri[5])}, 1, {}},
        {"check request ignored in state 1", peer(teiFrame(7, 4, 127)), {}, 1, {}},
        {"identity denied for another Ri ignored", peer(teiFrame(ri[5] ^ 1, 3, 127)), {}, 1, {}},
        {"identity denied, all TEIs used",
         [ri](Bench& b) {
             testsupport::CaptureStream log(std::clog);
             b.peer(teiFrame(ri[5], 3, 127));
             EXPECT_NE(std::string::npos, log.text().find("ASP returned: All TEI's used\n")) << log.text();
         },
         {}, 1, status({"Tei Assign - Tei denied"})},
        {"identity assigned with our Ri", peer(teiFrame(ri[5], 2, 64)), {}, 3, {}},
        {"establish request", [](Bench& b) { b.activate(); }, {{0x00, 0x81, 0x7F}}, 4,
         status({"trying to stop T203 while T200 running"})},
        {"frame for another TEI dropped", peer(unnumbered(false, 0x63, true, 5)), {}, 4, {}},
        {"UA: established, the queued message goes", peer(unnumbered(false, 0x63, true, 64)),
         {sent_iframe(0, 0, {0x30, 0x31}, 64)}, 6, {"activated"}},
        {"check request for the group TEI answered", peer(teiFrame(0x1234, 4, 127)),
         {ours(teiFrame(ri[5], 5, 64))}, 6, {}},
        {"identity remove for our TEI", peer(teiFrame(0, 6, 64)), {request(ri[6])}, 1,
         {"deactivated: error (MDL-REMOVE received)"}},
        {"establish request awaits the TEI", [](Bench& b) { b.activate(); }, {}, 2, {}},
        {"identity assigned in state 2 establishes", peer(teiFrame(ri[6], 2, 70)), {{0x00, 0x8D, 0x7F}}, 4,
         status({"trying to stop T203 while T202 running", "trying to start T200 while T202 running",
                 "trying to stop T202 while T200 running"})},
        {"T200 repeats the SABME", wait(ISDN::LAPD::kT200), {{0x00, 0x8D, 0x7F}}, 4, {}},
    };
}

}  // namespace lapdtest
