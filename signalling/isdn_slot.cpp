#include "signalling/isdn_slot.h"

#include "base/errno.h"
#include "base/ext.h"
#include "board/board.h"
#include "board/dsp_data.h"
#include "hardware/hw_mux.h"
#include "hardware/mcc_device.h"

#include <fcntl.h>
#include <poll.h>

#include <iostream>
#include <sstream>
#include <utility>

IsdnSlot::IsdnSlot(Fd device, int channel, std::unique_ptr<ISDN::LAPD> link, char const* eventName)
    : channel_(channel), link_(link.get())
{
    link_->BindNotify(this);
    link_->hdlc(this);
    event_.Bind(eventName, &IsdnSlot::OnEvent, this);
    // The Event takes the descriptor over: no copy that could fail for want of a descriptor.
    event_.Schedule(std::move(device), POLLIN | POLLOUT);
    add_protocol_tail(link.release());
}

void IsdnSlot::PutHeader(std::ostream& os) const
{
    Put(os);
    os << ": ";
}

bool IsdnSlot::IActivate(TERM::TermActivateParams const& params)
{
    // A lost channel brings no link up: said at once.
    if (!is_open()) {
        OnDeactivated();
        return true;
    }
    return StackSlot::IActivate(params);
}

void IsdnSlot::ReportLinkInfo() { ReportIsdnLinkInfo(*link_); }

void IsdnSlot::OnEvent(int, short revents)
{
    if (revents & ~POLLOUT) {
        Packet frame;
        DeviceRead const read = FrameIo::read(event_.lowlevel_fd(), revents, frame);
        if (read.ended()) {
            lost(read);
            return;
        }
        if (read.data() && frame.null())
            std::cerr << ext::header(this) << "no packet for a received frame, dropped" << std::endl;
        else if (read.data())
            receive(frame);
    }
    if ((revents & POLLOUT) && !ready_ && is_open()) {
        ready_ = true;
        event_.SetEvents(POLLIN);
        link_->on_hdlc_ready();
    }
}

void IsdnSlot::lost(DeviceRead const& why)
{
    std::cerr << ext::header(this) << "read error: " << why << std::endl;
    releaseChannel();
    ready_ = false;
    // The link stops and reports itself down once.
    link_->channel_lost();
}

bool IsdnSlot::hdlc_transmit(Packet& packet)
{
    Packet const& frame = packet;
    if (frame.null() || frame.empty())
        return true;
    if (!is_open())
        return false;
    switch (FrameIo::write(event_.lowlevel_fd(), frame)) {
    case FrameIo::Write::written: return true;
    case FrameIo::Write::full:
        ready_ = false;
        event_.SetEvents(POLLIN | POLLOUT);
        return false;
    case FrameIo::Write::failed: break;
    }
    return false;
}

void IsdnSlot::releaseChannel()
{
    // While the channel is still the slot's: once the descriptor closes it may be another's.
    LoseChannel(channel_);
    channel_ = -1;
    event_.Release();
}

bool IsdnSlot::IBeforeDestroy()
{
    HwMux::instance().Release(channel_);
    return true;
}

AtsQsigSlot::AtsQsigSlot(Fd device, int channel, std::unique_ptr<ISDN::LAPD> link)
    : IsdnSlot(std::move(device), channel, std::move(link), "AtsQsigSlot::OnEvent")
{
}

bool AtsQsigSlot::NewBChannel(std::uint32_t index, int& channel)
{
    // The index is lent anew only once the driver has it back.
    if (!pay(index)) {
        std::cerr << ext::header(this) << "add B channel " << index << " fail: (the one let go of is not given back yet)"
                  << std::endl;
        return false;
    }
    dspdata::BChannel record{index, -1};
    if (board::board().ioctl(event_.lowlevel_fd(), dspdata::kAddBChannel, &record) < 0 || record.channel < 0) {
        std::cerr << ext::header(this) << "add B channel fail !!!" << std::endl;
        return false;
    }
    channel = record.channel;
    return true;
}

bool AtsQsigSlot::deleteB(std::uint32_t index)
{
    return board::board().ioctl(event_.lowlevel_fd(), dspdata::kDeleteBChannel, &index) >= 0;
}

bool AtsQsigSlot::giveBack(std::uint32_t index)
{
    if (deleteB(index))
        return true;
    Errno e;
    std::cerr << ext::header(this) << "delete B channel " << index << " fail: " << e << std::endl;
    return false;
}

void AtsQsigSlot::DestroyBChannel(std::uint32_t index)
{
    if (giveBack(index) || !is_open() || !owed_.insert(index).second)
        return;
    std::cerr << ext::header(this) << "B channel " << index << " let go of still lent: given back once the driver takes it"
              << std::endl;
    owedRequests_.Owe();
}

bool AtsQsigSlot::pay(std::uint32_t index)
{
    if (owed_.count(index) == 0)
        return true;
    if (!deleteB(index))
        return false;
    owed_.erase(index);
    std::clog << ext::header(this) << "B channel " << index << " let go of: given back" << std::endl;
    if (owed_.empty())
        owedRequests_.Clear();
    return true;
}

bool AtsQsigSlot::PayOwed()
{
    for (auto it = owed_.begin(); it != owed_.end();)
        pay(*it++);
    return owed_.empty();
}

void AtsQsigSlot::forgetOwed()
{
    owed_.clear();
    owedRequests_.Clear();
}

