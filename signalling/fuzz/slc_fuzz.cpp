// Fuzz target of the SS7 MTP level 2 link (SS7::SLC) as the daemon runs it in a PSTN slot:
// alignment with normal and emergency proving, MSUs with positive and negative
// acknowledgement and retransmission. The input's first byte chooses emergency proving; then
// come steps (link_bench.h): the far end's signal units, FISUs, LSSUs and MSUs built from
// the far end's own counters (Far) so that their sequence numbers and indicator bits can be
// the ones the link expects, or not, with right or wrong lengths, or raw; the clock; the
// controller's activate, deactivate, MSUs, trace switches and BSN request; trunk alarms;
// emergency turned on or off; the channel congested, ready or lost; the pool running out.
// After every step:
// - every signal unit the link wrote is well formed: its length indicator says its length
//   (63 above 62), an LSSU is the link's four octets with the status of its state (SIE
//   while emergency is on), an MSU carries a service information octet and a signalling
//   information field of 2 to 272 octets;
// - and is what the far end expects (Far): in service, its BSN the FSN of the far end's MSU
//   the link accepted last, its BIB inverted only by a negative acknowledgement, its FSN
//   following the link's last MSU (a retransmission starting after the far end's BSN, with
//   the far end's BIB as its FIB), its payload the controller's next message or the one it
//   repeats, never more than 127 unacknowledged; out of service, FISUs with the reset header;
// - acknowledges at once: the far end knows the link accepts its MSU (or rejects a unit) from
//   its own reading of the error correction, which the delivery upwards then proves. The link
//   handles the unit's BSN and BIB before it accepts it, and what that sends may carry the BSN
//   and BIB before the unit: the MSUs it repeats or that waited for room, and, when the far
//   end asked for a retransmission of nothing, one FISU as the first unit. Every other unit
//   the link writes after the unit reached it (so the acknowledging FISU it sends before it
//   delivers), every unit after one with the new BSN and BIB, and every unit written once it
//   delivered the MSU carry the new ones: a unit that acknowledges one unit late is a breach;
// - the link delivered upwards exactly the far end's MSUs it had to accept;
// - the link's retransmission buffer is within its bound, and a timer runs in every state
//   that supervises one and none when idle;
// - once the link is idle, no timer of it runs and it holds no packet.
// After the input the slot is destroyed (nothing of it may be left: link_bench.h), and a new
// link aligns, proves, enters service and carries an MSU each way.
// Corpus: signalling/fuzz/slc_corpus (alignment, proving, MSUs, retransmission, failures, a
// long session).

#include "signalling/fuzz/far_end.h"
#include "signalling/fuzz/link_bench.h"

#include "signalling/slc.h"
#include "tests/slot_commands.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace {

using namespace linkfuzz;
typedef SS7::SLC::State S;

enum SlcStep : std::uint8_t {
    kFisu = kCommonSteps,  // flags, [BSN], [FSN], [octet]: a FISU
    kLssu,                 // flags, [status], [octet]: an LSSU
    kMsu,                  // flags, [BSN], [FSN], n: an MSU of 3 + n modulo 70 octets
    kAlarm,                // state: the trunk's state (ACP::TrunkState), reported to the slot
    kTraces,               // switches: the controller's trace switches, then its BSN request
    kEmergency,            // on: emergency proving from the next alignment, or not
    kSteps
};

// The longest MSU payload: the service information octet and 272 octets of information.
constexpr unsigned kMaxPayload = 273;
constexpr unsigned kMaxLi = 63;
// The statuses of the LSSUs: SIO, SIN, SIE, SIOS, SIPO and SIB.
constexpr unsigned kStatuses = 6;

// The far end of the link: what the link must send, from the far end's own counters and
// the link's rules of error correction, which it follows as the signal units reach the link
// in service. Out of service the link's header is the reset one. Whether the link is in
// service is the one thing taken from the link: it decides whether a signal unit reaches
// the error correction.
class Far {
public:
    // The link's send header as the far end expects it.
    unsigned bsn() const { return bsn_; }  // the FSN of the far end's MSU the link accepted last
    bool bib() const { return bib_; }
    unsigned fsn() const { return fsn_; }  // of the link's last MSU
    bool fib() const { return fib_; }

