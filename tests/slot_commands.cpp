#include "tests/slot_commands.h"

namespace testsupport {

ZGCP::TrunkParams timeSlot(unsigned trunk, unsigned timeslot)
{
    ZGCP::TrunkParams p;
    p.set_trunk(trunk);
    p.set_timeslot(timeslot);
    return p;
}

ZGCP::CreateParams trunkParams(unsigned trunk, unsigned timeslot)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::trunk::id, timeSlot(trunk, timeslot));
}

ZGCP::CreateParams briParams(unsigned trunk, unsigned channel)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::trunk_bri::id, timeSlot(trunk, channel));
}

ZGCP::CreateParams mapParams(std::optional<BusChannel> tx, std::optional<BusChannel> rx)
{
    ZGCP::MapParams p;
    if (tx) {
        p.set_transmitter().set_bus(tx->bus);
        p.set_transmitter().set_channel(tx->channel);
    }
    if (rx) {
        p.set_receiver().set_bus(rx->bus);
        p.set_receiver().set_channel(rx->channel);
    }
    return ZGCP::CreateParams(ZGCP::CreateParams::map::id, p);
}

ZGCP::CreateParams extParams(int tx, int rx)
{
    ZGCP::ExtParams p;
    p.set_transmitter(tx);
    p.set_receiver(rx);
    return ZGCP::CreateParams(ZGCP::CreateParams::ext::id, p);
}

ZGCP::CreateParams echoParams(int bus, int channel)
{
    ZGCP::EchoParams p;
    p.set_bus(bus);
    p.set_channel(channel);
    return ZGCP::CreateParams(ZGCP::CreateParams::echo::id, p);
}

ZGCP::MixerChannel tdmChannel(int number) { return ZGCP::MixerChannel(ZGCP::MixerChannel::tdm::id, number); }

ZGCP::MixerChannel rtpChannel(int number) { return ZGCP::MixerChannel(ZGCP::MixerChannel::rtp::id, number); }

ZGCP::CreateParams mixerOutParams(int unit, ZGCP::MixerChannel const& channel,
                                  std::vector<MixerSource> const& inputs)
{
    ZGCP::MixerOutParams p;
    p.set_unit(unit);
    p.set_channel(channel);
    for (MixerSource const& source : inputs) {
        ZGCP::MixerInput input;
        input.set_channel(source.channel);
        input.set_gain(source.gain);
        p.set_inputs().push_back(input);
    }
    return ZGCP::CreateParams(ZGCP::CreateParams::mixerOut::id, p);
}

ZGCP::CreateParams mixerInParams(int unit, ZGCP::MixerChannel const& channel,
                                 std::optional<ZGCP::MixerChannel> summator)
{
    ZGCP::MixerInParams p;
    p.set_unit(unit);
    p.set_channel(channel);
    if (summator)
        p.set_summator(*summator);
    return ZGCP::CreateParams(ZGCP::CreateParams::mixerIn::id, p);
}

ZGCP::CreateParams mccParams(ZGCP::MccType::NamedNumber type, ZGCP::MccMode::NamedNumber mode)
{
    ZGCP::MccParams p;
    p.set_type(type);
    p.set_mode(mode);
    return ZGCP::CreateParams(ZGCP::CreateParams::mcc::id, p);
}

TERM::HostAddress hostAddress(std::string const& address, int port)
{
    TERM::HostAddress h;
    h.set_iaddr() = address;
    h.set_port(port);
    return h;
}

ZGCP::CreateParams recorderParams(std::string const& address, int port)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::voice::id,
                              ZGCP::VoiceParams(ZGCP::VoiceParams::record::id, hostAddress(address, port)));
}

ZGCP::CreateParams networkPlayerParams(std::string const& address, int port, int id)
{
    ZGCP::PlayerParams_network n;
    n.set_host(hostAddress(address, port));
    n.set_id(id);
    return ZGCP::CreateParams(ZGCP::CreateParams::voice::id,
                              ZGCP::VoiceParams(ZGCP::VoiceParams::player::id,
                                                ZGCP::PlayerParams(ZGCP::PlayerParams::network::id, n)));
}

