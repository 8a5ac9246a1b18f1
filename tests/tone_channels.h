#pragma once

// The end-to-end fixture of the tests of the tone and voice-processing functions: slots of an
// RTP channel or of a mixer port, on the daemon running on the simulated board, and what the
// tone and voice-processing devices hold for their channels.

#include "tests/sim_daemon_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// The kind of a slot that serves the tone functions of a channel.
enum class ToneKind { rtp, mixerIn, mixerOut };

// Generator settings as the tone device tells them: off, silence, the wait tone's tone.
inline constexpr char const* kOff = "0/0/0/0";
inline constexpr char const* kSilence = "1000/1000/0/0";
inline constexpr char const* kRing = "425/0/2048/2048";

class ToneChannels : public SimDaemonTest {
protected:
    using P = ZGCP::IoctlParams;

    // Makes the slot of the kind on the n-th channel of its kind (a mixer port on TDM channel
    // 2n, an output port adding 2n + 1; an RTP channel sending to port 9000 + 2n) and keeps
    // its switch channel.
    void make(unsigned slot, ToneKind kind, int n)
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
    void requests(unsigned slot, std::vector<P> const& ps)
    {
        for (P const& p : ps)
            ASSERT_EQ(done(slot, ioctlCommand(p)), "success") << p.asValueNotation();
    }
    // "1025" of "ok 1024: open=1 ...; 1025: open=1 ...".
    std::string newestRtpChannel()
    {
        std::string const d = board->command("dump /dev/rtp");
        std::size_t const at = d.rfind("; ");
        std::string const last = at == std::string::npos ? d.substr(3) : d.substr(at + 2);
        return last.substr(0, last.find(':'));
    }
    // A channel's state on both devices, without the ids of the enables, and the PD event of
    // the RTP session on it.
    std::string state(std::string const& ts) { return functions(ts) + " | " + pdEvent(ts); }
    // What is on and set on the channel on both devices, as onDevice() gives it.
    std::string functions(std::string const& ts) { return onDevice("/dev/dtmf", ts) + " | " + onDevice("/dev/dsp", ts); }
    // The channel's state on the tone or voice-processing device without the ids of the
    // enables and without how often its tone filters were reset.
    std::string onDevice(std::string const& path, std::string const& ts)
    {
        std::string s = withoutIds(board->command("device " + path + " channel " + ts));
        std::size_t const resets = s.find(" tone-resets=");
        if (resets != std::string::npos)
            s.erase(resets, s.find_first_not_of("0123456789", resets + 13) - resets);
        return s;
    }
    // "pd=off" of "ok ...; 1025: open=1 ... pd=off ...; ..." ("" without a session there).
    std::string pdEvent(std::string const& ts)
    {
        std::string const d = board->command("dump /dev/rtp");
        std::size_t const at = d.find(" " + ts + ": ");
        if (at == std::string::npos)
            return "";
        std::string const session = d.substr(at, d.find(';', at) - at);
        std::size_t const pd = session.find(" pd=");
        return pd == std::string::npos ? "" : session.substr(pd + 1, session.find(' ', pd + 1) - pd - 1);
    }
    // The generator's settings on the channel, oldest first, "MS:freq1/freq2/amp1/amp2" each.
    std::vector<std::string> generator(std::string const& ts)
    {
        std::string const history = board->command("device /dev/dtmf generator " + ts);
        std::vector<std::string> out;
        std::istringstream words(history.substr(std::min<std::size_t>(3, history.size())));
        for (std::string w; words >> w;)
            out.push_back(w);
        return out;
    }
    // The last of them without its time ("" when none).
    std::string sounding(std::string const& ts)
    {
        std::vector<std::string> const g = generator(ts);
        return g.empty() ? "" : g.back().substr(g.back().find(':') + 1);
    }
    // The settings since the generator's last switch-off, without their times.
    std::vector<std::string> soundedSinceOff(std::string const& ts)
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

    // The switch channel of each slot made.
    std::map<unsigned, std::string> channels;
    bool mixerUnit = false;
};

// One digit, 5, sounding toneMs and then silent pauseMs; the sequence sends it n times.
inline ZGCP::TranslateDtmfParams digit5(int toneMs, int pauseMs, int n = 1)
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

}  // namespace testsupport
