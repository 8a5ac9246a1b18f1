// Fuzz target of the network side of a basic-rate bus (ISDN::LAPD_NT) as the daemon runs it in
// a PSTN slot: TEI assignment, the identity check and its periodic cycle, the data link of
// each of up to eight terminals, SETUP broadcast and the routing of layer-3 messages by call
// reference. The input's first byte chooses the log level; then come steps (link_bench.h):
// the terminals' frames, built from the terminals' own counters (Far) so that their TEI and
// sequence numbers can be the ones the network expects, or not, or raw; terminals joining
// with their identity requests; runs of a terminal's I-frames in sequence; messages from
// above with a terminal's call reference; the clock; the controller's commands; the channel
// congested, ready or lost; the pool running out.
// After every step:
// - every frame the network wrote is a well-formed Q.921 frame of the network side, as the
//   address reader of the links and the trace decoder read it back;
// - and is what its terminal expects (Far): N(R) the terminal's I-frames the network
//   accepted, a new I-frame's N(S) the next one with P set and the next message for the
//   terminal's call, a retransmission the frame as first sent starting with the oldest
//   unacknowledged one (from N(R) - 1 on after a REJ), F set only to answer a poll and every
//   poll, out-of-sequence I-frame, SABME and DISC answered; an identity assigned or denied
//   carries the request's Ri;
// - the network delivered upwards exactly the terminals' frames it had to accept;
// - no two terminals hold the same TEI, and none the group TEI;
// - once the link is deactivated or its channel has ended, no terminal is assigned, no
//   timer of the link runs and it holds no packet.
// After the input the slot is destroyed (nothing of it may be left: link_bench.h), and a new
// one assigns a TEI to a terminal and carries a message each way.
// Corpus: signalling/fuzz/lapd_nt_corpus (TEI procedures, checks, data links, broadcast, a
// long session).

#include "signalling/fuzz/far_end.h"
#include "signalling/fuzz/lapd_far.h"
#include "signalling/fuzz/link_bench.h"

#include "signalling/lapd_nt.h"
#include "tests/slot_commands.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace linkfuzz;

constexpr unsigned kLogLevels = 3;

// The trace decoder reads the frame the network sent with the text given in it.
void decodedAs(Frame const& f, std::string const& part)
{
    std::string const text = traceText(f, true);
    if (text.find(part) == std::string::npos)
        bad(f, "decoded as \"" + text + "\"");
}
constexpr unsigned kFirstTei = 64;

enum NtStep : std::uint8_t {
    kIFrame = kCommonSteps,  // flags, [TEI], [N(S)], [N(R)], call reference, type: an I-frame of a terminal
    kSupervisory,            // flags, [TEI], [N(R)]: RR, RNR, REJ or an undefined one
    kUnnumbered,             // flags, [TEI]: SABME, DISC, UA, DM, FRMR, XID, UI or undefined
    kManagement,             // flags, [Ri], [Ai]: a TEI management message of a terminal
    kCall,                   // flags, [call reference], type: a layer-3 message from above
    kJoin,                   // n, then an Ri octet each: n modulo 9 terminals ask for TEIs
    kRun,                    // flags, [TEI], n, call reference: n modulo 16 + 1 I-frames in sequence
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

std::string number(unsigned n) { return std::to_string(n); }

// The terminals on the bus, each with its own counters of its data link, and what the
// network owes them. The network's entries (which TEIs it holds) are taken from the link
// when a frame reaches it: they decide whether the frame has a data link to go to.
class Far {
public:
    // One terminal's data link, as the terminal keeps it.
    struct Terminal {
        unsigned vr = 0;    // the network's V(R): the terminal's I-frames it accepted
        unsigned vs = 0;    // the network's next N(S)
        unsigned last = 127;  // the N(S) the terminal acknowledged last
        std::deque<Frame> unacknowledged;  // the network's I-frames, whole, oldest first
        std::optional<std::uint8_t> callRef;
        FarMessages messages;
        // Due in the step: responses with F set (RR to polls, REJ of a polled I-frame), a
        // REJ with F clear, a UA.
        unsigned finals = 0;
        unsigned rejects = 0;
        bool ua = false;
        // A retransmission may start in the step (it starts with the oldest frame), or must
        // (after a REJ).
        bool resending = false;
        bool resendDue = false;
    };

