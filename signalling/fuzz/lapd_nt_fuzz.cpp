// Fuzz target of the network side of a basic-rate bus (ISDN::LAPD_NT) as the daemon runs it in
// a PSTN slot: TEI assignment, the identity check and its periodic cycle, the data link of
// each of up to eight terminals, SETUP broadcast and the routing of layer-3 messages by call
// reference. The input's first byte chooses the log level; then come steps (link_bench.h):
// the terminals' frames, built from what the network sent so that their TEI and sequence
// numbers can be the ones it expects, or raw; scripted terminals on the line that ask for
// TEIs and answer by themselves; messages from above with a terminal's call reference; the
// clock; the controller's commands; the channel congested, ready or lost; the pool running
// out.
// After every step:
// - every frame the network wrote is a well-formed Q.921 frame of the network side, as the
//   address reader of the links and the trace decoder read it back;
// - no two terminals hold the same TEI, and none the group TEI;
// - once the link is deactivated or its channel has ended, no terminal is assigned, no
//   timer of the link runs and it holds no packet.
// After the input the slot is destroyed (nothing of it may be left: link_bench.h), and a new
// one assigns a TEI to a terminal and carries a message each way.
// Corpus: signalling/fuzz/lapd_nt_corpus (TEI procedures, checks, data links, broadcast).

#include "signalling/fuzz/q921_fuzz.h"

#include "signalling/lapd_nt.h"
#include "tests/slot_commands.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace linkfuzz;

constexpr unsigned kLogLevels = 3;
constexpr unsigned kFirstTei = 64;

enum NtStep : std::uint8_t {
    kIFrame = kCommonSteps,  // flags, [TEI], [N(S)], [N(R)], call reference, type: an I-frame of a terminal
    kSupervisory,            // flags, [TEI], [N(R)]: RR, RNR, REJ or an undefined one
    kUnnumbered,             // flags, [TEI]: SABME, DISC, UA, DM, FRMR, XID, UI or undefined
    kManagement,             // flags, [Ri], [Ai]: a TEI management message of a terminal
    kCall,                   // flags, [call reference], type: a layer-3 message from above
    kTerminals,              // n: n modulo 9 scripted terminals join the bus and ask for TEIs
    kTerminalSend,           // k, call reference, type: scripted terminal k sends an I-frame
    kSteps
};

// TEI management message types, the terminals' first.
constexpr std::uint8_t kIdentityTypes[] = {1, 5, 7, 2, 3, 4, 6, 0x0B};
// Message types of the layer-3 messages: SETUP, ALERTING, CONNECT, RELEASE, STATUS, and one
// too short to carry a call reference.
constexpr std::uint8_t kSetup = 0x05;
constexpr std::uint8_t kTypes[] = {kSetup, 0x01, 0x07, 0x4D, 0x7D, 0};

// A layer-3 message with a one-octet call reference; type 0 gives one too short.
Frame message(std::uint8_t callRef, std::uint8_t type)
{
    if (type == 0)
        return {0x08, 0x01};
    Frame m = {0x08, 0x01, callRef, type};
    if (type == kSetup)
        m.insert(m.end(), {0x04, 0x03, 0x80, 0x90, 0xA3, 0x70, 0x03, 0x81, 0x31, 0x32});
    return m;
}

// What the terminals know of the network, from the frames it wrote.
struct Far {
    // The TEIs the network used, in order of their first use, and per TEI the N(S) + 1 of its
    // last I-frame and the last N(R) it sent.
    std::vector<unsigned> teis;
    std::map<unsigned, unsigned> vs, vr;
    // The call references of the terminals' messages.
    std::vector<std::uint8_t> calls;

    unsigned tei(unsigned choice, Input& in) const
    {
        switch (choice & 3) {
        case 0: return teis.empty() ? kFirstTei : teis[in.byte() % teis.size()];
        case 1: return in.byte() & 127u;
        case 2: return teis.empty() ? kFirstTei : teis.back();
        default: return kFirstTei + in.byte() % 63u;
        }
    }
    std::uint8_t call(bool known, Input& in) const
    {
        return known && !calls.empty() ? calls[in.byte() % calls.size()] : in.byte();
    }
    void used(unsigned t)
    {
        if (std::find(teis.begin(), teis.end(), t) == teis.end())
            teis.push_back(t);
    }
    void learn(Frame const& f)
    {
        if (f.size() == 8 && f[0] >> 2 == ISDN::frame::kManagementSapi && f[6] == ISDN::frame::identityAssigned)
            used(f[7] >> 1);
        if (f.size() < 4 || f[0] >> 2 != 0 || f[1] >> 1 == ISDN::frame::kGroupTei)
            return;
        unsigned const t = f[1] >> 1;
        used(t);
        if (!(f[2] & 0x01)) {
            vs[t] = ((f[2] >> 1) + 1) & 127;
            vr[t] = f[3] >> 1;
        } else if ((f[2] & 0x03) == 0x01) {
            vr[t] = f[3] >> 1;
        }
    }
};