    // A signal unit reached the link in service. The link handles its BSN and BIB first, and
    // what that sends may still carry the BSN and BIB before (earlier): the MSUs it repeats or
    // that waited for room, or, when the far end asked for a retransmission of nothing, one
    // FISU as the unit's first. Then it accepts or rejects the unit, and every unit it sends
    // from there on carries the BSN and BIB after.
    void received(Frame const& f)
    {
        if (f.size() < 3)
            return;
        earlier_ = {bsn_, bib_};
        sentSince_ = 0;
        retransmission_ = false;
        rxBsn_ = f[0] & 0x7Fu;
        rxBib_ = f[0] & 0x80;
        rxFsn_ = f[1] & 0x7Fu;
        rxFib_ = f[1] & 0x80;
        std::size_t const left = f.size() - 3;
        std::size_t const n = std::min<std::size_t>(left, kMaxLi);
        // A longer unit than its indicator says is cut to it (one of 63 octets or more is not).
        std::size_t const length = f[2] < n && n < kMaxLi ? f[2] : left;
        if (length == 0)
            fisu();
        else if (length > 2)
            msu(Frame(f.begin() + 3, f.begin() + 3 + std::ptrdiff_t(length)));
    }
    // The link was set up again (it left service or entered it).
    void reset()
    {
        bsn_ = fsn_ = 127;
        oldest_ = 0;
        bib_ = fib_ = true;
        nackOutstanding_ = badBsn_ = badFib_ = false;
        messages_.reset();
    }
    void handedDown(Frame const& m) { messages_.handedDown(m); }
    // The link has handled the signal unit, or delivered its MSU upwards: its BSN and BIB are
    // the ones after it.
    void handled() { earlier_.reset(); }
    // The MSUs the link had to deliver since the last take.
    std::vector<Frame> takeDelivered()
    {
        std::vector<Frame> out;
        out.swap(delivered_);
        return out;
    }

    // A signal unit the link wrote in service (FISU or MSU).
    void sent(Frame const& f)
    {
        unsigned const bsn = f[0] & 0x7Fu, fsn = f[1] & 0x7Fu;
        bool const bib = f[0] & 0x80, fib = f[1] & 0x80;
        bool const first = sentSince_++ == 0;
        if (bsn == bsn_ && bib == bib_) {
            earlier_.reset();
        } else if (!earlier_ || bsn != earlier_->first || bib != earlier_->second) {
            bad(f, "BSN " + std::to_string(bsn) + " BIB " + std::to_string(bib) + ": the far end's last MSU accepted is "
                       + std::to_string(bsn_) + ", its BIB " + std::to_string(bib_));
        } else if (f[2] == 0 && !(first && retransmission_)) {
            // Only the BSN and BIB's handling sends the header before, and it sends a FISU only
            // for a retransmission of nothing, before anything else.
            bad(f, "a FISU with the BSN " + std::to_string(bsn) + " and BIB " + std::to_string(bib)
                       + " from before the far end's last unit, sent once the link had handled its BSN and BIB: "
                       + "they are " + std::to_string(bsn_) + " and " + std::to_string(bib_) + " (one unit late)");
        }
        if (f[2] == 0) {
            if (fsn != fsn_ || fib != fib_)
                bad(f, "a FISU with FSN " + std::to_string(fsn) + " FIB " + std::to_string(fib) + ": the link's are "
                           + std::to_string(fsn_) + " and " + std::to_string(fib_));
            return;
        }
        unsigned const next = (fsn_ + 1) & 127;
        if (fsn != next || fib != fib_)
            bad(f, "an MSU with FSN " + std::to_string(fsn) + " FIB " + std::to_string(fib) + ": the next is "
                       + std::to_string(next) + " with FIB " + std::to_string(fib_));
        if (((next - oldest_) & 127) >= SS7::SLC::kRtbLimit)
            bad(f, "a 128th MSU unacknowledged");
        Frame const payload(f.begin() + 3, f.end());
        if (std::string const why = messages_.sent(payload); !why.empty())
            bad(f, why);
        payloads_[next] = payload;
        fsn_ = next;
    }

private:
    static constexpr unsigned kMaxLi = 63;

