// What a tone or voice-processing device holds once it comes back is what the controller was
// told, on the daemon running on the simulated board. Every tone and voice request of an RTP
// channel and of a mixer port is sent while the device is away (every open fails); after the
// return, the channel's state on the device must agree with the answer: a request answered
// success leaves what the same request leaves on a device that works (a second slot of the
// kind, given it once the device is back), a request answered with an error leaves what was
// there before the outage. The timed sequences come back at the point they reached: a DTMF
// digit whose sequence ended during the outage comes back ended, a wait tone with its cadence.
// A put-back the driver refuses is said once and tried again until the device holds it.

#include "tests/tone_channels.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testsupport;
using P = ZGCP::IoctlParams;

// How the state after the return is judged.
enum class Expect {
    agrees,   // with the answer, as above
    silent,   // the generator stays off
    steady,   // the generator sounds its tone again, once
    cadence,  // a wait tone: both its tone and its silence sound again
};

struct Row {
    char const* name;
    char const* path;  // the device that goes away
    ToneKind kind;
    std::vector<P> before;
    std::optional<P> during;
    // How long the outage lasts after the request: the daemon's timed sequences go on meanwhile.
    std::chrono::milliseconds outage{0};
    Expect expect = Expect::agrees;
    // A request of the put-back that the driver refuses once (none: the outage is lasting).
    char const* refused = nullptr;
};

void PrintTo(Row const& row, std::ostream* os) { *os << row.name; }

struct Device {
    char const* path;
    char const* went;  // the line of its end
    char const* back;
    char const* refused;
};
Device const devices[] = {
    {"/dev/dtmf", "fail to read from tonec: hang-up", "tonec interface opened\n",
     "tonec interface opened, but the driver refused part of what is put back on it: tried again"},
    {"/dev/dsp", "fail to read from dsproc: hang-up", "dsproc interface opened\n",
     "dsproc interface opened, but the driver refused part of what is put back on it: tried again"},
};

Device const& device(char const* path) { return std::string(path) == devices[0].path ? devices[0] : devices[1]; }

class Outages : public ToneChannels, public ::testing::WithParamInterface<Row> {
protected:
    // The subject (20), with the requests of before, and the control (21), which gets them
    // once the device is back.
    void make()
    {
        Row const& row = GetParam();
        for (unsigned slot : {20u, 21u})
            ASSERT_NO_FATAL_FAILURE(ToneChannels::make(slot, row.kind, int(slot - 20)));
        requests(20, row.before);
    }
    std::string state(unsigned slot) { return ToneChannels::state(channels.at(slot)); }
    bool said(std::string const& line, std::size_t before)
    {
        return DaemonLauncher::waitFor([&] { return daemon.said(line) > before; });
    }
};

TEST_P(Outages, TheDeviceComesBackWithWhatTheControllerWasTold)
{
    Row const& row = GetParam();
    Device const& d = device(row.path);
    ASSERT_NO_FATAL_FAILURE(make());
    std::string const before = state(20);
    ASSERT_EQ(before.rfind("ok ", 0), 0u) << before;
    std::size_t const went = daemon.said(d.went), back = daemon.said(d.back), refused = daemon.said(d.refused);

    std::string const path = row.path;
    if (row.refused) {
        ASSERT_EQ(board->command("fail-request " + path + " " + row.refused + " EIO 1"), "ok");
    } else {
        ASSERT_EQ(board->command("fail-open " + path + " ENODEV always"), "ok");
    }
    ASSERT_EQ(board->command("fail-read " + path + " hangup 1"), "ok");
    ASSERT_TRUE(said(d.went, went)) << daemon.err();
    std::string answer;
    if (row.during)
        answer = done(20, ioctlCommand(*row.during));
    std::this_thread::sleep_for(row.outage);
    if (!row.refused) {
        ASSERT_EQ(board->command("clear-failures"), "ok");
    }
    ASSERT_TRUE(said(d.back, back)) << daemon.err();
    EXPECT_EQ(daemon.said(d.back), back + 1);
    EXPECT_EQ(daemon.said(d.refused), refused + (row.refused ? 1 : 0)) << daemon.err();

    switch (row.expect) {
    case Expect::agrees:
        if (answer == "success") {
            requests(21, row.before);
            requests(21, {*row.during});
        }
        // What the timed sequences of either do meanwhile is done by then.
        std::this_thread::sleep_for(row.outage);
        EXPECT_EQ(state(20), answer == "success" ? state(21) : before) << "answered " << answer;
        break;
    case Expect::silent:
    case Expect::steady: {
        std::this_thread::sleep_for(row.outage);
        std::vector<std::string> const steady{"425/0/2048/0"};
        EXPECT_EQ(soundedSinceOff(channels.at(20)), row.expect == Expect::steady ? steady : std::vector<std::string>{});
        break;
    }
    case Expect::cadence: {
        // Its period is 4 s: 1 s of tone, 3 s of silence.
        std::vector<std::string> sounded;
        EXPECT_TRUE(DaemonLauncher::waitFor([&] {
            sounded = soundedSinceOff(channels.at(20));
            return std::count(sounded.begin(), sounded.end(), "425/0/2048/2048") >= 1
                   && std::count(sounded.begin(), sounded.end(), "1000/1000/0/0") >= 1;
        })) << board->command("device /dev/dtmf generator " + channels.at(20));
        break;
    }
    }
    EXPECT_TRUE(pinged());
}

