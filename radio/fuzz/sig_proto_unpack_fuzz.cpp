// Fuzz target of the ZARN packet unpacker: any payload must decode or be refused without a
// read outside it, a refused payload must leave the record as it was (but for the type of an
// unknown one), and a decoded one must pack and decode again to the same record.

#include "radio/sig_proto.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // An exact copy, so the address checker sees every read past the payload (never a null
    // pointer, even when empty).
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    sig_proto rec;
    std::memset(&rec, 0xA5, sizeof rec);
    sig_proto const before = rec;
    int r = sig_proto_unpack(&rec, copy.get(), size);
    if (r == SIG_PROTO_ERR_TYPE)
        rec.type = before.type;
    if (r != 0) {
        if (std::memcmp(&rec, &before, sizeof rec) != 0)
            std::abort();
        return 0;
    }
    std::uint8_t packed[1024];
    int n = sig_proto_pack(&rec, packed, sizeof packed);
    if (n < 4 || std::size_t(n) > sizeof packed)
        std::abort();
    sig_proto again = before;
    if (sig_proto_unpack(&again, packed, std::size_t(n)) != 0 || std::memcmp(&again, &rec, sizeof rec) != 0)
        std::abort();
    char text[512];
    int length = sprintf_sig_proto(text, sizeof text, &rec, SIG_PROTO_PRINT_TYPE_NAME);
    if (length < 0 || std::size_t(length) >= sizeof text || text[length] != '\0')
        std::abort();
    return 0;
}
