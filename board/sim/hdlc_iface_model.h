#pragma once

#include "board/hdlc_iface.h"
#include "board/sim/device.h"

#include <cstdint>
#include <string>
#include <vector>

namespace board::sim {

// One generic-HDLC network interface "hdlc<n>" of ifaceIoctl: its index, whether it is
// point-to-point, the switch channel its physical settings report, the protocol it runs
// (raw HDLC until set), whether its driver takes PPP and whether it is up. A removed
// interface keeps all of it until it is restored.
class HdlcIfaceModel : public Device {
public:
    // Interfaces the standard board has, and the switch channel of the first.
    static constexpr int kStandardCount = 4;
    static constexpr int kFirstChannel = 7200;

    // "hdlc<number>": not point-to-point, channel kFirstChannel + number, raw HDLC, down.
    explicit HdlcIfaceModel(int number);

    bool pointToPoint() const { return pointToPoint_; }
    void setPointToPoint(bool on) { pointToPoint_ = on; }
    int channel() const { return channel_; }
    void setChannel(int channel) { channel_ = channel; }
    std::uint32_t protocol() const { return protocol_; }
    bool up() const { return up_; }

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // "p2p=on channel=7200 proto=ppp up=off".
    std::string dump() const override;
    // "p2p on|off", "up on|off" (as a program on the interface brings it up), "ppp on|off",
    // "channel N"; see board/README.md.
    std::string command(std::vector<std::string> const& words) override;

private:
    int wanDev(ifreq& ifr);

    int index_;
    bool pointToPoint_ = false;
    int channel_;
    std::uint32_t protocol_ = hdlc_iface::kProtoHdlc;
    // Off: IF_PROTO_PPP is EINVAL, as from a driver without its PPP protocol.
    bool ppp_ = true;
    bool up_ = false;
};

}  // namespace board::sim
