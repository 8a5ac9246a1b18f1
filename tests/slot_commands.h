#pragma once

#include "messages/zgcp.h"

#include <optional>
#include <string>
#include <vector>

// The controller's slot commands and create parameters, built with the project's classes,
// for the tests and benchmarks of the slot framework.
namespace testsupport {

// A time slot of an E1 trunk, or a channel of a BRI line.
inline ZGCP::TrunkParams timeSlot(unsigned trunk, unsigned timeslot)
{
    ZGCP::TrunkParams p;
    p.set_trunk(trunk);
    p.set_timeslot(timeslot);
    return p;
}

inline ZGCP::CreateParams trunkParams(unsigned trunk, unsigned timeslot)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::trunk::id, timeSlot(trunk, timeslot));
}

inline ZGCP::CreateParams briParams(unsigned trunk, unsigned channel)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::trunk_bri::id, timeSlot(trunk, channel));
}

// One channel of the shared bus.
struct BusChannel {
    unsigned bus;
    unsigned channel;
};

inline ZGCP::CreateParams mapParams(std::optional<BusChannel> tx, std::optional<BusChannel> rx)
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

inline ZGCP::CreateParams extParams(int tx, int rx)
{
    ZGCP::ExtParams p;
    p.set_transmitter(tx);
    p.set_receiver(rx);
    return ZGCP::CreateParams(ZGCP::CreateParams::ext::id, p);
}

inline ZGCP::CreateParams echoParams(int bus, int channel)
{
    ZGCP::EchoParams p;
    p.set_bus(bus);
    p.set_channel(channel);
    return ZGCP::CreateParams(ZGCP::CreateParams::echo::id, p);
}

// Channels of a mixer unit.
inline ZGCP::MixerChannel tdmChannel(int number) { return ZGCP::MixerChannel(ZGCP::MixerChannel::tdm::id, number); }
inline ZGCP::MixerChannel rtpChannel(int number) { return ZGCP::MixerChannel(ZGCP::MixerChannel::rtp::id, number); }

// An input of a mixer output: a channel and its gain.
struct MixerSource {
    ZGCP::MixerChannel channel;
    int gain;
};

inline ZGCP::CreateParams mixerOutParams(int unit, ZGCP::MixerChannel const& channel,
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

inline ZGCP::CreateParams mixerInParams(int unit, ZGCP::MixerChannel const& channel,
                                        std::optional<ZGCP::MixerChannel> summator = std::nullopt)
{
    ZGCP::MixerInParams p;
    p.set_unit(unit);
    p.set_channel(channel);
    if (summator)
        p.set_summator(*summator);
    return ZGCP::CreateParams(ZGCP::CreateParams::mixerIn::id, p);
}

inline ZGCP::CreateParams mccParams(ZGCP::MccType::NamedNumber type, ZGCP::MccMode::NamedNumber mode)
{
    ZGCP::MccParams p;
    p.set_type(type);
    p.set_mode(mode);
    return ZGCP::CreateParams(ZGCP::CreateParams::mcc::id, p);
}

inline TERM::HostAddress hostAddress(std::string const& address, int port)
{
    TERM::HostAddress h;
    h.set_iaddr() = address;
    h.set_port(port);
    return h;
}

// A recorder sending to the peer.
inline ZGCP::CreateParams recorderParams(std::string const& address, int port)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::voice::id,
                              ZGCP::VoiceParams(ZGCP::VoiceParams::record::id, hostAddress(address, port)));
}

// A player of what the peer sends, introduced by the id.
inline ZGCP::CreateParams networkPlayerParams(std::string const& address, int port, int id)
{
    ZGCP::PlayerParams_network n;
    n.set_host(hostAddress(address, port));
    n.set_id(id);
    return ZGCP::CreateParams(ZGCP::CreateParams::voice::id,
                              ZGCP::VoiceParams(ZGCP::VoiceParams::player::id,
                                                ZGCP::PlayerParams(ZGCP::PlayerParams::network::id, n)));
}

// A player of phrase files, the list played repeat times.
inline ZGCP::CreateParams filePlayerParams(std::vector<std::string> const& names, int repeat)
{
    ZGCP::PlayerParams_file f;
    for (std::string const& name : names)
        f.set_name().push_back(ASN1::IA5String(name));
    f.set_repeat(repeat);
    return ZGCP::CreateParams(ZGCP::CreateParams::voice::id,
                              ZGCP::VoiceParams(ZGCP::VoiceParams::player::id,
                                                ZGCP::PlayerParams(ZGCP::PlayerParams::file::id, f)));
}

// A T.38 relay towards dhost:dport from local port sport, with extra arguments.
inline ZGCP::CreateParams t38Params(std::string const& dhost, int dport, int sport,
                                    std::vector<std::string> const& args = {})
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

// A modem for the caller's number; the test sets the other fields.
inline TERM::ModemParams modemParams(std::string const& cid)
{
    TERM::ModemParams p;
    p.set_cid(cid);
    return p;
}

inline ZGCP::CreateParams modemCreate(TERM::ModemParams const& params)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::modem::id, params);
}

// The controller's answer to an authentication request.
inline ZGCP::Command modemActivate(std::string const& remote, std::string const& netmask, std::string const& gateway,
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

// The link of an ISDN D channel on the trunk (counted from 1), on the user or the network side.
inline ZGCP::IsdnParams isdnLink(ZGCP::IsdnType::NamedNumber type, int trunk, bool network, int log)
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

inline ZGCP::CreateParams isdnParams(ZGCP::IsdnType::NamedNumber type, int trunk, bool network = false, int log = 0)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::isdn::id, isdnLink(type, trunk, network, log));
}

