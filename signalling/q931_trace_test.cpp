#include "signalling/q931_trace.h"

#include "tests/pcap_writer.h"
#include "tests/tshark.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace ISDN;

typedef std::vector<unsigned char> Bytes;

// The text of a frame, decoded from a buffer of exactly its size (so a read past the frame
// is caught by the address checker).
std::string decode(Bytes const& frame, int direction = 1)
{
    std::vector<unsigned char> exact(frame);
    dlogframe(exact.data(), unsigned(exact.size()), direction, logbuf);
    return logbuf;
}

struct FrameCase {
    char const* what;
    Bytes frame;
    int direction;
    char const* text;
};

TEST(Q931Trace, RendersFrames)
{
    FrameCase const cases[] = {
        {"RR received by the user side", {0x02, 0x01, 0x01, 0x01}, 1,
         " 02 01 01 01\nframe network->user SFrame tei = 0 (01 01 )\n"},
        {"SETUP with call reference 0x81",
         {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05, 0xA1, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x01, 0x89,
          0x70, 0x05, 0x81, 0x31, 0x32, 0x33, 0x34},
         0,
         " 02 01 00 00 08 01 81 05 A1 04 03 80 90 A3 18 01 89 70 05 81 31 32 33 34\n"
         "frame user->network IFrame tei = 0\n"
         "callref 1 called size 20 message type SETUP\n"
         "  Sending complete\n"
         "  Bearer capability\n"
         "    octet 3  10000000\n"
         "    octet 4  10010000\n"
         "    octet 5  10100011\n"
         "  Channel identification\n"
         "    octet 3 10001001\n"
         "  Called party number\n"
         "    octet 3 10000001\n"
         "    number digits 1234\n"},
        {"two-octet call reference, cause 0x10",
         {0x02, 0x01, 0x02, 0x00, 0x08, 0x02, 0x80, 0x05, 0x45, 0x08, 0x02, 0x80, 0x90}, 1,
         " 02 01 02 00 08 02 80 05 45 08 02 80 90\n"
         "frame network->user IFrame tei = 0\n"
         "callref 5 called size 9 message type DISCONNECT\n"
         "  Cause\n"
         "    coding 00 location 0000\n"
         "  cause value 10 : Normal call clearing \n"},
        {"single-octet elements and an unknown element",
         {0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x7B, 0xA2, 0x96, 0xB3, 0xD1, 0x81, 0x0E, 0x01, 0x00}, 1,
         " 02 01 00 00 08 00 7B A2 96 B3 D1 81 0E 01 00\n"
         "frame network->user IFrame tei = 0\n"
         "callref 0 caller size 11 message type INFORMATION\n"
         "  Shift 6\n  Congestion level 3\n  Repeat indicator 1\n  Reserved 81\n"
         "  attribute e attribute size 1\n"},
        {"TEI management", {0xFC, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x01, 0xFF}, 0,
         " FC FF 03 0F 34 12 01 FF\nframe user->network tei management:\n"},
        {"broadcast SETUP, unknown message type", {0x00, 0xFF, 0x03, 0x08, 0x01, 0x02, 0x66}, 1,
         " 00 FF 03 08 01 02 66\nframe network->user broadcast\ncallref 2 caller size 4 unknown message type 66!\n"},
        {"broadcast that is not UI", {0x00, 0xFF, 0x13}, 1, " 00 FF 13\nframe network->user no UI broadcast\n"},
        {"broadcast on another SAPI", {0x40, 0xFF, 0x03}, 1, " 40 FF 03\nframe network->user unknown sapi 16 broadcast\n"},
        {"another SAPI", {0x40, 0x05, 0x03}, 1, " 40 05 03\nframe network->user unknown sapi = 16; tei = 2\n"},
        {"not Q.931", {0x02, 0x01, 0x00, 0x00, 0x09, 0x00}, 1,
         " 02 01 00 00 09 00\nframe network->user IFrame tei = 0\nUnknown protocol 9!"},
        {"I-frame without layer 3", {0x02, 0x01, 0x00, 0x00}, 1,
         " 02 01 00 00\nframe network->user IFrame tei = 0\nframe too short\n"},
        {"call reference longer than the frame", {0x02, 0x01, 0x00, 0x00, 0x08, 0x03, 0x80}, 1,
         " 02 01 00 00 08 03 80\nframe network->user IFrame tei = 0\nframe too short\n"},
        {"element longer than the frame", {0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x05, 0x70, 0xC8, 0x81, 0x31}, 1,
         " 02 01 00 00 08 00 05 70 C8 81 31\nframe network->user IFrame tei = 0\n"
         "callref 0 caller size 7 message type SETUP\n"
         "  Called party number\n    octet 3 10000001\n    number digits 1\n"},
        {"length octet missing", {0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x05, 0x04}, 1,
         " 02 01 00 00 08 00 05 04\nframe network->user IFrame tei = 0\ncallref 0 caller size 4 message type SETUP\n"},
    };
    for (FrameCase const& c : cases)
        EXPECT_EQ(c.text, decode(c.frame, c.direction)) << c.what;
}