// Frames of a terminal: commands carry C/R 0, responses C/R 1.
Frame iframe(Far& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const tei = far.tei(flags, in);
    unsigned const ns = sequence(flags >> 2, far.vr[tei], in);
    unsigned const nr = sequence(flags >> 4, far.vs[tei], in);
    Frame f = address(0, flags & 0x80, tei);
    f.push_back(std::uint8_t(ns << 1));
    f.push_back(std::uint8_t(nr << 1 | (flags & 0x40 ? 1 : 0)));
    std::uint8_t const callRef = in.byte();
    Frame const m = message(callRef, kTypes[in.byte() % sizeof kTypes]);
    f.insert(f.end(), m.begin(), m.end());
    far.calls.push_back(callRef);
    return f;
}

Frame supervisory(Far& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const tei = far.tei(flags >> 4, in);
    unsigned const nr = sequence(flags >> 6, far.vs[tei], in);
    Frame f = address(0, !(flags & 0x04), tei);
    f.push_back(std::uint8_t((flags & 3) * 4 + 1));
    f.push_back(std::uint8_t(nr << 1 | (flags & 0x08 ? 1 : 0)));
    return f;
}

Frame unnumbered(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    std::uint8_t const code = kUnnumberedCodes[flags & 7];
    unsigned const tei = flags & 0x80 ? ISDN::frame::kGroupTei : far.tei(flags >> 5, in);
    Frame f = address(0, !(flags & 0x08), tei);
    f.push_back(std::uint8_t(code | (flags & 0x10 ? 0x10 : 0)));
    if (code == ISDN::LAPD::UI) {
        std::uint8_t const callRef = in.byte();
        Frame const m = message(callRef, kTypes[in.byte() % sizeof kTypes]);
        f.insert(f.end(), m.begin(), m.end());
    }
    return f;
}

Frame management(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned ri = in.byte();
    if (flags & 0x08)
        ri |= unsigned(in.byte()) << 8;
    unsigned ai = ISDN::frame::kGroupTei;
    switch ((flags >> 4) & 3) {
    case 1: ai = far.tei(0, in); break;
    case 2: ai = far.tei(3, in); break;
    case 3: ai = in.byte() & 127u; break;
    default: break;
    }
    return teiManagement(false, flags & 0x80, ri, kIdentityTypes[flags & 7], ai, flags & 0x40);
}

class Target : public FarEndTarget<Far> {
public:
    // The terminals' frames in the order of their steps (NtStep).
    Target() : FarEndTarget("lapd_nt_fuzz", kSteps, {iframe, supervisory, unnumbered, management}) {}

private:
    void configure(std::uint8_t choice) override { log_ = choice % kLogLevels; }
    ZGCP::CreateParams params() const override
    {
        return testsupport::pstnIsdnParams(ZGCP::IsdnType::bri, 2, true, int(log_));
    }
    bool basicRate() const override { return true; }
    void forget() override
    {
        FarEndTarget::forget();
        sent_.clear();
    }

    ISDN::LAPD_NT& link() { return bench_.link<ISDN::LAPD_NT>(); }

    void other(std::uint8_t kind, Input& in) override
    {
        switch (kind) {
        case kCall: {
            std::uint8_t const flags = in.byte();
            std::uint8_t const callRef = std::uint8_t(far_.call(flags & 1, in) | (flags & 0x80));
            Frame const m = message(callRef, kTypes[in.byte() % sizeof kTypes]);
            bench_.slot().IUserData(std::vector<char>(m.begin(), m.end()));
            bench_.settle();
            break;
        }
        case kTerminals: bench_.farEnd({"terminals", std::to_string(in.byte() % 9u)}); break;
        default: {
            unsigned const k = 1 + in.byte() % 8u;
            std::uint8_t const callRef = in.byte();
            far_.calls.push_back(callRef);
            bench_.farEnd({"terminal", std::to_string(k), "send", hex(message(callRef, kTypes[in.byte() % sizeof kTypes]))});
            break;
        }
        }
    }

    // No two terminals share a TEI, none holds the group TEI; once the channel has ended,
    // none is assigned and the link is stopped.
    void checkState(std::uint8_t kind) override
    {
        checkTerminals();
        if (kind == kLost && !bench_.slot().channel().is_open())
            checkStopped("the channel's end");
    }
    // Deactivated, the link frees every terminal and stops (a terminal's frame that comes
    // later takes an entry again).
    void checkDeactivated() override { checkStopped("deactivation"); }

