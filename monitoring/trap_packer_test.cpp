#include "monitoring/trap_packer.h"

#include "tests/daemon_launcher.h"
#include "tests/pcap_writer.h"
#include "tests/tcp_client.h"
#include "tests/tshark.h"

#include <arpa/inet.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using namespace SnmpTrap;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes message(TrapContext const& ctx) { return Bytes(ctx.buffer, ctx.buffer + ctx.length); }

// The name of the bindings the tests add: 1.3.6.1.4.1.99999.1.
std::uint32_t const kName[] = {1, 3, 6, 1, 4, 1, 99999, 1};

// What a builder writes into 16 free bytes (checking the room it leaves); empty when it refuses.
template <typename Build>
Bytes built(Build build)
{
    std::uint8_t out[16] = {};
    std::uint32_t room = sizeof out;
    std::uint8_t* const end = build(out, room);
    if (!end)
        return {};
    EXPECT_EQ(room + std::size_t(end - out), sizeof out);
    return Bytes(out, end);
}

TEST(TrapPacker, BerEncodings)
{
    // INTEGER signed, the other tags unsigned; an empty expectation: refused.
    struct Number { std::uint8_t tag; std::int64_t value; Bytes expected; } const numbers[] = {
        {kInteger, 127, {0x02, 0x01, 0x7F}},
        {kInteger, 128, {0x02, 0x02, 0x00, 0x80}},
        {kInteger, -1, {0x02, 0x01, 0xFF}},
        {kInteger, -129, {0x02, 0x02, 0xFF, 0x7F}},
        {kInteger, INT32_MIN, {0x02, 0x04, 0x80, 0, 0, 0}},
        {kGauge32, 0xFFFF, {0x42, 0x03, 0x00, 0xFF, 0xFF}},
        {kCounter32, 0x80000000, {0x41, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}},
    };
    for (Number const& n : numbers)
        EXPECT_EQ(built([&](auto p, auto& r) {
                      return n.tag == kInteger ? asn_build_int(p, r, n.tag, std::int32_t(n.value))
                                               : asn_build_unsigned_int(p, r, n.tag, std::uint32_t(n.value));
                  }),
                  n.expected)
            << n.value;

    struct Length { std::size_t length; Bytes expected; } const lengths[] = {
        {127, {0x7F}}, {128, {0x81, 0x80}}, {255, {0x81, 0xFF}}, {256, {0x82, 0x01, 0x00}}, {65536, {}},
    };
    for (Length const& l : lengths)
        EXPECT_EQ(built([&](auto p, auto& r) { return asn_build_length(p, r, l.length); }), l.expected) << l.length;
    EXPECT_EQ(built([](auto p, auto& r) { return asn_build_sequence(p, r, kSequence, 5); }), (Bytes{0x30, 0x82, 0, 5}));

    struct Oid { std::vector<std::uint32_t> arcs; Bytes expected; } const oids[] = {
        {{1, 3, 6, 1}, {0x06, 0x03, 0x2B, 0x06, 0x01}},
        {{2}, {0x06, 0x01, 0x50}},
        {{}, {0x06, 0x01, 0x00}},
        {{1, 39}, {0x06, 0x01, 0x4F}},
        {{2, 999, 0xFFFFFFFF}, {0x06, 0x07, 0x88, 0x37, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
        {{2, 0xFFFFFFFF}, {0x06, 0x05, 0x90, 0x80, 0x80, 0x80, 0x4F}},  // joined past 32 bits
        {{3, 1}, {}},
        {{1, 40}, {}},  // would read back as 2.0
        {std::vector<std::uint32_t>(kMaxArcs + 1, 1), {}},
    };
    for (Oid const& o : oids)
        EXPECT_EQ(built([&](auto p, auto& r) { return asn_build_objid(p, r, 6, o.arcs.data(), o.arcs.size()); }),
                  o.expected)
            << o.arcs.size() << " arcs";
}

TEST(TrapPacker, WholeTrap)
{
    TrapContext ctx;
    snmp_session_seed(&ctx, 12345);
    trap_init(&ctx, "public");
    std::uint32_t const upTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
    std::uint32_t const ticks = 4242;
    ASSERT_EQ(trap_pack_begin(&ctx), 0);
    ASSERT_EQ(trap_pack_add(&ctx, upTime, 9, kTimeTicks, &ticks, 4), 0);
    ASSERT_EQ(trap_pack_end(&ctx), 0);
    EXPECT_EQ(ctx.state, kFinished);
    Bytes const expected = {0x30, 0x82, 0x00, 0x31, 0x02, 0x01, 0x01, 0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',
                            0xA7, 0x82, 0x00, 0x22, 0x02, 0x04, 0x71, 0x83, 0x1E, 0x53, 0x02, 0x01, 0x00,
                            0x02, 0x01, 0x00, 0x30, 0x82, 0x00, 0x12, 0x30, 0x82, 0x00, 0x0E, 0x06, 0x08,
                            0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, 0x43, 0x02, 0x10, 0x92};
    EXPECT_EQ(message(ctx), expected);
}

TEST(TrapPacker, RequestIds)
{
    // The first id after each seed, then the one after it without a new seed: odd and positive.
    struct Case { std::uint32_t seed; std::int32_t first, second; } const cases[] = {
        {0, 991873, 1288378715}, {12345, 1904418387, 1743328605}, {0xFFFFFFFF, 141865, 328434371}};
    for (Case const& c : cases) {
        TrapContext ctx;
        snmp_session_seed(&ctx, c.seed);
        trap_init(&ctx, nullptr);
        EXPECT_EQ(ctx.requestId, c.first) << c.seed;
        trap_init(&ctx, nullptr);
        EXPECT_EQ(ctx.requestId, c.second) << c.seed;
    }
}

TEST(TrapPacker, CallingOrder)
{
    // b begin, a a good binding, x a refused one, e end: the result of each call.
    std::uint32_t const one = 1;
    struct Case { char const* calls; std::vector<int> results; } const cases[] = {
        {"bb", {0, -1}},        {"a", {-1}},           {"e", {-1}},           {"be", {0, 0}},
        {"baae", {0, 0, 0, 0}}, {"baee", {0, 0, 0, -1}}, {"beab", {0, 0, -1, -1}}, {"bxae", {0, -1, -1, -1}},
    };
    for (Case const& c : cases) {
        TrapContext ctx;
        trap_init(&ctx, "public");
        std::vector<int> results;
        for (char const* call = c.calls; *call; ++call) {
            switch (*call) {
            case 'b': results.push_back(trap_pack_begin(&ctx)); break;
            case 'a': results.push_back(trap_pack_add(&ctx, kName, 8, kGauge32, &one, 4)); break;
            case 'x': results.push_back(trap_pack_add(&ctx, kName, 8, kGauge32, &one, 2)); break;
            case 'e': results.push_back(trap_pack_end(&ctx)); break;
            }
        }
        EXPECT_EQ(results, c.results) << c.calls;
    }
    TrapContext ctx;
    trap_init(&ctx, "public");
    trap_pack_begin(&ctx);
    trap_pack_end(&ctx);
    Bytes const tail(ctx.buffer + ctx.length - 4, ctx.buffer + ctx.length);
    EXPECT_EQ(tail, (Bytes{0x30, 0x82, 0x00, 0x00})) << "an empty variable-bindings list";
    EXPECT_EQ(trap_pack_begin(nullptr), -1);
    EXPECT_EQ(trap_pack_add(nullptr, kName, 8, kNull, nullptr, 0), -1);
    EXPECT_EQ(trap_pack_end(nullptr), -1);
}

TEST(TrapPacker, BindingValues)
{
    std::uint32_t const arcs[] = {1, 3, 6};
    std::int32_t const minus5 = -5;
    std::uint32_t const seven = 7;
    // The value's encoding; empty: refused.
    struct Case { std::uint8_t type; void const* value; std::size_t size; Bytes expected; } const cases[] = {
        {kInteger, &minus5, 4, {0x02, 0x01, 0xFB}},
        {kInteger, &minus5, 3, {}},
        {kBitString, "\x00\xA0", 2, {0x03, 0x02, 0x00, 0xA0}},
        {kBitString, nullptr, 2, {}},
        {kOctetString, nullptr, 2, {0x04, 0x02, 0x00, 0x00}},
        {kIpAddress, "\x0A\x01\x02\x03", 4, {0x40, 0x04, 0x0A, 0x01, 0x02, 0x03}},
        {kIpAddress, "\x0A\x01\x02\x03", 5, {}},
        {kOpaque, "ab", 2, {0x44, 0x02, 'a', 'b'}},
        {kNsapAddress, "a", 1, {0x45, 0x01, 'a'}},
        {kNull, nullptr, 0, {0x05, 0x00}},
        {kObjectId, arcs, sizeof arcs, {0x06, 0x02, 0x2B, 0x06}},
        {kObjectId, arcs, 6, {}},
        {kCounter32, &seven, 4, {0x41, 0x01, 0x07}},
        {kGauge32, &seven, 4, {0x42, 0x01, 0x07}},
        {kTimeTicks, &seven, 2, {}},
        {kUInteger32, &seven, 4, {0x47, 0x01, 0x07}},
        {0x46, &seven, 4, {}},  // Counter64
    };
    for (Case const& c : cases) {
        TrapContext ctx;
        trap_init(&ctx, "public");
        trap_pack_begin(&ctx);
        int const added = trap_pack_add(&ctx, kName, 8, c.type, c.value, c.size);
        if (c.expected.empty()) {
            EXPECT_EQ(added, -1) << int(c.type);
            continue;
        }
        ASSERT_EQ(added, 0) << int(c.type);
        ASSERT_EQ(trap_pack_end(&ctx), 0);
        Bytes const whole = message(ctx);
        EXPECT_EQ(Bytes(whole.end() - c.expected.size(), whole.end()), c.expected) << int(c.type);
    }
}

TEST(TrapPacker, Bounds)
{
    // Bindings of 100 bytes until the buffer is full: the one that does not fit fails,
    // and so does everything after it.
    TrapContext ctx;
    trap_init(&ctx, "public");
    trap_pack_begin(&ctx);
    std::string const text(100, 'x');
    std::size_t const fixedPart = *ctx.writePos, binding = 4 + 11 + 2 + text.size();
    int added = 0;
    while (trap_pack_add(&ctx, kName, 8, kOctetString, text.data(), text.size()) == 0)
        ++added;
    EXPECT_EQ(added, int((kBufferSize - fixedPart) / binding));
    EXPECT_EQ(trap_pack_add(&ctx, kName, 8, kNull, nullptr, 0), -1);
    EXPECT_EQ(trap_pack_end(&ctx), -1);
    EXPECT_EQ(ctx.length, 0u);

    // A fixed part that does not fit the room.
    trap_init(&ctx, "public");
    ctx.room = 20;
    EXPECT_EQ(trap_pack_begin(&ctx), -1);
    EXPECT_EQ(trap_pack_end(&ctx), -1);

    // The community as written into the message.
    struct Case { char const* given; std::string written; } const cases[] = {
        {nullptr, "corvel"}, {"", ""}, {"0123456789abcdefghijklmnopqrstuvwxyzABCD", "0123456789abcdefghijklmnopqrstu"},
    };
    for (Case const& c : cases) {
        trap_init(&ctx, c.given);
        trap_pack_begin(&ctx);
        ASSERT_EQ(trap_pack_end(&ctx), 0);
        EXPECT_EQ(ctx.buffer[8], c.written.size());
        EXPECT_EQ(std::string(ctx.buffer + 9, ctx.buffer + 9 + ctx.buffer[8]), c.written);
    }
}

TEST(TrapPacker, ParseOid)
{
    // No arcs expected: 0 returned.
    struct Case { char const* text; int max; std::vector<std::uint32_t> arcs; } const cases[] = {
        {"1.3.6.1", 8, {1, 3, 6, 1}},
        {".1.3.6.1.2.1.1.3.0", 9, {1, 3, 6, 1, 2, 1, 1, 3, 0}},
        {"1.4294967295", 2, {1, 4294967295u}},
        {"1.4294967296", 2, {}},
        {"1.3.6", 2, {}},
        {"1..3", 8, {}},
        {"1.3.", 8, {}},
        {"1.-3", 8, {}},
        {"1.3a", 8, {}},
        {"", 8, {}},
        {"1.3", 0, {}},
        {nullptr, 8, {}},
    };
    for (Case const& c : cases) {
        std::uint32_t arcs[16] = {};
        int const n = parse_oid(arcs, c.max, c.text);
        EXPECT_EQ(std::vector<std::uint32_t>(arcs, arcs + n), c.arcs) << (c.text ? c.text : "null");
    }
    std::string zeros;
    for (int i = 0; i < 62; ++i)
        zeros += ".0";
    std::uint32_t arcs[kMaxArcs];
    EXPECT_EQ(parse_oid(arcs, kMaxArcs, ("1.3" + zeros).c_str()), 64) << "127 characters";
    EXPECT_EQ(parse_oid(arcs, kMaxArcs, ("1.30" + zeros).c_str()), 0) << "128 characters";
}

TEST(TrapPacker, UptimeFollowsTheBootClock)
{
    // sysinfo rounds the seconds since boot up.
    struct sysinfo before {}, after {};
    ::sysinfo(&before);
    std::uint64_t const ticks = get_uptime();
    ::sysinfo(&after);
    EXPECT_GE(ticks, std::uint64_t(before.uptime - 1) * 100);
    EXPECT_LE(ticks, std::uint64_t(after.uptime) * 100);
}

// The trap the independent decoders read, each binding with what they print of it.
struct Sample {
    char const* oid;
    std::uint8_t type;
    std::uint32_t number;
    std::string bytes;  // an OID value as text
    char const* byReceiver;
    char const* byDissector;
};

std::vector<Sample> const kSample = {
    {"1.3.6.1.2.1.1.3.0", kTimeTicks, 4242, "", "Timeticks: (4242)", "Value (Timeticks): 4242"},
    {"1.3.6.1.6.3.1.1.4.1.0", kObjectId, 0, "1.3.6.1.4.1.99999.0.1", "OID: .1.3.6.1.4.1.99999.0.1",
     "Value (OID): 1.3.6.1.4.1.99999.0.1"},
    {"1.3.6.1.4.1.99999.1.1", kInteger, std::uint32_t(-5), "", "INTEGER: -5", "Value (Integer32): -5"},
    {"1.3.6.1.4.1.99999.1.2", kOctetString, 0, "hello", "STRING: \"hello\"", "Value (OctetString): \"hello\""},
    {"1.3.6.1.4.1.99999.1.3", kCounter32, 0x80000000u, "", "Counter32: 2147483648", "Value (Counter32): 2147483648"},
    {"1.3.6.1.4.1.99999.1.4", kIpAddress, 0, "\x0A\x01\x02\x03", "IpAddress: 10.1.2.3", "Value (IpAddress): 10.1.2.3"},
    {"1.3.6.1.4.1.99999.1.5", kNull, 0, "", "NULL", "Value (Null)"},
};

std::string packSample(std::int32_t& requestId)
{
    TrapContext ctx;
    snmp_session_seed(&ctx, 2024);
    trap_init(&ctx, "public");
    trap_pack_begin(&ctx);
    for (Sample const& s : kSample) {
        std::uint32_t name[kMaxArcs], value[kMaxArcs];
        int const n = parse_oid(name, kMaxArcs, s.oid);
        if (s.type == kObjectId)
            trap_pack_add(&ctx, name, n, s.type, value, 4 * parse_oid(value, kMaxArcs, s.bytes.c_str()));
        else if (s.bytes.empty())
            trap_pack_add(&ctx, name, n, s.type, &s.number, 4);
        else
            trap_pack_add(&ctx, name, n, s.type, s.bytes.data(), s.bytes.size());
    }
    EXPECT_EQ(trap_pack_end(&ctx), 0);
    requestId = ctx.requestId;
    return std::string(ctx.buffer, ctx.buffer + ctx.length);
}

TEST(TrapPacker, ReceivedBySnmptrapd)
{
    std::string const tool = testsupport::findTool("snmptrapd");
    if (tool.empty())
        GTEST_SKIP() << "snmptrapd is not installed (scripts/setup installs it): no independent receiver";
    testsupport::DaemonLauncher receiver(tool, {"/persist"});
    std::uint16_t const port = testsupport::freePort(SOCK_DGRAM);
    receiver.writeFile("/snmptrapd.conf",
                       "authCommunity log public\n[snmp] persistentDir " + receiver.path("/persist") + "\n");
    // Foreground, its own configuration only, numeric OIDs, no MIBs, no agent connection, the
    // decoded fields (the request id among them) logged to the standard output.
    ASSERT_TRUE(receiver.start({"-f", "-Lo", "-C", "-c", receiver.path("/snmptrapd.conf"), "-On", "-m", "", "-M",
                                "/dev/null", "-X", "-Ddumpv_recv", "udp:127.0.0.1:" + std::to_string(port)}));
    // Its start-up line names its version.
    ASSERT_TRUE(receiver.waitForOut(" version ", 10000)) << receiver.out() << receiver.err();

    std::int32_t requestId = 0;
    std::string const trap = packSample(requestId);
    Fd out(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::sendto(out.lowlevel_fd(), trap.data(), trap.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              ssize_t(trap.size()));

    std::string const lastBinding = std::string(".") + kSample.back().oid + " = " + kSample.back().byReceiver;
    EXPECT_TRUE(receiver.waitForOut(lastBinding, 10000)) << receiver.out();
    std::string const text = receiver.out();
    EXPECT_NE(text.find("Command TRAP2\n  Integer:\t" + std::to_string(requestId) + " "), std::string::npos) << text;
    for (Sample const& s : kSample)
        EXPECT_NE(text.find(std::string(".") + s.oid + " = " + s.byReceiver), std::string::npos) << s.oid << text;
    EXPECT_EQ(receiver.stop(10000), 0);
}

TEST(TrapPacker, DecodedByTshark)
{
    std::string const tool = testsupport::findTool("tshark");
    if (tool.empty())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): no independent dissector";
    testsupport::DaemonLauncher dissector(tool, {});
    std::int32_t requestId = 0;
    std::string const trap = packSample(requestId);

    // One packet from 127.0.0.1:40000 to 127.0.0.1:162.
    testsupport::PcapWriter capture(testsupport::PcapWriter::kRawIp);
    capture.addUdp(40000, 162, trap);
    dissector.writeFile("/trap.pcap", capture.bytes());

    std::vector<std::string> const args = {"-r", dissector.path("/trap.pcap"), "-d", "udp.port==162,snmp",
                                           "-V", "-O", "snmp"};
    ASSERT_EQ(dissector.run(args, 20000), 0) << dissector.err();
    std::string const text = dissector.out();
    EXPECT_NE(text.find("request-id: " + std::to_string(requestId) + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("variable-bindings: " + std::to_string(kSample.size()) + " items"), std::string::npos) << text;
    for (Sample const& s : kSample) {
        EXPECT_NE(text.find(std::string("Object Name: ") + s.oid + " "), std::string::npos) << s.oid << text;
        EXPECT_NE(text.find(s.byDissector), std::string::npos) << s.oid << text;
    }
    EXPECT_EQ(text.find("Malformed"), std::string::npos) << text;
}

}  // namespace
