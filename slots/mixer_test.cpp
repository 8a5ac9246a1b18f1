#include "slots/mixer.h"

#include "hardware/board_devices.h"
#include "slots/mixer_slot.h"
#include "tests/loop_pump.h"
#include "tests/slots_test_support.h"

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace slotstest;
using board::sim::MixerModel;
using testsupport::mixerInParams;
using testsupport::mixerOutParams;
using testsupport::rtpChannel;
using testsupport::tdmChannel;

// Unit 3 (32 channels) known to the factory; every unit goes when the test ends.
struct MixerTest : SlotsTest {
    Mixer::MixerFactory& factory = Mixer::MixerFactory::instance();

    MixerTest()
    {
        env.mixer.addUnit(3, 32, 16);
        factory.RefreshResources();
    }
    ~MixerTest() override
    {
        table.OnDisconnect();
        env.sim.clearFailures();
        for (int id = 0; id <= MixerModel::kMaxUnit; ++id)
            env.mixer.removeUnit(id);
        factory.RefreshResources();
    }

    // "0<5:100 0<6:200": the unit's routes in the model.
    std::string routes(int unit)
    {
        std::string text;
        for (MixerModel::Route const& r : env.mixer.routes(unit))
            text += (text.empty() ? "" : " ") + std::to_string(r.rx) + "<" + std::to_string(r.tx) + ":" + std::to_string(r.gain);
        return text;
    }
    void addRoute(int rx, int tx, int gain)
    {
        mix_route route{{3, 0, rx}, {3, 0, tx}, gain};
        ASSERT_EQ(Mixer::mixer_ctl(mixer::kRxAdd, &route), 0);
    }
    // The mixer's lines written since the offset into the error stream.
    std::string mixerLines(std::size_t from) { return linesOf(err.text().substr(from), "mixer"); }
    static int timeslot(int unit, int channel) { return MixerModel::kFirstTimeslot + unit * 128 + channel; }
};

TEST_F(MixerTest, DeclinedOutputChangesNoRoute)
{
    // Unit 4 brings the channels that ports may use down to 16.
    env.mixer.addUnit(4, 16, 16);
    factory.RefreshResources();
    struct Case {
        char const* name;
        int channel;  // holds the route 5 at gain 100 before
        ZGCP::CreateParams params;
        bool tdmRefused;
        char const* line;
        std::string routesAfter;
    };
    Case const cases[] = {
        {"rtp channel", 0, mixerOutParams(3, rtpChannel(0), {}), false, "", "0<5:100"},
        {"channel out of range", 20, mixerOutParams(3, tdmChannel(20), {}), false, "", "20<5:100"},
        {"timeslot refused", 0, mixerOutParams(3, tdmChannel(0), {}), true,
         "mixer [3]: MIX_TDM dev_no=3 type=0 number=0 fail : Input/output error\n", "0<5:100"},
        {"rtp input", 0, mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 7}, {rtpChannel(2), 7}}), false,
         "mixer [3]: SetTX error: translation fail [2]\n", "0<5:100"},
        // The channel's old sum was replaced, and the new one goes again.
        {"input refused", 0, mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 7}, {tdmChannel(40), 7}}), false,
         "mixer [3]: MIX_RX_ADD fail : Invalid argument\n", ""},
    };
    for (Case const& c : cases) {
        addRoute(c.channel, 5, 100);
        if (c.tdmRefused)
            env.sim.failRequest(mixer::kPath, mixer::kTdm, EIO);
        std::size_t const logged = err.text().size();
        EXPECT_EQ(create(10, c.params), fail(ZGCP::ErrorCause::insufficientResources)) << c.name;
        EXPECT_EQ(routes(3), c.routesAfter) << c.name;
        EXPECT_EQ(mixerLines(logged), c.line) << c.name;
        mix_slot clear{3, 0, c.channel};
        Mixer::mixer_ctl(mixer::kRxClear, &clear);
    }
}

