#pragma once

#include "board/sim/device.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace board::sim {

// "/dev/misc/gw-wd": the words the daemon writes to the watchdog ("START", "PING", "STOP",
// one a write), each with the loop clock's millisecond time at which the board got it.
// It keeps the last kKept words, and, when the board has a root (GW_ROOT), appends each to
// the trace file kTrace under it ("<ms> <word>" a line), so that the words written as the
// daemon ends (its "STOP") can still be read after it. It answers no request.
class WatchdogModel : public Device {
public:
    static constexpr std::size_t kKept = 64;
    static constexpr char const* kTrace = "/var/log/gw-wd.trace";

    struct Word {
        std::uint32_t ms;
        std::string text;  // as written, a byte that is not printable as '?'
    };

    WatchdogModel();

    std::deque<Word> const& words() const { return words_; }

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    void received(OpenFile& file, void const* data, std::size_t length) override;
    // "START@1000 PING@1001 PING@2003": the words kept, oldest first; "none" before the first.
    std::string dump() const override;

private:
    std::deque<Word> words_;
};

}  // namespace board::sim
