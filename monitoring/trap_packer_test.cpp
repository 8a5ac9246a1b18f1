#include "monitoring/trap_packer.h"

#include "tests/daemon_launcher.h"
#include "tests/tcp_client.h"

#include <arpa/inet.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace SnmpTrap;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes message(TrapContext const& ctx) { return Bytes(ctx.buffer, ctx.buffer + ctx.length); }

// The name of the bindings the tests add: 1.3.6.1.4.1.99999.1.
std::uint32_t const kName[] = {1, 3, 6, 1, 4, 1, 99999, 1};

TEST(TrapPacker, BerEncodings)
{
    using Build = std::function<std::uint8_t*(std::uint8_t*, std::uint32_t&)>;
    std::uint32_t const many[kMaxArcs + 1] = {1, 3};
    std::uint8_t const bits[] = {0x00, 0xA0};
    struct Case {
        char const* what;
        Build build;
        Bytes expected;  // empty: refused
    } const cases[] = {
        {"int 127", [](auto p, auto& r) { return asn_build_int(p, r, 2, 127); }, {0x02, 0x01, 0x7F}},
        {"int 128", [](auto p, auto& r) { return asn_build_int(p, r, 2, 128); }, {0x02, 0x02, 0x00, 0x80}},
        {"int -1", [](auto p, auto& r) { return asn_build_int(p, r, 2, -1); }, {0x02, 0x01, 0xFF}},
        {"int -129", [](auto p, auto& r) { return asn_build_int(p, r, 2, -129); }, {0x02, 0x02, 0xFF, 0x7F}},
        {"int min", [](auto p, auto& r) { return asn_build_int(p, r, 2, INT32_MIN); }, {0x02, 0x04, 0x80, 0, 0, 0}},
        {"unsigned top bit", [](auto p, auto& r) { return asn_build_unsigned_int(p, r, 0x41, 0x80000000u); },
         {0x41, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}},
        {"unsigned 0xFFFF", [](auto p, auto& r) { return asn_build_unsigned_int(p, r, 0x42, 0xFFFF); },
         {0x42, 0x03, 0x00, 0xFF, 0xFF}},
        {"length 127", [](auto p, auto& r) { return asn_build_length(p, r, 127); }, {0x7F}},
        {"length 128", [](auto p, auto& r) { return asn_build_length(p, r, 128); }, {0x81, 0x80}},
        {"length 255", [](auto p, auto& r) { return asn_build_length(p, r, 255); }, {0x81, 0xFF}},
        {"length 256", [](auto p, auto& r) { return asn_build_length(p, r, 256); }, {0x82, 0x01, 0x00}},
        {"length 65536", [](auto p, auto& r) { return asn_build_length(p, r, 65536); }, {}},
        {"sequence", [](auto p, auto& r) { return asn_build_sequence(p, r, 0x30, 5); }, {0x30, 0x82, 0x00, 0x05}},
        {"null", [](auto p, auto& r) { return asn_build_null(p, r, 5); }, {0x05, 0x00}},
        {"bit string", [&](auto p, auto& r) { return asn_build_bitstring(p, r, 3, bits, 2); }, {0x03, 0x02, 0x00, 0xA0}},
        {"empty bit string", [&](auto p, auto& r) { return asn_build_bitstring(p, r, 3, bits, 0); }, {}},
        {"string of zeros", [](auto p, auto& r) { return asn_build_string(p, r, 4, nullptr, 3); }, {0x04, 0x03, 0, 0, 0}},
        {"int without room", [](auto p, auto&) { std::uint32_t r = 2; return asn_build_int(p, r, 2, 1); }, {}},
        {"oid 1.3.6.1", [](auto p, auto& r) { std::uint32_t a[] = {1, 3, 6, 1}; return asn_build_objid(p, r, 6, a, 4); },
         {0x06, 0x03, 0x2B, 0x06, 0x01}},
        {"oid of one arc", [](auto p, auto& r) { std::uint32_t a[] = {2}; return asn_build_objid(p, r, 6, a, 1); },
         {0x06, 0x01, 0x50}},
        {"oid of no arc", [](auto p, auto& r) { return asn_build_objid(p, r, 6, nullptr, 0); }, {0x06, 0x01, 0x00}},
        {"oid 1.39", [](auto p, auto& r) { std::uint32_t a[] = {1, 39}; return asn_build_objid(p, r, 6, a, 2); },
         {0x06, 0x01, 0x4F}},
        {"oid large arcs", [](auto p, auto& r) { std::uint32_t a[] = {2, 999, 0xFFFFFFFF}; return asn_build_objid(p, r, 6, a, 3); },
         {0x06, 0x07, 0x88, 0x37, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
        {"oid joined past 32 bits", [](auto p, auto& r) { std::uint32_t a[] = {2, 0xFFFFFFFF}; return asn_build_objid(p, r, 6, a, 2); },
         {0x06, 0x05, 0x90, 0x80, 0x80, 0x80, 0x4F}},
        {"oid first arc 3", [](auto p, auto& r) { std::uint32_t a[] = {3, 1}; return asn_build_objid(p, r, 6, a, 2); }, {}},
        // 1.40 would read back as 2.0.
        {"oid 1.40", [](auto p, auto& r) { std::uint32_t a[] = {1, 40}; return asn_build_objid(p, r, 6, a, 2); }, {}},
        {"oid of 129 arcs", [&](auto p, auto& r) { return asn_build_objid(p, r, 6, many, kMaxArcs + 1); }, {}},
    };
    for (Case const& c : cases) {
        std::uint8_t out[16] = {};
        std::uint32_t room = sizeof out;
        std::uint8_t* const end = c.build(out, room);
        if (c.expected.empty()) {
            EXPECT_EQ(end, nullptr) << c.what;
            continue;
        }
        ASSERT_NE(end, nullptr) << c.what;
        EXPECT_EQ(Bytes(out, end), c.expected) << c.what;
        EXPECT_EQ(room, sizeof out - c.expected.size()) << c.what;
    }
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
    struct Case {
        std::uint32_t seed;
        std::int32_t first, second;
    } const cases[] = {{0, 991873, 1288378715}, {12345, 1904418387, 1743328605}, {0xFFFFFFFF, 141865, 328434371}};
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
    struct Case {
        char const* calls;
        std::vector<int> results;
    } const cases[] = {
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
    std::vector<int> const withoutContext = {trap_pack_begin(nullptr), trap_pack_add(nullptr, kName, 8, kNull, nullptr, 0),
                                             trap_pack_end(nullptr)};
    EXPECT_EQ(withoutContext, (std::vector<int>{-1, -1, -1}));
}

TEST(TrapPacker, BindingValues)
{
    std::uint32_t const arcs[] = {1, 3, 6};
    std::int32_t const minus5 = -5;
    std::uint32_t const seven = 7;
    struct Case {
        std::uint8_t type;
        void const* value;
        std::size_t size;
        Bytes expected;  // the value's encoding; empty: refused
    } const cases[] = {
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
    Bytes const name = {0x06, 0x09, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x86, 0x8D, 0x1F, 0x01};
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
        Bytes binding = {0x30, 0x82, 0x00, std::uint8_t(name.size() + c.expected.size())};
        binding.insert(binding.end(), name.begin(), name.end());
        binding.insert(binding.end(), c.expected.begin(), c.expected.end());
        Bytes const whole = message(ctx);
        EXPECT_EQ(Bytes(whole.end() - binding.size(), whole.end()), binding) << int(c.type);
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
    struct Case {
        char const* given;
        std::string written;
    } const cases[] = {{nullptr, "corvel"}, {"", ""}, {"0123456789012345678901234567890123456789", "0123456789012345678901234567890"}};
    for (Case const& c : cases) {
        trap_init(&ctx, c.given);
        trap_pack_begin(&ctx);
        ASSERT_EQ(trap_pack_end(&ctx), 0);
        EXPECT_EQ(ctx.community, c.written);
        EXPECT_EQ(ctx.buffer[8], c.written.size());
        EXPECT_EQ(std::string(ctx.buffer + 9, ctx.buffer + 9 + ctx.buffer[8]), c.written);
    }
}

TEST(TrapPacker, ParseOid)
{
    struct Case {
        char const* text;
        int max;
        std::vector<std::uint32_t> arcs;  // empty: 0 returned
    } const cases[] = {
        {"1.3.6.1", 8, {1, 3, 6, 1}},
        {".1.3.6.1.2.1.1.3.0", 9, {1, 3, 6, 1, 2, 1, 1, 3, 0}},
        {"1.4294967295", 2, {1, 4294967295u}},
        {"1.4294967296", 2, {}},
        {"1.3.6", 2, {}},
        {"1..3", 8, {}},
        {"1.3.", 8, {}},
        {"1.-3", 8, {}},
        {"1.+3", 8, {}},
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

std::string findTool(std::string const& name)
{
    std::istringstream dirs(std::string(std::getenv("PATH") ? std::getenv("PATH") : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return "";
}

TEST(TrapPacker, ReceivedBySnmptrapd)
{
    std::string const tool = findTool("snmptrapd");
    if (tool.empty())
        GTEST_SKIP() << "snmptrapd is not installed (scripts/setup installs it): no independent receiver";
    testsupport::DaemonLauncher receiver(tool, {"/persist"});
    std::uint16_t const port = testsupport::freePort(SOCK_DGRAM);
    receiver.writeFile("/snmptrapd.conf", "authCommunity log public\n[snmp] persistentDir " + receiver.path("/persist") + "\n");
    // Foreground, its own configuration only, numeric OIDs, no MIBs, no agent connection, the
    // decoded fields (the request id among them) logged to the standard output.
    ASSERT_TRUE(receiver.start({"-f", "-Lo", "-C", "-c", receiver.path("/snmptrapd.conf"), "-On", "-m", "", "-M",
                                "/dev/null", "-X", "-Ddumpv_recv", "udp:127.0.0.1:" + std::to_string(port)}));
    ASSERT_TRUE(receiver.waitForOut("NET-SNMP version", 10000)) << receiver.out() << receiver.err();

    std::int32_t requestId = 0;
    std::string const trap = packSample(requestId);
    Fd out(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
    std::string const tool = findTool("tshark");
    if (tool.empty())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): no independent dissector";
    testsupport::DaemonLauncher dissector(tool, {});
    std::int32_t requestId = 0;
    std::string const trap = packSample(requestId);

    // One IPv4 packet (pcap link type 101, raw IP) from 127.0.0.1:40000 to 127.0.0.1:162.
    std::uint16_t const udpLength = std::uint16_t(8 + trap.size()), ipLength = std::uint16_t(20 + udpLength);
    std::uint8_t ip[28] = {0x45, 0, std::uint8_t(ipLength >> 8), std::uint8_t(ipLength), 0, 0, 0, 0, 64, 17, 0, 0,
                           127, 0, 0, 1, 127, 0, 0, 1, 0x9C, 0x40, 0, 162, std::uint8_t(udpLength >> 8),
                           std::uint8_t(udpLength)};
    std::uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2)
        sum += ip[i] << 8 | ip[i + 1];
    sum = ~((sum & 0xFFFF) + (sum >> 16)) & 0xFFFF;
    ip[10] = std::uint8_t(sum >> 8);
    ip[11] = std::uint8_t(sum);
    std::uint32_t const file[6] = {0xA1B2C3D4, 2 | 4 << 16, 0, 0, 65535, 101};
    std::uint32_t const record[4] = {0, 0, ipLength, ipLength};
    dissector.writeFile("/trap.pcap", std::string(reinterpret_cast<char const*>(file), sizeof file) +
                                          std::string(reinterpret_cast<char const*>(record), sizeof record) +
                                          std::string(reinterpret_cast<char const*>(ip), sizeof ip) + trap);

    ASSERT_EQ(dissector.run({"-r", dissector.path("/trap.pcap"), "-d", "udp.port==162,snmp", "-V", "-O", "snmp"}, 20000),
              0) << dissector.err();
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