ZGCP::CreateParams filePlayerParams(std::vector<std::string> const& names, int repeat)
{
    ZGCP::PlayerParams_file f;
    for (std::string const& name : names)
        f.set_name().push_back(ASN1::IA5String(name));
    f.set_repeat(repeat);
    return ZGCP::CreateParams(ZGCP::CreateParams::voice::id,
                              ZGCP::VoiceParams(ZGCP::VoiceParams::player::id,
                                                ZGCP::PlayerParams(ZGCP::PlayerParams::file::id, f)));
}

ZGCP::CreateParams t38Params(std::string const& dhost, int dport, int sport,
                             std::vector<std::string> const& args)
{
    ZGCP::T38Soft p;
    p.set_dhost(hostAddress(dhost, dport));
    p.set_shost(hostAddress("0.0.0.0", sport));
    p.set_rx_packet_size(512);
    p.set_rx_threshold(1);
    p.set_tx_threshold(1);
    for (std::string const& a : args)
        p.set_args().push_back(ASN1::IA5String(a));
    return ZGCP::CreateParams(ZGCP::CreateParams::t38soft::id, p);
}

TERM::ModemParams modemParams(std::string const& cid)
{
    TERM::ModemParams p;
    p.set_cid(cid);
    return p;
}

ZGCP::CreateParams modemCreate(TERM::ModemParams const& params)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::modem::id, params);
}

ZGCP::Command modemActivate(std::string const& remote, std::string const& netmask, std::string const& gateway,
                            std::string const& dns, int mtu)
{
    TERM::ModemUserParameters u;
    u.set_remoteAddr(remote);
    u.set_netmask(netmask);
    u.set_gateway(gateway);
    u.set_dns(dns);
    u.set_mtu(mtu);
    ZGCP::Command c;
    c.select_activate().select_modem(u);
    return c;
}

ZGCP::IsdnParams isdnLink(ZGCP::IsdnType::NamedNumber type, int trunk, bool network, int log)
{
    ZGCP::IsdnParams p;
    p.set_type(type);
    p.set_trunk(trunk);
    p.set_log(log);
    if (network)
        p.set_side().select_network();
    else
        p.set_side().select_user();
    return p;
}

ZGCP::CreateParams isdnParams(ZGCP::IsdnType::NamedNumber type, int trunk, bool network, int log)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::isdn::id, isdnLink(type, trunk, network, log));
}

ZGCP::CreateParams ss7Params(int trunk, int slc, int dpc, int opc, bool emergency)
{
    ZGCP::SS7Params p;
    p.set_trunk(trunk);
    p.set_slc(slc);
    p.set_dpc(dpc);
    p.set_opc(opc);
    p.set_emergency(emergency);
    return ZGCP::CreateParams(ZGCP::CreateParams::pstn::id, ZGCP::PstnParams(ZGCP::PstnParams::ss7::id, p));
}

ZGCP::CreateParams pstnIsdnParams(ZGCP::IsdnType::NamedNumber type, int trunk, bool network, int log)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::pstn::id,
                              ZGCP::PstnParams(ZGCP::PstnParams::isdn::id, isdnLink(type, trunk, network, log)));
}

ZGCP::CreateParams pstnCasParams(int trunk)
{
    ZGCP::CasParams p;
    p.set_trunk(trunk);
    return ZGCP::CreateParams(ZGCP::CreateParams::pstn::id, ZGCP::PstnParams(ZGCP::PstnParams::cas::id, p));
}

ZGCP::Command ss7BsnCommand()
{
    ZGCP::IoctlParams p;
    p.select_ss7RqBSN();
    return ZGCP::Command(ZGCP::Command::ioctl::id, p);
}