void AtsQsigSlot::giveBackBChannels(bool toDriver)
{
    if (SlotFactory* factory = GetSlotFactory())
        for (Slot* s : factory->slots())
            if (auto* b = dynamic_cast<AtsQsigBSlot*>(s); b && b->HoldsChannel() && b->signallingSlot() == GetId()) {
                b->givenBack();
                if (toDriver)
                    giveBack(b->index());
            }
}

void AtsQsigSlot::releaseChannel()
{
    // The device that lent the B channels ended: they went with it.
    giveBackBChannels(false);
    forgetOwed();
    IsdnSlot::releaseChannel();
}

bool AtsQsigSlot::IBeforeDestroy()
{
    // The B channels go back while the device is still open; its close lets go of the rest.
    giveBackBChannels(true);
    forgetOwed();
    IsdnSlot::IBeforeDestroy();
    event_.Release();
    return true;
}

void AtsQsigBSlot::givenBack()
{
    LoseChannel(channel_);
    channel_ = -1;
}

bool AtsQsigBSlot::IBeforeDestroy()
{
    auto* qsig = HoldsChannel() ? dynamic_cast<AtsQsigSlot*>(IsdnFactory::instance().FindSlot(signallingSlot_)) : nullptr;
    if (qsig == nullptr) {
        std::clog << ext::header(this) << "Can't find signalling slot" << std::endl;
        return true;
    }
    HwMux::instance().Release(channel_);
    qsig->DestroyBChannel(index_);
    return true;
}

IsdnFactory& IsdnFactory::instance()
{
    static IsdnFactory factory;
    return factory;
}

Slot* IsdnFactory::FindSlot(unsigned number) const
{
    for (Slot* s : slots())
        if (s->GetId() == number)
            return s;
    return nullptr;
}

Slot* IsdnFactory::INewSlot(ZGCP::CreateParams const& params)
{
    switch (params.currentSelection()) {
    case ZGCP::CreateParams::isdn::id: return NewIsdnSlot(params.get_isdn());
    case ZGCP::CreateParams::ats_qsig::id: return NewAtsQsigSlot(params.get_ats_qsig());
    case ZGCP::CreateParams::ats_qsig_b::id: return NewAtsQsigBSlot(params.get_ats_qsig_b());
    }
    return nullptr;
}

namespace {

ISDN::Side::type sideOf(ZGCP::IsdnSide const& side)
{
    return side.network_isSelected() ? ISDN::Side::network : ISDN::Side::user;
}

}  // namespace

Slot* IsdnFactory::NewIsdnSlot(ZGCP::IsdnParams const& p)
{
    Fd device = Mcc::open(O_RDWR | O_NONBLOCK);
    if (!device) {
        Errno e;
        std::cerr << ext::header(this) << "fail to open MCC device: " << e << std::endl;
        return nullptr;
    }
    bool const bri = p.get_type().asInt() == ZGCP::IsdnType::bri;
    auto link = std::make_unique<ISDN::LAPD>(ISDN::Side::user, 0);
    if (bri)
        link->change_to_bri();
    link->set_linkno(unsigned(p.get_trunk().getValue()));
    link->set_log(unsigned(p.get_log().getValue()));
    link->set_side(sideOf(p.get_side()));
    if (!Mcc::allocate(device, mcc::Allocate{bri ? mcc::kBri : mcc::kData, 512, 0, 1, 1})) {
        Errno e;
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
        return nullptr;
    }
    // No slot on an unknown switch channel.
    int const channel = Mcc::timeslot(device);
    if (channel < 0) {
        Errno e;
        std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << e << std::endl;
        return nullptr;
    }
    return new IsdnSlot(std::move(device), channel, std::move(link));
}

Slot* IsdnFactory::NewAtsQsigSlot(ZGCP::AtsQsigParams const& p)
{
    Fd device(board::board().open(dspdata::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!device) {
        Errno e;
        std::cerr << ext::header(this) << "fail to open dsp-data device: " << e << std::endl;
        return nullptr;
    }
    // The QSIG link runs without TEI assignment.
    auto link = std::make_unique<ISDN::LAPD>(ISDN::Side::user, 0);
    link->set_log(0);
    link->set_side(sideOf(p.get_side()));
    std::uint32_t word = 0;
    int const channel = board::board().ioctl(device.lowlevel_fd(), dspdata::kSignallingChannel, &word);
    if (channel < 0) {
        Errno e;
        std::cerr << ext::header(this) << "signalling channel fail: " << e << std::endl;
        return nullptr;
    }
    link->set_linkno(unsigned(channel));
    return new AtsQsigSlot(std::move(device), channel, std::move(link));
}

Slot* IsdnFactory::NewAtsQsigBSlot(ZGCP::AtsQsigBParams const& p)
{
    unsigned const number = p.get_slot().getValue();
    auto* qsig = dynamic_cast<AtsQsigSlot*>(FindSlot(number));
    unsigned const subslot = p.get_subslot().getValue();
    if (qsig == nullptr || subslot < 1 || subslot > dspdata::kBChannels) {
        std::cerr << ext::header(this) << "no B channel " << subslot << " of a QSIG slot " << number << std::endl;
        return nullptr;
    }
    int channel = -1;
    if (!qsig->NewBChannel(subslot - 1, channel))
        return nullptr;
    return new AtsQsigBSlot(qsig->GetId(), subslot - 1, channel);
}
