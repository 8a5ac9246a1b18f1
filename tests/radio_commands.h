#pragma once

// Builders of the controller's radio values and of the creates and ioctls that carry them,
// for the radio tests in process and end to end.

#include "messages/term.h"
#include "messages/zgcp.h"
#include "tests/slot_commands.h"

#include <cstdint>
#include <optional>
#include <string>

namespace testsupport {

TERM::RadioFlags radioFlags(int prio, bool ptt = false, bool sql = false);

// A ZARN radio's status: priority 5, no flag, channel 5 at "151.5", remote 0/0, squelch on,
// emission a1b, channel standby active, group 3, receiver standby.
TERM::ZarnRadioStatus zarnStatus();

TERM::ED137RadioHeader ed137Header(int ptt, bool squ, unsigned pttId = 0);

// An ED-137 radio's rx status, with an SQI when a quality is given.
TERM::ED137RadioStatus ed137Status(bool squ, std::optional<unsigned> quality = {},
                                   TERM::ED137RadioBSSMethod::NamedNumber method = TERM::ED137RadioBSSMethod::rssi);

// The session parameters of an ED-137 radio (type radio-txrx, mode txrx, PTT id 0).
TERM::ED137RadioResponse ed137Response();

TERM::RadioStatus radioStatus(TERM::ZarnRadioStatus const& s);
TERM::RadioStatus radioStatus(TERM::ED137RadioStatus const& s);

// ZARN "wm-trans": the radio transmits (or not) for the owner.
TERM::RadioModifier zarnTrans(bool ptt, std::string const& ip, unsigned ssrc, int prio = 5);

// An ED-137 rx (squelch) or tx (PTT) command for the session.
TERM::RadioModifier ed137Command(bool tx, TERM::ED137RadioHeader const& header, std::string const& addr = "0.0.0.0",
                                 unsigned ssrc = 0);

// An RTP channel carrying a radio: A-law, packet factor 2, to the remote host at its RTP
// port.
ZGCP::CreateRtpParams radioCreate(TERM::RadioStatus const& status, std::string const& address, int port);

ZGCP::IoctlParams rtpExtIoctl(TERM::RadioModifier const& m);

}  // namespace testsupport
