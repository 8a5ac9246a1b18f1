#include "tests/radio_commands.h"

namespace testsupport {

TERM::RadioFlags radioFlags(int prio, bool ptt, bool sql)
{
    TERM::RadioFlags f;
    f.set_prio(prio);
    f.set_ptt(ptt);
    f.set_sql(sql);
    return f;
}

TERM::ZarnRadioStatus zarnStatus()
{
    TERM::ZarnRadioStatus s;
    s.set_flags(radioFlags(5));
    s.set_freq().set_channel(5);
    s.set_freq().set_frequency("151.5");
    s.set_remote().set_no(0);
    s.set_remote().set_ch(0);
    s.set_squelshe(TERM::RadioSquelshe::on);
    s.set_rte(TERM::RadioRTE::a1b);
    s.set_standby_state_channel(TERM::RadioStandby::active);
    s.set_standby_group(3);
    s.set_standby_state_receiver(TERM::RadioStandby::standby);
    return s;
}

TERM::ED137RadioHeader ed137Header(int ptt, bool squ, unsigned pttId)
{
    TERM::ED137RadioHeader h;
    h.set_ptt().setFromInt(ptt);
    h.set_squ().setFromInt(squ ? 1 : 0);
    h.set_ptt_id(pttId);
    h.set_ptt_mute(false);
    h.set_ptt_summation(false);
    h.set_sct(false);
    return h;
}

TERM::ED137RadioStatus ed137Status(bool squ, std::optional<unsigned> quality,
                                   TERM::ED137RadioBSSMethod::NamedNumber method)
{
    TERM::ED137RadioStatus s;
    s.set_header(ed137Header(0, squ));
    if (quality) {
        s.set_sqi().set_bss_method(method);
        s.set_sqi().set_bss_quality(*quality);
    }
    return s;
}

TERM::ED137RadioResponse ed137Response()
{
    TERM::ED137RadioResponse r;
    r.set_type(TERM::ED137RadioType::radio_txrx);
    r.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
    r.set_ptt_id(0);
    return r;
}

TERM::RadioStatus radioStatus(TERM::ZarnRadioStatus const& s)
{
    return TERM::RadioStatus(TERM::RadioStatus::zarn::id, s);
}

TERM::RadioStatus radioStatus(TERM::ED137RadioStatus const& s)
{
    return TERM::RadioStatus(TERM::RadioStatus::ed_137::id, s);
}

TERM::RadioModifier zarnTrans(bool ptt, std::string const& ip, unsigned ssrc, int prio)
{
    TERM::ZarnRadioModifier m;
    m.set_addr().set_session_addr("0.0.0.0");
    m.set_addr().set_session_ssrc(0);
    TERM::RadioCommandWMTrans& t = m.set_params().select_wm_trans();
    t.set_flags(radioFlags(prio, ptt));
    t.set_ip(ip);
    t.set_ssrc(ssrc);
    return TERM::RadioModifier(TERM::RadioModifier::zarn::id, m);
}

TERM::RadioModifier ed137Command(bool tx, TERM::ED137RadioHeader const& header, std::string const& addr,
                                 unsigned ssrc)
{
    TERM::ED137RadioModifier m;
    m.set_addr().set_session_addr(addr);
    m.set_addr().set_session_ssrc(ssrc);
    if (tx)
        m.set_params().select_tx().set_header(header);
    else
        m.set_params().select_rx().set_header(header);
    return TERM::RadioModifier(TERM::RadioModifier::ed_137::id, m);
}

ZGCP::CreateRtpParams radioCreate(TERM::RadioStatus const& status, std::string const& address, int port)
{
    ZGCP::CreateRtpParams p = rtpCreate(TERM::Payload::ptG711_Alaw, address, port);
    p.set_codecRTP().set_pfactor(2);
    p.set_codecRTP().set_radio().set_status(status);
    return p;
}

ZGCP::IoctlParams rtpExtIoctl(TERM::RadioModifier const& m)
{
    return ZGCP::IoctlParams(ZGCP::IoctlParams::rtpExt::id, m);
}

}  // namespace testsupport
