#include "monitoring/trap_packer.h"

#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace SnmpTrap {

namespace {

static_assert(kBufferSize <= 0xFFFF, "a constructed header holds a two-byte length");
static_assert(sizeof(TrapContext::buffer) == kBufferSize && sizeof(TrapContext::community) == kCommunitySize);

char const kDefaultCommunity[] = "corvel";
constexpr std::uint32_t kSequenceHeaderSize = 4;
constexpr std::size_t kMaxOidText = 127;

// Writes n bytes (zeros when bytes is null) when they fit.
std::uint8_t* put(std::uint8_t* pos, std::uint32_t& room, std::uint8_t const* bytes, std::size_t n)
{
    if (!pos || room < n)
        return nullptr;
    if (bytes)
        std::memcpy(pos, bytes, n);
    else
        std::memset(pos, 0, n);
    room -= std::uint32_t(n);
    return pos + n;
}

// Tag and length, then the content bytes when they fit in the room left.
std::uint8_t* primitive(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::uint8_t const* bytes,
                        std::size_t n)
{
    pos = asn_build_header(pos, room, tag, n);
    pos = _asn_build_header_check(pos, room, n);
    return put(pos, room, bytes, n);
}

// The content of an integer: the four bytes of bits without the leading bytes that only
// repeat the sign, or, for an unsigned value with its top bit set, 0x00 and the four bytes.
struct IntegerContent {
    std::uint8_t bytes[5];
    std::size_t size;
};

IntegerContent integerContent(std::uint32_t bits, bool asUnsigned)
{
    std::uint8_t const four[4] = {std::uint8_t(bits >> 24), std::uint8_t(bits >> 16), std::uint8_t(bits >> 8),
                                  std::uint8_t(bits)};
    IntegerContent c{};
    if (asUnsigned && (bits & 0x80000000u)) {
        std::memcpy(c.bytes + 1, four, 4);
        c.size = 5;
        return c;
    }
    std::size_t first = 0;
    while (first < 3) {
        bool const sign = four[first + 1] & 0x80;
        if (!(four[first] == 0x00 && !sign) && !(four[first] == 0xFF && sign))
            break;
        ++first;
    }
    c.size = 4 - first;
    std::memcpy(c.bytes, four + first, c.size);
    return c;
}

// An OID's subidentifiers: the first joins the first two arcs (first x 40 + second; a
// single arc x gives x x 40, no arc gives 0), then one per further arc.
std::size_t subidentifierCount(std::size_t arcs) { return arcs < 2 ? 1 : arcs - 1; }

std::uint64_t subidentifier(std::uint32_t const* arcs, std::size_t count, std::size_t i)
{
    if (i > 0)
        return arcs[i + 1];
    if (count == 0)
        return 0;
    return std::uint64_t(arcs[0]) * 40 + (count > 1 ? arcs[1] : 0);
}

std::size_t base128Size(std::uint64_t v)
{
    std::size_t n = 1;
    while (v >>= 7)
        ++n;
    return n;
}

// Most significant group first, the top bit set on every byte but the last.
std::uint8_t* putBase128(std::uint8_t* pos, std::uint64_t v)
{
    for (std::size_t i = base128Size(v); i-- > 0;)
        *pos++ = std::uint8_t(((v >> (7 * i)) & 0x7F) | (i ? 0x80 : 0));
    return pos;
}

bool oidAllowed(std::uint32_t const* arcs, std::size_t count)
{
    if (count > kMaxArcs || (count > 0 && !arcs))
        return false;
    if (count > 0 && arcs[0] > 2)
        return false;
    // Beyond 39 the joined first subidentifier would read as an arc under 2.
    return count < 2 || arcs[0] == 2 || arcs[1] <= 39;
}

// A 32-bit number given as size bytes at value.
bool number(void const* value, std::size_t size, std::uint32_t& out)
{
    if (!value || size != sizeof out)
        return false;
    std::memcpy(&out, value, sizeof out);
    return true;
}

std::uint8_t* buildValue(std::uint8_t* pos, std::uint32_t& room, std::uint8_t type, void const* value,
                         std::size_t size)
{
    auto const* bytes = static_cast<std::uint8_t const*>(value);
    std::uint32_t n = 0;
    switch (type) {
    case kInteger:
        return number(value, size, n) ? asn_build_int(pos, room, type, std::int32_t(n)) : nullptr;
    case kCounter32:
    case kGauge32:
    case kTimeTicks:
    case kUInteger32:
        return number(value, size, n) ? asn_build_unsigned_int(pos, room, type, n) : nullptr;
    case kBitString:
        return asn_build_bitstring(pos, room, type, bytes, size);
    case kIpAddress:
        return size == 4 ? asn_build_string(pos, room, type, bytes, size) : nullptr;
    case kOctetString:
    case kOpaque:
    case kNsapAddress:
        return asn_build_string(pos, room, type, bytes, size);
    case kNull:
        return asn_build_null(pos, room, type);
    case kObjectId: {
        // Copied, as the caller's bytes need not be aligned for 32-bit arcs.
        std::uint32_t arcs[kMaxArcs];
        if (size % sizeof *arcs != 0 || size > sizeof arcs || (!value && size > 0))
            return nullptr;
        if (size > 0)
            std::memcpy(arcs, value, size);
        return asn_build_objid(pos, room, type, arcs, size / sizeof *arcs);
    }
    default:
        return nullptr;
    }
}

void fillSequenceLength(std::uint8_t* header, std::size_t length)
{
    header[2] = std::uint8_t(length >> 8);
    header[3] = std::uint8_t(length);
}

std::uint32_t offset(TrapContext const& ctx, std::uint8_t const* pos) { return std::uint32_t(pos - ctx.buffer); }

void forgetPositions(TrapContext& ctx)
{
    ctx.messageStart = ctx.pduHeader = ctx.pduStart = ctx.bindingsHeader = ctx.bindingsStart = ctx.writePos =
        std::nullopt;
}

// Every position recorded, each header four bytes before its content, in order within the buffer.
bool positionsSound(TrapContext const& ctx)
{
    if (!ctx.messageStart || !ctx.pduHeader || !ctx.pduStart || !ctx.bindingsHeader || !ctx.bindingsStart ||
        !ctx.writePos)
        return false;
    return *ctx.messageStart == kSequenceHeaderSize && *ctx.messageStart <= *ctx.pduHeader &&
           *ctx.pduHeader + kSequenceHeaderSize == *ctx.pduStart && *ctx.pduStart <= *ctx.bindingsHeader &&
           *ctx.bindingsHeader + kSequenceHeaderSize == *ctx.bindingsStart && *ctx.bindingsStart <= *ctx.writePos &&
           *ctx.writePos <= kBufferSize;
}

}  // namespace