struct RendererCase {
    char const* what;
    Renderer render;
    Bytes element;
    char const* text;
};

// The renderers of the other tables, and the details of the Q.931 ones that no frame above
// reaches.
TEST(Q931Trace, RendersElements)
{
    RendererCase const cases[] = {
        {"general: extension octets", general, {0x1E, 0x03, 0x02, 0x81, 0x88},
         "    octet 3  00000010\n    octet 3a 10000001\n    octet 4  10001000\n"},
        {"bearer: multirate, layers 1 to 3", prbearer, {0x04, 0x07, 0x88, 0x18, 0x85, 0x21, 0x8F, 0xC2, 0xE6},
         "    octet 3  10001000\n    octet 4  00011000\n    octet 4.1 10000101\n    octet 5  00100001\n"
         "    octet 5a 10001111\n    octet 6  11000010\n    octet 7  11100110\n"},
        {"cause with diagnostics", prcause, {0x08, 0x04, 0x80, 0x90, 0x01, 0x82},
         "    coding 00 location 0000\n  cause value 10 : Normal call clearing \n    diag attribute 1  rej 2 \n"},
        {"cause with an available value", prcause, {0x08, 0x06, 0x82, 0x7F, 0x03, 0x04, 0x05, 0x86},
         "    coding 00 location 0010\n  cause value 7f : Interworking, unspecified \n"
         "    diag attribute 3  rej 4  av 5\n    diag attribute 5  rej 6 \n"},
        {"unknown cause", prcause, {0x08, 0x02, 0x80, 0xFE}, "    coding 00 location 0000\nUnknown cause type 7e!\n"},
        {"calling number with octet 3a", prcalling, {0x6C, 0x05, 0x01, 0x81, 0x35, 0x36, 0x37},
         "    octet 3 00000001\n    octet 3a 10000001\n    number digits 567\n"},
        {"display", display, {0x28, 0x03, 0x41, 0x42, 0x43}, "   \"ABC\"\n"},
        {"facility", prfacility, {0x1C, 0x05, 0x91, 0xA1, 0x02, 0x30, 0x3F},
         "    octet 3 10010001\n   octet 4 10100001\n   octet 5 2\n   contents 30 3f \n"},
        {"NI1 bearer, u-law", prbearer_ni1, {0x04, 0x03, 0x88, 0x90, 0xA2},
         "    octet 3  10001000 Unrestricted digital information\n    octet 4  10010000 64 kbps, circuit mode\n"
         "    octet 5  10100010 u-law\n"},
        {"NI1 bearer, rate adaption", prbearer_ni1, {0x04, 0x04, 0x90, 0xC0, 0x21, 0x8F},
         "    octet 3  10010000 3.1 kHz audio\n    octet 4  11000000 Packet mode\n"
         "    octet 5  00100001 Rate adaption\n    octet 5a 10001111\n"},
        {"NI1 bearer, unknown", prbearer_ni1, {0x04, 0x03, 0x81, 0x91, 0x20},
         "    octet 3  10000001 Unknown information-transfer capability\n    octet 4  10010001 Unknown transfer mode\n"
         "    octet 5  00100000 Unknown UI layer 1 protocol\n"},
        {"1TR6 cause, empty", prcause_1tr6, {0x08, 0x00}, "   OK (cause length=0)\n"},
        {"1TR6 cause", prcause_1tr6, {0x08, 0x02, 0xBB, 0x81}, "    coding 00 location 0001\n  cause value 3b : User Busy \n"},
        {"1TR6 cause, unknown", prcause_1tr6, {0x08, 0x01, 0x82}, "Unknown cause type 2!\n"},
        {"1TR6 charging", prcharge, {0x02, 0x03, 0x81, 0x31, 0x32}, "    GEA 10000001  Anzahl: 12\n"},
        {"text", prtext, {0x2C, 0x03, 0x41, 0x42, 0x43}, "    ABC\n"},
        {"feature indication", prfeatureind, {0x39, 0x03, 0x01, 0x02, 0x01},
         "    octet 3  00000001\n    octet 4  00000010\n    Status:  Active\n"},
        {"feature indication, reserved", prfeatureind, {0x39, 0x02, 0x50, 0x07},
         "    octet 3  01010000\n    Status:  (Reserved)\n"},
        {"NI1 display", disptext_ni1, {0x2A, 0x0C, 0x80, 0x8D, 0x03, 0x41, 0x42, 0x43, 0x80, 0x01, 0x00, 0xA0, 0x01, 0x5A},
         "    Calling party name: ABC\n    (unknown display tag a0): Z\n"},
        {"NI1 display, unknown type", disptext_ni1, {0x2A, 0x01, 0x81}, "    Unknown display type\n"},
    };
    for (RendererCase const& c : cases) {
        char out[kLogBufSize];
        TraceText text(out, sizeof out);
        Bytes exact(c.element);
        int const written = c.render(text, Element(exact.data(), exact.size()));
        EXPECT_EQ(c.text, std::string(out)) << c.what;
        EXPECT_EQ(std::strlen(c.text), std::size_t(written)) << c.what;
    }
}