std::vector<Row> rows()
{
    P dtmfOn(P::dtmf_enable::id, true), dtmfOff(P::dtmf_enable::id, false), vadOn(P::vad_enable::id, true), sd;
    sd.select_sd_params();
    P echo(P::echoSuppressor::id, true), reject(P::dtmf_reject_enable::id, true), rejectOff, dtmfParams, digits,
        longDigits, waitTone, waitToneOff, selcal, vadOff, vadParams, sdOn(P::sd_enable::id, true), sdOff, gain,
        filter, iva(P::iva_enable::id, true), ivaParams, delays, toneGen, toneGenOff, dtmfStop;
    rejectOff.select_dtmf_reject_disable();
    ZGCP::DTMFParams& dp = dtmfParams.select_dtmf_params();
    dp.set_threshold().set_twist(1);
    dp.set_threshold().set_ratio(2);
    dp.set_threshold().set_noise(3);
    dp.set_level().set_silence(4);
    digits.select_translateDTMF() = digit5(70, 70);
    // Its closing silence ends 2 s after the request.
    longDigits.select_translateDTMF() = digit5(1000, 1000);
    waitTone.select_activateWaitTone();
    waitToneOff.select_deactivateWaitTone();
    selcal.select_selcal().set_signs("ABCD");
    vadOff.select_vad_disable();
    TERM::VADParamsV2& v2 = vadParams.select_vad_params().select_v2();
    v2.set_voice_th_msec(600);
    v2.set_silence_th_msec(400);
    v2.set_e_th_dB(30);
    sdOff.select_sd_disable();
    gain.select_rx_gain().set_gainDB(-6);
    filter = toneFilterIoctl(2100, 400, -30);
    ivaParams.select_iva_params().set_det_lvl_dB(-20);
    delays.select_delays().set_rx(10);
    delays.ref_delays().set_tx(20);
    toneGen.select_tone_gen_enable().set_freq(425);
    toneGen.ref_tone_gen_enable().set_amp(2048);
    toneGenOff.select_tone_gen_disable();
    dtmfStop.select_dtmf_disable();

    char const* const tone = "/dev/dtmf";
    char const* const voice = "/dev/dsp";
    std::vector<P> const base{dtmfOn, sd, vadOn};
    // An output port detects no DTMF.
    std::vector<P> const outBase{dtmfParams, sd, vadOn};
    using ms = std::chrono::milliseconds;
    ToneKind const rtp = ToneKind::rtp, in = ToneKind::mixerIn, out = ToneKind::mixerOut;
    return {
        // The requests of an RTP channel.
        {"echoSuppressor", tone, rtp, base, echo},
        {"dtmfRejectEnable", tone, rtp, base, reject},
        {"dtmfEnableOff", tone, rtp, base, dtmfOff},
        {"dtmfParams", tone, rtp, base, dtmfParams},
        {"translateDTMF", tone, rtp, base, digits},
        {"activateWaitTone", tone, rtp, base, waitTone},
        {"selcal", tone, rtp, base, selcal},
        {"vadDisable", voice, rtp, base, vadOff},
        {"vadParams", voice, rtp, base, vadParams},
        {"sdEnable", voice, rtp, {dtmfOn, sd}, sdOn},
        {"sdDisable", voice, rtp, {dtmfOn, sd, sdOn}, sdOff},
        {"rxGain", voice, rtp, base, gain},
        {"toneFilter", voice, rtp, base, filter},
        // Those only the mixer ports take.
        {"ivaEnable", tone, in, base, iva},
        {"ivaParams", tone, in, base, ivaParams},
        {"delays", voice, in, base, delays},
        {"dtmfRejectDisable", tone, out, outBase, rejectOff},
        {"toneGenEnable", tone, out, outBase, toneGen},
        // The timed sequences and the generator, stopped or ending during the outage.
        {"waitToneStopped", tone, rtp, {waitTone}, waitToneOff, ms(500)},
        {"waitToneRunning", tone, rtp, {waitTone}, std::nullopt, ms(500), Expect::cadence},
        {"digitsEnded", tone, rtp, {longDigits}, std::nullopt, ms(2500), Expect::silent},
        {"digitsStopped", tone, out, {longDigits}, dtmfStop, ms(500)},
        {"mixerGeneratorStopped", tone, out, {toneGen}, toneGenOff},
        {"mixerGeneratorRunning", tone, out, {toneGen}, std::nullopt, ms(0), Expect::steady},
        // A put-back the driver refuses once.
        {"dtmfRefused", tone, rtp, base, std::nullopt, ms(0), Expect::agrees, "enable"},
        {"dspRefused", voice, rtp, base, std::nullopt, ms(0), Expect::agrees, "enable"},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, Outages, ::testing::ValuesIn(rows()),
                         [](::testing::TestParamInfo<Row> const& info) { return std::string(info.param.name); });

}  // namespace