TEST_F(MixerTest, InputSummatorIsRoutedOnlyWhenItIsATdmChannel)
{
    ZGCP::CreateParams withEcm = mixerInParams(3, tdmChannel(1));
    withEcm.ref_mixerIn().set_ecm().set_ec(false);
    withEcm.ref_mixerIn().set_ecm().set_es(true);
    struct Case {
        char const* name;
        ZGCP::CreateParams params;
        bool addRefused;
        char const* routes;
        char const* lines;  // written from create to destroy
    };
    Case const cases[] = {
        {"none", mixerInParams(3, tdmChannel(1)), false, "", ""},
        {"rtp", mixerInParams(3, tdmChannel(1), rtpChannel(0)), false, "", "mixer [3]: wrong summator coding !\n"},
        {"refused", mixerInParams(3, tdmChannel(1), tdmChannel(0)), true, "",
         "mixer [3]: MIX_RX_ADD fail : Input/output error\n"
         "mixer [3]: MIX_RX_REMOVE rx.number=0 tx.number=1 fail : No such file or directory\n"},
        {"out of range", mixerInParams(3, tdmChannel(1), tdmChannel(56)), false, "",
         "mixer [3]: MIX_RX_ADD fail : Invalid argument\n"
         "mixer [3]: MIX_RX_REMOVE rx.number=56 tx.number=1 fail : Invalid argument\n"},
        {"echo canceller", withEcm, false, "", ""},
    };
    for (Case const& c : cases) {
        if (c.addRefused)
            env.sim.failRequest(mixer::kPath, mixer::kRxAdd, EIO);
        std::size_t const logged = err.text().size();
        std::uint64_t const mark = env.mark();
        EXPECT_EQ(create(11, c.params), ok()) << c.name;
        EXPECT_EQ(routes(3), c.routes) << c.name;
        EXPECT_EQ(destroy(11), ok()) << c.name;
        EXPECT_EQ(mixerLines(logged), c.lines) << c.name;
        std::size_t edits = 0;
        for (auto const& e : env.sim.journal().since(mark))
            edits += e.name == std::string("rx-add") || e.name == std::string("rx-remove");
        EXPECT_EQ(edits, std::string(c.lines).find("MIX_RX_ADD") != std::string::npos ? 2u : 0u) << c.name;
        // A route the driver never took is not owed.
        EXPECT_FALSE(factory.findMixer(3)->owes(1)) << c.name;
    }
    // The echo canceller was switched on for the channel.
    auto const* channel = env.dtmf.channel(std::uint32_t(timeslot(3, 1)));
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(channel->lms);
}

TEST_F(MixerTest, EnumerationTakesAHundredUnitsAndKeepsThemFromQueryToQuery)
{
    for (int id = 0; id <= 100; ++id)
        env.mixer.addUnit(id, 1, 1);
    factory.RefreshResources();
    ASSERT_EQ(factory.units().size(), Mixer::MixerFactory::kMaxUnits);
    EXPECT_EQ(factory.units().back()->id(), 99);
    ASSERT_EQ(create(12, mixerInParams(99, tdmChannel(0))), ok());

    std::uint64_t const mark = env.mark();
    factory.RefreshResources();
    EXPECT_EQ(factory.units().size(), Mixer::MixerFactory::kMaxUnits);
    EXPECT_TRUE(signals.take().empty());  // no port aborted
    for (auto const& e : env.sim.journal().since(mark))
        EXPECT_NE(e.name, std::string("rx-clear"));  // no unit reset
}

TEST_F(MixerTest, VanishedUnitGoesWithItsLastPort)
{
    env.mixer.addUnit(7, 16, 16);
    env.mixer.addUnit(8, 16, 16);
    factory.RefreshResources();
    std::weak_ptr<Mixer::Mixer> const unit7 = factory.findMixer(7);
    std::weak_ptr<Mixer::Mixer> const unit8 = factory.findMixer(8);
    ASSERT_EQ(create(20, mixerInParams(7, tdmChannel(0))), ok());
    ASSERT_EQ(create(21, mixerOutParams(7, tdmChannel(1), {})), ok());

    env.mixer.removeUnit(7);
    env.mixer.removeUnit(8);
    factory.RefreshResources();
    EXPECT_TRUE(unit8.expired());
    ASSERT_FALSE(unit7.expired());
    EXPECT_TRUE(unit7.lock()->isDead());
    EXPECT_EQ(factory.findMixer(7), nullptr);
    EXPECT_EQ(destroy(20), ok());
    EXPECT_FALSE(unit7.expired());
    EXPECT_EQ(destroy(21), ok());
    EXPECT_TRUE(unit7.expired());
}

