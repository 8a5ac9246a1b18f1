#include "board/sim/console.h"

#include "board/sim/sim_board.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

namespace board::sim {
namespace {

constexpr std::size_t kJournalDefault = 100;
constexpr std::size_t kJournalMax = 1000;

std::vector<std::string> split(std::string const& line)
{
    std::istringstream is(line);
    std::vector<std::string> words;
    for (std::string w; is >> w;)
        words.push_back(w);
    return words;
}

bool parseUnsigned(std::string const& text, unsigned long long& value)
{
    if (text.empty() || text[0] == '-')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 0);
    return *end == '\0' && errno == 0;
}

// A count of times: a positive number or "always".
bool parseTimes(std::string const& text, int& times)
{
    if (text == "always") {
        times = -1;
        return true;
    }
    unsigned long long v = 0;
    if (!parseUnsigned(text, v) || v == 0 || v > 1000000)
        return false;
    times = int(v);
    return true;
}

std::string usage(char const* text) { return std::string("error usage: ") + text; }

}  // namespace

std::string Console::execute(std::string const& line)
{
    std::vector<std::string> w = split(line);
    if (w.empty())
        return "error empty command";
    std::string const& cmd = w[0];

    if (cmd == "help")
        return "ok devices | dump PATH | device PATH ARGS... | journal [SINCE [COUNT]] | "
               "fail-open PATH ERRNO [TIMES] | fail-request PATH REQUEST ERRNO [TIMES [WORD0]] | "
               "fail-read PATH eof|hangup|err|ERRNO [TIMES] | clear-failures | remove PATH | restore PATH | "
               "unread PATH | close-fd FD | stop-at-pause";

    if (cmd == "devices") {
        std::ostringstream os;
        os << "ok";
        board_.service();
        for (Device* d : board_.devices())
            os << ' ' << d->path() << (board_.present(d->path()) ? "" : ":removed") << ":opens=" << d->opens().size();
        return os.str();
    }

    if (cmd == "journal") {
        unsigned long long since = 0;
        unsigned long long count = kJournalDefault;
        if (w.size() > 3 || (w.size() > 1 && !parseUnsigned(w[1], since))
            || (w.size() > 2 && (!parseUnsigned(w[2], count) || count == 0)))
            return usage("journal [SINCE [COUNT]]");
        Journal& j = board_.journal();
        std::vector<JournalEntry> entries = j.since(since, std::min<unsigned long long>(count, kJournalMax));
        std::ostringstream os;
        os << "ok " << (entries.empty() ? j.next() : entries.back().seq + 1);
        for (std::size_t i = 0; i < entries.size(); ++i)
            os << (i == 0 ? " " : "; ") << entries[i].text();
        return os.str();
    }

    if (cmd == "close-fd") {
        unsigned long long fd = 0;
        if (w.size() != 2 || !parseUnsigned(w[1], fd) || fd > unsigned(INT_MAX))
            return usage("close-fd FD");
        // As a stray close elsewhere in the process would: the descriptor's owner is not told.
        if (::close(int(fd)) != 0)
            return std::string("error ") + std::strerror(errno);
        return "ok";
    }

    if (cmd == "stop-at-pause" && w.size() == 1) {
        board_.stopAtPause();
        return "ok";
    }

    if (cmd == "clear-failures" && w.size() == 1) {
        board_.clearFailures();
        return "ok";
    }

    // The remaining commands name a device.
    static char const* const pathCommands[] = {"dump",   "device",  "fail-open", "fail-request", "fail-read",
                                               "remove", "restore", "unread"};
    if (std::find(std::begin(pathCommands), std::end(pathCommands), cmd) == std::end(pathCommands))
        return "error unknown command " + cmd;
    if (w.size() < 2)
        return usage((cmd + " PATH ...").c_str());
    std::string const& path = w[1];
    Device* device = board_.device(path);
    if (device == nullptr)
        return "error no device " + path;

    if (cmd == "dump" && w.size() == 2) {
        board_.service();
        return "ok " + device->dump();
    }
    if (cmd == "device") {
        board_.service();
        return device->command(std::vector<std::string>(w.begin() + 2, w.end()));
    }
    if (cmd == "unread" && w.size() == 2) {
        board_.service();
        // What the daemon has not read of what the model sent: the socket holds it still.
        std::size_t waiting = 0;
        for (OpenFile* file : device->opens()) {
            int queued = 0;
            waiting += ::ioctl(file->modelFd(), SIOCOUTQ, &queued) == 0 && queued > 0;
        }
        return "ok " + std::to_string(waiting);
    }
    if (cmd == "remove" && w.size() == 2) {
        board_.remove(path);
        return "ok";
    }
    if (cmd == "restore" && w.size() == 2) {
        board_.restore(path);
        return "ok";
    }
    if (cmd == "fail-open") {
        int times = 1;
        int error = w.size() >= 3 ? parseErrno(w[2]) : 0;
        if (w.size() < 3 || w.size() > 4 || error == 0 || (w.size() == 4 && !parseTimes(w[3], times)))
            return usage("fail-open PATH ERRNO [TIMES]");
        board_.failOpen(path, error, times);
        return "ok";
    }
    if (cmd == "fail-read") {
        int times = 1;
        std::optional<ReadFault> const fault = w.size() >= 3 ? parseReadFault(w[2]) : std::nullopt;
        if (w.size() < 3 || w.size() > 4 || !fault || (w.size() == 4 && !parseTimes(w[3], times)))
            return usage("fail-read PATH eof|hangup|err|ERRNO [TIMES]");
        board_.failRead(path, *fault, times);
        return "ok";
    }
    if (cmd == "fail-request") {
        if (w.size() < 4 || w.size() > 6)
            return usage("fail-request PATH REQUEST ERRNO [TIMES [WORD0]]");
        unsigned long long number = 0;
        RequestInfo const* info = device->find(w[2]);
        if (info)
            number = info->number;
        else if (!parseUnsigned(w[2], number))
            return "error unknown request " + w[2];
        int error = parseErrno(w[3]);
        int times = 1;
        unsigned long long word0 = 0;
        if (error == 0 || (w.size() >= 5 && !parseTimes(w[4], times))
            || (w.size() == 6 && (!parseUnsigned(w[5], word0) || word0 > 0xFFFFFFFFull)))
            return usage("fail-request PATH REQUEST ERRNO [TIMES [WORD0]]");
        std::optional<std::uint32_t> match;
        if (w.size() == 6)
            match = std::uint32_t(word0);
        board_.failRequest(path, static_cast<unsigned long>(number), error, times, match);
        return "ok";
    }
    return usage((cmd + " PATH").c_str());
}

}  // namespace board::sim
