#include "slots/modem_factory.h"

#include "base/errno.h"
#include "base/ext.h"
#include "board/board.h"
#include "board/hdlc_iface.h"
#include "board/mctl.h"
#include "runtime/inet4_addr.h"
#include "runtime/read_end.h"
#include "slots/dsp_modem_slot.h"
#include "slots/hdlc_modem_slot.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

namespace {

template <class T>
bool forget(std::vector<T*>& list, T* item)
{
    auto const it = std::find(list.begin(), list.end(), item);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

}  // namespace

ModemFactory& ModemFactory::instance()
{
    static ModemFactory factory;
    return factory;
}

ModemFactory::ModemFactory(std::uint16_t authPort) : port_(authPort)
{
    IQuery();
    Init();
    listenEvent_.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
}

ModemFactory::~ModemFactory() = default;

void ModemFactory::PutHeader(std::ostream& os) const { os << "modem[" << modemCount_ << ',' << all_.size() << "]: "; }

Slot* ModemFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::modem::id)
        return nullptr;
    TERM::ModemParams const& modem = params.get_modem();
    if (modem.ddm_isPresent() && !modem.get_ddm().empty() && !freeInterfaces_.empty()) {
        auto* slot = new HdlcModemSlot(*this, modem, freeInterfaces_.front());
        freeInterfaces_.pop_front();
        all_.push_back(slot);
        hdlc_.push_back(slot);
        return slot;
    }
    auto* slot = new DspModemSlot(*this, modem);
    all_.push_back(slot);
    dsp_.push_back(slot);
    return slot;
}

void ModemFactory::Query(ZGCP::Resources& resources)
{
    IQuery();
    resources.set_modem(int(modemCount_));
    resources.set_digital_modems(int(freeInterfaces_.size()));
}

void ModemFactory::IQuery()
{
    update_modemDevices();
    update_hdlcDevices();
}

void ModemFactory::update_modemDevices()
{
    modemCount_ = 0;
    board::Board& b = board::board();
    Fd device(b.open(mctl::kPath, O_RDWR | O_CLOEXEC));
    if (!device) {
        Errno const e;
        std::cerr << ext::header(this) << "fail to open " << ext::quoted(mctl::kPath) << " : " << e << std::endl;
        return;
    }
    int previous = -1;
    for (;;) {
        auto const argument = board::byValue(static_cast<unsigned long>(long(previous)));
        int const next = b.ioctl(device.lowlevel_fd(), mctl::kEnumerate, argument);
        if (next < 0) {
            Errno const e;
            if (e.value() != ENODEV)
                std::cerr << ext::header(this) << "enum fail: " << e << std::endl;
            return;
        }
        // A driver that does not move on would keep the loop going forever.
        if (next <= previous)
            return;
        ++modemCount_;
        previous = next;
    }
}

bool ModemFactory::held(std::string const& interfaceName) const
{
    return std::any_of(hdlc_.begin(), hdlc_.end(),
                       [&](HdlcModemSlot const* s) { return s->deviceName() == interfaceName; });
}

void ModemFactory::update_hdlcDevices()
{
    freeInterfaces_.clear();
    board::Board& b = board::board();
    for (int n = 0; n < hdlc_iface::kMaxInterfaces; ++n) {
        std::string const name = "hdlc" + std::to_string(n);
        ifreq ifr = hdlc_iface::request(name.c_str());
        if (b.ifaceIoctl(SIOCGIFINDEX, &ifr) != 0 || b.ifaceIoctl(SIOCGIFFLAGS, &ifr) != 0)
            break;
        // An interface a live slot holds, or that is owed its reset, is not free, whatever the
        // interface says.
        if ((ifr.ifr_flags & IFF_POINTOPOINT) && !(ifr.ifr_flags & IFF_LOOPBACK) && !held(name) && !owesReset(name))
            freeInterfaces_.push_back(name);
    }
    if (freeInterfaces_.empty())
        return;
    std::clog << ext::header(this) << "found point-o-point devices:";
    for (std::string const& name : freeInterfaces_)
        std::clog << ' ' << name;
    std::clog << std::endl;
}

bool ModemFactory::Init()
{
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    INet4::Addr address("127.0.0.1");
    address.port(port_);
    int const on = 1;
    // A restart finds the port free even while connections of the last run linger.
    if (socket)
        ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    char const* failure = nullptr;
    if (!socket || ::bind(socket.lowlevel_fd(), address, address.size()) != 0)
        failure = "fail to bind auth socket: ";
    else if (::listen(socket.lowlevel_fd(), kAuthBacklog) != 0)
        failure = "fail to listen auth socket: ";
    else if (!socket.NonBlock())
        failure = "can't set socket to non block mode: ";
    if (failure != nullptr) {
        Errno const e;
        std::cerr << ext::header(this) << failure << e << std::endl;
        return false;
    }
    listener_ = std::move(socket);
    listenEvent_.Schedule(listener_, POLLIN);
    return true;
}

