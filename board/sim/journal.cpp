#include "board/sim/journal.h"

#include <fcntl.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace board::sim {
namespace {

char const* kindName(JournalEntry::Kind k)
{
    switch (k) {
    case JournalEntry::Kind::open: return "open";
    case JournalEntry::Kind::request: return "ioctl";
    case JournalEntry::Kind::close: return "close";
    case JournalEntry::Kind::iface: return "iface";
    case JournalEntry::Kind::pause: return "pause";
    }
    return "?";
}

void putFlags(std::ostream& os, unsigned long flags)
{
    switch (flags & O_ACCMODE) {
    case O_RDONLY: os << "rdonly"; break;
    case O_WRONLY: os << "wronly"; break;
    default: os << "rdwr"; break;
    }
    if (flags & O_NONBLOCK)
        os << ",nonblock";
    if (flags & O_CLOEXEC)
        os << ",cloexec";
}

}  // namespace

std::uint32_t JournalEntry::word(std::size_t i) const
{
    std::uint32_t w = 0;
    if ((i + 1) * sizeof w <= record.size())
        std::memcpy(&w, record.data() + i * sizeof w, sizeof w);
    return w;
}

std::string JournalEntry::text() const
{
    std::ostringstream os;
    os << seq << ' ' << kindName(kind);
    if (kind == Kind::pause) {
        os << ' ' << value;
        return os.str();
    }
    os << ' ' << path;
    if (kind == Kind::open) {
        os << ' ';
        putFlags(os, value);
    } else if (kind == Kind::request || kind == Kind::iface) {
        if (name.empty())
            os << " 0x" << std::hex << request << std::dec;
        else
            os << ' ' << name;
        if (record.size() % sizeof(std::uint32_t) == 0) {
            for (std::size_t i = 0; i < record.size() / sizeof(std::uint32_t); ++i)
                os << ' ' << word(i);
        } else {
            for (std::uint8_t b : record)
                os << ' ' << unsigned(b);
        }
        if (record.empty() && value != 0)
            os << ' ' << value;
    }
    if (kind != Kind::close) {
        os << " -> ";
        if (failed())
            os << errnoName(error);
        else
            os << result;
    }
    return os.str();
}

void Journal::add(JournalEntry entry)
{
    entry.seq = next_++;
    if (capacity_ == 0)
        return;
    if (entries_.size() == capacity_)
        entries_.pop_front();
    entries_.push_back(std::move(entry));
}

std::vector<JournalEntry> Journal::since(std::uint64_t seq, std::size_t max) const
{
    std::vector<JournalEntry> out;
    if (entries_.empty())
        return out;
    // Entries are numbered without gaps, so the first wanted one is found by subtraction.
    std::size_t first = seq > entries_.front().seq ? std::size_t(seq - entries_.front().seq) : 0;
    for (std::size_t i = first; i < entries_.size() && out.size() < max; ++i)
        out.push_back(entries_[i]);
    return out;
}

std::string errnoName(int error)
{
    char const* name = ::strerrorname_np(error);
    return name ? name : std::to_string(error);
}

int parseErrno(std::string const& text)
{
    if (text.empty())
        return 0;
    if (text[0] >= '0' && text[0] <= '9') {
        char* end = nullptr;
        long v = std::strtol(text.c_str(), &end, 10);
        return (*end == '\0' && v > 0 && v < 4096) ? int(v) : 0;
    }
    for (int e = 1; e < 4096; ++e) {
        char const* name = ::strerrorname_np(e);
        if (name && text == name)
            return e;
    }
    return 0;
}

}  // namespace board::sim
