#include "monitoring/framer_data_holder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>

namespace {

// Each label is the name padded with blanks to 24 characters, then ": ".
char const stateLabel[] = "Current state           : ";
char const signalLabel[] = "Loss of Signal          : ";
char const alignmentLabel[] = "Loss of Frame Alignment : ";
char const negativeLabel[] = "Receive Slip Negative   : ";
char const positiveLabel[] = "Receive Slip Positive   : ";
static_assert(sizeof stateLabel == 27 && sizeof signalLabel == 27 && sizeof alignmentLabel == 27 &&
              sizeof negativeLabel == 27 && sizeof positiveLabel == 27);

// The rest of the line after the label's first occurrence, kept whole.
bool valueOf(std::string const& line, char const* label, std::string& value)
{
    std::size_t const at = line.find(label);
    if (at == std::string::npos)
        return false;
    value = line.substr(at + 26);
    return true;
}

// The leading decimal number (blanks skipped, optional sign; 0 when there is none), held
// within the 32-bit range whatever the driver wrote.
std::int32_t leadingNumber(std::string const& text)
{
    long const n = std::strtol(text.c_str(), nullptr, 10);
    return std::int32_t(std::clamp<long>(n, INT32_MIN, INT32_MAX));
}

template <class T>
bool store(T& field, T const& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

}  // namespace

FramerDataHolder::FramerDataHolder(std::int32_t e1Number, std::string statusPath)
    : e1(e1Number), path(std::move(statusPath))
{
}

bool FramerDataHolder::setFramerStatus(std::vector<char> const& bytes)
{
    std::string const text(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\0'));
    bool changed = false;
    std::size_t start = 0;
    for (;;) {
        std::size_t const end = text.find('\n', start);
        changed |= parseLine(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return changed;
        start = end + 1;
    }
}

bool FramerDataHolder::parseLine(std::string const& line)
{
    bool changed = false;
    std::string value;
    if (valueOf(line, stateLabel, value) && store(state, value)) {
        connected = value != "No Carrier";
        changed = true;
    }
    if (valueOf(line, signalLabel, value))
        changed |= store(signalLoss, value == "yes");
    if (valueOf(line, alignmentLabel, value))
        changed |= store(frameAlignmentLoss, value == "yes");
    if (valueOf(line, negativeLabel, value))
        changed |= store(negativeSlips, leadingNumber(value));
    if (valueOf(line, positiveLabel, value))
        changed |= store(positiveSlips, leadingNumber(value));
    return changed;
}