int snmp_session_seed(TrapContext* ctx, std::uint32_t seed)
{
    if (ctx)
        ctx->requestId = std::int32_t(seed);
    return 0;
}

int trap_init(TrapContext* ctx, char const* community)
{
    if (!ctx)
        return 0;
    std::uint32_t const next = ((std::uint32_t(ctx->requestId) * 850009u + 991873u) & 0x7FFFFFFFu) | 1u;
    *ctx = TrapContext{};
    ctx->version = 1;
    ctx->pduType = kTrapPdu;
    ctx->requestId = std::int32_t(next);
    char const* const text = community ? community : kDefaultCommunity;
    std::memcpy(ctx->community, text, ::strnlen(text, kCommunitySize - 1));
    ctx->room = kBufferSize;
    return 0;
}

int trap_pack_begin(TrapContext* ctx)
{
    if (!ctx || ctx->state != kInitialised)
        return -1;
    ctx->state = kBegun;
    forgetPositions(*ctx);
    if (ctx->room > kBufferSize)
        return -1;
    std::uint32_t room = ctx->room;
    std::uint8_t* pos = asn_build_sequence(ctx->buffer, room, kSequence, 0);
    std::uint8_t* const messageStart = pos;
    pos = asn_build_int(pos, room, kInteger, ctx->version);
    pos = asn_build_string(pos, room, kOctetString, reinterpret_cast<std::uint8_t const*>(ctx->community),
                           ::strnlen(ctx->community, kCommunitySize - 1));
    std::uint8_t* const pduHeader = pos;
    pos = asn_build_sequence(pos, room, std::uint8_t(ctx->pduType), 0);
    std::uint8_t* const pduStart = pos;
    pos = asn_build_int(pos, room, kInteger, ctx->requestId);
    pos = asn_build_int(pos, room, kInteger, ctx->errorStatus);
    pos = asn_build_int(pos, room, kInteger, ctx->errorIndex);
    std::uint8_t* const bindingsHeader = pos;
    pos = asn_build_sequence(pos, room, kSequence, 0);
    ctx->room = room;
    if (!pos)
        return -1;
    ctx->messageStart = offset(*ctx, messageStart);
    ctx->pduHeader = offset(*ctx, pduHeader);
    ctx->pduStart = offset(*ctx, pduStart);
    ctx->bindingsHeader = offset(*ctx, bindingsHeader);
    ctx->bindingsStart = ctx->writePos = offset(*ctx, pos);
    return 0;
}

