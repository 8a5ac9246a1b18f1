#include "hardware/tonec_receiver.h"

#include "hardware/receiver_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>

namespace {

using Hardware::TonecReceiverService;
using receivertest::linesWith;
using receivertest::SimEnv;
using receivertest::TestChannel;

constexpr char const* kDtmf = "/dev/dtmf";

struct TonecTest : ::testing::Test {
    SimEnv& env = SimEnv::get();
    TonecReceiverService& service = TonecReceiverService::instance();
    testsupport::CaptureStream err{std::cerr};
    testsupport::CaptureStream log{std::clog};

    ~TonecTest() override { env.sim.clearFailures(); }

    std::vector<std::string> requests(std::uint64_t from) { return env.requests(from, kDtmf); }
    // The injected records are read by the loop.
    void inject(std::uint32_t ts, std::uint32_t code, std::optional<std::uint32_t> id = {})
    {
        ASSERT_GT(env.dtmf.inject(ts, code, id), 0);
        testsupport::settle();
    }
};

ZGCP::TranslateDtmfParams digits(char const* text)
{
    ZGCP::TranslateDtmfParams p;
    for (char const* c = text; *c; ++c) {
        auto pair = Dtmf::tonesValidator.find(*c);
        ZGCP::DualTone tone;
        tone.set_freq1(pair ? pair->first : 0);
        tone.set_freq2(pair ? pair->second : 0);
        p.set_digits().push_back(tone);
    }
    return p;
}

TEST_F(TonecTest, RequestIdsStartAtOneSkipZeroAndAreUsedUpByFailedEnables)
{
    struct Case {
        std::uint32_t lastId;
        bool firstFails;
        std::vector<std::string> expected;
    };
    Case const cases[] = {
        {0, false, {"enable 40 1 -> 0", "disable 40 -> 0", "enable 40 2 -> 0"}},
        {0, true, {"enable 40 1 -> EIO", "enable 40 2 -> 0", "disable 40 -> 0", "enable 40 3 -> 0"}},
        {0xFFFFFFFE, false, {"enable 40 4294967295 -> 0", "disable 40 -> 0", "enable 40 1 -> 0"}},
    };
    for (Case const& c : cases) {
        TonecReceiverService own(c.lastId);
        TestChannel channel(40);
        auto from = env.mark();
        if (c.firstFails) {
            env.sim.failRequest(kDtmf, dtmf::kEnableDetector, EIO);
            EXPECT_FALSE(own.enableDTMF(channel, true));
            EXPECT_FALSE(channel.dtmfOn());
        }
        EXPECT_TRUE(own.enableDTMF(channel, true));
        EXPECT_TRUE(own.enableDTMF(channel, true));  // already on: nothing sent
        EXPECT_TRUE(own.enableDTMF(channel, false));
        EXPECT_TRUE(own.enableDTMF(channel, false));
        EXPECT_TRUE(own.enableDTMF(channel, true));
        EXPECT_EQ(requests(from), c.expected) << c.lastId;
        EXPECT_EQ(channel.rid(), own.lastId());
        own.enableDTMF(channel, false);
    }
}

TEST_F(TonecTest, EventsReachTheFirstReceiverOfTheirTimeslotUnderItsDetectorAndId)
{
    using Id = std::optional<std::uint32_t>;
    std::uint32_t const iva5 = 5 << dtmf::kIvaShift;
    struct Case {
        char const* name;
        // Sets the first receiver up; returns the id to send (none: the timeslot's current one).
        std::function<Id(TestChannel&)> setup;
        std::uint32_t ts;
        std::uint32_t code;
        std::vector<std::string> events;
        char const* line;
    };
    Case const cases[] = {
        {"current id", [](TestChannel& c) { return Id(c.enableDTMF(true) ? std::nullopt : Id(0)); }, 41, 5,
         {"tonec 5"}, "dtmf event:  timestamp="},
        {"stale id", [](TestChannel& c) { return Id(c.enableDTMF(true) ? c.rid() - 1 : 0); }, 41, 5, {},
         "ignore spurious dtmf event:  timestamp="},
        {"detector off", [](TestChannel&) { return Id(); }, 41, 5, {}, "ignore spurious dtmf event (DTMF disabled): "},
        // The IVA detector reports under the id of the last DTMF enable, none here.
        {"IVA code with IVA on", [](TestChannel& c) { return Id(c.enableIVA(true) ? c.rid() : 1); }, 41, iva5,
         {"tonec 1280"}, nullptr},
        {"DTMF code with only IVA on", [](TestChannel& c) { return Id(c.enableIVA(true) ? c.rid() : 1); }, 41, 5,
         {}, "(DTMF disabled)"},
        // The two detectors are switched apart: DTMF goes on while IVA is on, and stays on.
        {"DTMF code after IVA off",
         [](TestChannel& c) {
             c.enableIVA(true);
             c.enableDTMF(true);
             c.enableIVA(false);
             return Id();
         },
         41, 5, {"tonec 5"}, nullptr},
        {"unknown timeslot", [](TestChannel& c) { return Id(c.enableDTMF(true) ? c.rid() : 0); }, 42, 5, {},
         "receive tonec event from unknown timeslot 42"},
    };
    for (Case const& c : cases) {
        auto first = std::make_unique<TestChannel>(41);
        TestChannel second(41);
        second.enableDTMF(true);
        Id id = c.setup(*first);
        testsupport::CaptureStream caseErr{std::cerr};
        testsupport::CaptureStream caseLog{std::clog};
        inject(c.ts, c.code, id);
        EXPECT_EQ(first->take(), c.events) << c.name;
        EXPECT_TRUE(second.take().empty()) << c.name;
        if (c.line) {
            EXPECT_EQ(linesWith(caseLog.text() + caseErr.text(), c.line).size(), 1u) << c.name;
        }
    }
}

TEST_F(TonecTest, ShortLongAndEmptyReadsEndTheBurstWithoutReusingARecord)
{
    TonecReceiverService own;
    TestChannel channel(44);
    channel.enableDTMF(true);
    board::sim::OpenFile& open = *env.dtmf.opens().back();
    // A record and 4 bytes more: a whole record at its start is not taken for the record.
    struct Long {
        tonec_event_record record;
        std::uint32_t more;
    };
    struct {
        std::size_t length;
        char const* line;
    } const cases[] = {
        {10, "fail to read from tonec: short record of 10 bytes of 16, dropped"},
        {sizeof(Long), "fail to read from tonec: long record of more than 16 bytes, dropped"},
    };
    for (auto const& c : cases) {
        Long sent{{7, 44, 0, channel.rid()}, 0};
        ASSERT_TRUE(open.send(&sent, sizeof sent.record));
        ASSERT_TRUE(open.send(&sent, c.length));
        sent.record.code = 8;
        ASSERT_TRUE(open.send(&sent, sizeof sent.record));
        testsupport::settle();
        EXPECT_EQ(channel.take(), (std::vector<std::string>{"tonec 7", "tonec 8"})) << c.length;
        EXPECT_EQ(linesWith(err.text(), c.line).size(), 1u) << c.length;
    }

    tonec_event_record const none{};
    ASSERT_TRUE(open.send(&none, 0));
    testsupport::settle();
    EXPECT_TRUE(channel.take().empty());
    EXPECT_FALSE(own.IsActive());
    EXPECT_EQ(linesWith(err.text(), "fail to read from tonec: end of file").size(), 1u);
}

TEST_F(TonecTest, ToneSequencesRunOnTheReceiverTimer)
{
    using Action = std::function<void(TestChannel&)>;
    struct Step {
        std::uint32_t at;
        Action action;
    };
    Action const threeDigits = [](TestChannel& c) { c.translateDTMF(digits("159")); };
    Action const waitTone = [](TestChannel& c) { c.activateAudibleCall(); };
    Action const cancel = [](TestChannel& c) { c.cancelAudibleCall(); };
    std::string const off = "0/0/0/0";
    std::string const silence = "1000/1000/0/0";
    std::string const ring = "425/0/2048/2048";
    std::string const d1 = "697/1209/16384/16384", d5 = "770/1336/16384/16384", d9 = "852/1477/16384/16384";
    struct Case {
        char const* name;
        std::vector<Step> steps;
        std::uint32_t runFor;
        std::vector<std::string> generator;  // "MS:F1/F2/A1/A2" from the start
        int completions;
    };
    Case const cases[] = {
        {"three digits",
         {{0, threeDigits}},
         1000,
         {"0:" + d1, "70:" + silence, "140:" + d5, "210:" + silence, "280:" + d9, "350:" + silence, "420:" + off},
         1},
        {"empty list", {{0, [](TestChannel& c) { c.translateDTMF(ZGCP::TranslateDtmfParams()); }}}, 100, {"0:" + off}, 1},
        {"given amplitudes and durations",
         {{0,
           [](TestChannel& c) {
               auto p = digits("1");
               p.set_amp1(1000);
               p.set_amp2(2000);
               p.set_toneDuration(50);
               p.set_pauseDuration(30);
               c.translateDTMF(p);
           }}},
         200,
         {"0:697/1209/1000/2000", "50:" + silence, "80:" + off},
         1},
        {"a new list for a running sequence",
         {{0, threeDigits}, {30, [](TestChannel& c) { c.translateDTMF(digits("9")); }}},
         1000,
         {"0:" + d1, "70:" + silence, "140:" + d9, "210:" + silence, "280:" + off},
         1},
        {"wait tone until cancelled",
         {{0, waitTone}, {6000, cancel}},
         12000,
         {"0:" + ring, "1000:" + silence, "4000:" + ring, "5000:" + silence, "6000:" + off},
         0},
        {"wait tone after a running sequence",
         {{0, [](TestChannel& c) { c.translateDTMF(digits("1")); }}, {10, waitTone}},
         1500,
         {"0:" + d1, "70:" + silence, "140:" + off, "140:" + ring, "1140:" + silence, "1500:" + off},
         1},
        {"wait tone cancelled during a sequence",
         {{0, [](TestChannel& c) { c.translateDTMF(digits("1")); }}, {10, waitTone}, {20, cancel}},
         5000,
         {"0:" + d1, "70:" + silence, "140:" + off},
         1},
    };
    std::uint32_t ts = 60;
    for (Case const& c : cases) {
        Mux::TestClock clock;
        std::uint32_t const start = Mux::milliseconds();
        ++ts;
        auto const before = env.dtmf.channel(ts) ? env.dtmf.channel(ts)->generator.size() : 0;
        {
            TestChannel channel(ts);
            std::uint32_t now = 0;
            for (Step const& s : c.steps) {
                testsupport::advance(clock, s.at - now);
                now = s.at;
                s.action(channel);
            }
            testsupport::advance(clock, c.runFor - now);
            auto events = channel.take();
            EXPECT_EQ(int(std::count(events.begin(), events.end(), "complete")), c.completions) << c.name;
            EXPECT_FALSE(channel.is_inDTMFTransmit()) << c.name;
        }
        auto const& history = env.dtmf.channel(ts)->generator;
        std::vector<std::string> got;
        for (std::size_t i = before < history.size() ? before : 0; i < history.size(); ++i) {
            auto const& t = history[i];
            got.push_back(std::to_string(t.atMs - start) + ":" + std::to_string(t.freq1) + "/" + std::to_string(t.freq2)
                          + "/" + std::to_string(t.amp1) + "/" + std::to_string(t.amp2));
        }
        EXPECT_EQ(got, c.generator) << c.name;
    }
}

// A wait tone goes on through an outage of the device on its own timeline: the device opened
// again gets the setting of the phase the cadence has reached, and the next steps come when
// the cadence says, whichever phase the device comes back in.
TEST_F(TonecTest, AWaitToneComesBackOnThePhaseItReached)
{
    std::string const off = "0/0/0/0", silence = "1000/1000/0/0", ring = "425/0/2048/2048";
    struct Case {
        std::uint32_t endsAt;  // the device
        std::vector<std::string> generator;
    } const cases[] = {
        // Back a second later, in the cadence's silence.
        {500, {"0:" + ring, "500:" + off, "1500:" + silence, "4000:" + ring, "5000:" + silence, "8000:" + ring}},
        // Back in its tone.
        {3500, {"0:" + ring, "1000:" + silence, "3500:" + off, "4500:" + ring, "5000:" + silence, "8000:" + ring}},
    };
    std::uint32_t ts = 70;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.endsAt);
        Mux::TestClock clock;
        std::uint32_t const start = Mux::milliseconds();
        TestChannel channel(++ts);
        ASSERT_TRUE(channel.activateAudibleCall());
        testsupport::advance(clock, c.endsAt);
        env.sim.failRead(kDtmf, {board::sim::ReadFault::Kind::eof, 0});
        testsupport::settle();
        ASSERT_TRUE(service.away());
        testsupport::advance(clock, 8000 - c.endsAt);
        EXPECT_FALSE(service.away());
        std::vector<std::string> got;
        for (auto const& t : env.dtmf.channel(ts)->generator)
            got.push_back(std::to_string(t.atMs - start) + ":" + std::to_string(t.freq1) + "/" + std::to_string(t.freq2)
                          + "/" + std::to_string(t.amp1) + "/" + std::to_string(t.amp2));
        EXPECT_EQ(got, c.generator);
    }
}

