#include "hardware/driver_service.h"

#include "hardware/receiver_test_support.h"
#include "tests/board_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using receivertest::dtmfParams;
using receivertest::ivaParams;
using receivertest::SimEnv;
using receivertest::TestChannel;

using testsupport::withoutIds;

// A tone or voice-processing device that ends is opened again by the service's timer, and
// every receiver gets back on it what it had asked of the old descriptor; the detectors under
// new ids, so that an event under an id of the old descriptor no longer passes.
TEST(DriverServices, ADeviceThatEndsComesBackWithWhatEveryReceiverAskedOfIt)
{
    struct Case {
        std::string ts;
        char const* path;
        Hardware::DriverService& service;
        std::function<void(TestChannel&)> setup;
        // Two events of the timeslot, for the model: one under the id of the old descriptor
        // (added here), one under the device's current id; the receiver hears only the second.
        std::vector<std::string> stale, current;
        std::vector<std::string> heard;
        std::function<std::uint32_t(TestChannel const&)> id;  // of the receiver's detector
    };
    SimEnv& env = SimEnv::get();
    Case const cases[] = {
        {"90", dtmf::kPath, Hardware::TonecReceiverService::instance(),
         [](TestChannel& c) {
             c.configureDTMF(dtmfParams());
             c.enableDTMF(true);
             c.configureIVA(ivaParams());
             c.enableIVA(true);
             c.enableDTMFReject(true);
             c.echoCancel(true);
             c.enableToneGenerator(425, 0, 2048, 0);
         },
         {"dtmf", "90", "5"}, {"dtmf", "90", "6"}, {"tonec 6"}, [](TestChannel const& c) { return c.rid(); }},
        // IVA records come under no id on a device where DTMF was not enabled again.
        {"91", dtmf::kPath, Hardware::TonecReceiverService::instance(),
         [](TestChannel& c) {
             c.enableDTMF(true);
             c.disableDTMF();
             c.enableIVA(true);
         },
         {"iva", "91", "3"}, {"iva", "91", "4"}, {"tonec 1024"}, [](TestChannel const& c) { return c.rid(); }},
        {"92", dsp::kPath, Hardware::DSProcReceiverService::instance(),
         [](TestChannel& c) {
             c.configureVAD(receivertest::vadV2(600, 400, 30));
             c.enableVAD(true);
             c.configureSD();
             c.enableSD(true);
             c.enableBSS(true);
             c.enableNG(true);
             c.enableMute(true, false);
             c.configureDelays(10, 20);
             c.configureRxGain(-6);
             c.configureToneFilter(2100, 1, 400, -30);
         },
         {"vad", "92", "1", "-"}, {"vad", "92", "0", "-"}, {"vad 0 -1"},
         [](TestChannel const& c) { return c.vad().id; }},
    };
    for (Case const& c : cases) {
        Mux::TestClock clock;
        board::sim::Device& model = *env.sim.device(c.path);
        TestChannel channel(std::uint32_t(std::stoul(c.ts)));
        c.setup(channel);
        std::string const state = model.command({"channel", c.ts});
        std::string const oldId = std::to_string(c.id(channel));

        env.sim.failRead(c.path, {board::sim::ReadFault::Kind::eof, 0});
        testsupport::settle();
        ASSERT_TRUE(c.service.away()) << c.path;
        testsupport::advance(clock, DeviceReturn::first_wait_ms + DeviceReturn::trial_ms);
        EXPECT_FALSE(c.service.away()) << c.path;
        EXPECT_EQ(withoutIds(model.command({"channel", c.ts})), withoutIds(state)) << c.path;

        std::vector<std::string> stale = c.stale;
        stale.push_back(oldId);
        EXPECT_EQ(model.command(stale), "ok sent=1") << c.path;
        EXPECT_EQ(model.command(c.current), "ok sent=1") << c.path;
        testsupport::settle();
        EXPECT_EQ(channel.take(), c.heard) << c.path;

        // An init while it is away is the service's one try: its timer opens it no more.
        env.sim.failRead(c.path, {board::sim::ReadFault::Kind::eof, 0});
        testsupport::settle();
        c.service.init();
        ASSERT_EQ(model.opens().size(), 1u) << c.path;
        unsigned const open = model.opens().front()->id();
        testsupport::advance(clock, DeviceReturn::last_wait_ms + DeviceReturn::trial_ms);
        EXPECT_FALSE(c.service.away()) << c.path;
        ASSERT_EQ(model.opens().size(), 1u) << c.path;
        EXPECT_EQ(model.opens().front()->id(), open) << c.path;
    }
}

}  // namespace
