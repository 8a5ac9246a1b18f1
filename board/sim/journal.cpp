#include "board/sim/journal.h"

#include <fcntl.h>

#include <algorithm>
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

namespace {

std::size_t powerOfTwoFrom(std::size_t n)
{
    std::size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

}  // namespace

Journal::Journal(std::size_t capacity)
    : capacity_(capacity), mask_(powerOfTwoFrom(capacity) - 1), slots_((mask_ + 1) * slotWords_)
{
    site("");
}

Journal::Site Journal::site(std::string const& path, std::string const& name, unsigned long request)
{
    auto [it, added] = siteNumbers_.try_emplace({path, name, request}, Site(sites_.size()));
    if (added)
        sites_.push_back({path, name, request});
    return it->second;
}

void Journal::reserveRecord(std::size_t size)
{
    if (size <= stride_)
        return;
    // Rounded up to whole words; the entries kept move to the wider slots.
    std::size_t const stride = (size + 7) / 8 * 8;
    std::size_t const words = kHeaderWords + stride / 8;
    std::vector<std::uint64_t> slots((mask_ + 1) * words);
    for (std::uint64_t seq = first(); seq < next_; ++seq)
        std::copy_n(slotOf(seq), slotWords_, slots.begin() + std::ptrdiff_t((std::size_t(seq) & mask_) * words));
    slots_.swap(slots);
    slotWords_ = words;
    stride_ = stride;
}

void Journal::add(JournalEntry const& entry)
{
    reserveRecord(entry.record.size());
    add(entry.kind, site(entry.path, entry.name, entry.request), entry.record.data(), entry.record.size(), entry.value,
        entry.result, entry.error);
}

void Journal::clear()
{
    count_ = 0;
    view_.clear();
    viewNext_ = next_;
}

JournalEntry Journal::entry(std::uint64_t seq) const
{
    std::uint64_t const* slot = slotOf(seq);
    Header const& h = *reinterpret_cast<Header const*>(slot);
    SiteInfo const& site = sites_[h.site];
    JournalEntry e;
    e.seq = seq;
    e.kind = h.kind;
    e.path = site.path;
    e.request = site.request;
    e.name = site.name;
    auto const bytes = reinterpret_cast<std::uint8_t const*>(slot + kHeaderWords);
    e.record.assign(bytes, bytes + h.size);
    e.value = h.value;
    e.result = h.result;
    e.error = h.error;
    return e;
}

std::deque<JournalEntry> const& Journal::entries() const
{
    // Only what was added since the last call is made; what the ring dropped goes.
    while (!view_.empty() && view_.front().seq < first())
        view_.pop_front();
    for (std::uint64_t seq = std::max(viewNext_, first()); seq < next_; ++seq)
        view_.push_back(entry(seq));
    viewNext_ = next_;
    return view_;
}

std::vector<JournalEntry> Journal::since(std::uint64_t seq, std::size_t max) const
{
    std::vector<JournalEntry> out;
    for (std::uint64_t s = std::max(seq, first()); s < next_ && out.size() < max; ++s)
        out.push_back(entry(s));
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
