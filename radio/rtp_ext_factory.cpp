#include "radio/rtp_ext_factory.h"

#include "asn1/value_notation.h"
#include "radio/rtp_ext_slot.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

constexpr std::uint16_t kZarnProfile = 0x1337;
constexpr std::uint16_t kED137Profile = 0x0167;

// A delay from the controller; a negative one is none.
unsigned delay(TERM::RtpRadioRequest const& radio, bool rx)
{
    bool const present = rx ? radio.rx_delay_isPresent() : radio.tx_delay_isPresent();
    int const value = present ? (rx ? radio.get_rx_delay() : radio.get_tx_delay()).getValue() : 0;
    return unsigned(std::max(value, 0));
}

}  // namespace

RtpExtFactory::RtpExtFactory(char const* name) : name_(name) {}

void RtpExtFactory::PutHeader(std::ostream& os) const { counts_.PutHeader(os, name_); }

std::string RtpExtFactory::header() const
{
    std::ostringstream os;
    PutHeader(os);
    return os.str();
}

void RtpExtFactory::IQuery()
{
    counts_ = CodecCounts{};
    counts_.read(header());
}

void RtpExtFactory::Query(ZGCP::Resources& resources)
{
    IQuery();
    counts_.report(resources);
}

Slot* RtpExtFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::rtp::id)
        return nullptr;
    ZGCP::CreateRtpParams const& create = params.get_rtp();
    TERM::RtpParams const& rtp = create.get_codecRTP();
    if (!rtp.radio_isPresent() || !Takes(rtp.get_radio().get_status()))
        return nullptr;
    std::string const head = header();
    std::clog << head << "do create " << name_ << ": " << rtp << std::endl;
    TERM::Payload::NamedNumber const payload = rtp.get_payload();
    if (!RtpFactory::knownPayload(payload)) {
        std::clog << head << "rtp do not created: payload " << rtp.get_payload() << "not found" << std::endl;
        return nullptr;
    }
    RtpSession session;
    if (!session.describe(rtp, RtpFactory::translateCodec(payload, create.get_rxPayload()),
                          RtpFactory::translateCodec(payload, create.get_txPayload()), head)) {
        Refuse(ZGCP::ErrorCause::invalidParams);
        return nullptr;
    }
    TERM::RtpRadioRequest const& radio = rtp.get_radio();
    bool const bss = radio.bss_enable_isPresent() && radio.get_bss_enable();
    if (!session.open(bss ? 1 : 0, head))
        return nullptr;
    std::unique_ptr<RtpExtSlot> slot(NewRadioSlot(session, rtp));
    if (slot == nullptr || !RtpSlotWhole(slot->watchError(), "watch the session", head)
        || !RtpSlotWhole(slot->control()->DescriptorShortage(), "start the radio control", head))
        return nullptr;
    slot->SetRadioStatus(radio.get_status());
    slot->startRTPC(session.rtcp, session.peer);
    if (rtp.echo_isPresent() && rtp.get_echo().get_suppressor())
        slot->echoCancel(rtp.get_echo().get_canceller());
    if (radio.rx_delay_isPresent() || radio.tx_delay_isPresent())
        slot->configureDelays(delay(radio, true), delay(radio, false));
    if (radio.bss_enable_isPresent())
        slot->enableBSS(radio.get_bss_enable());
    if (radio.ng_enable_isPresent())
        slot->enableNG(radio.get_ng_enable());
    return slot.release();
}

RtpZARNFactory& RtpZARNFactory::instance()
{
    static RtpZARNFactory factory;
    return factory;
}

RtpZARNFactory::RtpZARNFactory() : RtpExtFactory("rtp ext ZARN") { IQuery(); }

RtpExtSlot* RtpZARNFactory::NewRadioSlot(RtpSession& session, TERM::RtpParams const& rtp)
{
    bool const mode = rtp.rtp_e2m_isPresent() && rtp.get_rtp_e2m().mode_isPresent();
    TERM::RtpExtMode const* m = mode ? &rtp.get_rtp_e2m().get_mode() : nullptr;
    if (m == nullptr || m->both_rtp_and_rtp_ext_isSelected()) {
        rtp_ext_init_params init{};
        init.etype = kZarnProfile;
        // The slot names the RTP descriptor it keeps.
        rtp_ext_attach_session_params const attach{-1, std::int32_t(::getpid())};
        return new RtpZARNRadioGWSlot(session.channel, std::move(session.device), session.params, attach, init, true);
    }
    if (!m->only_rtp_isSelected())
        return nullptr;
    TERM::RtpExtDescription const& other = m->get_only_rtp();
    rtp_attach_session_params const attach{other.get_fd().getValue(), other.get_pid().getValue()};
    return new RtpZARNRadioGWSlot(session.channel, std::move(session.device), session.params, attach);
}

RtpED137Factory& RtpED137Factory::instance()
{
    static RtpED137Factory factory;
    return factory;
}

RtpED137Factory::RtpED137Factory() : RtpExtFactory("rtp ext ED137") { IQuery(); }

RtpExtSlot* RtpED137Factory::NewRadioSlot(RtpSession& session, TERM::RtpParams const& rtp)
{
    RTPSignalling::ED137RadioParams radio;
    TERM::ED137RadioStatus const& status = rtp.get_radio().get_status().get_ed_137();
    if (status.radio_response_isPresent())
        radio.Init(status.get_radio_response());
    std::uint32_t const factor = session.params.packet_factor != 0 ? session.params.packet_factor : 2;
    rtp_ext_init_params init{};
    init.etype = kED137Profile;
    std::uint32_t words[4] = {1, 123, radio.r2s_keepalive_period / (10 * factor), 1};
    if (radio.sigtime != 0) {
        words[2] *= radio.sigtime;
        words[3] *= radio.sigtime;
    }
    for (int i = 0; i < 4; ++i)
        init.param[i] = std::int32_t(words[i]);
    // The slot names the RTP descriptor it keeps.
    rtp_ext_attach_session_params const attach{-1, -1};
    auto* slot = new RtpED137RadioGWSlot(session.channel, std::move(session.device), session.params, attach, init, radio);
    slot->setTransmissionDependOnSQU(radio.transmission_depend_on_squ);
    return slot;
}
