#include "slots/t38_slot.h"

#include "base/clock.h"
#include "base/errno.h"
#include "base/ext.h"
#include "base/leading_number.h"
#include "hardware/hw_mux.h"
#include "hardware/mcc_device.h"
#include "slots/child_program.h"
#include "slots/slots.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The relay's end as the log tells it.
void logRelayEnd(std::ostream& os, int status)
{
    if ((status & 0x7F) == 0)
        os << "t38 daemon terminated with code=" << ((status >> 8) & 0xFF) << std::endl;
    else if ((status & 0xFF) != 0x7F)
        os << "t38 daemon terminated by signal=" << (status & 0x7F) << std::endl;
}

}  // namespace

T38SoftSlot::T38SoftSlot(int childId, int switchChannel) : childId_(childId), channel_(switchChannel)
{
    wait_.Bind(this, &T38SoftSlot::OnT38Terminate);
    wait_.Attach(childId);
}

void T38SoftSlot::PutHeader(std::ostream& os) const { os << *this << ": "; }

void T38SoftSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy()
{
    // The relay holds the channel until it ends.
    HwMux::instance().Release(channel_);
    if (childId_ >= 1) {
        ::kill(childId_, SIGTERM);
        wait_.Detach();
        T38SoftFactory::instance().Retire(childId_);
    }
    return true;
}

void T38SoftSlot::OnT38Terminate(int status)
{
    std::clog << ext::header(this);
    logRelayEnd(std::clog, status);
    childId_ = -1;
    // The channel went with the relay, its only holder.
    LoseChannel(channel_);
    channel_ = -1;
    OnAbort(status);
}

// A relay told to end, watched by the factory after its slot has gone.
class T38SoftFactory::Retired {
public:
    Retired(T38SoftFactory& factory, int pid) : factory_(factory), pid_(pid)
    {
        wait_.Bind(this, &Retired::OnExit);
        wait_.Attach(pid);
        timer_.set(kGraceMs, &Retired::OnGraceOver, this);
    }
    ~Retired()
    {
        if (timer_.is_running())
            ::kill(pid_, SIGKILL);
    }
    Retired(Retired const&) = delete;
    Retired& operator=(Retired const&) = delete;

private:
    void OnExit(int status)
    {
        std::clog << ext::header(&factory_);
        logRelayEnd(std::clog, status);
        timer_.reset();
        factory_.retired_.remove_if([this](std::unique_ptr<Retired> const& r) { return r.get() == this; });
    }
    void OnGraceOver()
    {
        std::cerr << ext::header(&factory_) << "t38 daemon[" << pid_ << "] still runs " << kGraceMs
                  << " ms after SIGTERM, killed" << std::endl;
        ::kill(pid_, SIGKILL);
    }

    T38SoftFactory& factory_;
    int pid_;
    ChildWait wait_;
    Timer timer_;
};

T38SoftFactory& T38SoftFactory::instance()
{
    static T38SoftFactory factory;
    return factory;
}

T38SoftFactory::~T38SoftFactory() = default;

void T38SoftFactory::Retire(int pid) { retired_.push_back(std::make_unique<Retired>(*this, pid)); }