int trap_pack_add(TrapContext* ctx, std::uint32_t const* arcs, std::size_t count, std::uint8_t type,
                  void const* value, std::size_t size)
{
    if (!ctx || (ctx->state != kBegun && ctx->state != kBindingsAdded) || !ctx->writePos ||
        *ctx->writePos + std::size_t(ctx->room) > kBufferSize)
        return -1;
    std::uint8_t* const start = ctx->buffer + *ctx->writePos;
    ctx->writePos = std::nullopt;
    std::uint8_t* const end = snmp_build_var_op(start, ctx->room, arcs, count, type, value, size);
    if (!end)
        return -1;
    ctx->writePos = offset(*ctx, end);
    ctx->state = kBindingsAdded;
    return 0;
}

int trap_pack_end(TrapContext* ctx)
{
    if (!ctx || (ctx->state != kBegun && ctx->state != kBindingsAdded) || !positionsSound(*ctx))
        return -1;
    std::uint32_t const end = *ctx->writePos;
    fillSequenceLength(ctx->buffer + *ctx->bindingsHeader, end - *ctx->bindingsStart);
    fillSequenceLength(ctx->buffer + *ctx->pduHeader, end - *ctx->pduStart);
    fillSequenceLength(ctx->buffer, end - *ctx->messageStart);
    ctx->length = end;
    ctx->state = kFinished;
    return 0;
}

std::uint32_t get_uptime()
{
    // The boot-time clock: sysinfo's uptime in finer steps, never going back.
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return std::uint32_t(std::uint64_t(now.tv_sec) * 100 + std::uint64_t(now.tv_nsec) / 10000000);
}

int parse_oid(std::uint32_t* arcs, int max, char const* text)
{
    if (!arcs || !text || max <= 0)
        return 0;
    std::size_t const length = ::strnlen(text, kMaxOidText + 1);
    if (length > kMaxOidText)
        return 0;
    char copy[kMaxOidText + 1] = {};
    std::memcpy(copy, text, length);
    char* piece = copy[0] == '.' ? copy + 1 : copy;
    int count = 0;
    while (*piece) {
        std::size_t const digits = std::strspn(piece, "0123456789");
        if (digits == 0 || (piece[digits] != '.' && piece[digits] != '\0') || count == max)
            return 0;
        bool const last = piece[digits] == '\0';
        piece[digits] = '\0';
        errno = 0;
        unsigned long long const arc = std::strtoull(piece, nullptr, 10);
        if (errno == ERANGE || arc > 0xFFFFFFFFull)
            return 0;
        arcs[count++] = std::uint32_t(arc);
        if (last)
            break;
        piece += digits + 1;
        if (!*piece)
            return 0;  // a trailing dot
    }
    return count;
}