    // The TEIs the network gave or took, in order of their first use.
    std::vector<unsigned> teis;
    // The call references the terminals used.
    std::vector<std::uint8_t> calls;

    Terminal& terminal(unsigned tei) { return terminals_[tei]; }
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

    void beginStep(bool timeStep)
    {
        timeStep_ = timeStep;
        for (auto& [tei, t] : terminals_) {
            t.finals = t.rejects = 0;
            t.ua = t.resendDue = false;
            // The supervision resends from the oldest unacknowledged frame as well.
            t.resending = timeStep;
        }
        requests_.clear();
    }
    // The network gave the TEI's entry a new data link.
    void assigned(unsigned tei)
    {
        Terminal& t = terminals_[tei];
        t.vr = t.vs = 0;
        t.last = 127;
        t.unacknowledged.clear();
        t.callRef.reset();
        t.messages.clear();
        used(tei);
    }
    // A frame reached the network; entry: the TEI has a data link there.
    void received(Frame const& f, bool entry)
    {
        if (f.size() <= 2 || (f[0] & 0x01) || !(f[1] & 0x01))
            return;
        unsigned const tei = f[1] >> 1;
        if (tei == ISDN::frame::kGroupTei) {
            if (f[2] != ISDN::frame::kUiControl)
                return;
            Frame const rest(f.begin() + 3, f.end());
            if (f[0] >> 2 != ISDN::frame::kManagementSapi)
                delivered_.push_back(rest);
            else if (rest.size() > 4 && rest[0] == ISDN::frame::kManagementEntity && rest[3] == ISDN::frame::identityRequest
                     && rest[4] >> 1 >= kFirstTei)
                requests_.push_back(unsigned(rest[1] | rest[2] << 8));
            return;
        }
        if (!entry)
            return;
        Terminal& t = terminals_[tei];
        bool const command = !(f[0] & 0x02);
        std::uint8_t const control = f[2];
        if (!(control & 0x01)) {
            if (!command || f.size() < 4)
                return;
            bool const p = f[3] & 1;
            if ((control >> 1) == t.vr) {
                t.vr = (t.vr + 1) & 127;
                t.finals += p;
                Frame const info(f.begin() + 4, f.end());
                if (info.size() >= 4) {
                    t.callRef = std::uint8_t(info[2] & 0x7F);
                    delivered_.push_back(info);
                }
            } else {
                (p ? t.finals : t.rejects) += 1;
            }
            acknowledge(t, f[3] >> 1);
        } else if ((control & 0x03) == 0x01) {
            if (f.size() < 4 || (control != 0x01 && control != 0x05 && control != 0x09))
                return;
            if (command && (f[3] & 1))
                ++t.finals;
            unsigned const nr = f[3] >> 1;
            if (control == 0x09 ? acknowledge(t, (nr + 127) & 127) : acknowledge(t, nr))
                t.resending = t.resendDue = control == 0x09 && !t.unacknowledged.empty();
        } else {
            unsigned const code = control & ~0x10u;
            bool const pf = control & 0x10;
            if (code == ISDN::LAPD::SABME && command) {
                t.vr = t.vs = 0;
                t.last = 127;
                t.unacknowledged.clear();
                t.ua = t.ua || pf;
            } else if (code == ISDN::LAPD::DISC && command) {
                t.ua = t.ua || pf;
            }
        }
    }
    // A message from above that the terminal of the TEI takes.
    void handedDown(unsigned tei, Frame const& m) { terminals_[tei].messages.handedDown(m); }
    std::optional<std::uint8_t> callRef(unsigned tei) { return terminals_[tei].callRef; }

