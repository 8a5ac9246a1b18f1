#pragma once

#include "messages/zgcp.h"

#include <optional>
#include <string>
#include <vector>

// The controller's slot commands and create parameters, built with the project's classes,
// for the tests and benchmarks of the slot framework.
namespace testsupport {

// A time slot of an E1 trunk, or a channel of a BRI line.
ZGCP::TrunkParams timeSlot(unsigned trunk, unsigned timeslot);

ZGCP::CreateParams trunkParams(unsigned trunk, unsigned timeslot);

ZGCP::CreateParams briParams(unsigned trunk, unsigned channel);

// One channel of the shared bus.
struct BusChannel {
    unsigned bus;
    unsigned channel;
};

ZGCP::CreateParams mapParams(std::optional<BusChannel> tx, std::optional<BusChannel> rx);

ZGCP::CreateParams extParams(int tx, int rx);

ZGCP::CreateParams echoParams(int bus, int channel);

// Channels of a mixer unit.
ZGCP::MixerChannel tdmChannel(int number);
ZGCP::MixerChannel rtpChannel(int number);

// An input of a mixer output: a channel and its gain.
struct MixerSource {
    ZGCP::MixerChannel channel;
    int gain;
};

ZGCP::CreateParams mixerOutParams(int unit, ZGCP::MixerChannel const& channel,
                                  std::vector<MixerSource> const& inputs);

ZGCP::CreateParams mixerInParams(int unit, ZGCP::MixerChannel const& channel,
                                 std::optional<ZGCP::MixerChannel> summator = std::nullopt);

ZGCP::CreateParams mccParams(ZGCP::MccType::NamedNumber type, ZGCP::MccMode::NamedNumber mode);

TERM::HostAddress hostAddress(std::string const& address, int port);

// A recorder sending to the peer.
ZGCP::CreateParams recorderParams(std::string const& address, int port);

// A player of what the peer sends, introduced by the id.
ZGCP::CreateParams networkPlayerParams(std::string const& address, int port, int id);

// A player of phrase files, the list played repeat times.
ZGCP::CreateParams filePlayerParams(std::vector<std::string> const& names, int repeat);

// A T.38 relay towards dhost:dport from local port sport, with extra arguments.
ZGCP::CreateParams t38Params(std::string const& dhost, int dport, int sport,
                             std::vector<std::string> const& args = {});

// A modem for the caller's number; the test sets the other fields.
TERM::ModemParams modemParams(std::string const& cid);

ZGCP::CreateParams modemCreate(TERM::ModemParams const& params);

// The controller's answer to an authentication request.
ZGCP::Command modemActivate(std::string const& remote, std::string const& netmask, std::string const& gateway,
                            std::string const& dns, int mtu);

// The link of an ISDN D channel on the trunk (counted from 1), on the user or the network side.
ZGCP::IsdnParams isdnLink(ZGCP::IsdnType::NamedNumber type, int trunk, bool network, int log);

ZGCP::CreateParams isdnParams(ZGCP::IsdnType::NamedNumber type, int trunk, bool network = false, int log = 0);

// PSTN signalling links on the trunk (counted from 1): MTP level 2, LAPD, or none (cas).
ZGCP::CreateParams ss7Params(int trunk, int slc, int dpc, int opc, bool emergency);
ZGCP::CreateParams pstnIsdnParams(ZGCP::IsdnType::NamedNumber type, int trunk, bool network, int log = 0);
ZGCP::CreateParams pstnCasParams(int trunk);

// The ioctls of an SS7 link: its backward sequence number, and its trace switches (state,
// raw receive, raw transmit, mtp transmit, mtp receive, mtp activate, timers, msu processing).
ZGCP::Command ss7BsnCommand();
ZGCP::Command ss7LogCommand(std::vector<bool> const& on);

ZGCP::CreateParams qsigParams(bool network);

// B channel subslot (1..3) of the QSIG slot.
ZGCP::CreateParams qsigBParams(unsigned slot, unsigned subslot);

// A raw HDLC link on the trunk (counted from 1) with its address.
ZGCP::CreateParams hdlcParams(int trunk, int address);

// The ioctl that sends the bodies on a raw HDLC link.
ZGCP::Command hdlcPackagesCommand(std::vector<std::vector<char>> const& bodies);

ZGCP::Command userDataCommand(std::vector<char> const& bytes);

// An RTP channel: the payload in both directions, to the remote host at its RTP port.
ZGCP::CreateRtpParams rtpCreate(TERM::Payload::NamedNumber payload, std::string const& address, int port);

ZGCP::CreateParams rtpParams(ZGCP::CreateRtpParams const& params);

ZGCP::Command ioctlCommand(ZGCP::IoctlParams const& params);

// A tone filter switched on: its frequency, the time a tone must last and its level.
ZGCP::IoctlParams toneFilterIoctl(int freq, int durationMs, int levelDb);

ZGCP::Command createCommand(ZGCP::CreateParams const& params);

ZGCP::Command connectCommand(unsigned target);

// The commands without parameters of their own (activate with empty parameters), by
// alternative: disconnect, destroy, activate, deactivate, query, ping.
ZGCP::Command plainCommand(int alternative);

}  // namespace testsupport
