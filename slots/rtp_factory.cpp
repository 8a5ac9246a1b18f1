#include "slots/rtp_factory.h"

#include "asn1/value_notation.h"
#include "base/errno.h"
#include "base/ext.h"
#include "base/random.h"
#include "board/board.h"
#include "board/voice.h"
#include "hardware/board_devices.h"
#include "slots/rtp_slot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <utility>

namespace {

// The RTP payload type of each payload that has one.
struct PayloadType {
    TERM::Payload::NamedNumber payload;
    unsigned type;
};
constexpr PayloadType kPayloadTypes[] = {
    {TERM::Payload::ptG711_Alaw, 8},      {TERM::Payload::ptG711_Ulaw, 0},      {TERM::Payload::ptG723, 4},
    {TERM::Payload::ptG729, 18},          {TERM::Payload::ptG711mcc_Alaw, 136}, {TERM::Payload::ptG711mcc_Ulaw, 128},
    {TERM::Payload::ptG728, 15},
};

PayloadType const* findPayload(TERM::Payload::NamedNumber payload)
{
    for (PayloadType const& p : kPayloadTypes)
        if (p.payload == payload)
            return &p;
    return nullptr;
}

// The address text of a host as the system's resolver reads a numeric address.
bool parseAddress(TERM::HostAddress const& host, std::uint32_t& addr)
{
    in_addr a{};
    if (::inet_aton(host.get_iaddr().c_str(), &a) == 0)
        return false;
    addr = a.s_addr;
    return true;
}

std::uint32_t randomSsrc()
{
    SeedRandomOnce();
    return std::uint32_t(std::rand());
}

// An RTP port whose RTCP port (the next one) exists.
bool hasRtcpPort(unsigned port) { return port < 65535; }

}  // namespace