    // A frame the network sent to one terminal (freely: every frame of the step reached it).
    void sent(Frame const& f, bool freely)
    {
        unsigned const tei = f[1] >> 1;
        Terminal& t = terminals_[tei];
        used(tei);
        std::uint8_t const control = f[2];
        if (!(control & 0x02) && f.size() < 4)
            bad(f, "an I-frame or supervisory frame without N(R)");
        if (!(control & 0x01)) {
            auto const stored = std::find(t.unacknowledged.begin(), t.unacknowledged.end(), f);
            if (stored != t.unacknowledged.end()) {
                // A retransmission: the frame as it was sent first, the oldest first.
                if (freely && t.resending && stored != t.unacknowledged.begin())
                    bad(f, "a retransmission that does not start with the oldest unacknowledged I-frame");
                t.resending = t.resendDue = false;
                return;
            }
            unsigned const ns = control >> 1, nr = f[3] >> 1;
            if (ns != t.vs || nr != t.vr)
                bad(f, "N(S) " + number(ns) + " N(R) " + number(nr) + ": the next N(S) is " + number(t.vs)
                           + ", the terminal's I-frames accepted end at " + number(t.vr));
            if (t.unacknowledged.size() >= ISDN::LAPD_NT_user::kWindow)
                bad(f, "an eighth I-frame unacknowledged");
            if (std::string const why = t.messages.sent(Frame(f.begin() + 4, f.end())); !why.empty())
                bad(f, why);
            t.unacknowledged.push_back(f);
            t.vs = (t.vs + 1) & 127;
            return;
        }
        if ((control & 0x03) == 0x01) {
            unsigned const nr = f[3] >> 1;
            bool const pf = f[3] & 1, command = f[0] & 0x02;
            if (nr != t.vr)
                bad(f, "N(R) " + number(nr) + ": the terminal's I-frames accepted end at " + number(t.vr));
            if (command) {
                if (!timeStep_)
                    bad(f, "a poll before a timer ran out");
            } else if (control == 0x09 && !pf) {
                if (t.rejects == 0)
                    bad(f, "a REJ with no I-frame out of sequence to reject");
                --t.rejects;
            } else {
                if (!pf || t.finals == 0)
                    bad(f, "a response with F clear, or F set with no poll or polled I-frame to answer");
                --t.finals;
            }
            return;
        }
        if ((control & ~0x10) == ISDN::LAPD::UA) {
            if (!t.ua)
                bad(f, "a UA with no SABME or DISC with P set to answer");
            t.ua = false;
        }
    }
    // An identity assigned or denied: the Ri of a request of the step.
    void answered(Frame const& f)
    {
        unsigned const ri = unsigned(f[4] | f[5] << 8);
        auto const at = std::find(requests_.begin(), requests_.end(), ri);
        if (at == requests_.end())
            bad(f, "an answer to no identity request of the terminals (Ri " + number(ri) + ")");
        requests_.erase(at);
    }

    // What was owed in the step has gone, when the network could send.
    void endStep(bool couldSend)
    {
        if (!couldSend)
            return;
        for (auto const& [tei, t] : terminals_)
            if (t.finals > 0 || t.rejects > 0 || t.ua || t.resendDue)
                breach("TEI " + number(tei) + " is owed " + number(t.finals) + " response(s) with F set, "
                       + number(t.rejects) + " REJ, " + number(t.ua) + " UA and " + number(t.resendDue)
                       + " retransmission");
        if (!requests_.empty())
            breach(number(unsigned(requests_.size())) + " identity request(s) not answered");
    }
    std::vector<Frame> takeDelivered()
    {
        std::vector<Frame> out;
        out.swap(delivered_);
        return out;
    }

private:
    // The terminal's N(R) (for a REJ, its N(R) - 1): false when the network may not take it,
    // and drops the terminal.
    bool acknowledge(Terminal& t, unsigned n)
    {
        if (n == t.last)
            return true;
        if (((t.vs - t.last) & 127) < ((n - t.last) & 127))
            return false;
        t.last = (n + 127) & 127;
        unsigned const outstanding = unsigned(t.unacknowledged.size());
        unsigned const released = (n - ((t.vs - outstanding) & 127)) & 127;
        for (unsigned i = 0; i < released && !t.unacknowledged.empty(); ++i)
            t.unacknowledged.pop_front();
        return true;
    }

