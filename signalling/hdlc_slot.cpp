#include "signalling/hdlc_slot.h"

#include "asn1/per_common.h"
#include "base/ext.h"
#include "base/trace_ctl.h"
#include "control/tpkt_protocol.h"
#include "signalling/stack_slot.h"

#include <cstring>
#include <iostream>

namespace {

// What a gathered body takes of the signal's message besides its octets (its length and
// preamble, at most), and what the message may take in all: a TPKT frame's body less the
// octets of the message around the bodies.
constexpr std::size_t kPackageOctets = 4;
constexpr std::size_t kSignalOctets = Tpkt_protocol::max_body - 64;

}  // namespace

TimerSpec<HdlcSlot> const HdlcSlot::TUpdatespec{&HdlcSlot::OnUpdateTimer, 3000};

HdlcSlot::HdlcSlot(int trunk, int log, std::uint16_t address)
    : trunkNo_(std::uint32_t(trunk) - 1u), address_(address)
{
    channel_.bind(this);
    channel_.trunk(unsigned(trunk));
    channel_.logLevel(unsigned(log));
    if (tracing())
        trace() << "trunk=" << trunkNo_ << ", address=" << address_ << std::endl;
    updateTimer_.set(this);
    pending_.select_hdlcPackages();
}

void HdlcSlot::PutHeader(std::ostream& os) const { os << "HdlcSlot[" << trunkNo_ << "/*]: "; }

bool HdlcSlot::tracing() const { return traces.signalling.hdlc; }

std::ostream& HdlcSlot::trace() const { return std::clog << ext::header(this); }

// Connections

bool HdlcSlot::IHwConnectReceiver(Slot& source)
{
    if (tracing())
        trace() << "IHwConnectReceiver" << std::endl;
    return connectChannel(source.GetTransmitChannel());
}

bool HdlcSlot::IHwConnectTransmitter(Slot& destination)
{
    if (tracing())
        trace() << "IHwConnectTransmitter" << std::endl;
    return connectChannel(destination.GetReceiveChannel());
}

bool HdlcSlot::connectChannel(int tdm)
{
    HDLC::Params p = channel_.params();
    p.tdm = tdm;
    p.type = 1;
    channel_.params(p);
    return tdm == -1 || iactivate();
}

bool HdlcSlot::IHwDisconnectTransmitter(Slot& destination)
{
    if (tracing())
        trace() << "IHwDisconnectTransmitter" << std::endl;
    bool const left = Slot::IHwDisconnectTransmitter(destination);
    return channel_.deactivate() && left;
}

bool HdlcSlot::IHwDisconnectReceiver(Slot& source)
{
    if (tracing())
        trace() << "IHwDisconnectReceiver" << std::endl;
    bool const left = Slot::IHwDisconnectReceiver(source);
    return channel_.deactivate() && left;
}

bool HdlcSlot::iactivate()
{
    if (tracing())
        trace() << "Try to activate HDCL, params.tdm = " << channel_.params().tdm << std::endl;
    if (!channel_.activate()) {
        OnDeactivated();
        return false;
    }
    channelEnded_ = false;
    if (tracing())
        trace() << "HDLC activated successfully" << std::endl;
    return true;
}

bool HdlcSlot::IActivate(TERM::TermActivateParams const&)
{
    if (tracing())
        trace() << "IActivate" << std::endl;
    iactivate();
    return true;
}

bool HdlcSlot::IDeactivate()
{
    OnUpdateTimer();
    return true;
}

// Sending

bool HdlcSlot::Ioctl(ZGCP::IoctlParams const& params)
{
    if (!params.hdlcPackages_isSelected())
        return false;
    if (channelEnded_) {
        std::clog << ext::header(this) << "packages refused: the channel has ended" << std::endl;
        return false;
    }
    // A body that does not fit in a frame behind the header refuses the whole request.
    for (ZGCP::HdlcPackage const& package : params.get_hdlcPackages()) {
        if (package.get_body().size() > packet_max_size - kHeaderSize) {
            std::cerr << ext::header(this) << "package of " << package.get_body().size() << " octets refused"
                      << std::endl;
            return false;
        }
    }
    // Packages that do not all fit in the queue are refused together: none is queued and
    // none uses up a sequence number.
    std::size_t const packages = params.get_hdlcPackages().size();
    unsigned const room = queue_.size() - queue_.count();
    if (packages > room) {
        overflows_ += std::uint32_t(packages);
        std::clog << ext::header(this) << "transmit queue has room for " << room << ", " << packages
                  << " packages refused" << std::endl;
        Refuse(ZGCP::ErrorCause::insufficientResources);
        return false;
    }
    // Every package takes its packet first: a request the link queues cannot hold is refused
    // whole.
    std::vector<Packet> packets(params.get_hdlcPackages().size());
    for (Packet& packet : packets) {
        if (!TakeQueuedBlock(packet, *this)) {
            Refuse(ZGCP::ErrorCause::insufficientResources);
            return false;
        }
    }
    auto next = packets.begin();
    for (ZGCP::HdlcPackage const& package : params.get_hdlcPackages()) {
        std::vector<char> const& body = package.get_body();
        Packet& packet = *next++;
        packet.put16_b(address_);
        packet.put8(std::uint8_t(txSeq_ << 5 | peerSeq_));
        ++txSeq_;
        if (!body.empty())
            std::memcpy(packet.put(unsigned(body.size())), body.data(), body.size());
        if (tracing())
            trace() << "enqueue package: " << packet << std::endl;
        transmitPacket(packet);
    }
    return true;
}