// A generator switch-off that the driver refuses when its channel is let go of is owed: tried
// again 1 s later, then after twice the last wait, until the driver takes it; an end of the
// device clears it (the driver let go of the channel), and nothing of it is tried any more; a
// later receiver on the channel that goes once the driver takes requests makes it at its
// let-go, with its line, and the back-off stops there.
TEST_F(TonecTest, AnOwedSwitchOffIsTriedOnTheBackOffUntilMadeOrTheDeviceEnds)
{
    struct Case {
        int refusals;  // -1: every one
        std::optional<std::uint32_t> endsAt;
        std::vector<std::uint32_t> tries;  // ms after the let-go
        std::optional<std::uint32_t> nextLetGoAt = std::nullopt;
    } const cases[] = {
        {3, std::nullopt, {0, 1000, 3000, 7000}},
        {-1, 2000, {0, 1000}},
        {-1, std::nullopt, {0, 1000, 2000}, 2000},
    };
    std::uint32_t ts = 80;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.refusals);
        Mux::TestClock clock;
        auto channel = std::make_unique<TestChannel>(++ts);
        ASSERT_TRUE(channel->enableToneGenerator(425, 0, 2048, 2048));
        env.sim.failRequest(kDtmf, dtmf::kDial, EIO, c.refusals);
        auto const from = env.mark();
        auto const dials = [&] {
            std::vector<std::string> const r = requests(from);
            std::string const dial = "dial " + std::to_string(ts) + " ";
            return std::count_if(r.begin(), r.end(), [&](std::string const& q) { return q.rfind(dial, 0) == 0; });
        };
        channel.reset();
        EXPECT_TRUE(service.owes(ts));
        std::vector<std::uint32_t> tries{0};
        for (std::uint32_t at = 500; at <= 130000; at += 500) {
            long const before = dials();
            testsupport::advance(clock, 500);
            if (dials() > before)
                tries.push_back(at);
            if (c.endsAt == at) {
                env.sim.failRead(kDtmf, {board::sim::ReadFault::Kind::eof, 0});
                testsupport::settle();
            }
            if (c.nextLetGoAt == at) {
                env.sim.clearFailures();
                { TestChannel next(ts); }
                tries.push_back(at);
                EXPECT_EQ(service.owedWait(), 0u);
                EXPECT_EQ(linesWith(log.text(), "timeslot " + std::to_string(ts) + " let go of: ").size(), 1u);
            }
        }
        EXPECT_EQ(tries, c.tries);
        EXPECT_FALSE(service.owes(ts));
        EXPECT_FALSE(service.away());
        EXPECT_EQ(service.owedWait(), 0u);
        auto const* state = env.dtmf.channel(ts);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->generator.back().freq1, 0);
        env.sim.clearFailures();
    }
}