    std::map<unsigned, Terminal> terminals_;
    std::vector<unsigned> requests_;
    std::vector<Frame> delivered_;
    bool timeStep_ = false;
};

// Frames of a terminal: commands carry C/R 0, responses C/R 1.
Frame iframe(Far& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const tei = far.tei(flags, in);
    Far::Terminal& t = far.terminal(tei);
    unsigned const ns = sequence(flags >> 2, t.vr, in);
    unsigned const nr = sequence(flags >> 4, t.vs, in);
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
    unsigned const nr = sequence(flags >> 6, far.terminal(tei).vs, in);
    Frame f = address(0, !(flags & 0x04), tei);
    f.push_back(std::uint8_t((flags & 3) * 4 + 1));
    f.push_back(std::uint8_t(nr << 1 | (flags & 0x08 ? 1 : 0)));
    return f;
}

Frame unnumbered(Far& far, Input& in)
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

Frame management(Far& far, Input& in)
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
        far_.beginStep(false);
    }

    ISDN::LAPD_NT& link() { return bench_.link<ISDN::LAPD_NT>(); }

    // The TEIs of the network's entries, by entry.
    std::vector<int> entries()
    {
        std::vector<int> out;
        for (unsigned i = 0; i < ISDN::LAPD_NT::kUsers; ++i)
            out.push_back(link().user(i).is_assigned() ? int(link().user(i).get_Tei()) : -1);
        return out;
    }

    // A frame of a TEI without an entry takes a free one, which starts a new data link before
    // it takes the frame; a TEI management message may assign others.
    void pushing() override { before_ = entries(); }
    void pushed(Frame const& f, bool taken) override
    {
        if (taken) {
            auto held = [&](int tei) { return std::find(before_.begin(), before_.end(), tei) != before_.end(); };
            bool const individual = f.size() > 2 && !(f[0] & 0x01) && (f[1] & 0x01) && f[1] >> 1 != ISDN::frame::kGroupTei;
            int const tei = individual ? f[1] >> 1 : -1;
            if (individual && !held(tei) && held(-1))
                far_.assigned(unsigned(tei));
            if (!individual) {
                std::vector<int> const after = entries();
                for (unsigned i = 0; i < after.size(); ++i)
                    if (after[i] >= 0 && before_[i] < 0)
                        far_.assigned(unsigned(after[i]));
            }
            far_.received(f, individual && (held(tei) || held(-1)));
        }
        checkFrames();
    }
    void beginStep(std::uint8_t kind) override
    {
        far_.beginStep(kind == kTime);
        freeBefore_ = bench_.sendsFreely();
        broadcasts_.clear();
    }

    void other(std::uint8_t kind, Input& in) override
    {
        switch (kind) {
        case kCall: {
            std::uint8_t const flags = in.byte();
            std::uint8_t const callRef = std::uint8_t(far_.call(flags & 1, in) | (flags & 0x80));
            Frame const m = message(callRef, kTypes[in.byte() % sizeof kTypes]);
            call(m);
            break;
        }
        case kJoin:
            for (unsigned n = in.byte() % 9u; n > 0; --n) {
                std::uint8_t const ri = in.byte();
                bench_.push(teiManagement(false, false, ri, ISDN::frame::identityRequest, ISDN::frame::kGroupTei, false));
            }
            break;
        default: {
            std::uint8_t const flags = in.byte();
            unsigned const tei = far_.tei(flags, in);
            unsigned const n = in.byte() % 16u + 1;
            std::uint8_t const callRef = in.byte();
            for (unsigned i = 0; i < n; ++i) {
                Far::Terminal& t = far_.terminal(tei);
                Frame f = address(0, false, tei);
                f.push_back(std::uint8_t(t.vr << 1));
                f.push_back(std::uint8_t(t.vs << 1 | (i + 1 == n && (flags & 0x80) ? 1 : 0)));
                bench_.push(join(f, message(callRef, kTypes[1 + i % 4])));
            }
            far_.calls.push_back(callRef);
            break;
        }
        }
    }

    // A message from above goes to the first terminal, in the order of the entries, whose
    // call it belongs to; a SETUP to all.
    void handedDown(Frame const& m) override
    {
        if (m.size() < 4 || m.size() > ISDN::frame::kMaxInformation)
            return;
        if (m[3] == kSetup) {
            broadcasts_.push_back(m);
            return;
        }
        for (int tei : entries())
            if (tei >= 0 && far_.callRef(unsigned(tei)) == (m[2] & 0x7F)) {
                far_.handedDown(unsigned(tei), m);
                return;
            }
    }
    void call(Frame const& m)
    {
        bench_.userData(m);
        bench_.settle();
    }

    // No two terminals share a TEI, none holds the group TEI; once the channel has ended,
    // none is assigned and the link is stopped; what was owed went, what had to be delivered
    // was.
    void checkState(std::uint8_t kind) override
    {
        far_.endStep(freeBefore_ && bench_.sendsFreely());
        checkDelivered();
        checkTerminals();
        if (kind == kLost && !bench_.slot().channel().is_open())
            checkStopped("the channel's end");
    }
    void checkDelivered()
    {
        std::vector<Frame>& delivered = bench_.slot().delivered;
        if (far_.takeDelivered() != delivered)
            breach("the network delivered upwards other messages than the terminals' it had to accept");
        delivered.clear();
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
        call(answer);
        checkFrames();
        checkDelivered();
        Frame const assigned = join(address(ISDN::frame::kManagementSapi, true, ISDN::frame::kGroupTei),
                                    {ISDN::frame::kUiControl, ISDN::frame::kManagementEntity, 1, 0, 2, 0x81});
        Frame const iframe = join(join(address(0, true, kFirstTei), {0x00, 0x03}), answer);
        if (std::find(sent_.begin(), sent_.end(), assigned) == sent_.end()
            || std::find(sent_.begin(), sent_.end(), iframe) == sent_.end())
            breach("a new network side does not serve a terminal");
    }

    // A frame of the network side, read back by the links' address reader and the trace
    // decoder: TEI management and SETUP broadcasts to the group, and per terminal I-frames
    // (commands, polled), RR and REJ, SABME and UA, each what its terminal expects.
    void check(Frame const& f) override
    {
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
            decodedAs(f, "tei management:");
            if (type == ISDN::frame::identityAssigned || type == ISDN::frame::identityDenied)
                far_.answered(f);
            if (type == ISDN::frame::identityAssigned)
                far_.used(ai);
            return;
        }
        if (a.sapi != 0)
            bad(f, "SAPI " + std::to_string(a.sapi));
        if (a.tei == ISDN::frame::kGroupTei) {
            Frame const m(f.begin() + 3, f.end());
            auto const at = std::find(broadcasts_.begin(), broadcasts_.end(), m);
            if (!a.cr || control != ISDN::frame::kUiControl || at == broadcasts_.end())
                bad(f, "a broadcast other than a SETUP from above");
            broadcasts_.erase(at);
            decodedAs(f, "broadcast");
            return;
        }
        std::string const tei = " tei = " + std::to_string(a.tei);
        if (!(control & 0x01)) {
            if (f.size() < 8 || !a.cr || !(f[3] & 1))
                bad(f, "a malformed I-frame");
            decodedAs(f, "IFrame" + tei);
        } else if ((control & 0x03) == 0x01) {
            if (f.size() != 4 || (control != 0x01 && control != 0x09) || (a.cr && (!(f[3] & 1) || control != 0x01)))
                bad(f, "a malformed supervisory frame");
            decodedAs(f, "SFrame" + tei);
        } else {
            bool const sabme = control == (ISDN::LAPD::SABME | 0x10) && a.cr;
            bool const ua = control == (ISDN::LAPD::UA | 0x10) && !a.cr;
            if (f.size() != 3 || !(sabme || ua))
                bad(f, "a malformed unnumbered frame");
            decodedAs(f, "SFrame" + tei);
        }
    }

    // The frames the network handed the slot, in order: those that reached the channel are
    // checked there first (check); to the terminals' counters all count, the lost ones too,
    // which only a channel that was not free may lose.
    void checkFrames() override
    {
        if (!bench_.live()) {
            FarEndTarget::checkFrames();
            return;
        }
        std::vector<Frame>& handed = bench_.slot().handed;
        std::vector<Frame> const wire = bench_.take();
        bool const freely = freeBefore_ && bench_.sendsFreely();
        std::size_t at = 0;
        for (Frame const& f : wire) {
            check(f);
            for (; at < handed.size() && handed[at] != f; ++at)
                lost(handed[at], freely);
            if (at == handed.size())
                bad(f, "a frame the network did not send");
            counted(handed[at++], freely);
        }
        for (; at < handed.size(); ++at)
            lost(handed[at], freely);
        handed.clear();
    }
    void lost(Frame const& f, bool freely)
    {
        if (freely)
            bad(f, "a frame the network sent that did not reach the channel");
        counted(f, false);
    }
    void counted(Frame const& f, bool freely)
    {
        if (f.size() >= 3 && f[0] >> 2 == 0 && f[1] >> 1 != ISDN::frame::kGroupTei)
            far_.sent(f, freely);
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
    std::vector<int> before_;
    std::vector<Frame> broadcasts_;
    bool freeBefore_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) { return initialize(argc, argv); }

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    return runInput<Target>(data, size);
}
