#include "signalling/fuzz/link_bench.h"

#include "base/packet.h"
#include "base/random.h"
#include "board/hal.h"
#include "board/mcc.h"
#include "board/sim/hal_model.h"
#include "hardware/hw_mux.h"
#include "messages/term.h"
#include "runtime/multiplexer.h"
#include "tests/loop_pump.h"
#include "tests/process_figures.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace linkfuzz {
namespace {

// Filler frames that fill the channel for kCongest: longer than any frame a link writes, and
// all zeros, which no link writes (the address or length octets are never 0 throughout).
constexpr std::size_t kFillerSize = 4096;
constexpr int kMaxFillers = 1000;
// Controller channels a link may hold at once, while one it left is not closed yet.
constexpr int kControllerChannels = 4;

char const* targetName = "link_fuzz";

Frame const& fillerFrame()
{
    static Frame const frame(kFillerSize, 0);
    return frame;
}

bool filler(Frame const& f)
{
    return f.size() == kFillerSize && std::memcmp(f.data(), fillerFrame().data(), kFillerSize) == 0;
}

}  // namespace

void breach(std::string const& what) { testsupport::breach(targetName, what); }

void bad(Frame const& frame, std::string const& what) { breach("frame " + shown(frame) + ": " + what); }

Frame join(Frame front, Frame const& back)
{
    front.insert(front.end(), back.begin(), back.end());
    return front;
}

void RecordingMcc::received(board::sim::OpenFile& file, void const* data, std::size_t length)
{
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    frames.emplace_back(bytes, bytes + length);
    MccModel::received(file, data, length);
}

namespace {

Frame octets(Packet const& p) { return p.null() ? Frame() : Frame(p.data(), p.data() + p.length()); }

}  // namespace

void LinkSlot::on_message(Packet& packet)
{
    delivered.push_back(octets(packet));
    writtenAtDelivery.push_back(channel().statistics().txSU);
    PstnSlot::on_message(packet);
}

void LinkSlot::transmit(Packet& packet)
{
    handed.push_back(octets(packet));
    PstnSlot::transmit(packet);
}

Bench::Bench(char const* target, BenchObserver& observer) : observer_(observer)
{
    targetName = target;
    // A write to a line that hung up must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    testsupport::quietStreams("LINK_FUZZ_LOG");
    sim_ = std::make_unique<board::sim::SimBoard>();
    sim_->addStandardDevices();
    mcc_ = &sim_->add<RecordingMcc>();
    installed_ = std::make_unique<board::ScopedBoard>(*sim_);
    // The shared bus, which no link uses, sends the idle byte: the switch's re-disable pass,
    // which otherwise puts 128 requests to the board at every turn of the loop, then has
    // nothing to do, and the runs go several times faster.
    HwMux& mux = HwMux::instance();
    for (int i = 0; i < HwMux::kBusCount; ++i)
        mux.Write(HwMux::kBusFirst + i, HwMux::kIdleByte);
    scratch_.reserve_head(0);
    // The TEI requests' reference numbers come from rand: each input sets its sequence.
    SeedRandomOnce();
}

void Bench::begin(ZGCP::CreateParams const& params, bool basicRate)
{
    clock_ = std::make_unique<Mux::TestClock>();
    std::srand(1);
    sim_->clearFailures();
    sim_->service();
    mcc_->frames.clear();
    poolBefore_ = _Packet::Pool::available();
    descriptorsBefore_ = descriptorCount();
    congested_ = false;
    basicRate_ = basicRate;
    slot_ = std::make_unique<LinkSlot>(params.get_pstn());
    slot_->IHwConnectReceiver(line_);
    if (basicRate_)
        slot_->IHwConnectTransmitter(line_);
    settle();
}

