#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace board::sim {

// One thing the daemon did to the simulated board.
struct JournalEntry {
    enum class Kind { open, request, close, iface, pause };

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
class Journal {
public:
    explicit Journal(std::size_t capacity = 8192) : capacity_(capacity) {}

    void add(JournalEntry entry);
    void clear() { entries_.clear(); }

    std::deque<JournalEntry> const& entries() const { return entries_; }
    // The sequence number the next entry gets.
    std::uint64_t next() const { return next_; }
    // The entries numbered seq and later, at most max of them.
    std::vector<JournalEntry> since(std::uint64_t seq, std::size_t max = SIZE_MAX) const;

private:
    std::size_t capacity_;
    std::uint64_t next_ = 1;
    std::deque<JournalEntry> entries_;
};

// "EIO" for EIO; the number for one without a name.
std::string errnoName(int error);
// A name ("EIO") or a positive number; 0 when it is neither.
int parseErrno(std::string const& text);

}  // namespace board::sim
