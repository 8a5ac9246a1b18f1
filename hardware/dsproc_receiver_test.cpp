#include "hardware/dsproc_receiver.h"

#include "base/trace_ctl.h"
#include "hardware/receiver_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>

namespace {

using Hardware::DSProcReceiverService;
using receivertest::linesWith;
using receivertest::SimEnv;
using receivertest::TestChannel;
using receivertest::vadV2;

constexpr char const* kDsp = "/dev/dsp";
using Op = std::function<void(TestChannel&)>;

struct DsprocTest : ::testing::Test {
    SimEnv& env = SimEnv::get();
    DSProcReceiverService& service = DSProcReceiverService::instance();
    testsupport::CaptureStream err{std::cerr};
    testsupport::CaptureStream log{std::clog};

    ~DsprocTest() override
    {
        env.sim.clearFailures();
        env.dsp.setVersion(board::sim::DspModel::kDefaultVersion);
        traces.signalling.events = false;
    }

    // The requests since the mark, with "#N" in place of the id N after `base`.
    std::vector<std::string> requests(std::uint64_t from, std::uint32_t base)
    {
        std::vector<std::string> out;
        for (std::string text : env.requests(from, kDsp)) {
            // "enable TS ID MASK -> RESULT"
            if (text.rfind("enable ", 0) == 0) {
                std::size_t const at = text.find(' ', 7) + 1;
                std::size_t const end = text.find(' ', at);
                text.replace(at, end - at, "#" + std::to_string(std::stoul(text.substr(at, end - at)) - base));
            }
            out.push_back(text);
        }
        return out;
    }
    // The requests of ops run on a new channel (not those of its destruction).
    std::vector<std::string> run(std::uint32_t ts, std::vector<Op> const& ops, Op const& check = {})
    {
        TestChannel channel(ts);
        std::uint32_t const base = service.lastId();
        auto from = env.mark();
        for (Op const& op : ops)
            op(channel);
        if (check)
            check(channel);
        return requests(from, base);
    }
};

ZGCP::VADParams v1()
{
    ZGCP::VADParams p;
    p.select_v1();
    return p;
}

TEST_F(DsprocTest, VadConfigurationFollowsTheDriverVersion)
{
    struct Case {
        int version;
        bool versionFails;
        ZGCP::VADParams params;
        bool result;
        char const* state;  // the model's channel after it
    };
    Case const cases[] = {
        {2, false, vadV2(600, 400, 30), true, "ok on=none vad=v2:600/400/30 tone-resets=0"},
        {2, false, v1(), false, "error no request for timeslot 81"},
        {1, false, vadV2(600, 400, 30), true, "ok on=none vad=v1:3/127/0 tone-resets=0"},
        {1, true, vadV2(600, 400, 30), true, "ok on=none vad=v1:3/127/0 tone-resets=0"},
    };
    std::uint32_t ts = 79;
    for (Case const& c : cases) {
        env.dsp.setVersion(c.version);
        if (c.versionFails)
            env.sim.failRequest(kDsp, dsp::kVersion, EIO);
        testsupport::CaptureStream caseErr{std::cerr};
        EXPECT_EQ(service.configureVAD(++ts, c.params), c.result) << c.state;
        EXPECT_EQ(env.dsp.command({"channel", std::to_string(ts)}), c.state);
        if (!c.result) {
            EXPECT_EQ(caseErr.text(), "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=81\n");
        }
    }
}

TEST_F(DsprocTest, EnablesAndDisablesSendOnlyWhatTheStateNeeds)
{
    auto failEnable = [this](TestChannel&) { env.sim.failRequest(kDsp, dsp::kEnable, EIO); };
    struct Case {
        char const* name;
        std::vector<Op> ops;
        std::vector<std::string> sent;
    };
    Case const cases[] = {
        {"first VAD and SD disables are sent",
         {[](TestChannel& c) { c.disableVAD(); }, [](TestChannel& c) { c.disableSD(); }},
         {"disable 71 0 1 -> 0", "disable 71 0 2 -> 0"}},
        {"first BSS and NG disables are not",
         {[](TestChannel& c) { c.disableBSS(); }, [](TestChannel& c) { c.disableNG(); }},
         {}},
        {"a state already reached is not sent again",
         {[](TestChannel& c) { c.enableVAD(true); }, [](TestChannel& c) { c.enableVAD(true); },
          [](TestChannel& c) { c.disableVAD(); }, [](TestChannel& c) { c.disableVAD(); },
          [](TestChannel& c) { c.enableBSS(true); }, [](TestChannel& c) { c.enableNG(true); }},
         {"enable 71 #1 1 -> 0", "disable 71 0 1 -> 0", "enable 71 #2 16 -> 0", "enable 71 #3 128 -> 0"}},
        {"mute both, then receive only",
         {[](TestChannel& c) { c.enableMute(true, true); }, [](TestChannel& c) { c.enableMute(true, false); },
          [](TestChannel& c) { c.enableMute(true, false); },
          [](TestChannel& c) { EXPECT_EQ(c.muteRx() * 10 + c.muteTx(), 10); }},
         {"enable 71 #1 12 -> 0", "enable 71 #2 4 -> 0"}},
        {"unmute on a new receiver", {[](TestChannel& c) { c.disableMute(); }}, {"disable 71 0 12 -> 0"}},
        {"a failed enable uses up its id",
         {failEnable, [](TestChannel& c) { EXPECT_FALSE(c.enableSD(true)); },
          [](TestChannel& c) { EXPECT_EQ(c.sd().state, -1); }, [](TestChannel& c) { c.enableSD(true); },
          [](TestChannel& c) { EXPECT_EQ(c.sd().state, 1); }},
         {"enable 71 #1 2 -> EIO", "enable 71 #2 2 -> 0"}},
    };
    for (Case const& c : cases)
        EXPECT_EQ(run(71, c.ops), c.sent) << c.name;
}

TEST_F(DsprocTest, EventsReachTheFirstReceiverOfTheirTimeslotWhenItsFunctionTakesThem)
{
    traces.signalling.events = true;
    struct Case {
        char const* name;
        Op setup;
        std::vector<std::string> command;  // to the model; "ID": the id of the setup's last enable
        std::vector<std::string> events;
        char const* line;  // a trace line it writes
    };
    Op const vadOn = [](TestChannel& c) { c.enableVAD(true); };
    Case const cases[] = {
        {"VAD of one direction", vadOn, {"vad", "72", "-", "1"}, {"vad -1 1"},
         "dsproc vad event:  dir_mask=2 vad_rx=0 vad_tx=1"},
        {"VAD under a stale id", vadOn, {"vad", "72", "1", "1", "0"}, {}, " id=0 type=1 rid="},
        {"VAD never enabled, id 0", {}, {"vad", "72", "1", "1", "0"}, {},
         "ignore spurious dsproc vad event (dsproc disabled):  timeslot=72 id=0 type=1"},
        {"VAD switched off", [](TestChannel& c) {
             c.enableVAD(true);
             c.disableVAD();
         }, {"vad", "72", "1", "0"}, {},
         "(dsproc disabled)"},
        {"SD", [](TestChannel& c) { c.enableSD(true); }, {"sd", "72", "1"}, {"sd 1"}, "dsproc sd event:  sd_rx=1"},
        {"BSS under any id", [](TestChannel& c) { c.enableBSS(true); }, {"bss", "72", "0.5", "999"}, {"bss 0.5"},
         "dsproc bss event:  score=0.5"},
        {"BSS off", {}, {"bss", "72", "0.5"}, {}, "ignore spurious dsproc bss event (dsproc disabled): "},
        {"tone filter without enable", {}, {"tone", "72", "1000", "1"}, {"tone 1000 1"},
         "dsproc event:  timeslot=72 id=0 type=256"},
        {"flags", {}, {"flags", "72", "0xa0000000", "0xa0000000"}, {"flags a0000000 a0000000"},
         "dsproc flags event:  flags=a0000000, mask=a0000000"},
        {"SELCAL progress", {}, {"selcal", "72", "1"}, {"flags 80000000 80000000"}, nullptr},
        {"unknown timeslot", vadOn, {"vad", "73", "1", "1"}, {}, "receive dsproc event from unknown timeslot 73"},
    };
    for (Case const& c : cases) {
        auto first = std::make_unique<TestChannel>(72);
        TestChannel second(72);
        second.enableVAD(true);
        if (c.setup)
            c.setup(*first);
        testsupport::CaptureStream caseErr{std::cerr};
        testsupport::CaptureStream caseLog{std::clog};
        EXPECT_EQ(env.dsp.command(c.command), "ok sent=1") << c.name;
        testsupport::settle();
        EXPECT_EQ(first->take(), c.events) << c.name;
        EXPECT_TRUE(second.take().empty()) << c.name;
        if (c.line) {
            EXPECT_EQ(linesWith(caseLog.text() + caseErr.text(), c.line).size(), 1u)
                << c.name << '\n' << caseLog.text() << caseErr.text();
        }
    }
    // Without the trace switch nothing of the above is written.
    traces.signalling.events = false;
    testsupport::CaptureStream quietErr{std::cerr};
    testsupport::CaptureStream quietLog{std::clog};
    EXPECT_EQ(env.dsp.command({"vad", "73", "1", "1"}), "ok sent=1");
    testsupport::settle();
    EXPECT_EQ(quietErr.text() + quietLog.text(), "");
}

TEST_F(DsprocTest, CleanBeforeDestroyUndoesWhatTheDriverTook)
{
    auto failConfigure = [this](TestChannel&) { env.sim.failRequest(kDsp, dsp::kConfigure, EIO); };
    auto clean = [](TestChannel& c) { c.Hardware::DSProcReceiver::CleanBeforeDestroy(); };
    std::string const toneAll = "disable 74 0 256 -> 0";
    struct Case {
        char const* name;
        std::vector<Op> ops;
        std::vector<std::string> cleanup;
    };
    Case const cases[] = {
        {"nothing switched on", {}, {toneAll}},
        {"gain set and reset", {[](TestChannel& c) { c.configureRxGain(-6); }, [](TestChannel& c) { c.configureRxGain(0); }},
         {toneAll}},
        {"gain refused", {failConfigure, [](TestChannel& c) { c.configureRxGain(-6); }}, {toneAll}},
        {"gain reset refused",
         {[](TestChannel& c) { c.configureRxGain(-6); }, failConfigure, [](TestChannel& c) { c.configureRxGain(0); }},
         {"configure 74 64 0 0 0 -> 0", toneAll}},
        {"delays refused", {failConfigure, [](TestChannel& c) { c.configureDelays(10, 20); }}, {toneAll}},
        {"everything on",
         {[](TestChannel& c) { c.configureDelays(10, 20); }, [](TestChannel& c) { c.enableVAD(true); },
          [](TestChannel& c) { c.enableBSS(true); }, [](TestChannel& c) { c.enableNG(true); },
          [](TestChannel& c) { c.enableSD(true); }, [](TestChannel& c) { c.enableMute(true, true); }},
         {"disable 74 0 1 -> 0", "disable 74 0 16 -> 0", "disable 74 0 128 -> 0", "configure 74 32 0 0 0 -> 0",
          toneAll}},
    };
    for (Case const& c : cases) {
        TestChannel channel(74);
        for (Op const& op : c.ops)
            op(channel);
        auto from = env.mark();
        clean(channel);
        EXPECT_EQ(requests(from, 0), c.cleanup) << c.name;
    }
}

// Each request as the driver gets it; a failed one is said with its time slot.
TEST_F(DsprocTest, RequestsAndTheirFailures)
{
    struct Case {
        unsigned long request;
        Op call;
        char const* sent;    // as journaled, from the request's name on; "#N": the Nth new id
        char const* failed;  // the beginning of the error line
    };
    Case const cases[] = {
        {dsp::kConfigure, [](TestChannel& c) { c.configureSD(); }, "configure 75 2 0 0 0 -> 0",
         "DSPROC_CONFIGURE SD fail: timeslot=75 errno="},
        {dsp::kConfigure, [](TestChannel& c) { c.configureDelays(5, 6); }, "configure 75 32 5 6 0 -> 0",
         "DSPROC_CONFIGURE DELAYS fail: timeslot=75 errno="},
        // -6 dB in a byte.
        {dsp::kConfigure, [](TestChannel& c) { c.configureRxGain(-6); }, "configure 75 64 250 0 0 -> 0",
         "DSPROC_CONFIGURE Rx Gain fail: timeslot=75 errno="},
        // 2100 Hz and on in 16 bits each, 400 ms in 16 bits and -30 dB in a byte.
        {dsp::kConfigure, [](TestChannel& c) { c.configureToneFilter(2100, 1, 400, -30); },
         "configure 75 256 67636 14811536 0 -> 0", "DSPROC_CONFIGURE Tone Filter fail: timeslot=75 errno="},
        {dsp::kDisable, [](TestChannel& c) { c.disableToneAll(); }, "disable 75 0 256 -> 0",
         "Disable All Tone fail: timeslot=75 errno="},
        {dsp::kEnable, [](TestChannel& c) { c.enableBSS(true); }, "enable 75 #1 16 -> 0",
         "DSPROC_ENABLE BSS fail: timeslot=75 id="},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(run(75, {c.call}), std::vector<std::string>{c.sent}) << c.failed;
        testsupport::CaptureStream caseErr{std::cerr};
        env.sim.failRequest(kDsp, c.request, EIO);
        run(75, {c.call});
        EXPECT_EQ(linesWith(caseErr.text(), c.failed).size(), 1u) << caseErr.text();
    }
}

}  // namespace