// The text is cut at its buffer (the terminating NUL included) and a short frame leaves no
// stale text behind.
TEST(Q931Trace, StaysInsideItsBuffers)
{
    Bytes big = {0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x7B};
    while (big.size() < 600)
        big.insert(big.end(), {0x1E, 0x02, 0x01, 0x01});
    for (std::size_t size : {std::size_t(1), std::size_t(40), kLogBufSize}) {
        std::vector<char> out(size + 16, '#');
        dlogframe(big.data(), unsigned(big.size()), 1, out.data(), size);
        EXPECT_EQ(size - 1, std::strlen(out.data())) << size;
        EXPECT_EQ(std::string(16, '#'), std::string(out.data() + size, 16)) << size;
    }

    std::strcpy(logbuf, "stale text");
    Bytes const shortFrame = {0x02, 0x01};
    EXPECT_EQ("", decode(shortFrame));
}

// Message type, call reference (flag and value) and cause value as tshark's Q.931 dissector
// reads them, against the lines of our text that carry them.
TEST(Q931Trace, AgreesWithTshark)
{
    if (testsupport::findTool("tshark").empty())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): no independent Q.931 dissector";
    struct Case {
        Bytes frame;
        std::vector<std::string> fields;  // tshark's
        char const* line;                 // ours: call reference and message type
        char const* cause;                // ours, "" for none
    } const cases[] = {
        {{0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05, 0xA1}, {"0x05", "1", "01", ""},
         "callref 1 called size 5 message type SETUP\n", ""},
        {{0x02, 0x01, 0x02, 0x00, 0x08, 0x02, 0x01, 0x23, 0x4D, 0x08, 0x02, 0x81, 0xAA}, {"0x4d", "0", "0123", "42"},
         "callref 291 caller size 9 message type RELEASE\n", "cause value 2a : "},
        {{0x02, 0x01, 0x04, 0x02, 0x08, 0x01, 0x7F, 0x5A, 0x08, 0x02, 0x80, 0x91}, {"0x5a", "0", "7f", "17"},
         "callref 127 caller size 8 message type RELEASE COMPLETE\n", "cause value 11 : "},
        {{0x02, 0x01, 0x06, 0x04, 0x08, 0x00, 0x7D, 0x08, 0x02, 0x82, 0x9F}, {"0x7d", "", "", "31"},
         "callref 0 caller size 7 message type STATUS\n", "cause value 1f : "},
    };
    testsupport::PcapWriter capture(testsupport::PcapWriter::kLinuxLapd);
    for (Case const& c : cases)
        capture.addLapd(c.frame, false, false);
    std::vector<std::vector<std::string>> rows;
    std::string error;
    ASSERT_TRUE(testsupport::tsharkFields(capture.bytes(),
                                          {"q931.message_type", "q931.call_ref_flag", "q931.call_ref", "q931.cause_value"},
                                          rows, error))
        << error;
    ASSERT_EQ(std::size(cases), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Case const& c = cases[i];
        std::string const text = decode(c.frame);
        EXPECT_EQ(c.fields, rows[i]) << c.line;
        EXPECT_NE(std::string::npos, text.find(c.line)) << text;
        EXPECT_NE(std::string::npos, text.find(c.cause)) << text;
    }
}

}  // namespace