ZGCP::Command ss7LogCommand(std::vector<bool> const& on)
{
    ZGCP::SS7L2Log l;
    l.set_state(on.at(0));
    l.set_raw_receive(on.at(1));
    l.set_raw_transmit(on.at(2));
    l.set_mtp_transmit(on.at(3));
    l.set_mtp_receive(on.at(4));
    l.set_mtp_activate(on.at(5));
    l.set_timers(on.at(6));
    l.set_msu_processing(on.at(7));
    return ZGCP::Command(ZGCP::Command::ioctl::id, ZGCP::IoctlParams(ZGCP::IoctlParams::ss7Log::id, l));
}

ZGCP::CreateParams qsigParams(bool network)
{
    ZGCP::AtsQsigParams p;
    if (network)
        p.set_side().select_network();
    else
        p.set_side().select_user();
    return ZGCP::CreateParams(ZGCP::CreateParams::ats_qsig::id, p);
}

ZGCP::CreateParams qsigBParams(unsigned slot, unsigned subslot)
{
    ZGCP::AtsQsigBParams p;
    p.set_slot(slot);
    p.set_subslot(subslot);
    return ZGCP::CreateParams(ZGCP::CreateParams::ats_qsig_b::id, p);
}

ZGCP::CreateParams hdlcParams(int trunk, int address)
{
    ZGCP::HdlcParams p;
    p.set_trunk(trunk);
    p.set_log(0);
    p.set_address(address);
    return ZGCP::CreateParams(ZGCP::CreateParams::hdlcParams::id, p);
}

ZGCP::Command hdlcPackagesCommand(std::vector<std::vector<char>> const& bodies)
{
    ASN1::SEQUENCE_OF<ZGCP::HdlcPackage> list;
    for (auto const& b : bodies) {
        ZGCP::HdlcPackage p;
        p.set_body(b);
        list.push_back(p);
    }
    return ZGCP::Command(ZGCP::Command::ioctl::id, ZGCP::IoctlParams(ZGCP::IoctlParams::hdlcPackages::id, list));
}

ZGCP::Command userDataCommand(std::vector<char> const& bytes)
{
    return ZGCP::Command(ZGCP::Command::userData::id, bytes);
}

ZGCP::CreateRtpParams rtpCreate(TERM::Payload::NamedNumber payload, std::string const& address, int port)
{
    ZGCP::CreateRtpParams p;
    TERM::RtpParams& rtp = p.set_codecRTP();
    rtp.set_payload(payload);
    rtp.set_dhost(hostAddress(address, port));
    p.set_txPayload(payload);
    p.set_rxPayload(payload);
    return p;
}

ZGCP::CreateParams rtpParams(ZGCP::CreateRtpParams const& params)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::rtp::id, params);
}

ZGCP::Command ioctlCommand(ZGCP::IoctlParams const& params)
{
    return ZGCP::Command(ZGCP::Command::ioctl::id, params);
}

ZGCP::IoctlParams toneFilterIoctl(int freq, int durationMs, int levelDb)
{
    ZGCP::IoctlParams p;
    ZGCP::ToneFilter& f = p.select_tone_filter();
    f.set_freq(freq);
    f.set_enable(true);
    f.set_duration_th_msec(durationMs);
    f.set_det_level_dB(levelDb);
    return p;
}

ZGCP::Command createCommand(ZGCP::CreateParams const& params)
{
    return ZGCP::Command(ZGCP::Command::create::id, params);
}

ZGCP::Command connectCommand(unsigned target)
{
    ZGCP::Command c;
    c.select_connect(target);
    return c;
}

ZGCP::Command plainCommand(int alternative)
{
    ZGCP::Command c;
    switch (alternative) {
    case ZGCP::Command::disconnect::id: c.select_disconnect(); break;
    case ZGCP::Command::destroy::id: c.select_destroy(); break;
    case ZGCP::Command::activate::id: c.select_activate().select_empty(); break;
    case ZGCP::Command::deactivate::id: c.select_deactivate(); break;
    case ZGCP::Command::query::id: c.select_query(); break;
    default: c.select_ping(); break;
    }
    return c;
}

}  // namespace testsupport
