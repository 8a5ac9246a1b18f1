#include "board/sim/q921_peer.h"

namespace board::sim {
namespace {

constexpr std::uint8_t kSabme = 0x6F, kDisc = 0x43, kUa = 0x63, kDm = 0x0F, kRr = 0x01, kPf = 0x10;
constexpr std::uint8_t kCommandBit = 0x02;

}  // namespace

void Q921Peer::reset()
{
    established_ = false;
    vs_ = vr_ = 0;
}

// A response to a command carries the command's address octets as they are: the C/R bit of
// a response from one side equals that of a command from the other.
std::optional<Q921Peer::Frame> Q921Peer::answer(Frame const& f)
{
    if (f.size() < 3 || (f[0] & 0x01) || !(f[1] & 0x01))
        return std::nullopt;
    auto reply = [&f](std::initializer_list<std::uint8_t> rest) {
        Frame r;
        r.reserve(2 + rest.size());
        r.push_back(f[0]);
        r.push_back(f[1]);
        r.insert(r.end(), rest.begin(), rest.end());
        return r;
    };
    std::uint8_t const control = f[2];
    if (!(control & 0x01)) {
        if (!established_ || f.size() < 4)
            return std::nullopt;
        if (unsigned(control >> 1) == vr_)
            vr_ = (vr_ + 1) % 128;
        return reply({kRr, std::uint8_t(vr_ << 1 | (f[3] & 0x01))});
    }
    if ((control & 0x03) == 0x01) {
        bool const command = (f[0] & kCommandBit) == (address_[0] & kCommandBit);
        if (!established_ || f.size() < 4 || !command || !(f[3] & 0x01))
            return std::nullopt;
        return reply({kRr, std::uint8_t(vr_ << 1 | 0x01)});
    }
    std::uint8_t const pf = control & kPf;
    switch (control & ~kPf) {
    case kSabme:
        established_ = true;
        vs_ = vr_ = 0;
        address_ = {f[0], f[1]};
        return reply({std::uint8_t(kUa | pf)});
    case kDisc: {
        bool const was = established_;
        established_ = false;
        return reply({std::uint8_t((was ? kUa : kDm) | pf)});
    }
    }
    return std::nullopt;
}

std::optional<Q921Peer::Frame> Q921Peer::iframe(Frame const& info) const
{
    if (!established_)
        return std::nullopt;
    Frame f{std::uint8_t(address_[0] ^ kCommandBit), address_[1], std::uint8_t(vs_ << 1), std::uint8_t(vr_ << 1)};
    f.insert(f.end(), info.begin(), info.end());
    return f;
}

}  // namespace board::sim
