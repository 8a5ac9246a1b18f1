// Fuzz target of the Q.921 data link (ISDN::LAPD) as the daemon runs it in a PSTN slot: on a
// primary-rate D channel on either side, and on the user side of a basic-rate one with its TEI
// management. The input's first byte chooses the link (kConfigs, and its log level); then
// come steps (link_bench.h): the far end's frames, built from what the link sent so that
// their sequence numbers, TEI and Ri can be the ones it expects, or raw; the clock; the
// controller's activate, deactivate and data; the channel congested, ready or lost; the pool
// running out; the line's scripted peer answering the link.
// After every step:
// - every frame the link wrote is a well-formed Q.921 frame of its side, as its own address
//   reader and the trace decoder read it back;
// - the link's window and queues are within their bounds, its timer flags say what runs;
// - once the channel has ended, no timer of the link runs and it holds no packet.
// After the input the slot is destroyed (nothing of it may be left: link_bench.h), and a new
// link of the same kind establishes and carries a message.
// Corpus: signalling/fuzz/lapd_corpus (establishment, data, recovery, TEI procedures).

#include "signalling/fuzz/q921_fuzz.h"

#include "signalling/lapd.h"
#include "tests/slot_commands.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace linkfuzz;

struct Config {
    bool network;
    bool basicRate;
};
// The kinds of LAPD link a PSTN slot runs (a basic-rate network side is another link).
Config const kConfigs[] = {{false, false}, {true, false}, {false, true}};
constexpr unsigned kLogLevels = 5;

enum LapdStep : std::uint8_t {
    kIFrame = kCommonSteps,  // flags, [N(S)], [N(R)], [TEI], [SAPI], message: an I-frame
    kSupervisory,            // flags, [N(R)], [TEI]: RR, RNR, REJ or an undefined one
    kUnnumbered,             // flags, [TEI], [message]: SABME, DISC, UA, DM, FRMR, XID, UI or undefined
    kManagement,             // flags, [Ri], [Ai]: a TEI management message
    kScript,                 // the line's scripted peer starts or stops answering the link
    kSteps
};

// TEI management message types, the network's first.
constexpr std::uint8_t kIdentityTypes[] = {2, 3, 4, 6, 1, 5, 7, 0x0B};

// What the far end knows of the link, from the frames the link wrote.
struct Far {
    bool userLink = true;
    unsigned tei = 0;
    unsigned ri = 0;
    unsigned vs = 0;  // N(S) + 1 of the link's last I-frame: what acknowledges all it sent
    unsigned vr = 0;  // the last N(R) the link sent: the N(S) it expects

    // The C/R bit of a far end's command or response.
    bool cr(bool command) const { return command == userLink; }
    Frame address(unsigned sapi, bool command, unsigned toTei) const
    {
        return linkfuzz::address(sapi, cr(command), toTei);
    }
    void learn(Frame const& f)
    {
        if (f.size() >= 8 && f[0] >> 2 == ISDN::frame::kManagementSapi && f[6] == ISDN::frame::identityRequest)
            ri = unsigned(f[4] | f[5] << 8);
        if (f.size() < 3 || f[0] >> 2 != 0)
            return;
        tei = f[1] >> 1;
        if (!(f[2] & 0x01) && f.size() >= 4) {
            vs = ((f[2] >> 1) + 1) & 127;
            vr = f[3] >> 1;
        } else if ((f[2] & 0x03) == 0x01 && f.size() >= 4) {
            vr = f[3] >> 1;
        }
    }
};

Frame const& message(Input& in) { return kMessages[in.byte() % kMessageCount]; }

Frame iframe(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const ns = sequence(flags, far.vr, in);
    unsigned const nr = sequence(flags >> 2, far.vs, in);
    unsigned const tei = flags & 0x20 ? in.byte() & 127u : far.tei;
    unsigned const sapi = flags & 0x80 ? in.byte() & 63u : 0;
    Frame f = far.address(sapi, !(flags & 0x40), tei);
    f.push_back(std::uint8_t(ns << 1));
    f.push_back(std::uint8_t(nr << 1 | (flags & 0x10 ? 1 : 0)));
    std::uint8_t const kind = in.byte();
    Frame const info = kind < 0xC0 ? kMessages[kind % kMessageCount] : in.take(kind & 0x3F);
    f.insert(f.end(), info.begin(), info.end());
    return f;
}

