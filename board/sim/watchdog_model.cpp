#include "board/sim/watchdog_model.h"

#include "base/clock.h"
#include "board/path.h"
#include "board/watchdog.h"

#include <cerrno>
#include <fstream>

namespace board::sim {

WatchdogModel::WatchdogModel() : Device(watchdog::kPath, {}) {}

int WatchdogModel::request(OpenFile*, RequestInfo const&, void*) { return -ENOTTY; }

void WatchdogModel::received(OpenFile&, void const* data, std::size_t length)
{
    Word w{Mux::milliseconds(), std::string(static_cast<char const*>(data), length)};
    for (char& c : w.text)
        if (c < 0x20 || c > 0x7E)
            c = '?';
    // Only under a root: never into the real board's files.
    if (!board::root().empty())
        std::ofstream(board::path(kTrace), std::ios::app) << w.ms << ' ' << w.text << '\n';
    if (words_.size() == kKept)
        words_.pop_front();
    words_.push_back(std::move(w));
}

std::string WatchdogModel::dump() const
{
    if (words_.empty())
        return "none";
    std::string out;
    for (Word const& w : words_)
        out += (out.empty() ? "" : " ") + w.text + "@" + std::to_string(w.ms);
    return out;
}

}  // namespace board::sim