TEST_F(TonecTest, SelcalSendsTheFirstFourSigns)
{
    struct Case {
        char const* signs;
        std::optional<int> amp;
        char const* sent;  // "AMP/SIGNS"; null: refused
    };
    Case const cases[] = {{"ABCDEF", {}, "12000/ABCD"}, {"KLMP", 500, "500/KLMP"}, {"ABC", {}, nullptr}};
    std::uint32_t ts = 46;
    for (Case const& c : cases) {
        TestChannel channel(++ts);
        TERM::SelcalCommand command;
        command.set_signs(c.signs);
        if (c.amp)
            command.set_amp(*c.amp);
        channel.translateSelcal(command);
        auto const* state = env.dtmf.channel(ts);
        if (c.sent) {
            ASSERT_TRUE(state && state->selcal) << c.signs;
            EXPECT_EQ(std::to_string(state->selcal->amplitude) + "/" + std::string(state->selcal->signs, 4), c.sent);
        } else {
            EXPECT_TRUE(state == nullptr || !state->selcal);
            EXPECT_EQ(linesWith(err.text(), "SELCAL_DIAL fail: timeslot=49 incorect signs:ABC").size(), 1u);
        }
    }
}

// Each request as the driver gets it; a failed one is refused and said with its time slot.
TEST_F(TonecTest, RequestsAndTheirFailures)
{
    struct Case {
        unsigned long request;
        std::function<bool(TestChannel&)> call;
        char const* sent;  // as journaled, from the request's name on
        char const* name;  // the request's, in the error line
    };
    Case const cases[] = {
        {dtmf::kConfigureDetector, [](TestChannel& c) { return c.configureDTMF(receivertest::dtmfParams()); },
         "configure 50 1 2 4 3 -> 0", "DTMF_CONFIGURE_DETECTOR"},
        {dtmf::kLmsOn, [](TestChannel& c) { return c.echoCancel(true); }, "lms-on 50 -> 0", "CHANNEL_LMS_ON"},
        {dtmf::kRejectionEnable, [](TestChannel& c) { return c.enableDTMFReject(true); }, "reject-on 50 -> 0",
         "DTMF_REJECTION_ENABLE"},
        {dtmf::kIvaConfigure, [](TestChannel& c) { return c.configureIVA(receivertest::ivaParams()); },
         "iva-configure 50 4294967276 -> 0", "IVA_CONFIGURE_DETECTOR"},
        // Silence: 1000 Hz twice in 16 bits each, no amplitude.
        {dtmf::kDial, [](TestChannel& c) { return c.enableSilence(); }, "dial 50 65537000 0 -> 0", "DTMF_DIAL"},
    };
    TestChannel channel(50);
    for (Case const& c : cases) {
        std::string const name = c.name;
        auto const from = env.mark();
        EXPECT_TRUE(c.call(channel)) << name;
        EXPECT_EQ(requests(from), std::vector<std::string>{c.sent}) << name;
        testsupport::CaptureStream caseErr{std::cerr};
        env.sim.failRequest(kDtmf, c.request, EIO);
        EXPECT_FALSE(c.call(channel)) << name;
        EXPECT_EQ(caseErr.text(), name + " fail: timeslot=50 errno=\"Input/output error\"\n");
    }
}

