#pragma once

#include "board/ioc.h"

#include <cstddef>
#include <cstdint>

// The voice-processing device "/dev/dsp": VAD, SD, BSS, noise gate, muting, delays, receive
// gain and tone filters, per switch channel (timeslot). Records are in the processor's own
// byte order and zero-filled before their fields are set.

// Payloads of the event records that are handed to the receivers in place.

// BSS: the quality score.
struct dsproc_bss_event {
    float score;
};

// Tone filter: the filter's frequency and whether the tone is present (non-zero).
struct dsproc_tone_event {
    std::uint32_t freq;
    std::uint32_t presence;
};

// Flags: a flag counts only where its mask bit is set (bit 29 voice on receive, bit 30
// voice on transmit, bit 31 SELCAL in progress).
struct dsproc_flags_event {
    std::uint32_t flags;
    std::uint32_t mask;
};

// VAD: which directions are reported (bit 0 receive, bit 1 transmit) and their states.
struct dsproc_vad_event {
    std::uint32_t dir_mask;
    std::int32_t vad_rx;
    std::int32_t vad_tx;
};

// SD of the receive direction.
struct dsproc_sd_event {
    std::int32_t sd_rx;
};

// One function's configuration: the kind and its twelve bytes of parameters.
struct dsproc_configure_params {
    std::uint32_t timeslot;
    std::uint32_t kind;  // dsp::kConfigure...
    union {
        struct {
            std::uint16_t voice_th_msec;
            std::uint16_t silence_th_msec;
            std::uint8_t e_th_dB;
        } vad_v2;
        std::uint32_t vad_v1[3];
        struct {
            std::uint32_t rx;
            std::uint32_t tx;
        } delays;
        std::int8_t gain_dB;
        struct {
            std::uint16_t freq;
            std::uint8_t enable;
            std::uint16_t dur_th_msec;
            std::int8_t det_lvl_dB;
        } tone;
        std::uint8_t bytes[12];
    } params;
};

// Functions on (with the request's id) or off (id 0), by feature mask.
struct dsproc_enable_params {
    std::uint32_t timeslot;
    std::uint32_t id;
    std::uint32_t mask;
};

// One event read from the device.
struct dsproc_event_record {
    std::uint32_t timeslot;
    std::uint32_t id;    // the id of the enable under which the DSP reported
    std::uint32_t type;  // dsp::kEvent...
    union {
        dsproc_vad_event vad;
        dsproc_sd_event sd;
        dsproc_bss_event bss;
        dsproc_tone_event tone;
        dsproc_flags_event flags;
        std::uint8_t bytes[12];
    } payload;
};

static_assert(sizeof(dsproc_bss_event) == 4, "dsproc_bss_event is 4 bytes");
static_assert(sizeof(dsproc_tone_event) == 8, "dsproc_tone_event is 8 bytes");
static_assert(sizeof(dsproc_flags_event) == 8, "dsproc_flags_event is 8 bytes");
static_assert(sizeof(dsproc_vad_event) == 12);
static_assert(sizeof(dsproc_sd_event) == 4);
static_assert(sizeof(dsproc_configure_params) == 20);
static_assert(offsetof(dsproc_configure_params, params) == 8);
static_assert(offsetof(dsproc_configure_params, params.vad_v2.e_th_dB) == 12);
static_assert(offsetof(dsproc_configure_params, params.delays.tx) == 12);
static_assert(offsetof(dsproc_configure_params, params.tone.enable) == 10);
static_assert(offsetof(dsproc_configure_params, params.tone.dur_th_msec) == 12);
static_assert(offsetof(dsproc_configure_params, params.tone.det_lvl_dB) == 14);
static_assert(sizeof(dsproc_enable_params) == 12);
static_assert(sizeof(dsproc_event_record) == 24);
static_assert(offsetof(dsproc_event_record, payload) == 12);

namespace dsp {

constexpr char const* kPath = "/dev/dsp";

// Configuration kinds.
constexpr std::uint32_t kConfigureVad = 1;
constexpr std::uint32_t kConfigureSd = 2;
constexpr std::uint32_t kConfigureDelays = 32;
constexpr std::uint32_t kConfigureRxGain = 64;
constexpr std::uint32_t kConfigureTone = 256;

// Feature mask bits.
constexpr std::uint32_t kVad = 1;
constexpr std::uint32_t kSd = 2;
constexpr std::uint32_t kMuteRx = 4;
constexpr std::uint32_t kMuteTx = 8;
constexpr std::uint32_t kBss = 16;
constexpr std::uint32_t kNg = 128;
constexpr std::uint32_t kToneAll = 256;  // every tone filter of the channel; disable only

// Event types.
constexpr std::uint32_t kEventVad = 1;
constexpr std::uint32_t kEventSd = 2;
constexpr std::uint32_t kEventBss = 16;
constexpr std::uint32_t kEventTone = 256;
constexpr std::uint32_t kEventFlags = 512;

// The driver version that takes the VAD thresholds.
constexpr int kVersionThresholds = 2;

constexpr unsigned long kConfigure = 0x40146401;
constexpr unsigned long kEnable = 0x400c6402;
constexpr unsigned long kDisable = 0x400c6403;
constexpr unsigned long kVersion = 0x40046404;  // argument 0; the result is the version

namespace ioc = board::ioc;
static_assert(kConfigure == ioc::make(ioc::read, 'd', 1, sizeof(dsproc_configure_params)));
static_assert(kEnable == ioc::make(ioc::read, 'd', 2, sizeof(dsproc_enable_params)));
static_assert(kDisable == ioc::make(ioc::read, 'd', 3, sizeof(dsproc_enable_params)));
static_assert(kVersion == ioc::make(ioc::read, 'd', 4, sizeof(std::uint32_t)));

}  // namespace dsp
