#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Builds one SNMPv2c trap (a community message whose PDU is an SNMPv2-Trap-PDU, in BER)
// into the fixed buffer of a caller-owned context, the variable bindings added one by one:
//
//   snmp_session_seed(&ctx, seed);          // once
//   trap_init(&ctx, "public");              // per trap: a fresh context, the next request id
//   trap_pack_begin(&ctx);
//   trap_pack_add(&ctx, arcs, count, type, &value, sizeof value);   // per binding
//   trap_pack_end(&ctx);                    // the message: ctx.buffer[0 .. ctx.length)
//
// Every packing function returns 0, or -1 when it is called out of order or the message
// would not fit. After a failed trap_pack_add the context is spent until trap_init.
namespace SnmpTrap {

constexpr std::size_t kBufferSize = 2048;
constexpr std::size_t kCommunitySize = 32;  // 31 characters and the terminating zero
constexpr std::size_t kMaxArcs = 128;

// BER tags and the SNMP value types a binding can take.
enum : std::uint8_t {
    kInteger = 0x02,
    kBitString = 0x03,
    kOctetString = 0x04,
    kNull = 0x05,
    kObjectId = 0x06,
    kSequence = 0x30,
    kIpAddress = 0x40,
    kCounter32 = 0x41,
    kGauge32 = 0x42,
    kTimeTicks = 0x43,
    kOpaque = 0x44,
    kNsapAddress = 0x45,
    kUInteger32 = 0x47,
    kTrapPdu = 0xA7,
};

// Where a context stands.
enum TrapState : std::int32_t { kInitialised = 0, kBegun = 1, kBindingsAdded = 2, kFinished = 3 };

// A position in TrapContext::buffer, kept as an offset so that a context may be copied.
using Position = std::optional<std::uint32_t>;

struct TrapContext {
    std::int32_t version = 0;
    std::int32_t pduType = 0;  // only its low byte is written
    std::int32_t requestId = 0;
    std::int32_t errorStatus = 0;
    std::int32_t errorIndex = 0;
    char community[kCommunitySize] = {};
    std::int32_t state = kInitialised;
    std::uint8_t buffer[kBufferSize] = {};
    std::uint32_t room = 0;    // bytes still free in buffer
    std::uint32_t length = 0;  // of the finished message
    Position messageStart;     // first byte after the message header
    Position pduHeader;
    Position pduStart;         // first byte after the PDU header
    Position bindingsHeader;
    Position bindingsStart;    // first byte after the variable-bindings header
    Position writePos;         // next byte to write
};

// Stores the seed as the request id the next trap_init advances. Returns 0.
int snmp_session_seed(TrapContext* ctx, std::uint32_t seed);
// Starts a trap over: the next request id (odd and positive), version 1, the community cut
// at 31 characters ("corvel" when null), an empty buffer. Returns 0.
int trap_init(TrapContext* ctx, char const* community);
// Writes the message up to the variable bindings, the three headers as placeholders.
int trap_pack_begin(TrapContext* ctx);
// Appends one binding: the OID of count arcs and a value of the given type, size bytes at
// value (a 32-bit number for the integer types, an arc array for an OID).
int trap_pack_add(TrapContext* ctx, std::uint32_t const* arcs, std::size_t count, std::uint8_t type,
                  void const* value, std::size_t size);
// Fills the placeholder lengths and sets ctx->length.
int trap_pack_end(TrapContext* ctx);

// Time since boot in hundredths of a second, wrapping at 2^32 (a TimeTicks value).
std::uint32_t get_uptime();
// Converts dotted decimal text ("1.3.6.1.2.1.1.3.0", a leading dot allowed) into at most
// max arcs. Returns the number stored; 0 for null arguments and for text that is not such
// an OID of at most max arcs and 127 characters.
int parse_oid(std::uint32_t* arcs, int max, char const* text);

// BER builders. Each writes at pos within room bytes and returns the position after what
// it wrote, room decreased by as much; null when pos is null, it does not fit or the value
// is refused.

// Tag and definite length.
std::uint8_t* asn_build_header(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::size_t length);
// A length: one byte below 128, 0x81 and one byte to 255, 0x82 and two bytes to 65535.
std::uint8_t* asn_build_length(std::uint8_t* pos, std::uint32_t& room, std::size_t length);
// The shortest two's-complement form.
std::uint8_t* asn_build_int(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::int32_t value);
// The shortest form with a clear sign bit (five bytes when the top bit is set).
std::uint8_t* asn_build_unsigned_int(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::uint32_t value);
// A constructed header of always four bytes: tag, 0x82, the length's two bytes.
std::uint8_t* asn_build_sequence(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::size_t length);
std::uint8_t* asn_build_null(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag);
// The bytes as given (the unused-bit count first); empty or null is refused.
std::uint8_t* asn_build_bitstring(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag,
                                  std::uint8_t const* value, std::size_t size);
// The bytes as given; size zero bytes when value is null.
std::uint8_t* asn_build_string(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag,
                               std::uint8_t const* value, std::size_t size);
// At most 128 arcs, the first at most 2, the second at most 39 under a first of 0 or 1.
std::uint8_t* asn_build_objid(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag,
                              std::uint32_t const* arcs, std::size_t count);
// One variable binding: SEQUENCE { OID, value of the type }.
std::uint8_t* snmp_build_var_op(std::uint8_t* pos, std::uint32_t& room, std::uint32_t const* arcs,
                                std::size_t count, std::uint8_t type, void const* value, std::size_t size);
// pos when a header was written there and the room left holds length bytes of content.
std::uint8_t* _asn_build_header_check(std::uint8_t* pos, std::uint32_t room, std::size_t length);

}  // namespace SnmpTrap
