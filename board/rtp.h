#pragma once

#include "board/ioc.h"

#include <cstddef>
#include <cstdint>

// The RTP driver "/dev/rtp" and the RTP header-extension driver "/dev/rtp_ext": their
// request numbers and records, in the processor's own byte order unless a field says
// otherwise.

// Session record of the begin-session request.
struct rtp_connection_params {
    std::uint32_t dst_addr;  // remote IPv4 address, network order
    std::uint16_t dst_port;  // remote RTP port
    std::uint16_t reserved0;
    std::uint32_t src_addr;  // local IPv4 address, network order; 0 when none
    std::uint16_t src_port;  // local RTP port
    std::uint16_t rx_pt;     // payload type expected from the peer
    std::uint16_t tx_pt;     // payload type sent
    std::uint16_t packet_factor;  // 0: the driver's default
    std::uint8_t vad;        // 1: voice activity detection on
    std::uint8_t crate;      // 1: the crate parameter was given and is not 0
    std::uint16_t reserved1;
    std::uint32_t ssrc;
    std::uint32_t reserved2[2];
    std::uint32_t ttl;       // 0: the driver's default
    std::int32_t tos;        // DSCP shifted left by 2, or -1 for none
};

// Add-channel record: tdm is -1 (driver's choice) or the channel to re-add on the way in,
// the session's switch channel on the way out.
struct rtp_channel_info {
    std::int32_t tdm;
    std::int32_t dev_no;
    std::int32_t chn;
    std::int32_t reserved;
};

// One event read from the RTP device.
struct rtp_event {
    std::int32_t type;  // rtp_event_pd
    std::int32_t value;
    std::int32_t timeout;
    std::int32_t reserved[6];
};

// Enable-event request: the event type, its timeout in words 2 and 5, the rest 0.
struct rtp_event_params {
    std::int32_t type;
    std::int32_t reserved0;
    std::int32_t timeout;
    std::int32_t reserved1[2];
    std::int32_t timeout2;
    std::int32_t reserved2[3];
};

constexpr std::int32_t rtp_event_pd = 1;

// An RTP socket of a process, as the attach requests of both drivers take it.
struct rtp_attach_session_params {
    std::int32_t fd_rtp;
    std::int32_t pid_rtp;
};

struct rtp_ext_attach_session_params {
    std::int32_t fd_rtp;
    std::int32_t pid_rtp;
};

// Init record of the extension driver: the header-extension profile and four words passed
// to the driver unchanged.
struct rtp_ext_init_params {
    std::uint16_t etype;
    std::uint16_t pad;
    std::int32_t param[4];
};

// Sender of the next extension payload, as the driver fills it.
struct rtp_ext_source {
    std::uint32_t ssrc;
    std::uint32_t addr;  // network order
    std::uint32_t reserved;
};

// Source filter: the one sender accepted.
struct rtp_ext_filter {
    std::uint32_t addr;  // network order
    std::uint32_t zero;
};

static_assert(sizeof(rtp_connection_params) == 44);
static_assert(offsetof(rtp_connection_params, src_addr) == 8);
static_assert(offsetof(rtp_connection_params, rx_pt) == 14);
static_assert(offsetof(rtp_connection_params, vad) == 20);
static_assert(offsetof(rtp_connection_params, ssrc) == 24);
static_assert(offsetof(rtp_connection_params, ttl) == 36);
static_assert(offsetof(rtp_connection_params, tos) == 40);
static_assert(sizeof(rtp_channel_info) == 16);
static_assert(sizeof(rtp_event) == 36);
static_assert(sizeof(rtp_event_params) == 36);
static_assert(offsetof(rtp_event_params, timeout2) == 20);
static_assert(sizeof(rtp_attach_session_params) == 8);
static_assert(sizeof(rtp_ext_attach_session_params) == 8);
static_assert(sizeof(rtp_ext_init_params) == 20);
static_assert(offsetof(rtp_ext_init_params, param) == 4);
static_assert(sizeof(rtp_ext_source) == 12);
static_assert(sizeof(rtp_ext_filter) == 8);

namespace rtp {

constexpr char const* kPath = "/dev/rtp";

constexpr unsigned long kBeginSession = 0xc02c5200;
constexpr unsigned long kAddChannel = 0xc0105202;
constexpr unsigned long kStop = 0x20005203;
constexpr unsigned long kStartReceive = 0x20005204;
constexpr unsigned long kStopReceive = 0x20005205;
constexpr unsigned long kAttachSession = 0xc0085209;
constexpr unsigned long kStopFirst = 0x2000520a;
constexpr unsigned long kStopLast = 0x2000520b;
constexpr unsigned long kEnableEvent = 0xc024520c;
constexpr unsigned long kDisableEvent = 0x8004520d;

namespace ioc = board::ioc;
static_assert(kBeginSession == ioc::make(ioc::readWrite, 'R', 0, sizeof(rtp_connection_params)));
static_assert(kAddChannel == ioc::make(ioc::readWrite, 'R', 2, sizeof(rtp_channel_info)));
static_assert(kStop == ioc::make(ioc::none, 'R', 3, 0));
static_assert(kStartReceive == ioc::make(ioc::none, 'R', 4, 0));
static_assert(kStopReceive == ioc::make(ioc::none, 'R', 5, 0));
static_assert(kAttachSession == ioc::make(ioc::readWrite, 'R', 9, sizeof(rtp_attach_session_params)));
static_assert(kStopFirst == ioc::make(ioc::none, 'R', 10, 0));
static_assert(kStopLast == ioc::make(ioc::none, 'R', 11, 0));
static_assert(kEnableEvent == ioc::make(ioc::readWrite, 'R', 12, sizeof(rtp_event_params)));
static_assert(kDisableEvent == ioc::make(ioc::write, 'R', 13, sizeof(std::int32_t)));

}  // namespace rtp

namespace rtp_ext {

constexpr char const* kPath = "/dev/rtp_ext";

constexpr unsigned long kInit = 0xc0144500;
constexpr unsigned long kAttach = 0xc0084501;
constexpr unsigned long kDetach = 0x20004502;
constexpr unsigned long kSourceOfNext = 0xc00c4503;
constexpr unsigned long kSetFilter = 0xc0084504;
constexpr unsigned long kResetFilter = 0x20004505;

namespace ioc = board::ioc;
static_assert(kInit == ioc::make(ioc::readWrite, 'E', 0, sizeof(rtp_ext_init_params)));
static_assert(kAttach == ioc::make(ioc::readWrite, 'E', 1, sizeof(rtp_ext_attach_session_params)));
static_assert(kDetach == ioc::make(ioc::none, 'E', 2, 0));
static_assert(kSourceOfNext == ioc::make(ioc::readWrite, 'E', 3, sizeof(rtp_ext_source)));
static_assert(kSetFilter == ioc::make(ioc::readWrite, 'E', 4, sizeof(rtp_ext_filter)));
static_assert(kResetFilter == ioc::make(ioc::none, 'E', 5, 0));

}  // namespace rtp_ext
