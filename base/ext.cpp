#include "base/ext.h"

#include <ios>

namespace ext {

std::ostream& operator<<(std::ostream& os, OutBufInHex const& h)
{
    std::ios_base::fmtflags const saved = os.flags();
    os.fill('0');
    for (unsigned char const* p = h.begin; p != h.end; ++p) {
        os.flags(std::ios_base::hex | std::ios_base::right | std::ios_base::uppercase);
        os.width(2);
        os << static_cast<unsigned int>(*p) << ' ';
    }
    os.fill(' ');
    os.flags(saved);
    return os;
}

std::ostream& operator<<(std::ostream& os, OutUnsignedInHex const& h)
{
    std::ios_base::fmtflags const saved = os.flags();
    os.fill('0');
    os.flags(std::ios_base::hex | std::ios_base::right | std::ios_base::uppercase);
    os << "0x";
    os.width(h.width);
    os << h.value;
    os.fill(' ');
    os.flags(saved);
    return os;
}

}  // namespace ext
