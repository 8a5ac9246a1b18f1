#include "board/sim/watchdog_model.h"

#include "base/clock.h"
#include "base/fd.h"
#include "board/path.h"
#include "board/watchdog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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
    if (!board::root().empty()) {
        // Close-on-exec from its open, as every descriptor of the daemon's process.
        int const trace = ::open(board::path(kTrace).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        std::string const line = std::to_string(w.ms) + ' ' + w.text + '\n';
        if (trace >= 0) {
            writeAll(trace, line.data(), line.size());
            ::close(trace);
        }
    }
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