bool CodecCounts::read(std::string const& header)
{
    Fd device(board::board().open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
    if (!device) {
        Errno e;
        std::cerr << header << "device " << ext::quoted(GetVoiceDevName()) << " open fail: " << e << std::endl;
        return false;
    }
    std::pair<std::uint32_t, int*> const kinds[] = {{voice::kG729, &g729},
                                                    {voice::kG723, &g723},
                                                    {voice::kG711, &g711},
                                                    {voice::kG711Mcc, &g711mcc},
                                                    {voice::kUniversal, &universal}};
    for (auto const& [kind, count] : kinds) {
        std::uint32_t word = kind;
        int const n = board::board().ioctl(device.lowlevel_fd(), voice::kCount, &word);
        if (n > 0)
            *count = n;
    }
    return true;
}

void CodecCounts::report(ZGCP::Resources& r) const
{
    r.set_rtp_g729(g729);
    r.set_rtp_g723(g723);
    r.set_rtp_g711(g711);
    r.set_rtp_g711mcc(g711mcc);
    r.set_universal(universal);
}

bool RtpSession::describe(TERM::RtpParams const& rtp, unsigned rxPt, unsigned txPt, std::string const& header)
{
    auto invalid = [&](char const* what, auto const& value) {
        std::clog << header << "rtp do not created: invalid " << what << ' ' << value << std::endl;
        return false;
    };
    TERM::HostAddress const& dhost = rtp.get_dhost();
    params = rtp_connection_params{};
    if (!parseAddress(dhost, params.dst_addr))
        return invalid("dhost address", ext::quoted(dhost.get_iaddr()));
    if (!hasRtcpPort(dhost.get_port().getValue()))
        return invalid("dhost port", dhost.get_port().getValue());
    params.dst_port = std::uint16_t(dhost.get_port().getValue());
    params.src_port = params.dst_port;
    if (rtp.shost_isPresent()) {
        TERM::HostAddress const& shost = rtp.get_shost();
        if (!parseAddress(shost, params.src_addr))
            return invalid("shost address", ext::quoted(shost.get_iaddr()));
        if (!hasRtcpPort(shost.get_port().getValue()))
            return invalid("shost port", shost.get_port().getValue());
        params.src_port = std::uint16_t(shost.get_port().getValue());
    }
    if (rtp.pfactor_isPresent()) {
        int const factor = rtp.get_pfactor().getValue();
        if (factor < 0 || factor > 65535)
            return invalid("pfactor", factor);
        params.packet_factor = std::uint16_t(factor);
    }
    params.ttl = rtp.ttl_isPresent() ? rtp.get_ttl().getValue() : 0;
    params.tos = rtp.qos_dscp_isPresent() ? (rtp.get_qos_dscp().asInt() & 63) << 2 : -1;
    params.rx_pt = std::uint16_t(rxPt);
    params.tx_pt = std::uint16_t(txPt);
    params.vad = rtp.vad_isPresent() && rtp.get_vad() ? 1 : 0;
    params.crate = rtp.crate_isPresent() && rtp.get_crate().getValue() != 0 ? 1 : 0;
    params.ssrc = rtp.ssrc_isPresent() ? rtp.get_ssrc().getValue() : randomSsrc();
    localPort = params.src_port;
    peer = sockaddr_in{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = params.dst_addr;
    peer.sin_port = htons(std::uint16_t(params.dst_port + 1));
    return true;
}

bool RtpSession::open(std::int32_t channelWord, std::string const& header)
{
    Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) {
        Errno e;
        std::clog << header << "rtp do not created: can not create socket [errno=" << e << "]" << std::endl;
        return false;
    }
    int const on = 1;
    ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(std::uint16_t(localPort + 1));
    if (::bind(socket.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&local), sizeof local) != 0) {
        Errno e;
        std::clog << header << "rtp do not created: can not bind socket [errno=" << e << ", port=" << localPort + 1
                  << "]" << std::endl;
        return false;
    }
    // Read until a read fails: never blocking.
    Fd rtp(board::board().open(GetRtpDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!rtp) {
        Errno e;
        std::cerr << header << "device " << ext::quoted(GetRtpDevName()) << " open fail: " << e << std::endl;
        return false;
    }
    if (board::board().ioctl(rtp.lowlevel_fd(), rtp::kBeginSession, &params) < 0) {
        std::cerr << header << "begin session fail !!! " << std::endl;
        return false;
    }
    rtp_channel_info info{-1, -1, -1, channelWord};
    if (board::board().ioctl(rtp.lowlevel_fd(), rtp::kAddChannel, &info) < 0) {
        std::cerr << header << "add channel fail !!!" << std::endl;
        return false;
    }
    channel = info.tdm;
    rtcp = std::move(socket);
    device = std::move(rtp);
    return true;
}

bool RtpSlotWhole(std::optional<Errno> const& error, char const* what, std::string const& header)
{
    if (error)
        std::clog << header << "rtp do not created: can not " << what << " [errno=" << *error << "]" << std::endl;
    return !error;
}

RtpFactory& RtpFactory::instance()
{
    static RtpFactory factory;
    return factory;
}

RtpFactory::RtpFactory() { IQuery(); }

bool RtpFactory::knownPayload(TERM::Payload::NamedNumber payload) { return findPayload(payload) != nullptr; }

unsigned RtpFactory::translateCodec(TERM::Payload::NamedNumber payload)
{
    PayloadType const* p = findPayload(payload);
    return p ? p->type : 0;
}

unsigned RtpFactory::translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber direction)
{
    bool const plainG711 = direction == TERM::Payload::ptG711_Alaw || direction == TERM::Payload::ptG711_Ulaw;
    return translateCodec(direction != payload && plainG711 ? direction : payload);
}

void CodecCounts::PutHeader(std::ostream& os, char const* name) const
{
    os << name << '[' << unsigned(g723) << ',' << unsigned(g729) << ',' << unsigned(g711) << ',' << unsigned(universal)
       << "]: ";
}

void RtpFactory::PutHeader(std::ostream& os) const { counts_.PutHeader(os, "rtp"); }