Frame supervisory(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const type = flags & 3;
    unsigned const nr = sequence(flags >> 4, far.vs, in);
    unsigned const tei = flags & 0x40 ? in.byte() & 127u : far.tei;
    Frame f = far.address(0, flags & 0x04, tei);
    f.push_back(std::uint8_t(type * 4 + 1));
    f.push_back(std::uint8_t(nr << 1 | (flags & 0x08 ? 1 : 0)));
    if (flags & 0x80)
        f.push_back(in.byte());
    return f;
}

Frame unnumbered(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    std::uint8_t const code = kUnnumberedCodes[flags & 7];
    unsigned const tei = flags & 0x40 ? ISDN::frame::kGroupTei : flags & 0x20 ? in.byte() & 127u : far.tei;
    Frame f = far.address(0, flags & 0x08, tei);
    f.push_back(std::uint8_t(code | (flags & 0x10 ? 0x10 : 0)));
    if (code == ISDN::LAPD::UI || (flags & 0x80)) {
        Frame const& info = message(in);
        f.insert(f.end(), info.begin(), info.end());
    }
    return f;
}

Frame management(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned ri = far.ri;
    if (flags & 0x08) {
        ri = in.byte();
        ri |= unsigned(in.byte()) << 8;
    }
    unsigned ai = ISDN::frame::kGroupTei;
    switch ((flags >> 4) & 3) {
    case 1: ai = far.tei; break;
    case 2: ai = 64 + in.byte() % 63u; break;
    case 3: ai = in.byte() & 127u; break;
    default: break;
    }
    return teiManagement(far.cr(true), flags & 0x80, ri, kIdentityTypes[flags & 7], ai, flags & 0x40);
}

using LAPDState = ISDN::LAPDFullState;

class Target : public FarEndTarget<Far> {
public:
    // The far end's frames in the order of their steps (LapdStep).
    Target() : FarEndTarget("lapd_fuzz", kSteps, {iframe, supervisory, unnumbered, management}) {}

private:
    void configure(std::uint8_t choice) override
    {
        config_ = kConfigs[choice % 3];
        log_ = (choice / 3) % kLogLevels;
    }
    ZGCP::CreateParams params() const override
    {
        return testsupport::pstnIsdnParams(config_.basicRate ? ZGCP::IsdnType::bri : ZGCP::IsdnType::pri, 2,
                                           config_.network, int(log_));
    }
    bool basicRate() const override { return config_.basicRate; }
    void forget() override
    {
        FarEndTarget::forget();
        far_.userLink = !config_.network;
    }

    ISDN::LAPD& link() { return bench_.link<ISDN::LAPD>(); }

    // kScript.
    void other(std::uint8_t, Input&) override
    {
        if (board::sim::FrameLine* line = bench_.line()) {
            line->peer(!line->peering());
            bench_.settle();
        }
    }

    // The link establishes, sends a message and has it acknowledged.
    void serve() override
    {
        ISDN::LAPD& l = link();
        if (l.state_text() != std::string("Awaiting establishment"))
            breach(std::string("a new link does not establish: ") + l.state_text());
        bench_.push(join(far_.address(0, false, far_.tei), {ISDN::LAPD::UA | 0x10}));
        checkFrames();
        bench_.slot().IUserData({8, 1, 1, 0x7B});
        bench_.settle();
        checkFrames();
        bench_.push(join(far_.address(0, false, far_.tei), {0x01, std::uint8_t(far_.vs << 1)}));
        checkFrames();
        ACP::IsdnLinkInfo info;
        link().GetInfo(info);
        if (info.get_lapdState().asInt() != LAPDState::multipleFrameEstablished || info.get_vs().getValue() != 1
            || info.get_queueAck().getValue() != 0)
            breach("a new link does not carry a message: " + info.asValueNotation());
    }