TEST_F(TonecTest, CleanBeforeDestroySwitchesOffWhatTheReceiverSwitchedOn)
{
    auto channel = std::make_unique<TestChannel>(51);
    channel->enableDTMF(true);
    channel->enableIVA(true);
    channel->enableDTMFReject(true);
    channel->echoCancel(true);
    channel->enableSilence();
    auto from = env.mark();
    channel->Hardware::TonecReceiver::CleanBeforeDestroy();
    EXPECT_EQ(requests(from), (std::vector<std::string>{"disable 51 -> 0", "iva-off 51 -> 0", "reject-off 51 -> 0",
                                                        "dial 51 0 0 -> 0"}));
    EXPECT_EQ(env.dtmf.command({"channel", "51"}),
              "ok dtmf=off id=" + std::to_string(channel->rid()) + " iva=off lms=on reject=off gen=0/0/0/0");
}

TEST(TonecDevice, AFailedOpenIsRetriedByTheNextRequest)
{
    SimEnv& env = SimEnv::get();
    testsupport::CaptureStream err{std::cerr};
    env.sim.failOpen(kDtmf, ENOENT, 2);
    TonecReceiverService own;
    EXPECT_EQ(err.text(), "open tonec fail, DTMF proceeding disabled: No such file or directory\n");
    TestChannel channel(52);
    EXPECT_FALSE(own.enableDTMF(channel, true));
    EXPECT_EQ(linesWith(err.text(), "DTMF_ENABLE_DETECTOR fail: (interface not opened) timeslot=52").size(), 1u);
    EXPECT_TRUE(own.configureIVA(channel, ZGCP::IVAParams()));
    EXPECT_TRUE(own.enableDTMF(channel, true));
    own.enableDTMF(channel, false);
}

}  // namespace
