#pragma once

#include <cstdint>

namespace Hardware {

// Voice activity as the voice-processing device reported it: -1 where a direction was
// not reported, otherwise 0 (silence) or more (voice).
struct DSProcVADEvent {
    std::int32_t vad_rx;
    std::int32_t vad_tx;
};

// SD state of the receive direction (negative: not reported).
struct DSProcSDEvent {
    std::int32_t sd_rx;
};

}  // namespace Hardware