std::uint8_t* asn_build_header(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::size_t length)
{
    return asn_build_length(put(pos, room, &tag, 1), room, length);
}

std::uint8_t* asn_build_length(std::uint8_t* pos, std::uint32_t& room, std::size_t length)
{
    if (length < 0x80) {
        std::uint8_t const one = std::uint8_t(length);
        return put(pos, room, &one, 1);
    }
    if (length <= 0xFF) {
        std::uint8_t const two[2] = {0x81, std::uint8_t(length)};
        return put(pos, room, two, 2);
    }
    if (length <= 0xFFFF) {
        std::uint8_t const three[3] = {0x82, std::uint8_t(length >> 8), std::uint8_t(length)};
        return put(pos, room, three, 3);
    }
    return nullptr;
}

std::uint8_t* asn_build_int(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::int32_t value)
{
    IntegerContent const c = integerContent(std::uint32_t(value), false);
    return primitive(pos, room, tag, c.bytes, c.size);
}

std::uint8_t* asn_build_unsigned_int(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::uint32_t value)
{
    IntegerContent const c = integerContent(value, true);
    return primitive(pos, room, tag, c.bytes, c.size);
}

std::uint8_t* asn_build_sequence(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag, std::size_t length)
{
    if (length > 0xFFFF)
        return nullptr;
    std::uint8_t const header[kSequenceHeaderSize] = {tag, 0x82, std::uint8_t(length >> 8), std::uint8_t(length)};
    return put(pos, room, header, sizeof header);
}

std::uint8_t* asn_build_null(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag)
{
    return asn_build_header(pos, room, tag, 0);
}

std::uint8_t* asn_build_bitstring(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag,
                                  std::uint8_t const* value, std::size_t size)
{
    if (!value || size == 0)
        return nullptr;
    return primitive(pos, room, tag, value, size);
}

std::uint8_t* asn_build_string(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag,
                               std::uint8_t const* value, std::size_t size)
{
    return primitive(pos, room, tag, value, size);
}

std::uint8_t* asn_build_objid(std::uint8_t* pos, std::uint32_t& room, std::uint8_t tag,
                              std::uint32_t const* arcs, std::size_t count)
{
    if (!oidAllowed(arcs, count))
        return nullptr;
    std::size_t const subids = subidentifierCount(count);
    std::size_t size = 0;
    for (std::size_t i = 0; i < subids; ++i)
        size += base128Size(subidentifier(arcs, count, i));
    pos = asn_build_header(pos, room, tag, size);
    pos = _asn_build_header_check(pos, room, size);
    if (!pos)
        return nullptr;
    for (std::size_t i = 0; i < subids; ++i)
        pos = putBase128(pos, subidentifier(arcs, count, i));
    room -= std::uint32_t(size);
    return pos;
}

std::uint8_t* snmp_build_var_op(std::uint8_t* pos, std::uint32_t& room, std::uint32_t const* arcs,
                                std::size_t count, std::uint8_t type, void const* value, std::size_t size)
{
    std::uint8_t* const header = pos;
    pos = asn_build_sequence(pos, room, kSequence, 0);
    std::uint8_t* const start = pos;
    pos = asn_build_objid(pos, room, kObjectId, arcs, count);
    pos = buildValue(pos, room, type, value, size);
    if (!pos)
        return nullptr;
    fillSequenceLength(header, std::size_t(pos - start));
    return pos;
}

std::uint8_t* _asn_build_header_check(std::uint8_t* pos, std::uint32_t room, std::size_t length)
{
    return pos && room >= length ? pos : nullptr;
}

}  // namespace SnmpTrap
