#pragma once

#include "base/packet.h"
#include "control/protocol.h"
#include "runtime/timer.h"

#include <cstdint>

// TPKT framing (version 3, a reserved byte 0, a 16-bit big-endian length that counts the
// 4-byte header). Outgoing messages get the header; the incoming byte stream is cut back
// into messages whatever the sizes of the reads. A frame left incomplete for 3000 ms is
// dropped, and so is one the stream below ends in; bad input is logged and skipped and
// never ends the connection.
class Tpkt_protocol : public Protocol {
public:
    static constexpr unsigned int header_size = 4;
    // The longest body a frame can carry: the 16-bit length counts the header.
    static constexpr unsigned int max_body = 0xFFFF - header_size;
    static constexpr unsigned int frame_timeout_ms = 3000;

    struct State {
        enum Type { Version = 0, Reserved = 1, LengthHigh = 2, LengthLow = 3, Body = 4, Skip = 5 };
    };

    Tpkt_protocol() = default;

    Protocol_name const& name() const override { return name_; }

    void local_prepare_head(Packet& p) override { p.reserve_head(header_size); }
    bool local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;
    // The stream below has ended: the frame begun goes with it, and its time-out.
    void on_deactivate(Protocol_status status) override;

    // Cancels the time-out, drops the collected frame, back to idle.
    void reset();
    void on_timeout(Timer*);

    State::Type state() const { return state_; }

private:
    // Takes bytes of p while the state is Version; returns when a version byte was found
    // or p is used up. A run of bad bytes is logged once with its count.
    void skip_to_start(Packet& p);
    void begin_frame();
    void deliver();

    Protocol_name_str name_{"TPKT"};
    std::uint32_t remaining_ = 0;
    Timer timer_;
    State::Type state_ = State::Version;
    Packet frame_;
};
