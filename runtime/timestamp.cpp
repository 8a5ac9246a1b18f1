#include "runtime/timestamp.h"

#include <ctime>
#include <ostream>

std::ostream& timestamp(std::ostream& os)
{
    std::time_t now = std::time(nullptr);
    if (now == std::time_t(-1))
        return os;
    std::tm local;
    if (!::localtime_r(&now, &local))
        return os;
    char buf[256];
    if (std::strftime(buf, sizeof buf, "%d/%m %H:%M:%S", &local) > 0)
        os << buf;
    return os;
}