// PSTN signalling links on the trunk (counted from 1): MTP level 2, LAPD, or none (cas).
inline ZGCP::CreateParams ss7Params(int trunk, int slc, int dpc, int opc, bool emergency)
{
    ZGCP::SS7Params p;
    p.set_trunk(trunk);
    p.set_slc(slc);
    p.set_dpc(dpc);
    p.set_opc(opc);
    p.set_emergency(emergency);
    return ZGCP::CreateParams(ZGCP::CreateParams::pstn::id, ZGCP::PstnParams(ZGCP::PstnParams::ss7::id, p));
}
inline ZGCP::CreateParams pstnIsdnParams(ZGCP::IsdnType::NamedNumber type, int trunk, bool network, int log = 0)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::pstn::id,
                              ZGCP::PstnParams(ZGCP::PstnParams::isdn::id, isdnLink(type, trunk, network, log)));
}
inline ZGCP::CreateParams pstnCasParams(int trunk)
{
    ZGCP::CasParams p;
    p.set_trunk(trunk);
    return ZGCP::CreateParams(ZGCP::CreateParams::pstn::id, ZGCP::PstnParams(ZGCP::PstnParams::cas::id, p));
}

// The ioctls of an SS7 link: its backward sequence number, and its trace switches (state,
// raw receive, raw transmit, mtp transmit, mtp receive, mtp activate, timers, msu processing).
inline ZGCP::Command ss7BsnCommand()
{
    ZGCP::IoctlParams p;
    p.select_ss7RqBSN();
    return ZGCP::Command(ZGCP::Command::ioctl::id, p);
}
inline ZGCP::Command ss7LogCommand(std::vector<bool> const& on)
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

inline ZGCP::CreateParams qsigParams(bool network)
{
    ZGCP::AtsQsigParams p;
    if (network)
        p.set_side().select_network();
    else
        p.set_side().select_user();
    return ZGCP::CreateParams(ZGCP::CreateParams::ats_qsig::id, p);
}

// B channel subslot (1..3) of the QSIG slot.
inline ZGCP::CreateParams qsigBParams(unsigned slot, unsigned subslot)
{
    ZGCP::AtsQsigBParams p;
    p.set_slot(slot);
    p.set_subslot(subslot);
    return ZGCP::CreateParams(ZGCP::CreateParams::ats_qsig_b::id, p);
}

// A raw HDLC link on the trunk (counted from 1) with its address.
inline ZGCP::CreateParams hdlcParams(int trunk, int address)
{
    ZGCP::HdlcParams p;
    p.set_trunk(trunk);
    p.set_log(0);
    p.set_address(address);
    return ZGCP::CreateParams(ZGCP::CreateParams::hdlcParams::id, p);
}

// The ioctl that sends the bodies on a raw HDLC link.
inline ZGCP::Command hdlcPackagesCommand(std::vector<std::vector<char>> const& bodies)
{
    ASN1::SEQUENCE_OF<ZGCP::HdlcPackage> list;
    for (auto const& b : bodies) {
        ZGCP::HdlcPackage p;
        p.set_body(b);
        list.push_back(p);
    }
    return ZGCP::Command(ZGCP::Command::ioctl::id, ZGCP::IoctlParams(ZGCP::IoctlParams::hdlcPackages::id, list));
}

inline ZGCP::Command userDataCommand(std::vector<char> const& bytes)
{
    return ZGCP::Command(ZGCP::Command::userData::id, bytes);
}

// An RTP channel: the payload in both directions, to the remote host at its RTP port.
inline ZGCP::CreateRtpParams rtpCreate(TERM::Payload::NamedNumber payload, std::string const& address, int port)
{
    ZGCP::CreateRtpParams p;
    TERM::RtpParams& rtp = p.set_codecRTP();
    rtp.set_payload(payload);
    rtp.set_dhost(hostAddress(address, port));
    p.set_txPayload(payload);
    p.set_rxPayload(payload);
    return p;
}

inline ZGCP::CreateParams rtpParams(ZGCP::CreateRtpParams const& params)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::rtp::id, params);
}

inline ZGCP::Command ioctlCommand(ZGCP::IoctlParams const& params)
{
    return ZGCP::Command(ZGCP::Command::ioctl::id, params);
}

// A tone filter switched on: its frequency, the time a tone must last and its level.
inline ZGCP::IoctlParams toneFilterIoctl(int freq, int durationMs, int levelDb)
{
    ZGCP::IoctlParams p;
    ZGCP::ToneFilter& f = p.select_tone_filter();
    f.set_freq(freq);
    f.set_enable(true);
    f.set_duration_th_msec(durationMs);
    f.set_det_level_dB(levelDb);
    return p;
}

inline ZGCP::Command createCommand(ZGCP::CreateParams const& params)
{
    return ZGCP::Command(ZGCP::Command::create::id, params);
}

inline ZGCP::Command connectCommand(unsigned target)
{
    ZGCP::Command c;
    c.select_connect(target);
    return c;
}

// The commands without parameters of their own (activate with empty parameters), by
// alternative: disconnect, destroy, activate, deactivate, query, ping.
inline ZGCP::Command plainCommand(int alternative)
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
