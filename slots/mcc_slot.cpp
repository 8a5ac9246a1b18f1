#include "slots/mcc_slot.h"

#include "base/errno.h"
#include "base/ext.h"
#include "hardware/hw_mux.h"
#include "hardware/mcc_device.h"

#include <fcntl.h>
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#include <iostream>
#include <utility>

MccSlot::MccSlot(int timeslot, Fd channel) : channel_(timeslot)
{
    event_.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
    // The Event takes the descriptor over: no copy that could fail for want of a descriptor.
    event_.Schedule(std::move(channel), POLLIN);
}

void MccSlot::PutHeader(std::ostream& os) const { os << *this << ": "; }

bool MccSlot::IBeforeDestroy()
{
    HwMux::instance().Release(channel_);
    return true;
}

// A frame that does not reach the channel is not answered success: a channel that is full
// refuses it for now (insufficientResources), a line that ended or failed for good
// (unsupported).
bool MccSlot::IUserData(std::vector<char> const& data)
{
    if (!event_.IsActive()) {
        std::cerr << ext::header(this) << "user data refused: the line has ended" << std::endl;
        return false;
    }
    ssize_t n;
    do
        n = ::write(event_.lowlevel_fd(), data.data(), data.size());
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        Errno e;
        std::cerr << ext::header(this) << "write failed: " << e << std::endl;
        if (e.value() == EAGAIN || e.value() == EWOULDBLOCK)
            Refuse(ZGCP::ErrorCause::insufficientResources);
        return false;
    }
    return true;
}

void MccSlot::OnEvent(int, short revents)
{
    // An octet more than a frame may hold: a longer frame is told from one that fills the
    // buffer, and is not sent up cut.
    char buffer[kBufferSize + 1];
    for (;;) {
        DeviceRead const read = readDevice(event_.lowlevel_fd(), revents, buffer, sizeof buffer);
        if (!read.data()) {
            if (read.ended())
                lost(read);
            return;
        }
        if (read.size > kBufferSize)
            std::cerr << ext::header(this) << "frame of more than " << kBufferSize << " octets dropped" << std::endl;
        else
            OnUserData(std::vector<char>(buffer, buffer + read.size));
    }
}

// The line is not polled any more and its channel is given back; the controller hears of it
// as an abort.
void MccSlot::lost(DeviceRead const& why)
{
    std::cerr << ext::header(this) << "MCC line closed: " << why << std::endl;
    // While the channel is still the slot's: once the descriptor closes it may be another's.
    LoseChannel(channel_);
    channel_ = -1;
    event_.Release();
    OnAbort(why.error);
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
    // A channel without its time slot could never be connected: no slot is made of it.
    int const timeslot = Mcc::timeslot(channel);
    if (timeslot < 0) {
        Errno e;
        std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << e << std::endl;
        return nullptr;
    }
    return new MccSlot(timeslot, std::move(channel));
}

void MccFactory::Query(ZGCP::Resources& resources)
{
    mcc::Counts counts;
    Mcc::counts(counts);
    resources.set_mcc_data(int(counts.data));
    resources.set_mcc_bri(int(counts.bri));
    resources.set_mcc_trans(int(counts.transparent));
}