void HdlcSlot::transmitPacket(Packet& packet)
{
    // Room was made sure of for the whole request.
    queue_.put(packet);
    if (channel_.is_ready())
        on_hdlc_ready();
}

void HdlcSlot::on_hdlc_ready()
{
    Packet head;
    while (queue_.preview(&head)) {
        if (!channel_.hdlc_transmit(head))
            return;
        queue_.get(head);
        if (tracing())
            trace() << "on_hdlc_ready " << head << std::endl;
    }
}

// Receiving

void HdlcSlot::on_hdlc_receive(Packet& packet)
{
    if (tracing())
        trace() << "on_hdlc_receive " << packet << std::endl;
    if (packet.length() < kHeaderSize) {
        std::clog << ext::header(this) << "frame of " << packet.length() << " octets dropped" << std::endl;
        return;
    }
    std::uint16_t const address = packet.pull16_b();
    std::uint8_t const control = packet.pull8();
    Packet const& body = packet;
    if (address == address_) {
        peerSeq_ = control >> 5;
        gather(body);
    }
    // Bit 7 of the body's second octet holds the bodies back; a body without one flushes.
    bool const more = body.length() >= 2 && (body[1] & 0x80);
    if (!more) {
        flushTimer_.reset();
        flushResponce();
    } else if (!flushTimer_.is_running()) {
        flushTimer_.set(kGatherMs, &HdlcSlot::flushResponce, this);
    }
}

void HdlcSlot::gather(Packet const& body)
{
    std::size_t const length = body.length();
    if (length >= ASN1::per::FragmentLength) {
        std::clog << ext::header(this) << "a body of " << length << " octets is longer than a signal carries, dropped"
                  << std::endl;
        return;
    }
    if (pending_.get_hdlcPackages().size() == ASN1::MaximumArraySize
        || pendingOctets_ + length + kPackageOctets > kSignalOctets)
        flushResponce();
    ZGCP::HdlcPackage package;
    auto const* octets = reinterpret_cast<char const*>(body.data());
    package.set_body(std::vector<char>(octets, octets + length));
    pending_.ref_hdlcPackages().push_back(package);
    pendingOctets_ += length + kPackageOctets;
}

void HdlcSlot::flushResponce()
{
    std::size_t const n = pending_.get_hdlcPackages().size();
    if (tracing())
        trace() << "flushResponce: " << n << std::endl;
    if (n > 0)
        OnIoctlResponse(pending_);
    pending_.select_hdlcPackages();
    pendingOctets_ = 0;
}

// The channel has gone (and deactivated itself): the link is down until the next connect
// or activate, said as a failed activation says it.
void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type)
{
    std::clog << ext::header(this) << "on_hdlc_error" << std::endl;
    channelEnded_ = true;
    // The channel has closed itself: the bodies gathered go up now, and the controller
    // hears once that the link is down.
    flushTimer_.reset();
    flushResponce();
    OnDeactivated();
}

void HdlcSlot::OnUpdateTimer()
{
    updateTimer_.set(this);
    OnIoctlResponse(ZGCP::IoctlResponse(ZGCP::IoctlResponse::hdlcLinkInfo::id, channel_.linkInfo(overflows_)));
}

// The factory

HdlcSlotFactory& HdlcSlotFactory::instance()
{
    static HdlcSlotFactory factory;
    return factory;
}

Slot* HdlcSlotFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (traces.signalling.hdlc)
        std::clog << "\nHdlcSlotFactory.INewSlot\n" << std::endl;
    if (params.currentSelection() != ZGCP::CreateParams::hdlcParams::id)
        return nullptr;
    ZGCP::HdlcParams const& p = params.get_hdlcParams();
    int const address = p.get_address().getValue();
    if (address < 0 || address > 0xFFFF) {
        std::cerr << ext::header(this) << "address out of range: " << address << std::endl;
        return nullptr;
    }
    return new HdlcSlot(p.get_trunk().getValue(), p.get_log().getValue(), std::uint16_t(address));
}

void HdlcSlotFactory::SelfSignal(ZGCP::Signal const& signal) { RelayTrunkStatus(signal); }
