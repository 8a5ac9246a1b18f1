#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <set>
#include <string>
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
// record the daemon gave and allocates nothing. Names are kept once (intern) and records
// are kept whole up to the size made room for (reserveRecord). The readable entries are
// made only when they are read.
class Journal {
public:
    using Kind = JournalEntry::Kind;

    explicit Journal(std::size_t capacity = 8192);

    // A copy of the name that lives as long as the journal, the same one for equal names.
    char const* intern(std::string const& name);
    // Records of up to size bytes are kept whole from now on.
    void reserveRecord(std::size_t size);

    // One entry, its result 0 until setResult; path and name are interned (or null), size
    // is within the room reserved. Returns its sequence number.
    std::uint64_t add(Kind kind, char const* path, char const* name, unsigned long request, void const* record,
                      std::size_t size, unsigned long value, int result = 0, int error = 0)
    {
        std::uint64_t const seq = next_++;
        std::size_t const at = std::size_t(seq) & mask_;
        if (size > stride_)
            size = 0;  // no room was made: a fault of the caller, not worth a crash
        ring_[at] = Record{path, name, request, value, result, error, std::uint32_t(size), kind};
        copy(bytes_.data() + at * stride_, record, size);
        count_ += count_ < capacity_ ? 1 : 0;
        return seq;
    }
    // The result of an entry still kept.
    void setResult(std::uint64_t seq, int result, int error)
    {
        if (next_ - seq > count_)
            return;
        Record& r = ring_[std::size_t(seq) & mask_];
        r.result = result;
        r.error = error;
    }
    // One entry in readable form (its strings interned, room made for its record).
    void add(JournalEntry entry);
    void clear();

    // The entries kept, oldest first; valid until the journal is next changed or read.
    std::deque<JournalEntry> const& entries() const;
    // The sequence number the next entry gets.
    std::uint64_t next() const { return next_; }
    // The entries numbered seq and later, at most max of them.
    std::vector<JournalEntry> since(std::uint64_t seq, std::size_t max = SIZE_MAX) const;

private:
    struct Record {
        char const* path;
        char const* name;
        unsigned long request;
        unsigned long value;
        int result;
        int error;
        std::uint32_t size;  // bytes of the record
        Kind kind;
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
    std::size_t slot(std::uint64_t seq) const { return std::size_t(seq) & mask_; }
    std::uint64_t first() const { return next_ - count_; }
    JournalEntry entry(std::uint64_t seq) const;

    std::size_t capacity_;
    // A power of two at least the capacity (and 1), so that a slot is found by a mask.
    std::vector<Record> ring_;
    std::size_t mask_;
    std::vector<std::uint8_t> bytes_;  // stride_ bytes a ring slot
    std::size_t stride_ = 0;
    std::size_t count_ = 0;
    std::uint64_t next_ = 1;
    std::set<std::string> names_;
    // What entries() last made, and the sequence number after it.
    mutable std::deque<JournalEntry> view_;
    mutable std::uint64_t viewNext_ = 1;
};

// "EIO" for EIO; the number for one without a name.
std::string errnoName(int error);
// A name ("EIO") or a positive number; 0 when it is neither.
int parseErrno(std::string const& text);

}  // namespace board::sim