void Bench::end()
{
    drain_.reset();
    congested_ = false;
    sim_->clearFailures();
    slot_->IHwDisconnectReceiver(line_);
    if (basicRate_)
        slot_->IHwDisconnectTransmitter(line_);
    slot_.reset();
    settle();
    sim_->service();
    if (multiplexer.timer_count() != 0)
        breach(std::to_string(multiplexer.timer_count()) + " timers left after the link was destroyed");
    if (!mcc_->opens().empty())
        breach("a channel of the controller is left open");
    if (_Packet::Pool::available() != poolBefore_)
        breach("packets leaked: " + std::to_string(poolBefore_ - _Packet::Pool::available()));
    checkSwitch();
    if (std::size_t const now = descriptorCount(); now != descriptorsBefore_)
        breach("descriptors: " + std::to_string(descriptorsBefore_) + " before, " + std::to_string(now) + " after");
    clock_.reset();
}

void Bench::beforeStep()
{
    if (congested_)
        fill();
}

void Bench::step(Step kind, Input& in)
{
    beforeStep();
    switch (kind) {
    case kTime: passTime(kTimes[in.byte() % (sizeof kTimes / sizeof kTimes[0])]); break;
    case kActivate: {
        TERM::TermActivateParams params;
        params.select_empty();
        slot_->IActivate(params);
        settle();
        break;
    }
    case kDeactivate: break;
    case kData: {
        std::size_t const n = in.byte();
        userData(in.take(n));
        settle();
        break;
    }
    case kBurst: {
        unsigned const n = in.byte() + 1u;
        std::uint8_t const x = in.byte();
        for (unsigned i = 0; i < n; ++i)
            userData({8, 1, x, std::uint8_t(x + i)});
        settle();
        break;
    }
    case kCongest:
        congested_ = true;
        fill();
        break;
    case kReady:
        congested_ = false;
        settle();
        break;
    case kLost: lose(in.byte()); break;
    case kPool:
        if (drain_)
            drain_.reset();
        else
            drain_.emplace(in.byte() % 100u);
        settle();
        break;
    case kRaw: {
        Frame const frame = in.take(in.byte() + 1u);
        // An empty record would read as the end of the line.
        if (!frame.empty())
            push(frame);
        break;
    }
    case kCommonSteps: break;
    }
}

void Bench::push(Frame const& frame)
{
    int const ts = channel();
    observer_.pushing();
    std::uint32_t const before = slot_->channel().statistics().rxSU;
    if (ts >= 0)
        mcc_->push(ts, frame);
    settle();
    observer_.pushed(frame, slot_->channel().statistics().rxSU != before);
}

bool Bench::userData(Frame const& message)
{
    observer_.handedDown(message);
    return slot_->IUserData(std::vector<char>(message.begin(), message.end()));
}

bool Bench::sendsFreely() { return !congested_ && !drain_ && channel() >= 0 && slot_->channel().is_open(); }

void Bench::settle() { testsupport::settle(); }

void Bench::passTime(std::uint32_t ms)
{
    testsupport::advance(*clock_, ms);
    settle();
}

std::vector<Frame> Bench::take()
{
    sim_->service();
    std::vector<Frame> out;
    for (Frame& f : mcc_->frames)
        if (!filler(f))
            out.push_back(std::move(f));
    mcc_->frames.clear();
    return out;
}

std::string Bench::farEnd(std::vector<std::string> const& words)
{
    int const ts = channel();
    if (ts < 0 || words.empty())
        return "";
    std::vector<std::string> command = words;
    command.insert(command.begin() + 1, std::to_string(ts));
    std::string const reply = mcc_->command(command);
    settle();
    return reply;
}

board::sim::FrameLine* Bench::line()
{
    int const ts = channel();
    return ts < 0 ? nullptr : mcc_->line(ts);
}

Packet const& Bench::packet(Frame const& octets)
{
    scratch_.trim(scratch_.length());
    if (!octets.empty())
        std::copy(octets.begin(), octets.end(), scratch_.put(unsigned(octets.size())));
    return scratch_;
}

int Bench::channel()
{
    sim_->service();
    std::vector<int> const ts = mcc_->timeslots();
    if (ts.size() > 1)
        breach(std::to_string(ts.size()) + " controller channels open for one link");
    return ts.empty() ? -1 : ts[0];
}

