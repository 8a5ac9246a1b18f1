#include "tests/tone_channels.h"

namespace testsupport {

void ToneChannels::make(unsigned slot, ToneKind kind, int n)
{
    if (kind != ToneKind::rtp && !mixerUnit) {
        ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
        resources();
        mixerUnit = true;
    }
    ZGCP::CreateParams const params =
        kind == ToneKind::mixerOut  ? mixerOutParams(3, tdmChannel(2 * n), {{tdmChannel(2 * n + 1), 32767}})
        : kind == ToneKind::mixerIn ? mixerInParams(3, tdmChannel(2 * n))
                                    : rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 9000 + 2 * n));
    ASSERT_EQ(done(slot, createCommand(params)), "success");
    // A port's switch channel: its unit's first channel (4096 + 128 a unit) and its own.
    channels[slot] = kind == ToneKind::rtp ? newestRtpChannel() : std::to_string(4096 + 3 * 128 + 2 * n);
}

void ToneChannels::requests(unsigned slot, std::vector<P> const& ps)
{
    for (P const& p : ps)
        ASSERT_EQ(done(slot, ioctlCommand(p)), "success") << p.asValueNotation();
}

void ToneChannels::letGo(unsigned slot, ToneKind kind, End end, bool unitBack)
{
    if (end == End::destroy) {
        EXPECT_EQ(done(slot, plainCommand(ZGCP::Command::destroy::id)), "success");
    } else if (kind == ToneKind::rtp) {
        ASSERT_EQ(board->command("fail-read /dev/rtp hangup"), "ok");
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said("fail to read from rtp: ") > 0; }));
    } else {
        ASSERT_EQ(board->command("device /dev/mixer remove 3"), "ok");
        resources();
        if (unitBack) {
            ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
            resources();
        }
    }
}

std::string ToneChannels::newestRtpChannel()
{
    std::string const d = board->command("dump /dev/rtp");
    std::size_t const at = d.rfind("; ");
    std::string const last = at == std::string::npos ? d.substr(3) : d.substr(at + 2);
    return last.substr(0, last.find(':'));
}

std::string ToneChannels::state(std::string const& ts) { return functions(ts) + " | " + pdEvent(ts); }

std::string ToneChannels::functions(std::string const& ts)
{
    return onDevice("/dev/dtmf", ts) + " | " + onDevice("/dev/dsp", ts);
}

std::string ToneChannels::onDevice(std::string const& path, std::string const& ts)
{
    std::string s = withoutIds(board->command("device " + path + " channel " + ts));
    std::size_t const resets = s.find(" tone-resets=");
    if (resets != std::string::npos)
        s.erase(resets, s.find_first_not_of("0123456789", resets + 13) - resets);
    return s;
}

std::string ToneChannels::pdEvent(std::string const& ts)
{
    std::string const d = board->command("dump /dev/rtp");
    std::size_t const at = d.find(" " + ts + ": ");
    if (at == std::string::npos)
        return "";
    std::string const session = d.substr(at, d.find(';', at) - at);
    std::size_t const pd = session.find(" pd=");
    return pd == std::string::npos ? "" : session.substr(pd + 1, session.find(' ', pd + 1) - pd - 1);
}

std::vector<std::string> ToneChannels::generator(std::string const& ts)
{
    std::string const history = board->command("device /dev/dtmf generator " + ts);
    std::vector<std::string> out;
    std::istringstream words(history.substr(std::min<std::size_t>(3, history.size())));
    for (std::string w; words >> w;)
        out.push_back(w);
    return out;
}

std::string ToneChannels::sounding(std::string const& ts)
{
    std::vector<std::string> const g = generator(ts);
    return g.empty() ? "" : g.back().substr(g.back().find(':') + 1);
}

std::vector<std::string> ToneChannels::soundedSinceOff(std::string const& ts)
{
    std::vector<std::string> out;
    for (std::string const& w : generator(ts)) {
        std::string const tone = w.substr(w.find(':') + 1);
        if (tone == kOff)
            out.clear();
        else
            out.push_back(tone);
    }
    return out;
}

ZGCP::TranslateDtmfParams digit5(int toneMs, int pauseMs, int n)
{
    ZGCP::TranslateDtmfParams t;
    ZGCP::DualTone five;
    five.set_freq1(770);
    five.set_freq2(1336);
    for (int i = 0; i < n; ++i)
        t.set_digits().push_back(five);
    t.set_toneDuration(toneMs);
    t.set_pauseDuration(pauseMs);
    return t;
}

ToneRequests::ToneRequests()
{
    sdParams.select_sd_params();
    vadOff.select_vad_disable();
    sdOff.select_sd_disable();
    rejectDisable.select_dtmf_reject_disable();
    waitTone.select_activateWaitTone();
    waitToneOff.select_deactivateWaitTone();
    // Three digits of a second each, a second apart: 6 s of sequence.
    digits.select_translateDTMF() = digit5(1000, 1000, 3);
    dtmfStop.select_dtmf_disable();
    toneGen.select_tone_gen_enable().set_freq(425);
    toneGen.ref_tone_gen_enable().set_amp(2048);
    toneGenOff.select_tone_gen_disable();
    pdOn.select_pd_enable().set_timeout(3000);
    pdOff.select_pd_disable();
    gain.select_rx_gain().set_gainDB(-6);
    delays.select_delays().set_rx(10);
    delays.ref_delays().set_tx(20);
}

ToneRequests::~ToneRequests() = default;

}  // namespace testsupport
