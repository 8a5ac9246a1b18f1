#pragma once

#include <cstdint>

// Payloads of the event records of the voice-processing device "/dev/dsp" that are handed
// to the receivers in place, in the processor's own byte order.

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

static_assert(sizeof(dsproc_bss_event) == 4, "dsproc_bss_event is 4 bytes");
static_assert(sizeof(dsproc_tone_event) == 8, "dsproc_tone_event is 8 bytes");
static_assert(sizeof(dsproc_flags_event) == 8, "dsproc_flags_event is 8 bytes");