std::string RtpFactory::header() const
{
    std::ostringstream os;
    PutHeader(os);
    return os.str();
}

void RtpFactory::IQuery()
{
    counts_.g729 = counts_.g723 = counts_.g711 = 0;
    counts_.read(header());
}

void RtpFactory::Query(ZGCP::Resources& resources)
{
    IQuery();
    counts_.report(resources);
}

Slot* RtpFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::rtp::id)
        return nullptr;
    ZGCP::CreateRtpParams const& create = params.get_rtp();
    TERM::RtpParams const& rtp = create.get_codecRTP();
    // Radio creates belong to the radio factories.
    if (rtp.radio_isPresent())
        return nullptr;
    std::string const head = header();
    std::clog << head << "do create rtp: " << rtp << std::endl;
    TERM::Payload::NamedNumber const payload = rtp.get_payload();
    if (!knownPayload(payload)) {
        std::clog << head << "rtp do not created: payload " << rtp.get_payload() << "not found" << std::endl;
        return nullptr;
    }
    RtpSession session;
    if (!session.describe(rtp, translateCodec(payload, create.get_rxPayload()),
                          translateCodec(payload, create.get_txPayload()), head)) {
        Refuse(ZGCP::ErrorCause::invalidParams);
        return nullptr;
    }
    if (!session.open(0, head))
        return nullptr;
    auto slot = std::make_unique<RtpSlot>(session.channel, std::move(session.device), session.params);
    if (!RtpSlotWhole(slot->watchError(), "watch the session", head))
        return nullptr;
    slot->startRTPC(session.rtcp, session.peer);
    if (rtp.echo_isPresent() && rtp.get_echo().get_suppressor())
        slot->echoCancel(rtp.get_echo().get_canceller());
    return slot.release();
}

char const* RTPStrError(int code)
{
    struct Text {
        int code;
        char const* text;
    };
    static Text const texts[] = {
        {0, "No error"},
        {0x3000002, "Parameter out of range"},
        {0x3000004, "Memory allocation failed"},
        {0x3000008, "Allocated buffer too small"},
        {0x3000101, "Maximum number of contexts exceeded"},
        {0x3000102, "Context destroyed or never created"},
        {0x3000103, "Socket not open for reading or writing"},
        {0x3000104, "Can't obtain a new socket"},
        {0x3000105, "Can't bind socket"},
        {0x3000106, "Unable to set socket option"},
        {0x3000107, "Unable to write to socket"},
        {0x3000108, "Unable to read from socket"},
        {0x3000109, "Socket does not belong to session"},
        {0x300010a, "Change not allowed during open session"},
        {0x300010b, "Invalid address specified"},
        {0x300010c, "Invalid port specified"},
        {0x300010e, "Unable to close session"},
        {0x300010f, "No such membership info"},
        {0x3000110, "Invalid rtpprofile specified"},
        {0x3000111, "no data to receive at socket"},
        {0x3000112, "Packet looped back"},
        {0x3000113, "CSRC list not yet set"},
        {0x3000114, "2 CSRCs on list have same SSRC"},
        {0x3000115, "Packet has incorrect format"},
        {0x3000116, "Person not session member"},
        {0x3000117, "Person data protected"},
        {0x3000118, "No such sender in current session"},
        {0x3000119, "No such SDES field"},
        {0x300011a, "Encryption / decryption function not set"},
        {0x300011b, "Packet was unsuccessfully decrypted"},
        {0x300011c, "End of iterating list"},
        {0x300011d, "Not allowed to recurse"},
        {0x300011e, "SSRC in use"},
        {0x300011f, "Couldn't get socket name"},
        {0x3000120, "No such contributor"},
        {0x3000121, "CSRC list full"},
        {0x3000122, "Don't send this packet now"},
    };
    for (Text const& t : texts)
        if (t.code == code)
            return t.text;
    static char unknown[40];
    std::snprintf(unknown, sizeof unknown, "Unknown RTP Error %d", code);
    return unknown;
}
