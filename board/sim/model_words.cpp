#include "board/sim/model_words.h"

#include <cerrno>
#include <cstdlib>

namespace board::sim {

bool parseNumber(std::string const& text, long& value, long min, long max)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long const v = std::strtol(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || v < min || v > max)
        return false;
    value = v;
    return true;
}

}  // namespace board::sim