// A unit that vanishes and comes back under its number is another unit: the ports of the
// first let go of their channels, and their destroy touches nothing of the second.
TEST_F(MixerTest, APortOfAVanishedUnitTouchesNothingOfTheUnitThatCameBack)
{
    int const ts = timeslot(3, 5);
    ZGCP::Command const dtmfOn(ZGCP::Command::ioctl::id, ZGCP::IoctlParams(ZGCP::IoctlParams::dtmf_enable::id, true));
    ASSERT_EQ(create(30, trunk(1, 5)), ok());
    ASSERT_EQ(create(31, trunk(1, 6)), ok());
    ASSERT_EQ(create(20, mixerInParams(3, tdmChannel(5), tdmChannel(0))), ok());
    ASSERT_EQ(run(20, dtmfOn), ok());
    ASSERT_EQ(connect(30, 20), ok());

    env.mixer.removeUnit(3);
    factory.RefreshResources();
    env.mixer.addUnit(3, 32, 16);
    factory.RefreshResources();
    ASSERT_EQ(create(21, mixerInParams(3, tdmChannel(5), tdmChannel(0))), ok());
    ASSERT_EQ(run(21, dtmfOn), ok());
    ASSERT_EQ(connect(31, 21), ok());
    signals.take();
    // The channel's tones reach the new port.
    ASSERT_EQ(env.dtmf.command({"dtmf", std::to_string(ts), "5"}), "ok sent=1");
    testsupport::settle();
    EXPECT_EQ(signals.take().size(), 1u);

    ASSERT_EQ(destroy(20), ok());
    EXPECT_EQ(routes(3), "0<5:32767");
    EXPECT_EQ(output(ts).input, 38);
    EXPECT_TRUE(env.dtmf.channel(std::uint32_t(ts))->dtmf);

    // A second port on a channel that has one is refused, of either kind.
    std::size_t const logged = err.text().size();
    EXPECT_EQ(create(22, mixerInParams(3, tdmChannel(5))), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(create(22, mixerOutParams(3, tdmChannel(5), {})), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(routes(3), "0<5:32767");
    EXPECT_EQ(mixerLines(logged), "mixer [3]: channel 5 has a port already\nmixer [3]: channel 5 has a port already\n");
}

// A route a port's release leaves summed, the driver refusing to undo it, is owed by the unit
// until undone; a unit the driver no longer lists lets go of it, and nothing of it is tried.
TEST_F(MixerTest, WhatARefusedReleaseLeavesSummedGoesWithTheUnit)
{
    std::shared_ptr<Mixer::Mixer> const unit = factory.findMixer(3);
    ASSERT_EQ(create(10, mixerInParams(3, tdmChannel(1), tdmChannel(0))), ok());
    ASSERT_EQ(create(11, mixerOutParams(3, tdmChannel(2), {})), ok());
    env.sim.failRequest(mixer::kPath, mixer::kRxRemove, EIO, -1);
    env.sim.failRequest(mixer::kPath, mixer::kRxClear, EIO, -1);
    ASSERT_EQ(destroy(10), ok());
    ASSERT_EQ(destroy(11), ok());
    EXPECT_EQ(routes(3), "0<1:32767 2<2:32767");
    for (int channel : {0, 1, 2})
        EXPECT_TRUE(unit->owes(channel)) << channel;

    env.mixer.removeUnit(3);
    factory.RefreshResources();
    for (int channel : {0, 1, 2})
        EXPECT_FALSE(unit->owes(channel)) << channel;
}

TEST_F(MixerTest, ResetAndVersionFailuresAreWritten)
{
    env.sim.failRequest(mixer::kPath, mixer::kRxClear, EIO, 3);
    env.sim.failOpen(GetVoiceDevName(), ENOENT);
    env.mixer.addUnit(9, 32, 16);
    std::size_t const logged = err.text().size();
    factory.RefreshResources();
    EXPECT_EQ(mixerLines(logged), "mixer [9]: reset fail: 3 errors.\n"
                                         "mixer: device \"/dev/voice\" open fail: No such file or directory\n");
    EXPECT_FALSE(factory.versionValid());
    factory.RefreshResources();
    EXPECT_TRUE(factory.versionValid());
}

// The ports' own requests of the tone and voice-processing devices answer an error while the
// device cannot be opened (the end-to-end device-failure table goes through those they share
// with the RTP slot), and are served once it can be again.
TEST_F(MixerTest, PortRequestsAnswerAnErrorWhileTheirDeviceCannotBeOpened)
{
    using P = ZGCP::IoctlParams;
    ASSERT_EQ(create(30, mixerInParams(3, tdmChannel(4))), ok());
    ASSERT_EQ(create(31, mixerOutParams(3, tdmChannel(5), {})), ok());
    P tone, delays;
    tone.select_tone_gen_enable().set_freq(425);
    tone.ref_tone_gen_enable().set_amp(2048);
    delays.select_delays().set_rx(10);
    struct Request {
        unsigned port;
        P params;
    };
    Request const requests[] = {{30, delays}, {31, delays}, {31, tone}};
    for (char const* path : {dtmf::kPath, dsp::kPath}) {
        env.sim.failOpen(path, ENODEV, -1);
        env.sim.failRead(path, {board::sim::ReadFault::Kind::eof, 0});
    }
    testsupport::settle();
    for (Request const& r : requests)
        EXPECT_EQ(run(r.port, ZGCP::Command(ZGCP::Command::ioctl::id, r.params)), fail(ZGCP::ErrorCause::unsupported))
            << r.port << ' ' << r.params;
    env.sim.clearFailures();
    for (Request const& r : requests)
        EXPECT_EQ(run(r.port, ZGCP::Command(ZGCP::Command::ioctl::id, r.params)), ok()) << r.port << ' ' << r.params;
}

TEST_F(MixerTest, EachPortServesItsOwnRequestsAndEvents)
{
    using P = ZGCP::IoctlParams;
    ASSERT_EQ(create(30, mixerInParams(3, tdmChannel(4))), ok());
    ASSERT_EQ(create(31, mixerOutParams(3, tdmChannel(5), {})), ok());

    struct Request {
        P params;
        bool input, output;
    };
    // One of each kind: served by inputs only, outputs only, both, neither.
    P tone, delays, waitTone;
    tone.select_tone_gen_enable().set_freq(425);
    tone.ref_tone_gen_enable().set_amp(2048);
    delays.select_delays();
    waitTone.select_activateWaitTone();
    Request const requests[] = {
        {P(P::echoSuppressor::id, true), true, false}, {P(P::dtmf_enable::id, true), true, false},
        {tone, false, true},                           {P(P::vad_enable::id, true), true, true},
        {delays, true, true},                          {waitTone, false, false},
    };
    for (Request const& r : requests) {
        auto const expect = [](bool served) { return served ? ok() : fail(ZGCP::ErrorCause::unsupported); };
        EXPECT_EQ(run(30, ZGCP::Command(ZGCP::Command::ioctl::id, r.params)), expect(r.input)) << r.params;
        EXPECT_EQ(run(31, ZGCP::Command(ZGCP::Command::ioctl::id, r.params)), expect(r.output)) << r.params;
    }

    // Tones and voice activity are reported from inputs only; tone filters from both.
    struct Event {
        int port;
        std::vector<std::string> inject;  // a tone or voice-processing console command
        int signal;                       // the alternative sent, -1 none
    };
    std::string const in = std::to_string(timeslot(3, 4));
    std::string const out = std::to_string(timeslot(3, 5));
    Event const events[] = {
        {30, {"dtmf", in, "5"}, ZGCP::Signal::tonec::id},
        {30, {"vad", in, "1", "-"}, ZGCP::Signal::vad::id},
        {31, {"vad", out, "1", "-"}, -1},
        {31, {"tone", out, "2100", "1"}, ZGCP::Signal::tonec::id},
    };
    for (Event const& e : events) {
        signals.take();
        auto& model = e.inject[0] == "dtmf" ? static_cast<board::sim::Device&>(env.dtmf) : env.dsp;
        ASSERT_EQ(model.command(e.inject), "ok sent=1") << e.inject[0];
        testsupport::settle();
        ASSERT_EQ(signals.signals.size(), e.signal < 0 ? 0u : 1u) << e.inject[0] << " " << e.port;
        if (e.signal >= 0) {
            EXPECT_EQ(signals.signals[0].currentSelection(), e.signal) << e.inject[0];
        }
    }
}

}  // namespace
