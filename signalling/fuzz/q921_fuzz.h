#pragma once

// Shared by the fuzz targets of both sides of the Q.921 data link: the layer-3 messages the
// far end carries, the codes of the frames it sends, and the trace decoder's reading of a
// frame the link wrote.

#include "signalling/fuzz/link_bench.h"
#include "signalling/lapd.h"
#include "signalling/q931_trace.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace linkfuzz {

// Layer-3 messages: protocol discriminator, call reference, message type, elements.
inline Frame const kMessages[] = {
    {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x03, 0xA1, 0x83, 0x81, 0x70, 0x04, 0x81, 0x31,
     0x32, 0x33},                                            // SETUP
    {0x08, 0x01, 0x81, 0x07},                                // CONNECT
    {0x08, 0x01, 0x81, 0x4D, 0x08, 0x02, 0x80, 0x90},        // RELEASE with a cause
    {0x08, 0x01, 0x01, 0x5A},                                // RELEASE COMPLETE
    {0x08, 0x02, 0x00, 0x01, 0x7D, 0x08, 0x02, 0x81, 0xE2},  // STATUS, two-octet call reference
    {0x08, 0x00, 0x7B},                                      // INFORMATION, dummy call reference
};
constexpr unsigned kMessageCount = sizeof kMessages / sizeof kMessages[0];

// Control fields of the unnumbered frames, P/F clear, and one that is none of them.
constexpr std::uint8_t kUnnumberedCodes[] = {ISDN::LAPD::SABME, ISDN::LAPD::DISC, ISDN::LAPD::UA,
                                             ISDN::LAPD::DM,    ISDN::LAPD::FRMR, ISDN::LAPD::XID,
                                             ISDN::LAPD::UI,    0x2F};

// Two address octets.
inline Frame address(unsigned sapi, bool cr, unsigned tei)
{
    return {std::uint8_t(sapi << 2 | (cr ? 0x02 : 0)), std::uint8_t(tei << 1 | 1)};
}

// A TEI management message to the group TEI (C/R as given): the entity's code (or 0x0E, not
// its), Ri, the message type and Ai; with cut, the Ai left off.
inline Frame teiManagement(bool cr, bool otherEntity, unsigned ri, std::uint8_t type, unsigned ai, bool cut)
{
    Frame const head = address(ISDN::frame::kManagementSapi, cr, ISDN::frame::kGroupTei);
    Frame f = {head[0],
               head[1],
               ISDN::frame::kUiControl,
               std::uint8_t(otherEntity ? 0x0E : ISDN::frame::kManagementEntity),
               std::uint8_t(ri & 0xFF),
               std::uint8_t(ri >> 8),
               type,
               std::uint8_t(ai << 1 | 1)};
    if (cut)
        f.pop_back();
    return f;
}

// The trace decoder reads the frame (sent towards the user side or away from it) with the
// text given in it.
inline void decodedAs(Frame const& f, bool towardsUser, std::string const& part)
{
    char text[ISDN::kLogBufSize];
    ISDN::dlogframe(f.data(), unsigned(f.size()), towardsUser ? 1 : 0, text, sizeof text);
    if (std::strstr(text, part.c_str()) == nullptr)
        bad(f, "decoded as \"" + std::string(text) + "\"");
}

}  // namespace linkfuzz