    // A terminal asks for a TEI, gets 64, takes the data link, sends a SETUP and gets the
    // answer to its call.
    void serve() override
    {
        sent_.clear();
        bench_.push(join(address(ISDN::frame::kManagementSapi, false, ISDN::frame::kGroupTei),
                         {ISDN::frame::kUiControl, ISDN::frame::kManagementEntity, 1, 0, 1, 0xFF}));
        bench_.push(join(address(0, true, kFirstTei), {ISDN::LAPD::UA | 0x10}));
        bench_.push(join(join(address(0, false, kFirstTei), {0x00, 0x01}), message(5, kSetup)));
        Frame const answer = message(0x85, 0x07);
        bench_.slot().IUserData(std::vector<char>(answer.begin(), answer.end()));
        bench_.settle();
        checkFrames();
        Frame const assigned = join(address(ISDN::frame::kManagementSapi, true, ISDN::frame::kGroupTei),
                                    {ISDN::frame::kUiControl, ISDN::frame::kManagementEntity, 1, 0, 2, 0x81});
        Frame const iframe = join(join(address(0, true, kFirstTei), {0x00, 0x03}), answer);
        if (std::find(sent_.begin(), sent_.end(), assigned) == sent_.end()
            || std::find(sent_.begin(), sent_.end(), iframe) == sent_.end())
            breach("a new network side does not serve a terminal");
    }

    // A frame of the network side, read back by the links' address reader and the trace
    // decoder: TEI management and SETUP broadcasts to the group, and per terminal I-frames
    // (commands, polled), RR and REJ, SABME and UA.
    void check(Frame const& f) override
    {
        far_.learn(f);
        sent_.push_back(f);
        ISDN::frame::Address a;
        if (!ISDN::frame::readAddress(bench_.packet(f), a) || f.size() < 3)
            bad(f, "no address and control field");
        std::uint8_t const control = f[2];
        if (a.sapi == ISDN::frame::kManagementSapi) {
            std::uint8_t const type = f.size() == 8 ? f[6] : 0;
            unsigned const ai = f.size() == 8 ? f[7] >> 1 : 0;
            bool const known = type == ISDN::frame::identityAssigned || type == ISDN::frame::identityDenied
                               || type == ISDN::frame::identityCheckRequest || type == ISDN::frame::identityRemove;
            if (f.size() != 8 || a.tei != ISDN::frame::kGroupTei || !a.cr || control != ISDN::frame::kUiControl
                || f[3] != ISDN::frame::kManagementEntity || !(f[7] & 1) || !known
                || (type == ISDN::frame::identityAssigned && (ai < kFirstTei || ai >= ISDN::frame::kGroupTei)))
                bad(f, "a malformed TEI management message");
            decodedAs(f, true, "tei management:");
            return;
        }
        if (a.sapi != 0)
            bad(f, "SAPI " + std::to_string(a.sapi));
        if (a.tei == ISDN::frame::kGroupTei) {
            if (!a.cr || control != ISDN::frame::kUiControl || f.size() < 7 || f[6] != kSetup)
                bad(f, "a broadcast other than a SETUP");
            decodedAs(f, true, "broadcast");
            return;
        }
        std::string const tei = " tei = " + std::to_string(a.tei);
        if (!(control & 0x01)) {
            if (f.size() < 8 || !a.cr || !(f[3] & 1))
                bad(f, "a malformed I-frame");
            decodedAs(f, true, "IFrame" + tei);
        } else if ((control & 0x03) == 0x01) {
            if (f.size() != 4 || (control != 0x01 && control != 0x09) || (a.cr && !(f[3] & 1)))
                bad(f, "a malformed supervisory frame");
            decodedAs(f, true, "SFrame" + tei);
        } else {
            bool const sabme = control == (ISDN::LAPD::SABME | 0x10) && a.cr;
            bool const ua = (control & ~0x10) == ISDN::LAPD::UA && !a.cr;
            if (f.size() != 3 || !(sabme || ua))
                bad(f, "a malformed unnumbered frame");
            decodedAs(f, true, "SFrame" + tei);
        }
    }

    // No two terminals share a TEI; none holds the group TEI.
    void checkTerminals()
    {
        std::vector<unsigned> held;
        for (unsigned i = 0; i < ISDN::LAPD_NT::kUsers; ++i)
            if (ISDN::LAPD_NT_user const& u = link().user(i); u.is_assigned())
                held.push_back(u.get_Tei());
        std::sort(held.begin(), held.end());
        if (std::adjacent_find(held.begin(), held.end()) != held.end()
            || (!held.empty() && held.back() >= ISDN::frame::kGroupTei))
            breach("terminals' TEIs " + hex(Frame(held.begin(), held.end())));
    }

    void checkStopped(char const* what)
    {
        for (unsigned i = 0; i < ISDN::LAPD_NT::kUsers; ++i)
            if (link().user(i).is_assigned())
                breach(std::string("a terminal is assigned after ") + what);
        bench_.checkStopped(what);
    }

    unsigned log_ = 0;
    std::vector<Frame> sent_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    return runInput<Target>(data, size);
}
