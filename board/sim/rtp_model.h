#pragma once

#include "board/rtp.h"
#include "board/sim/session_device.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

// One session of the RTP device.
struct RtpSession : OpenState {
    unsigned open = 0;  // the open's id
    std::optional<rtp_connection_params> params;  // of the last begin
    int channel = -1;
    bool receiving = false;
    bool stopped = false;  // a stop request came after the begin
    std::optional<std::int32_t> pdTimeout;  // the PD event is on
    // The RTP session (of this or another process) whose header extension this one
    // carries, after an attach request.
    std::optional<rtp_attach_session_params> extension;
};

// "/dev/rtp": one RTP session an open: the record it was begun with, the switch channel the
// driver gave it, its receive direction, its PD event; and the driver events a test injects.
// A channel is free again when the open that held it is closed.
class RtpModel : public SessionDevice<RtpSession> {
public:
    // The switch channels the driver hands out, lowest free first (clear of the trunk, MCC and
    // shared-bus channels).
    static constexpr int kFirstChannel = 1024;
    static constexpr int kChannels = 256;

    RtpModel();

    // The session holding the channel; null when none.
    Session const* session(int channel) const;
    // Sends an event record to the session holding the channel; false when none takes it.
    bool inject(int channel, rtp_event const& event);

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // "event CH TYPE VALUE TIMEOUT": an event to the session on CH; "session CH": its state.
    std::string command(std::vector<std::string> const& words) override;

private:
    // "1024: open=3 dst=127.0.0.1:5000 src=0.0.0.0:5002 rx_pt=8 tx_pt=8 factor=0 vad=0
    // crate=0 ssrc=7 ttl=0 tos=184 rx=on pd=off ext=17/300" (the dump gives every session,
    // "; " between); a session without a channel shows "-", one not begun "idle".
    void put(std::ostream& os, Session const& session) const override;
    OpenFile* holder(int channel) const;
    int addChannel(Session& session, rtp_channel_info& info);
};

}  // namespace board::sim
