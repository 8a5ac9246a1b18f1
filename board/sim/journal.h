#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace board::sim {

// One thing the daemon did to the simulated board, in readable form.
struct JournalEntry {
    enum class Kind : std::uint8_t { open, request, close, iface, pause };

    std::uint64_t seq = 0;  // numbered from 1 over the board's life
    Kind kind = Kind::request;
    std::string path;       // device path or interface name; empty for a pause
    unsigned long request = 0;
    std::string name;       // request name from the model's table; empty when unknown
    std::vector<std::uint8_t> record;  // the record as the daemon gave it
    unsigned long value = 0;  // open flags, by-value argument or pause microseconds
    int result = 0;         // what the call returned (-1: failed)
    int error = 0;          // errno of a failed call

    bool failed() const { return result < 0; }
    // Word i of the record (host order); 0 past its end.
    std::uint32_t word(std::size_t i) const;
    // One line: "<seq> <kind> <path> [<request> <argument>] -> <result>".
    std::string text() const;
};

// The last entries, up to a capacity, oldest dropped first.
//
// Entries are kept as plain records in a ring allocated up front: adding one copies the
// record the daemon gave and allocates nothing. What an entry is about (the path, the
// request and its name: a site) is kept once and referred to by number, and records are
// kept whole up to the size made room for (reserveRecord). The readable entries are made
// only when they are read.
class Journal {
public:
    using Kind = JournalEntry::Kind;
    using Site = std::uint32_t;
    // The site of an entry about no device (a pause).
    static constexpr Site kNoSite = 0;

    explicit Journal(std::size_t capacity = 8192);

    // The site of a path (or interface name), a request name (empty: none) and a request
    // number; the same number for the same three.
    Site site(std::string const& path, std::string const& name = {}, unsigned long request = 0);
    // Records of up to size bytes are kept whole from now on.
    void reserveRecord(std::size_t size);

    // One entry, its result given here or later by setResult; size is within the room
    // reserved. Returns its sequence number.
    std::uint64_t add(Kind kind, Site site, void const* record, std::size_t size, unsigned long value,
                      int result = 0, int error = 0)
    {
        std::uint64_t const seq = next_++;
        std::uint64_t* const slot = slotOf(seq);
        if (size > stride_)
            size = 0;  // no room was made: a fault of the caller, not worth a crash
        *reinterpret_cast<Header*>(slot) = Header{site, kind, std::uint16_t(size), result, error, value};
        copy(reinterpret_cast<std::uint8_t*>(slot + kHeaderWords), record, size);
        count_ += count_ < capacity_ ? 1 : 0;
        return seq;
    }
    // The result of an entry still kept.
    void setResult(std::uint64_t seq, int result, int error)
    {
        if (next_ - seq > count_)
            return;
        Header* h = reinterpret_cast<Header*>(slotOf(seq));
        h->result = result;
        h->error = error;
    }
    // One entry in readable form (room made for its record).
    void add(JournalEntry const& entry);
    void clear();

    // The entries kept, oldest first; valid until the journal is next changed or read.
    std::deque<JournalEntry> const& entries() const;
    // The sequence number the next entry gets.
    std::uint64_t next() const { return next_; }
    // The entries numbered seq and later, at most max of them.
    std::vector<JournalEntry> since(std::uint64_t seq, std::size_t max = SIZE_MAX) const;

private:
    struct Header {
        Site site;
        Kind kind;
        std::uint16_t size;  // bytes of the record that follows
        int result;
        int error;
        unsigned long value;
    };
    static constexpr std::size_t kHeaderWords = (sizeof(Header) + 7) / 8;
    struct SiteInfo {
        std::string path;
        std::string name;
        unsigned long request;
    };

    // The usual record sizes are copied without a call.
    static void copy(std::uint8_t* to, void const* from, std::size_t size)
    {
        switch (size) {
        case 0: break;
        case 4: std::memcpy(to, from, 4); break;
        case 8: std::memcpy(to, from, 8); break;
        default: std::memcpy(to, from, size); break;
        }
    }
    std::uint64_t* slotOf(std::uint64_t seq) { return slots_.data() + (std::size_t(seq) & mask_) * slotWords_; }
    std::uint64_t const* slotOf(std::uint64_t seq) const
    {
        return slots_.data() + (std::size_t(seq) & mask_) * slotWords_;
    }
    std::uint64_t first() const { return next_ - count_; }
    JournalEntry entry(std::uint64_t seq) const;

    std::size_t capacity_;
    // Slots: a power of two of them, at least the capacity (and 1), found by a mask; each a
    // header and the record's room, in 64-bit words.
    std::size_t mask_;
    std::size_t stride_ = 0;
    std::size_t slotWords_ = kHeaderWords;
    std::vector<std::uint64_t> slots_;
    std::size_t count_ = 0;
    std::uint64_t next_ = 1;
    std::vector<SiteInfo> sites_;
    std::map<std::tuple<std::string, std::string, unsigned long>, Site> siteNumbers_;
    // What entries() last made, and the sequence number after it.
    mutable std::deque<JournalEntry> view_;
    mutable std::uint64_t viewNext_ = 1;
};

// "EIO" for EIO; the number for one without a name.
std::string errnoName(int error);
// A name ("EIO") or a positive number; 0 when it is neither.
int parseErrno(std::string const& text);

}  // namespace board::sim
