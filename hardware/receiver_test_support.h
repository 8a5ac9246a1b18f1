#pragma once

// Shared by the tests of the tone and voice-processing services: the process's simulated
// board, and a channel that inherits both receivers as the media slots do.

#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/sim_env.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace receivertest {

using testsupport::SimEnv;

// A media channel on one timeslot: what reaches its receivers, one text an event. Its
// destructor cleans up as a slot's does.
class TestChannel : public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
public:
    explicit TestChannel(std::uint32_t ts) : ts_(ts) {}
    ~TestChannel() override
    {
        Hardware::TonecReceiver::CleanBeforeDestroy();
        Hardware::DSProcReceiver::CleanBeforeDestroy();
    }

    std::uint32_t tonec_timeslot() const override { return ts_; }
    std::uint32_t dsproc_timeslot() const override { return ts_; }
    void tonec_event(Params const& p) override { add("tonec ", p.code); }
    void tone_gen_complete() override { add("complete"); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { add("vad ", e.vad_rx, ' ', e.vad_tx); }
    void dsproc_bss_event(::dsproc_bss_event const* e) override { add("bss ", e->score); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { add("sd ", e.sd_rx); }
    void dsproc_tone_flt_event(dsproc_tone_event const* e) override { add("tone ", e->freq, ' ', e->presence); }
    void dsproc_flags_event(::dsproc_flags_event const* e) override { add(std::hex, "flags ", e->flags, ' ', e->mask); }

    // The events since the last take.
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(events_);
        return out;
    }

private:
    template <class... Parts>
    void add(Parts const&... parts)
    {
        std::ostringstream os;
        (os << ... << parts);
        events_.push_back(os.str());
    }

    std::uint32_t ts_;
    std::vector<std::string> events_;
};

// Detector settings with each field apart from the others.
inline ZGCP::DTMFParams dtmfParams()
{
    ZGCP::DTMFParams p;
    p.set_threshold().set_twist(1);
    p.set_threshold().set_ratio(2);
    p.set_threshold().set_noise(3);
    p.set_level().set_silence(4);
    return p;
}

inline ZGCP::IVAParams ivaParams()
{
    ZGCP::IVAParams p;
    p.set_det_lvl_dB(-20);
    return p;
}

inline ZGCP::VADParams vadV2(int voice, int silence, int energy)
{
    ZGCP::VADParams p;
    TERM::VADParamsV2& v = p.select_v2();
    v.set_voice_th_msec(voice);
    v.set_silence_th_msec(silence);
    v.set_e_th_dB(energy);
    return p;
}

// The lines of a captured stream that contain the text.
inline std::vector<std::string> linesWith(std::string const& text, std::string const& part)
{
    std::vector<std::string> out;
    std::istringstream is(text);
    for (std::string line; std::getline(is, line);)
        if (line.find(part) != std::string::npos)
            out.push_back(line);
    return out;
}

}  // namespace receivertest
