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

// How a slot goes: destroyed, or losing its channel (its RTP session ends, its mixer unit
// vanishes).
enum class End { destroy, channelLost };

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
    void make(unsigned slot, ToneKind kind, int n);
    void requests(unsigned slot, std::vector<P> const& ps);
    // The slot goes as end says; a mixer unit that vanished comes back when unitBack says so.
    void letGo(unsigned slot, ToneKind kind, End end, bool unitBack = false);
    // "1025" of "ok 1024: open=1 ...; 1025: open=1 ...".
    std::string newestRtpChannel();
    // A channel's state on both devices, without the ids of the enables, and the PD event of
    // the RTP session on it.
    std::string state(std::string const& ts);
    // What is on and set on the channel on both devices, as onDevice() gives it.
    std::string functions(std::string const& ts);
    // The channel's state on the tone or voice-processing device without the ids of the
    // enables and without how often its tone filters were reset.
    std::string onDevice(std::string const& path, std::string const& ts);
    // "pd=off" of "ok ...; 1025: open=1 ... pd=off ...; ..." ("" without a session there).
    std::string pdEvent(std::string const& ts);
    // The generator's settings on the channel, oldest first, "MS:freq1/freq2/amp1/amp2" each.
    std::vector<std::string> generator(std::string const& ts);
    // The last of them without its time ("" when none).
    std::string sounding(std::string const& ts);
    // The settings since the generator's last switch-off, without their times.
    std::vector<std::string> soundedSinceOff(std::string const& ts);

    // The switch channel of each slot made.
    std::map<unsigned, std::string> channels;
    bool mixerUnit = false;
};

// One digit, 5, sounding toneMs and then silent pauseMs; the sequence sends it n times.
ZGCP::TranslateDtmfParams digit5(int toneMs, int pauseMs, int n = 1);

// Requests of the tables of the tone and voice-processing functions: each function switched
// on and off, the wait tone, a timed sequence of digits, a tone, a PD event, a gain, delays
// and a tone filter.
struct ToneRequests {
    using P = ZGCP::IoctlParams;

    P dtmfOn{P::dtmf_enable::id, true}, dtmfOff{P::dtmf_enable::id, false};
    P echoOn{P::echoSuppressor::id, true}, echoOff{P::echoSuppressor::id, false};
    P rejectOn{P::dtmf_reject_enable::id, true}, rejectOff{P::dtmf_reject_enable::id, false};
    P ivaOn{P::iva_enable::id, true}, ivaOff{P::iva_enable::id, false};
    P vadOn{P::vad_enable::id, true}, sdOn{P::sd_enable::id, true};
    P sdParams, vadOff, sdOff, rejectDisable, waitTone, waitToneOff, digits, dtmfStop, toneGen, toneGenOff, pdOn, pdOff,
        gain, delays, filter = toneFilterIoctl(2100, 400, -30);

    ToneRequests();
    ~ToneRequests();
};

}  // namespace testsupport
