#include "slots/mcc_slot.h"

#include "base/errno.h"
#include "base/ext.h"
#include "hardware/mcc_device.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <utility>

MccSlot::MccSlot(Fd channel) : channel_(Mcc::timeslot(channel))
{
    event_.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
    // The Event takes the descriptor over: no copy that could fail for want of a descriptor.
    event_.Schedule(std::move(channel), POLLIN);
}

void MccSlot::PutHeader(std::ostream& os) const { os << *this << ": "; }

bool MccSlot::IUserData(std::vector<char> const& data)
{
    if (::write(event_.lowlevel_fd(), data.data(), data.size()) < 0) {
        Errno e;
        std::cerr << ext::header(this) << "write failed: " << e << std::endl;
    }
    return true;
}

void MccSlot::OnEvent(int, short revents)
{
    bool const ended = (revents & POLLIN) && DoRead();
    // A line that has gone away reads as the end of file (or gives nothing to read): it is
    // no longer polled, or it would be reported on every loop turn.
    if ((revents & (POLLHUP | POLLERR)) && (ended || !(revents & POLLIN))) {
        std::cerr << ext::header(this) << "MCC line closed" << std::endl;
        event_.Release();
    }
}

bool MccSlot::DoRead()
{
    char buffer[kBufferSize];
    for (;;) {
        ssize_t const n = ::read(event_.lowlevel_fd(), buffer, sizeof buffer);
        if (n > 0) {
            OnUserData(std::vector<char>(buffer, buffer + n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A read of nothing is a zero-length frame or the end of the line: it ends the
        // reading, which goes on at the next input event.
        return n == 0;
    }
}

MccFactory& MccFactory::instance()
{
    static MccFactory factory;
    return factory;
}

Slot* MccFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::mcc::id)
        return nullptr;
    ZGCP::MccParams const& p = params.get_mcc();
    Fd channel = Mcc::open(O_RDWR | O_NONBLOCK);
    if (!channel) {
        Errno e;
        std::cerr << ext::header(this) << "fail to open MCC device: " << e << std::endl;
        return nullptr;
    }
    int const type = p.get_type().asInt();
    if (type < 0 || type > int(mcc::kTransparent))
        return nullptr;
    std::uint32_t const channelType = p.get_mode().is_ss7() ? mcc::kSs7 : std::uint32_t(type);
    std::clog << ext::header(this) << "MCC_ALLOCATE" << " type=" << channelType << std::endl;
    if (!Mcc::allocate(channel, mcc::Allocate{channelType, 512, 0, 1, 1})) {
        Errno e;
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
        return nullptr;
    }
    return new MccSlot(std::move(channel));
}

void MccFactory::Query(ZGCP::Resources& resources)
{
    mcc::Counts counts;
    Mcc::counts(counts);
    resources.set_mcc_data(int(counts.data));
    resources.set_mcc_bri(int(counts.bri));
    resources.set_mcc_trans(int(counts.transparent));
}
