// Fuzz target of the SS7 MTP level 2 link (SS7::SLC) as the daemon runs it in a PSTN slot:
// alignment with normal and emergency proving, MSUs with positive and negative
// acknowledgement and retransmission. The input's first byte chooses emergency proving; then
// come steps (link_bench.h): the far end's signal units, FISUs, LSSUs and MSUs built from
// what the link sent so that their sequence numbers and indicator bits can be the ones it
// expects, or not, with right or wrong lengths, or raw; the clock; the controller's
// activate, deactivate, MSUs, trace switches and BSN request; trunk alarms; emergency turned
// on or off; the channel congested, ready or lost; the pool running out.
// After every step:
// - every signal unit the link wrote is well formed: its length indicator says its length
//   (63 above 62), an LSSU is the link's four octets with a known status, an MSU carries a
//   service information octet and a signalling information field of 2 to 272 octets;
// - the link's retransmission buffer is within its bound, and a timer runs in every state
//   that supervises one and none when idle;
// - once the link is idle, no timer of it runs and it holds no packet.
// After the input the slot is destroyed (nothing of it may be left: link_bench.h), and a new
// link aligns, proves, enters service and carries an MSU each way.
// Corpus: signalling/fuzz/slc_corpus (alignment, proving, MSUs, retransmission, failures).

#include "signalling/fuzz/link_bench.h"

#include "signalling/slc.h"
#include "tests/slot_commands.h"

#include <cstdint>
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

// What the far end knows of the link, from the header of its last FISU or MSU.
struct Far {
    unsigned bsn = 127;  // the FSN of the far end's MSU it accepted last
    bool bib = true;
    unsigned fsn = 127;  // of its last MSU
    bool fib = true;

    void learn(Frame const& f)
    {
        if (f.size() < 3 || f[2] == 1 || f[2] == 2)
            return;
        bsn = f[0] & 0x7F;
        bib = f[0] & 0x80;
        fsn = f[1] & 0x7F;
        fib = f[1] & 0x80;
    }
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
    unsigned const bsn = sequence(flags, far.fsn, in);
    unsigned const fsn = sequence(flags >> 3, far.bsn, in);
    Frame f = header(bsn, far.fib != bool(flags & 0x04), fsn, far.bib != bool(flags & 0x20));
    Frame const extra = flags & 0x80 ? Frame{in.byte()} : Frame{};
    f.push_back(li(0, flags >> 6 & 1 ? 3 : 0, in));
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
}

Frame lssu(Far const& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    Frame f = flags & 0x10 ? header(far.fsn, far.fib, far.bsn, far.bib) : Frame{0xFF, 0xFF};
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
    unsigned const fsn = sequence(flags, far.bsn + 1, in);
    unsigned const bsn = sequence(flags >> 3, far.fsn, in);
    Frame f = header(bsn, far.fib != bool(flags & 0x20), fsn, far.bib != bool(flags & 0x04));
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
    void configure(std::uint8_t choice) override { emergency_ = choice & 1; }
    ZGCP::CreateParams params() const override { return testsupport::ss7Params(2, 1, 2, 3, emergency_); }

    SS7::SLC& link() { return bench_.link<SS7::SLC>(); }

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
        default: link().set_emergency(in.byte() & 1); break;
        }
    }

    // The far end aligns with the link, which proves, enters service, takes an MSU and sends
    // one that the far end acknowledges.
    void serve() override
    {
        bench_.push({0xFF, 0xFF, 0x01, SS7::SLC::SIN});
        bench_.passTime(emergency_ ? 500 : 8200);
        bench_.push({0xFF, 0xFF, 0x00});
        bench_.push(join(header(0x7F, true, 0, true), {3, 0x83, 0x01, 0x02}));
        bench_.slot().IUserData({char(0x83), 0x02, 0x01});
        bench_.settle();
        checkFrames();
        bench_.push(join(header(0, true, 0, true), {0}));
        checkFrames();
        if (link().get_state_id() != S::in_service || link().get_bsn() != 0 || link().statistics()[5] != 0)
            breach("a new link does not carry an MSU each way");
    }

    void check(Frame const& f) override
    {
        far_.learn(f);
        if (f.size() < 3)
            bad(f, "shorter than a header");
        std::size_t const after = f.size() - 3;
        if (f[2] != (after < kMaxLi ? after : kMaxLi))
            bad(f, "a length indicator that is not the length");
        if (f[2] == 1 || f[2] == 2) {
            if (f.size() != 4 || f[0] != 0xFF || f[1] != 0xFF || f[3] > SS7::SLC::SIOS)
                bad(f, "a malformed LSSU");
        } else if (f[2] != 0 && after > kMaxPayload) {
            bad(f, "an MSU longer than an MSU");
        }
    }

    // Deactivated, the link is idle at once.
    void checkDeactivated() override
    {
        if (link().get_state_id() != S::idle)
            breach("the link is not idle once deactivated");
    }

    // The retransmission buffer and the timer of the state.
    void checkState(std::uint8_t) override
    {
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

    bool emergency_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    return runInput<Target>(data, size);
}
