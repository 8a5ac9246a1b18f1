#include "control/tpkt_protocol.h"

#include "base/profile.h"

#include <algorithm>
#include <cstring>
#include <iostream>

bool Tpkt_protocol::local_activate()
{
    // The connection does not wait for this layer: activation stops climbing here.
    reset();
    return true;
}

void Tpkt_protocol::local_deactivate()
{
    on_deactivate(new Protocol_status_success(this, "TPKT deactivated"));
}

void Tpkt_protocol::reset()
{
    timer_.reset();
    frame_.clear();
    state_ = State::Version;
    remaining_ = 0;
}

void Tpkt_protocol::on_deactivate(Protocol_status status)
{
    reset();
    Protocol::on_deactivate(status);
}

void Tpkt_protocol::on_timeout(Timer*)
{
    std::clog << " TPKT packet timeout." << std::endl;
    reset();
}

void Tpkt_protocol::message(Packet& p)
{
    static Profile::Point point("Tpkt_protocol::message");
    unsigned int const body = p.length();
    if (body > max_body) {
        // The 16-bit length could not count it: nothing is sent rather than a corrupt frame.
        std::cerr << name() << " message too long: " << body << " bytes, max " << max_body << std::endl;
        return;
    }
    point.begin();
    p.push16_b(static_cast<unsigned short>(body + header_size));
    p.push8(0);
    p.push8(3);
    transmit(p);
    point.end();
}

void Tpkt_protocol::receive(Packet& p)
{
    while (!p.empty()) {
        switch (state_) {
        case State::Version:
            skip_to_start(p);
            break;
        case State::Reserved:
            if (p.pull8() != 0) {
                std::clog << name() << " bad TPKT reserved." << std::endl;
                state_ = State::Version;
            } else {
                state_ = State::LengthHigh;
            }
            break;
        case State::LengthHigh:
            remaining_ = p.pull8();
            state_ = State::LengthLow;
            break;
        case State::LengthLow:
            remaining_ = (remaining_ << 8) | p.pull8();
            begin_frame();
            break;
        case State::Body: {
            unsigned int const n = std::min<unsigned int>(remaining_, p.length());
            std::memcpy(frame_.put(n), p.pull(n), n);
            remaining_ -= n;
            if (remaining_ == 0)
                deliver();
            break;
        }
        case State::Skip: {
            unsigned int const n = std::min<unsigned int>(remaining_, p.length());
            p.pull(n);
            remaining_ -= n;
            if (remaining_ == 0)
                state_ = State::Version;
            break;
        }
        }
    }
    // The time-out runs from the last bytes received, while a frame is begun.
    if (state_ != State::Version)
        timer_.set(frame_timeout_ms, &Tpkt_protocol::on_timeout, this);
    else
        timer_.reset();
}

void Tpkt_protocol::skip_to_start(Packet& p)
{
    unsigned int bad = 0;
    while (!p.empty()) {
        if (p.pull8() == 3) {
            state_ = State::Reserved;
            break;
        }
        ++bad;
    }
    if (bad > 0) {
        std::clog << name() << " bad TPKT packet start. skipped " << bad << (bad == 1 ? " byte" : " bytes")
                  << std::endl;
    }
}

void Tpkt_protocol::begin_frame()
{
    if (remaining_ < header_size) {
        std::clog << "TPKT too small " << remaining_ << std::endl;
        state_ = State::Version;
        return;
    }
    remaining_ -= header_size;
    frame_.clear();
    if (!frame_.try_reserve_head(0, PacketUse::control)) {
        std::clog << name() << " no packet buffer: frame of " << remaining_ << " bytes dropped" << std::endl;
        state_ = remaining_ > 0 ? State::Skip : State::Version;
        return;
    }
    unsigned int const room = frame_.tailroom();
    if (remaining_ > room) {
        std::clog << "TPKT length too big, received = " << remaining_ << " max = " << room << std::endl;
        frame_.clear();
        state_ = State::Skip;
        return;
    }
    state_ = State::Body;
    // An empty body is a whole message already.
    if (remaining_ == 0)
        deliver();
}

void Tpkt_protocol::deliver()
{
    // The frame is handed over before it goes up, so that whatever the receiver does to
    // this layer (a disconnect resets it) cannot free the bytes it is reading.
    Packet done = frame_;
    frame_.clear();
    state_ = State::Version;
    on_message(done);
}
