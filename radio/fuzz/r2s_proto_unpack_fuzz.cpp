// Fuzz target of the ED-137 extension unpackers: any payload, read in either direction, must
// decode or be refused without a read outside it and with at most 16 features; what decodes
// completely must pack and decode again to the same record.

#include "radio/r2s_proto.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using Unpacker = int (*)(r2s_proto*, std::uint8_t const*, std::size_t);

void check(std::uint8_t const* payload, std::size_t size, Unpacker unpack)
{
    r2s_proto rec;
    r2s_proto_init(&rec, 0);
    int r = unpack(&rec, payload, size);
    if (rec.count > R2S_PROTO_MAX_ADDITIONALS || (r != 0 && r != R2S_PROTO_ERR_LENGTH))
        std::abort();
    if (r != 0)
        return;
    std::uint8_t packed[1024];
    int n = r2s_proto_pack(&rec, packed, sizeof packed);
    if (n < 2 || std::size_t(n) > sizeof packed)
        std::abort();
    r2s_proto again;
    r2s_proto_init(&again, 0);
    if (unpack(&again, packed, std::size_t(n)) != 0 || std::memcmp(&again, &rec, sizeof rec) != 0)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // An exact copy, so the address checker sees every read past the payload (never a null
    // pointer, even when empty).
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    check(copy.get(), size, r2s_proto_unpack_rx);
    check(copy.get(), size, r2s_proto_unpack_tx);
    return 0;
}
