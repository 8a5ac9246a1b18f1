#include "board/sim/bri_terminals.h"

namespace board::sim {
namespace {

constexpr unsigned kGroupTei = 127;
constexpr unsigned kManagementSapi = 63;
enum : std::uint8_t { identityRequest = 1, identityAssigned = 2, identityCheckRequest = 4, identityCheckResponse = 5,
                      identityRemove = 6 };

// A TEI management frame from the user side (SAPI 63, C/R 0, group TEI, UI).
BriTerminals::Frame identity(std::uint16_t ri, std::uint8_t type, unsigned ai)
{
    return {0xFC, 0xFF, 0x03, 0x0F, std::uint8_t(ri & 0xFF), std::uint8_t(ri >> 8), type, std::uint8_t(ai << 1 | 1)};
}

}  // namespace

std::vector<BriTerminals::Frame> BriTerminals::join(unsigned n)
{
    terminals_.clear();
    std::vector<Frame> requests;
    for (unsigned k = 1; k <= n && k <= kMaxTerminals; ++k) {
        terminals_.push_back(Terminal{std::uint16_t(k), -1, Q921Peer()});
        requests.push_back(identity(std::uint16_t(k), identityRequest, kGroupTei));
    }
    return requests;
}

std::vector<BriTerminals::Frame> BriTerminals::answer(Frame const& f)
{
    if (f.size() < 3 || (f[0] & 0x01) || !(f[1] & 0x01))
        return {};
    unsigned const sapi = f[0] >> 2, tei = f[1] >> 1;
    if (tei == kGroupTei)
        return sapi == kManagementSapi ? management(f) : std::vector<Frame>{};
    for (Terminal& t : terminals_)
        if (t.tei == int(tei)) {
            std::optional<Frame> reply = t.link.answer(f);
            return reply ? std::vector<Frame>{*reply} : std::vector<Frame>{};
        }
    return {};
}

// Identity assigned, check request and remove; the rest needs no answer.
std::vector<BriTerminals::Frame> BriTerminals::management(Frame const& f)
{
    if (f.size() < 8 || f[2] != 0x03 || f[3] != 0x0F)
        return {};
    std::uint16_t const ri = std::uint16_t(f[4] | f[5] << 8);
    std::uint8_t const type = f[6];
    unsigned const ai = f[7] >> 1;
    std::vector<Frame> out;
    for (Terminal& t : terminals_) {
        bool const addressed = ai == kGroupTei || t.tei == int(ai);
        if (type == identityAssigned && t.tei < 0 && t.ri == ri)
            t.tei = int(ai);
        else if (type == identityCheckRequest && t.tei >= 0 && addressed)
            out.push_back(identity(t.ri, identityCheckResponse, unsigned(t.tei)));
        else if (type == identityRemove && t.tei >= 0 && addressed) {
            t.tei = -1;
            t.link.reset();
        }
    }
    return out;
}

std::optional<BriTerminals::Frame> BriTerminals::iframe(unsigned k, Frame const& info) const
{
    if (k < 1 || k > terminals_.size() || terminals_[k - 1].tei < 0)
        return std::nullopt;
    return terminals_[k - 1].link.iframe(info);
}

}  // namespace board::sim