    void fisu()
    {
        if (rxFib_ != bib_) {
            badFib();
            return;
        }
        nackOutstanding_ = badFib_ = false;
        unsigned const accepted = bsn_;
        if (acknowledged() && rxFsn_ != accepted)
            nack();
    }
    void msu(Frame const& payload)
    {
        unsigned const accepted = bsn_;
        if (rxFsn_ == accepted)
            return;
        if (rxFib_ != bib_) {
            badFib();
            return;
        }
        nackOutstanding_ = badFib_ = false;
        if (!acknowledged())
            return;
        if (rxFsn_ == ((accepted + 1) & 127)) {
            bsn_ = rxFsn_;
            delivered_.push_back(payload);
        } else {
            nack();
        }
    }
    void badFib()
    {
        if (nackOutstanding_)
            acknowledged();
        else
            badFib_ = true;  // a second one takes the link out of service
    }
    void nack()
    {
        bib_ = !bib_;
        nackOutstanding_ = true;
    }
    // The far end's BSN and BIB: what they acknowledge leaves the buffer; a BIB other than the
    // link's FIB asks for a retransmission. False when the link leaves service.
    bool acknowledged()
    {
        unsigned const before = (oldest_ + 127) & 127;
        if (((rxBsn_ - before) & 127) > ((fsn_ - before) & 127)) {
            bool const first = !badBsn_;
            badBsn_ = true;
            return first;
        }
        badBsn_ = false;
        oldest_ = (rxBsn_ + 1) & 127;
        if (rxBib_ != fib_) {
            retransmission_ = true;
            // What was not acknowledged comes again, oldest first: put back from the newest.
            for (unsigned n = fsn_; n != rxBsn_; n = (n + 127) & 127)
                messages_.putBack(payloads_[n]);
            fsn_ = rxBsn_;
            fib_ = rxBib_;
        }
        return true;
    }
    [[noreturn]] static void bad(Frame const& f, std::string const& what) { linkfuzz::bad(f, what); }

    unsigned bsn_ = 127, fsn_ = 127, oldest_ = 0;
    bool bib_ = true, fib_ = true;
    bool nackOutstanding_ = false, badBsn_ = false, badFib_ = false;
    // The BSN and BIB before the unit the link handles, while its units may still carry them;
    // the units sent since it reached the link; whether it asked for a retransmission.
    std::optional<std::pair<unsigned, bool>> earlier_;
    unsigned sentSince_ = 0;
    bool retransmission_ = false;
    unsigned rxBsn_ = 0, rxFsn_ = 0;
    bool rxBib_ = false, rxFib_ = false;
    Frame payloads_[128];
    FarMessages messages_;
    std::vector<Frame> delivered_;
};

// The header: BSN and BIB (the BIB as the link's FIB, or inverted: a negative
// acknowledgement), FSN and FIB (as the link's BIB expects, or inverted).
Frame header(unsigned bsn, bool bib, unsigned fsn, bool fib)
{
    return {std::uint8_t(bsn | (bib ? 0x80 : 0)), std::uint8_t(fsn | (fib ? 0x80 : 0))};
}

// The length indicator of a payload, right or wrong by the two bits of how.
std::uint8_t li(std::size_t payload, unsigned how, Input& in)
{
    unsigned const right = payload < kMaxLi ? unsigned(payload) : kMaxLi;
    switch (how & 3) {
    case 0: return std::uint8_t(right);
    case 1: return std::uint8_t(right + 1);
    case 2: return std::uint8_t(right > 0 ? right - 1 : kMaxLi);
    default: return in.byte();
    }
}

