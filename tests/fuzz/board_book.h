#pragma once

// What a controller's side that drives the simulated board knows of the failures it armed
// there (fail-open, fail-request, fail-read): for each device request, how many of the next
// ones fail, as the least and the most it can be (the uses it does not follow take from them
// too), and whose reads fail. From that, the fate of a request a command makes.

#include <cstdint>
#include <string>
#include <vector>

namespace answers {

// What a device request meets on the board.
enum class Fate : std::uint8_t { passes, fails, unknown };

// The request number that stands for an open of the device.
constexpr unsigned long kOpen = ~0ul;

// A device request (or open), by the device's board path (or an interface's name) and number.
struct Request {
    char const* path;
    unsigned long number;
};

class BoardBook {
public:
    // A new input: nothing armed, nothing pending.
    void reset();
    // The next `times` requests fail (times < 0: every one until cleared).
    void arm(std::string const& path, unsigned long number, int times);
    // The device's reads fail from now until cleared.
    void failReads(std::string const& path);
    // Every armed failure ends; what may still take from later ones still may.
    void clear();

    // What the request would meet now.
    Fate fate(Request request) const;
    // The request is made now: its fate, its failure taken.
    Fate made(Request request);
    // The request is made now, or not at all.
    void maybe(Request request);
    // Requests the book does not follow were made now, any number of them.
    void blur(Request request);
    // Requests the book does not follow may be made at any later time of the input.
    void loose(Request request);

    // Whether the device's reads fail now, or failed at some time of the input.
    bool readsFail(char const* path) const;
    bool readsFailed(char const* path) const;

private:
    // A count that never runs out (a failure armed until cleared).
    static constexpr unsigned kEvery = ~0u;
    struct Entry {
        std::string path;
        unsigned long number = 0;
        // The failures left of those armed: at least, at most.
        unsigned least = 0;
        unsigned most = 0;
        // Uses the book does not follow may come at any time.
        bool loose = false;
    };

    Entry const* find(Request request) const;
    Entry* find(Request request) { return const_cast<Entry*>(static_cast<BoardBook const*>(this)->find(request)); }
    Entry& entry(std::string const& path, unsigned long number);

    std::vector<Entry> entries_;
    std::vector<std::string> reading_;
    std::vector<std::string> read_;
};

}  // namespace answers
