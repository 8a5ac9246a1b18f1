#pragma once

#include "board/ioc.h"

#include <cstddef>
#include <cstdint>

// The tone device "/dev/dtmf": DTMF and IVA detectors, DTMF rejection, the echo canceller,
// the tone generator and SELCAL sending, per switch channel (timeslot). Records are in the
// processor's own byte order and zero-filled before their fields are set.

// DTMF detector thresholds.
struct dtmf_detector_params {
    std::uint32_t timeslot;
    std::uint32_t twist;
    std::uint32_t ratio;
    std::uint32_t silence;
    std::uint32_t noise;
};

// DTMF detector on; its events carry the id.
struct dtmf_enable_params {
    std::uint32_t timeslot;
    std::uint32_t id;
};

// The tone generator: two frequencies (Hz) and their amplitudes; all 0 switches it off.
struct dtmf_dial_params {
    std::uint32_t timeslot;
    std::uint16_t freq1;
    std::uint16_t freq2;
    std::uint16_t amp1;
    std::uint16_t amp2;
};

// IVA detector level.
struct iva_detector_params {
    std::uint32_t timeslot;
    std::int32_t det_lvl_dB;
};

// A SELCAL sequence of four signs, played by the driver.
struct selcal_dial_params {
    std::uint32_t timeslot;
    std::uint16_t amplitude;
    char signs[4];
    std::uint8_t zero[2];
};

// One detector event read from the device.
struct tonec_event_record {
    std::uint32_t code;       // DTMF code 0..127 (17 CED, 18 CNG), or an IVA code << 8
    std::uint32_t timeslot;
    std::uint32_t timestamp;  // driver time
    std::uint32_t id;         // the id of the enable under which the detector reported
};

static_assert(sizeof(dtmf_detector_params) == 20);
static_assert(sizeof(dtmf_enable_params) == 8);
static_assert(sizeof(dtmf_dial_params) == 12);
static_assert(offsetof(dtmf_dial_params, amp2) == 10);
static_assert(sizeof(iva_detector_params) == 8);
static_assert(sizeof(selcal_dial_params) == 12);
static_assert(offsetof(selcal_dial_params, signs) == 6);
static_assert(sizeof(tonec_event_record) == 16);

namespace dtmf {

constexpr char const* kPath = "/dev/dtmf";

// IVA codes arrive shifted left by this; 21 is the ring-off.
constexpr unsigned kIvaShift = 8;
constexpr std::uint32_t kIvaRingOff = 21;

constexpr unsigned long kConfigureDetector = 0x40144202;
constexpr unsigned long kEnableDetector = 0x40084203;
constexpr unsigned long kDisableDetector = 0x40044204;  // timeslot by value
constexpr unsigned long kDial = 0x400c4205;
constexpr unsigned long kLmsOn = 0x40044206;             // timeslot by value
constexpr unsigned long kLmsOff = 0x40044207;            // timeslot by value
constexpr unsigned long kRejectionEnable = 0x40044209;   // timeslot by value
constexpr unsigned long kRejectionDisable = 0x4004420a;  // timeslot by value
constexpr unsigned long kIvaEnable = 0x4004420b;         // timeslot by value
constexpr unsigned long kIvaDisable = 0x4004420c;        // timeslot by value
constexpr unsigned long kIvaConfigure = 0x4008420d;
constexpr unsigned long kSelcalDial = 0x400c420e;

namespace ioc = board::ioc;
static_assert(kConfigureDetector == ioc::make(ioc::read, 'B', 2, sizeof(dtmf_detector_params)));
static_assert(kEnableDetector == ioc::make(ioc::read, 'B', 3, sizeof(dtmf_enable_params)));
static_assert(kDisableDetector == ioc::make(ioc::read, 'B', 4, sizeof(std::uint32_t)));
static_assert(kDial == ioc::make(ioc::read, 'B', 5, sizeof(dtmf_dial_params)));
static_assert(kLmsOn == ioc::make(ioc::read, 'B', 6, sizeof(std::uint32_t)));
static_assert(kLmsOff == ioc::make(ioc::read, 'B', 7, sizeof(std::uint32_t)));
static_assert(kRejectionEnable == ioc::make(ioc::read, 'B', 9, sizeof(std::uint32_t)));
static_assert(kRejectionDisable == ioc::make(ioc::read, 'B', 10, sizeof(std::uint32_t)));
static_assert(kIvaEnable == ioc::make(ioc::read, 'B', 11, sizeof(std::uint32_t)));
static_assert(kIvaDisable == ioc::make(ioc::read, 'B', 12, sizeof(std::uint32_t)));
static_assert(kIvaConfigure == ioc::make(ioc::read, 'B', 13, sizeof(iva_detector_params)));
static_assert(kSelcalDial == ioc::make(ioc::read, 'B', 14, sizeof(selcal_dial_params)));

}  // namespace dtmf