std::uint16_t ModemFactory::authPort() const
{
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (!listener_ || ::getsockname(listener_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return 0;
    return ntohs(bound.sin_port);
}

void ModemFactory::OnSocketEvent(int, short revents)
{
    // A connection that waits is taken before an end that comes with it.
    ReadEnd::Kind const ready = ReadEnd::ofPoll(revents);
    if (ready == ReadEnd::end)
        ListenerFailed();
    if (ready != ReadEnd::data)
        return;
    INet4::Addr peer;
    socklen_t length = peer.size();
    Fd connection(::accept4(listener_.lowlevel_fd(), peer, &length, SOCK_CLOEXEC));
    if (!connection) {
        int const error = errno;
        acceptPause_.Failed(error);
        if (ReadEnd::ofAccept(error, revents) == ReadEnd::end)
            ListenerFailed();
        return;
    }
    acceptPause_.Accepted();
    if (clients_.size() >= authBound()) {
        if (!refusing_)
            std::cerr << ext::header(this) << "auth connection refused: " << peer << " (" << clients_.size()
                      << " connections, the bound for the modem lines)" << std::endl;
        refusing_ = true;
        return;
    }
    refusing_ = false;
    if (!connection.NonBlock()) {
        std::cerr << ext::header(this) << "fail to set nonblock mode." << std::endl;
        return;
    }
    clients_.push_back(std::make_unique<AuthClient>(std::move(connection), peer, *this));
    clients_.back()->Activate();
    std::cerr << ext::header(this) << "incoming auth connection from " << peer << std::endl;
}

void ModemFactory::ListenerFailed()
{
    std::cerr << ext::header(this) << "auth server socket error." << std::endl;
    listener_.close();
    acceptPause_.Cancel();
    listenEvent_.Release();
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client)
{
    std::clog << ext::header(this) << "auth client " << client->GetAddr() << " disconnected." << std::endl;
    clients_.remove_if([client](std::unique_ptr<AuthClient> const& c) { return c.get() == client; });
}

void ModemFactory::OnAuth(attr const* record)
{
    ModemSlot* target = nullptr;
    unsigned int matches = 0;
    for (ModemSlot* slot : all_) {
        if (!slot->EqAuthId(record->session))
            continue;
        if (target == nullptr)
            target = slot;
        ++matches;
    }
    if (target == nullptr) {
        std::cerr << ext::header(this) << "receive auth request for unknown session " << record->session << std::endl;
        return;
    }
    if (matches > 1)
        std::cerr << ext::header(this) << "auth session " << record->session << " matches " << matches
                  << " modem slots, the record goes to " << *target << std::endl;
    target->OnAuth(record);
}

void ModemFactory::SendAuth(attr const* record)
{
    AuthClient* target = nullptr;
    unsigned int matches = 0;
    for (auto const& client : clients_) {
        if (!client->connected() || client->GetSessionId() != record->session)
            continue;
        if (target == nullptr)
            target = client.get();
        ++matches;
    }
    if (target == nullptr) {
        std::clog << ext::header(this) << "send error: unknown auth " << record->session << " session." << std::endl;
        return;
    }
    if (matches > 1)
        std::cerr << ext::header(this) << "auth session " << record->session << " has " << matches
                  << " connections, the record goes to " << target->GetAddr() << std::endl;
    target->Send(record);
}

ModemSlot* ModemFactory::FindModemByDsp(int modem) const
{
    auto const it = std::find_if(all_.begin(), all_.end(), [modem](ModemSlot const* s) { return s->modem_id() == modem; });
    return it == all_.end() ? nullptr : *it;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot)
{
    forget(all_, static_cast<ModemSlot*>(slot));
    forget(dsp_, slot);
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot)
{
    forget(all_, static_cast<ModemSlot*>(slot));
    if (forget(hdlc_, slot))
        freeInterfaces_.push_back(slot->deviceName());
}

bool ModemFactory::owesReset(std::string const& interfaceName) const
{
    return std::find(owedResets_.begin(), owedResets_.end(), interfaceName) != owedResets_.end();
}

void ModemFactory::OweReset(std::string const& interfaceName)
{
    freeInterfaces_.erase(std::remove(freeInterfaces_.begin(), freeInterfaces_.end(), interfaceName),
                          freeInterfaces_.end());
    if (owesReset(interfaceName))
        return;
    owedResets_.push_back(interfaceName);
    std::cerr << ext::header(this) << "interface " << interfaceName
              << " handed back without its reset: handed out again once the driver takes it" << std::endl;
    owedRequests_.Owe();
}

bool ModemFactory::PayOwed()
{
    for (auto it = owedResets_.begin(); it != owedResets_.end();) {
        if (HdlcModemSlot::resetInterface(*it) != nullptr) {
            ++it;
            continue;
        }
        std::clog << ext::header(this) << "interface " << *it << " handed back: reset" << std::endl;
        freeInterfaces_.push_back(*it);
        it = owedResets_.erase(it);
    }
    return owedResets_.empty();
}
