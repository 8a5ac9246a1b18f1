#pragma once

#include "base/errno.h"
#include "base/fd.h"
#include "board/rtp.h"
#include "messages/term.h"
#include "messages/zgcp.h"
#include "slots/slot_factory.h"

#include <netinet/in.h>

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

// The codec channels of the voice driver "/dev/voice", as the RTP factories report them.
struct CodecCounts {
    int g729 = 0;
    int g723 = 0;
    int g711 = 0;
    int g711mcc = 0;
    int universal = 0;

    // Asks the driver for each kind; a kind it reports none of keeps its count. False when
    // the device does not open (the line, after header, on the error stream).
    bool read(std::string const& header);
    // Sets the five counts of the resources.
    void report(ZGCP::Resources& resources) const;
    // A factory's log header: "<name>[<g723>,<g729>,<g711>,<universal>]: ".
    void PutHeader(std::ostream& os, char const* name) const;
};

// What the create of an RTP slot opens before the slot is built, for the factories of every
// RTP slot kind: the RTCP socket, and an open of "/dev/rtp" with the session begun on it
// and its channel added. Every line written starts with the factory's header.
struct RtpSession {
    rtp_connection_params params{};
    // The local RTP port; the RTCP socket is bound to the next one.
    std::uint16_t localPort = 0;
    // Where RTCP goes: the remote address at the remote RTP port + 1.
    sockaddr_in peer{};
    Fd rtcp;
    Fd device;
    // The switch channel the driver gave the session.
    int channel = -1;

    // Fills the session record from the parameters. False (a line on the log stream) when an
    // address does not parse or a number does not fit: such parameters are invalid.
    bool describe(TERM::RtpParams const& rtp, unsigned rxPt, unsigned txPt, std::string const& header);
    // Opens the RTCP socket and the device, begins the session and adds its channel, the
    // add-channel record's last word being channelWord. False (a line written) when a step
    // fails, with nothing left open.
    bool open(std::int32_t channelWord, std::string const& header);
};

// A slot being made whose descriptor could not be had (error set) is not made: false, with
// "rtp do not created: can not <what> [errno=<error>]" on the log stream after the header.
bool RtpSlotWhole(std::optional<Errno> const& error, char const* what, std::string const& header);

// Makes the RTP slots of the creates whose RTP parameters carry no radio request, and
// reports the codec channels of the voice driver.
class RtpFactory : public SlotFactory {
public:
    static RtpFactory& instance();

    // Reads the channel counts once.
    RtpFactory();

    char const* GetName() const override { return "RTP"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    // Reads the counts again and reports them.
    void Query(ZGCP::Resources& resources) override;

    // The G.729, G.723 and G.711 counts are read afresh (0 where the driver has none or does
    // not open); the G.711 MCC and universal counts change only where the driver reports
    // some.
    void IQuery();
    CodecCounts const& counts() const { return counts_; }

    // Whether a payload has an RTP payload type.
    static bool knownPayload(TERM::Payload::NamedNumber payload);
    // The RTP payload type of a payload; 0 for one that has none.
    static unsigned translateCodec(TERM::Payload::NamedNumber payload);
    // That of the direction's payload when it differs from the main one and is plain G.711,
    // else that of the main one.
    static unsigned translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber direction);

    // "rtp[<g723>,<g729>,<g711>,<universal>]: ".
    void PutHeader(std::ostream& os) const;

private:
    std::string header() const;

    CodecCounts counts_;
};

// The text of an RTP library error code; an unknown code's text is formatted into one
// buffer that the next such call overwrites.
char const* RTPStrError(int code);