    // A frame of the link, read back by its own address reader and by the trace decoder.
    void check(Frame const& f) override
    {
        far_.learn(f);
        ISDN::frame::Address a;
        if (!ISDN::frame::readAddress(bench_.packet(f), a) || f.size() < 3)
            bad(f, "no address and control field");
        bool const towardsUser = config_.network;
        bool const command = a.cr == config_.network;
        std::uint8_t const control = f[2];
        if (a.sapi == ISDN::frame::kManagementSapi) {
            if (!config_.basicRate || config_.network)
                bad(f, "TEI management on a link without it");
            std::uint8_t const type = f.size() == 8 ? f[6] : 0;
            if (f.size() != 8 || a.tei != ISDN::frame::kGroupTei || a.cr || control != ISDN::frame::kUiControl
                || f[3] != ISDN::frame::kManagementEntity || !(f[7] & 1)
                || (type != ISDN::frame::identityRequest && type != ISDN::frame::identityCheckResponse)
                || (type == ISDN::frame::identityRequest && f[7] >> 1 != ISDN::frame::kGroupTei))
                bad(f, "a malformed TEI management message");
            decodedAs(f, towardsUser, "tei management:");
            return;
        }
        if (a.sapi != 0)
            bad(f, "SAPI " + std::to_string(a.sapi));
        if (a.tei == ISDN::frame::kGroupTei || (!config_.basicRate && a.tei != 0))
            bad(f, "TEI " + std::to_string(a.tei) + " on a data link");
        std::string const tei = " tei = " + std::to_string(a.tei);
        if (!(control & 0x01)) {
            if (f.size() < 5 || f.size() > 4 + ISDN::frame::kMaxInformation || !command)
                bad(f, "a malformed I-frame");
            decodedAs(f, towardsUser, "IFrame" + tei);
        } else if ((control & 0x03) == 0x01) {
            if (f.size() != 4 || control > 0x09 || (command && !(f[3] & 1)))
                bad(f, "a malformed supervisory frame");
            decodedAs(f, towardsUser, "SFrame" + tei);
        } else {
            unsigned const code = control & ~0x10u;
            bool const commandCode = code == ISDN::LAPD::SABME || code == ISDN::LAPD::DISC;
            bool const responseCode = code == ISDN::LAPD::UA || code == ISDN::LAPD::DM;
            if (f.size() != 3 || !(commandCode ? command : responseCode && !command))
                bad(f, "a malformed unnumbered frame");
            decodedAs(f, towardsUser, "SFrame" + tei);
        }
    }
    // The window, the queues and the timers of the link.
    void checkState(std::uint8_t) override
    {
        ISDN::LAPD& l = link();
        ACP::IsdnLinkInfo info;
        l.GetInfo(info);
        int const state = info.get_lapdState().asInt();
        unsigned const outstanding = unsigned(info.get_vs().getValue() - info.get_va().getValue()) & 127;
        unsigned const unacknowledged = unsigned(info.get_queueAck().getValue());
        bool const established = state == LAPDState::multipleFrameEstablished || state == LAPDState::timerRecovery;
        if (outstanding > 7 || unacknowledged > 7 || (established && unacknowledged != outstanding)
            || info.get_queueOut().getValue() > 135)
            breach("the link's window or queues: " + info.asValueNotation());
        std::ostringstream dump;
        l.status()->out(dump);
        std::string const text = dump.str();
        unsigned running = 0;
        for (std::size_t at = text.find(" running"); at != std::string::npos; at = text.find(" running", at + 1))
            ++running;
        if (running > 1 || running != bench_.linkTimers())
            breach(std::to_string(bench_.linkTimers()) + " timers run for the flags of" + text);
    }

    Config config_{};
    unsigned log_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    return runInput<Target>(data, size);
}