unsigned Bench::linkTimers() const { return multiplexer.timer_count() - (slot_ ? 1u : 0u); }

void Bench::checkStopped(char const* what)
{
    if (unsigned const n = linkTimers(); n != 0)
        breach(std::to_string(n) + " timers of the link run on after " + what);
    std::size_t const held = drain_ ? drain_->held.size() : 0;
    if (_Packet::Pool::available() + held != poolBefore_)
        breach(std::to_string(poolBefore_ - held - _Packet::Pool::available()) + " packets held by the link after " +
               what);
}

// Fills the channel's queue towards the far end with frames of its own, so that the link's
// next writes find it full; the loop then empties it, as a controller does that sends again.
void Bench::fill()
{
    int const fd = daemonDescriptor();
    if (fd < 0)
        return;
    Frame const& frame = fillerFrame();
    for (int i = 0; i < kMaxFillers; ++i)
        if (::send(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
            break;
}

// The daemon's descriptor of the channel: the socket of the controller's open.
int Bench::daemonDescriptor()
{
    sim_->service();
    if (mcc_->opens().size() != 1)
        return -1;
    ino_t const inode = mcc_->opens()[0]->inode();
    struct stat st {};
    if (descriptor_ < 0 || ::fstat(descriptor_, &st) != 0 || st.st_ino != inode) {
        std::string const socket = "socket:[" + std::to_string(inode) + "]";
        descriptor_ = testsupport::descriptorOn(::getpid(), socket);
    }
    return descriptor_;
}

// The descriptors of the board's devices held: a channel's descriptor left behind, or a copy
// of it, keeps its open.
std::size_t Bench::descriptorCount()
{
    sim_->service();
    return sim_->openCount();
}

void Bench::lose(std::uint8_t how)
{
    int const ts = channel();
    if (ts < 0)
        return;
    std::optional<Fault> const& fault = lineEnd(how);
    if (fault)
        sim_->failRead(mcc::kPath, *fault, 1);
    else
        mcc_->hangUp(ts);
    settle();
    sim_->clearFailures();
    if (!slot_->channel().is_open())
        checkStopped("the channel's end");
}

// No output the link's channels may have joined (the trunk time slot's, and those of the first
// controller channels, which are handed out lowest free first) is left connected, nor written
// with anything but the idle byte.
void Bench::checkSwitch()
{
    auto& hal = dynamic_cast<board::sim::HalModel&>(*sim_->device(hal::kPath));
    using State = board::sim::HalModel::Output::State;
    std::vector<int> outputs = {TrunkLine::kChannel};
    for (int k = 0; k < kControllerChannels; ++k)
        outputs.push_back(board::sim::MccModel::kFirstTimeslot + k);
    for (int output : outputs) {
        board::sim::HalModel::Output const o = hal.output(output);
        if (o.state == State::connected || (o.state == State::written && o.byte != HwMux::kIdleByte))
            breach("switch output " + std::to_string(output) + " left driven");
    }
}

void LinkTarget::run(std::uint8_t const* data, std::size_t size)
{
    Input in(data, size);
    configure(in.byte());
    start();
    while (!in.done()) {
        std::uint8_t const kind = in.byte() % steps_;
        beginStep(kind);
        if (kind == kDeactivate) {
            bench_.beforeStep();
            bench_.slot().IDeactivate();
            checkDeactivated();
            bench_.settle();
        } else if (kind < kCommonSteps) {
            bench_.step(Step(kind), in);
        } else {
            bench_.beforeStep();
            own(kind, in);
        }
        endStep(kind);
        checkFrames();
        checkState(kind);
    }
    finish();
    start();
    serve();
    finish();
}

void LinkTarget::start()
{
    forget();
    bench_.begin(params(), basicRate());
    checkFrames();
}

void LinkTarget::finish()
{
    bench_.end();
    checkFrames();
}

void LinkTarget::checkFrames()
{
    for (Frame const& f : bench_.take())
        check(f);
}

}  // namespace linkfuzz
