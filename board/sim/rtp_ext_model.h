#pragma once

#include "board/rtp.h"
#include "board/sim/rtp_model.h"
#include "board/sim/session_device.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

// One session of the RTP header-extension device.
struct RtpExtSession : OpenState {
    unsigned open = 0;  // the open's id
    std::optional<rtp_ext_init_params> init;
    std::optional<rtp_ext_attach_session_params> attach;
    // The channel of the RTP session the attach record named when it came, when it named an
    // open of the RTP device held by this process.
    std::optional<int> attachedChannel;
    std::optional<std::uint32_t> filter;  // the address accepted, network order
    std::deque<rtp_ext_source> senders;   // of the payloads queued and not asked about
    std::deque<std::vector<std::uint8_t>> written;
};

// "/dev/rtp_ext", the RTP header-extension driver: every open is one extension session with
// the init record it was given, the RTP session it is attached to and its source filter.
// One payload is one record on the socket pair, both ways. A payload delivered to an open
// carries its sender: the source request takes the sender of the oldest payload not yet
// asked about, which is the one the next read returns as long as the daemon asks before
// each read. A payload from a sender the filter does not accept is dropped, as the driver
// would. An attach record naming a descriptor of this process (pid -1 or its own) is resolved
// to the RTP session of that open, when it is one of the RTP model's.
class RtpExtModel : public SessionDevice<RtpExtSession> {
public:
    using Payload = std::vector<std::uint8_t>;

    // Payloads kept per open of what the daemon wrote; older ones are dropped.
    static constexpr std::size_t kKeptPayloads = 256;

    explicit RtpExtModel(RtpModel const* rtp = nullptr);

    // The session of an open (by its id); null when it is not held.
    Session const* session(unsigned open) const;

    // Queues a payload from the sender for the daemon on the open. False when the open is
    // not held, was never initialised, the filter drops the sender or the queue is full.
    bool deliver(unsigned open, rtp_ext_source const& sender, Payload const& payload);
    // What the daemon wrote on the open since the last take, oldest first.
    std::vector<Payload> takeWritten(unsigned open);

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    void received(OpenFile& file, void const* data, std::size_t length) override;
    // "send OPEN ADDR SSRC PAYLOAD", "written OPEN", "session OPEN"; see board/README.md.
    std::string command(std::vector<std::string> const& words) override;

private:
    // "7: etype=0x1337 params=0/0/0/0 attach=12/4242@1024 filter=10.0.0.1 queued=0 written=2"
    // (the dump gives every session, "; " between); "@CH" only when the attach named the RTP
    // session on channel CH; "attach=-", "filter=-" when none, "idle" before the init.
    void put(std::ostream& os, Session const& session) const override;
    OpenFile* holder(unsigned open) const;
    std::optional<int> channelOf(rtp_ext_attach_session_params const& attach) const;

    RtpModel const* rtp_;
};

}  // namespace board::sim
