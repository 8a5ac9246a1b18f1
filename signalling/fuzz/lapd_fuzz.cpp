// Fuzz target of the Q.921 data link (ISDN::LAPD) as the daemon runs it in a PSTN slot: on a
// primary-rate D channel on either side, and on the user side of a basic-rate one with its TEI
// management. The input's first byte chooses the link (kConfigs, and its log level); then
// come steps (link_bench.h): the far end's frames, built from the far end's own counters
// (lapd_far.h) so that their sequence numbers, TEI and Ri can be the ones the link expects,
// or not, or raw; runs of I-frames in sequence; the clock; the controller's activate,
// deactivate and data; the channel congested, ready or lost; the pool running out.
// After every step:
// - every frame the link wrote is a well-formed Q.921 frame of its side, as its own address
//   reader and the trace decoder read it back, and what the far end expects: N(S), N(R), P/F,
//   TEI and information against the far end's own counters, the answers it owes given
//   (lapd_far.h);
// - the link delivered upwards exactly the far end's I-frames it had to accept, in order;
// - the link's window and queues are within their bounds, its timer flags say what runs;
// - once the channel has ended, no timer of the link runs and it holds no packet.
// After the input the slot is destroyed (nothing of it may be left: link_bench.h), and a new
// link of the same kind establishes and carries a message.
// Corpus: signalling/fuzz/lapd_corpus (establishment, data, recovery, TEI procedures, a long
// session).

#include "signalling/fuzz/lapd_far.h"
#include "signalling/fuzz/link_bench.h"

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
    kRun,                    // n: n modulo 32 + 1 I-frames in sequence, each acknowledging all
    kSteps
};

using Far = LapdFar;

using LAPDState = ISDN::LAPDFullState;

class Target : public FarEndTarget<Far> {
public:
    // The far end's frames in the order of their steps (LapdStep).
    Target() : FarEndTarget(kName, kSteps, {farIFrame, farSupervisory, farUnnumbered, farManagement}) {}

private:
    static constexpr char kName[] = "lapd_fuzz";

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
        far_ = Far(kName, config_.network, config_.basicRate);
        far_.beginStep(false);
    }

    ISDN::LAPD& link() { return bench_.link<ISDN::LAPD>(); }

    // The far end's counters follow what reached the link, in the state it was in.
    void pushing() override { state_ = lapdState(link()); }
    void pushed(Frame const& f, bool taken) override
    {
        if (taken)
            far_.received(f, state_);
        checkFrames();
    }
    void handedDown(Frame const& message) override { far_.fromAbove(message); }
    void beginStep(std::uint8_t kind) override
    {
        far_.beginStep(kind == kTime);
        freeBefore_ = bench_.sendsFreely();
    }

    // kRun.
    void other(std::uint8_t, Input& in) override
    {
        unsigned const n = in.byte() % 32u + 1;
        for (unsigned i = 0; i < n; ++i) {
            Frame f = far_.address(0, true, far_.tei());
            f.push_back(std::uint8_t(far_.expectedNs() << 1));
            f.push_back(std::uint8_t(far_.acknowledgeAll() << 1));
            bench_.push(join(f, kMessages[i % kMessageCount]));
        }
    }

    // The link establishes, sends a message and has it acknowledged.
    void serve() override
    {
        ISDN::LAPD& l = link();
        if (l.state_text() != std::string("Awaiting establishment"))
            breach(std::string("a new link does not establish: ") + l.state_text());
        bench_.push(join(far_.address(0, false, far_.tei()), {ISDN::LAPD::UA | 0x10}));
        bench_.userData({8, 1, 1, 0x7B});
        bench_.settle();
        checkFrames();
        bench_.push(join(far_.address(0, false, far_.tei()), {0x01, std::uint8_t(far_.acknowledgeAll() << 1)}));
        ACP::IsdnLinkInfo info;
        link().GetInfo(info);
        if (info.get_lapdState().asInt() != LAPDState::multipleFrameEstablished || info.get_vs().getValue() != 1
            || info.get_queueAck().getValue() != 0)
            breach("a new link does not carry a message: " + info.asValueNotation());
    }

    // A frame of the link: TEI management only on a basic-rate user side, as that side sends
    // it; the rest is the far end's to check.
    void check(Frame const& f) override
    {
        if (f.size() >= 8 && f[0] >> 2 == ISDN::frame::kManagementSapi) {
            std::uint8_t const type = f[6];
            if (!config_.basicRate || config_.network || f.size() != 8 || f[0] & 0x02 || f[1] >> 1 != ISDN::frame::kGroupTei
                || f[2] != ISDN::frame::kUiControl || f[3] != ISDN::frame::kManagementEntity || !(f[7] & 1)
                || (type != ISDN::frame::identityRequest && type != ISDN::frame::identityCheckResponse)
                || (type == ISDN::frame::identityRequest && f[7] >> 1 != ISDN::frame::kGroupTei))
                bad(f, "a TEI management message this link does not send");
        } else if (f.size() > 4 + ISDN::frame::kMaxInformation) {
            bad(f, "longer than a frame holds");
        }
        far_.sent(f);
    }
    // What the far end was owed and delivered; the window, the queues and the timers of the
    // link.
    void checkState(std::uint8_t) override
    {
        far_.endStep(freeBefore_ && bench_.sendsFreely());
        std::vector<Frame>& delivered = bench_.slot().delivered;
        if (far_.takeDelivered() != delivered)
            breach("the link delivered upwards other messages than the far end's it had to accept");
        delivered.clear();
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
    unsigned state_ = 0;
    bool freeBefore_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) { return initialize(argc, argv); }

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    return runInput<Target>(data, size);
}