Frame fisu(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const bsn = sequence(flags, far.fsn(), in);
    unsigned const fsn = sequence(flags >> 3, far.bsn(), in);
    Frame f = header(bsn, far.fib() != bool(flags & 0x04), fsn, far.bib() != bool(flags & 0x20));
    Frame const extra = flags & 0x80 ? Frame{in.byte()} : Frame{};
    f.push_back(li(0, flags >> 6 & 1 ? 3 : 0, in));
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
}

Frame lssu(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    Frame f = flags & 0x10 ? header(far.fsn(), far.fib(), far.bsn(), far.bib()) : Frame{0xFF, 0xFF};
    std::uint8_t const status = flags & 0x08 ? in.byte() : std::uint8_t((flags & 7) % kStatuses);
    Frame sf = {status};
    if (flags & 0x20)
        sf.push_back(in.byte());
    f.push_back(li(sf.size(), flags >> 6, in));
    f.insert(f.end(), sf.begin(), sf.end());
    return f;
}

Frame msu(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const fsn = sequence(flags, far.bsn() + 1, in);
    unsigned const bsn = sequence(flags >> 3, far.fsn(), in);
    Frame f = header(bsn, far.fib() != bool(flags & 0x20), fsn, far.bib() != bool(flags & 0x04));
    std::uint8_t const size = in.byte();
    Frame payload(3 + size % 70u);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = std::uint8_t(size + i);
    f.push_back(li(payload.size(), flags >> 6, in));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

class Target : public FarEndTarget<Far> {
public:
    // The far end's signal units in the order of their steps (SlcStep).
    Target() : FarEndTarget("slc_fuzz", kSteps, {fisu, lssu, msu}) {}

private:
    void configure(std::uint8_t choice) override { emergencyConfig_ = choice & 1; }
    ZGCP::CreateParams params() const override { return testsupport::ss7Params(2, 1, 2, 3, emergencyConfig_); }
    void forget() override
    {
        FarEndTarget::forget();
        emergency_ = emergencyConfig_;
        state_ = S::idle;
    }

    SS7::SLC& link() { return bench_.link<SS7::SLC>(); }

    // The far end follows what reached the link in service; the link is set up again when it
    // leaves service or enters it. What the link wrote before the unit reached it is checked
    // first; what it writes once it delivered the unit's MSU is after the unit's handling.
    void pushing() override
    {
        checkFrames();
        before_ = link().get_state_id();
        written_ = bench_.slot().channel().statistics().txSU;
        bench_.slot().writtenAtDelivery.clear();
    }
    void pushed(Frame const& f, bool taken) override
    {
        if (taken && before_ == S::in_service)
            far_.received(f);
        settled(before_);
        std::vector<std::uint32_t> const& at = bench_.slot().writtenAtDelivery;
        std::size_t const delivery = at.empty() ? SIZE_MAX : std::size_t(at.front() - written_);
        std::vector<Frame> const frames = bench_.take();
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (i == delivery)
                far_.handled();
            check(frames[i]);
        }
        far_.handled();
    }
    void handedDown(Frame const& message) override { far_.handedDown(message); }
    void beginStep(std::uint8_t) override { stepBefore_ = link().get_state_id(); }
    void endStep(std::uint8_t) override { settled(stepBefore_); }
    void settled(S::type before)
    {
        state_ = link().get_state_id();
        if (state_ != S::in_service || before != S::in_service)
            far_.reset();
    }

    void other(std::uint8_t kind, Input& in) override
    {
        switch (kind) {
        case kAlarm:
            // The slot's trunk is the link's trunk number less one.
            bench_.slot().OnTrunkStatus(1, ACP::TrunkState::NamedNumber(in.byte() % 7u));
            bench_.settle();
            break;
        case kTraces: {
            std::uint8_t const switches = in.byte();
            std::vector<bool> on;
            for (unsigned i = 0; i < 8; ++i)
                on.push_back(switches >> i & 1);
            bench_.slot().Ioctl(testsupport::ss7LogCommand(on).get_ioctl());
            bench_.slot().Ioctl(testsupport::ss7BsnCommand().get_ioctl());
            break;
        }
        default:
            emergency_ = in.byte() & 1;
            link().set_emergency(emergency_);
            break;
        }
    }

    // The far end aligns with the link, which proves, enters service, takes an MSU and sends
    // one that the far end acknowledges.
    void serve() override
    {
        bench_.push({0xFF, 0xFF, 0x01, SS7::SLC::SIN});
        bench_.passTime(emergency_ ? 500 : 8200);
        checkFrames();
        bench_.push({0xFF, 0xFF, 0x00});
        bench_.push(join(header(far_.fsn(), far_.fib(), 0, far_.bib()), {3, 0x83, 0x01, 0x02}));
        bench_.userData({0x83, 0x02, 0x01});
        bench_.settle();
        checkFrames();
        bench_.push(join(header(far_.fsn(), far_.fib(), 0, far_.bib()), {0}));
        checkDelivered();
        if (link().get_state_id() != S::in_service || link().get_bsn() != 0 || link().statistics()[5] != 0)
            breach("a new link does not carry an MSU each way");
    }

    void check(Frame const& f) override
    {
        if (f.size() < 3)
            bad(f, "shorter than a header");
        std::size_t const after = f.size() - 3;
        if (f[2] != (after < kMaxLi ? after : kMaxLi))
            bad(f, "a length indicator that is not the length");
        if (f[2] == 1 || f[2] == 2) {
            unsigned const proving = emergency_ ? SS7::SLC::SIE : SS7::SLC::SIN;
            if (f.size() != 4 || f[0] != 0xFF || f[1] != 0xFF
                || (f[3] != SS7::SLC::SIO && f[3] != SS7::SLC::SIOS && f[3] != proving))
                bad(f, "a malformed LSSU, or one with a status the link does not send now");
            return;
        }
        if (f[2] != 0 && after > kMaxPayload)
            bad(f, "an MSU longer than an MSU");
        if (state_ == S::in_service)
            far_.sent(f);
        else if (f[0] != 0xFF || f[1] != 0xFF || f[2] != 0)
            bad(f, "out of service, a signal unit other than a FISU with the reset header");
    }

    // Deactivated, the link is idle at once.
    void checkDeactivated() override
    {
        if (link().get_state_id() != S::idle)
            breach("the link is not idle once deactivated");
    }

    void checkDelivered()
    {
        std::vector<Frame>& delivered = bench_.slot().delivered;
        if (far_.takeDelivered() != delivered)
            breach("the link delivered upwards other MSUs than the far end's it had to accept");
        delivered.clear();
    }

    // What the far end was delivered; the retransmission buffer and the timer of the state.
    void checkState(std::uint8_t) override
    {
        checkDelivered();
        SS7::SLC& l = link();
        S::type const state = l.get_state_id();
        if (l.statistics()[5] > SS7::SLC::kRtbLimit)
            breach(std::to_string(l.statistics()[5]) + " MSUs in the retransmission buffer");
        unsigned const timers = bench_.linkTimers();
        bool const supervised = state != S::idle && state != S::in_service;
        if (timers > 1 || (supervised && timers != 1) || (state == S::idle && timers != 0))
            breach(std::to_string(timers) + " timers in state " + std::to_string(int(state)));
        if (state == S::idle)
            bench_.checkStopped("the link went idle");
    }

    bool emergencyConfig_ = false;
    bool emergency_ = false;
    // The link's state before a frame or a step, and after the last.
    S::type before_ = S::idle;
    S::type stepBefore_ = S::idle;
    S::type state_ = S::idle;
    // The frames the channel had written when the far end's last unit reached it.
    std::uint32_t written_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) { return initialize(argc, argv); }

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    return runInput<Target>(data, size);
}