Slot* T38SoftFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::t38soft::id)
        return nullptr;
    ZGCP::T38Soft const& p = params.get_t38soft();
    int const rxSize = p.get_rx_packet_size().getValue();
    int const rxThreshold = p.get_rx_threshold().getValue();
    int const txThreshold = p.get_tx_threshold().getValue();
    if (rxSize < 0 || rxThreshold < 0 || txThreshold < 0) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL: negative channel parameter" << std::endl;
        return nullptr;
    }
    Fd channel = Mcc::open(O_RDWR);
    if (!channel) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [" << errno << "]"
                  << std::endl;
        return nullptr;
    }
    if (!Mcc::allocate(channel, mcc::Allocate{mcc::kTransparent, std::uint32_t(rxSize), 0, std::uint32_t(rxThreshold),
                                              std::uint32_t(txThreshold)})) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [" << errno << "]"
                  << std::endl;
        return nullptr;
    }
    int const ts = Mcc::timeslot(channel);
    if (ts < 0) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [" << errno << "]"
                  << std::endl;
        return nullptr;
    }

    std::vector<std::string> args{kProgram, "--child", "--remote",
                                  p.get_dhost().get_iaddr() + "/" + std::to_string(p.get_dhost().get_port().getValue())
                                      + "/" + std::to_string(p.get_shost().get_port().getValue())};
    for (auto const& a : p.get_args()) {
        if (args.size() >= kMaxArgs - 1)
            break;
        args.push_back(a);
    }
    std::clog << ext::header(this) << "args for run t38 daemon:" << std::endl;
    for (std::size_t i = 0; i < args.size(); ++i)
        std::clog << ext::header(this) << "arg[" << i << "]=" << args[i] << std::endl;

    int const pid = StartChildProgram(kProgram, args, channel.lowlevel_fd(), kExecFailed);
    if (pid < 0) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to fork [" << errno << "]" << std::endl;
        return nullptr;
    }
    std::clog << ext::header(this) << "t38 daemon[" << pid << "] successfully started" << std::endl;
    // The channel is the relay's from here on: the daemon's descriptor closes on return.
    return new T38SoftSlot(pid, ts);
}

void T38SoftFactory::Query(ZGCP::Resources& resources) { resources.set_t38_instances(instances_); }

bool T38SoftFactory::QueryReady()
{
    if (count_ && count_->awaited())
        return false;
    std::int32_t const age = std::int32_t(Mux::milliseconds() - countedAt_);
    if (counted_ && age >= 0 && age < std::int32_t(kCountMs))
        return true;
    // A program that told its count and still runs goes with its object.
    count_ = std::make_unique<ChildProgramLine>();
    count_->Bind(&T38SoftFactory::OnCount, this);
    ChildProgram child;
    child.program = kProgram;
    child.args = {kProgram, "--num-of-instances"};
    // A line of kCountLineMax characters is whole unless its number reaches the bound: one
    // character past the bound then tells whether the bound cut the number.
    auto const whole = [](std::string_view text) {
        return text.size() >= kCountLineMax && !reachesBound(text, kCountLineMax);
    };
    if (count_->Start(child, kCountLineMax + 1, kCountMs, whole))
        return false;
    std::clog << ext::header(this) << "t38 daemon not found!" << std::endl;
    instances_ = 0;
    Counted();
    return true;
}

void T38SoftFactory::OnCount(ChildProgramLine::Line const& line)
{
    int count = 0;
    if (!line && count_->killed() > 0) {
        std::cerr << ext::header(this) << "t38 daemon[" << count_->killed() << "] told no count within " << kCountMs
                  << " ms, killed; the last count stands" << std::endl;
    } else if (!line) {
        std::cerr << ext::header(this) << "t38 daemon ended without its count, and its output stayed open for "
                  << kCountMs << " ms; the last count stands" << std::endl;
    } else if (line->empty()) {
        std::clog << "t38: can't detect T38 resources" << std::endl;
        instances_ = 0;
    } else if (cutByBound(*line, kCountLineMax)) {
        std::cerr << ext::header(this) << "t38 daemon told a count longer than " << kCountLineMax
                  << " characters: " << ext::quoted(line->substr(0, kCountLineMax)) << "; the last count stands"
                  << std::endl;
    } else if (std::string const text = line->substr(0, kCountLineMax);
               leadingNumber(text, count) == NumberRead::outOfRange) {
        std::cerr << ext::header(this) << "t38 daemon told a count no int holds: "
                  << ext::quoted(text.substr(0, text.find('\n'))) << "; the last count stands" << std::endl;
    } else {
        // The line's leading number; 0 when it has none.
        instances_ = count;
    }
    Counted();
    Slots::instance().OnResourcesReady();
}

void T38SoftFactory::Counted()
{
    counted_ = true;
    countedAt_ = Mux::milliseconds();
}
