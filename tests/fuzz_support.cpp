#include "tests/fuzz_support.h"

#include "base/fd.h"
#include "base/immortal.h"
#include "base/packet.h"
#include "board/path.h"
#include "runtime/child_wait.h"
#include "runtime/multiplexer.h"
#include "tests/janitor.h"
#include "tests/loop_pump.h"
#include "tests/process_figures.h"

#include <fcntl.h>
#include <ftw.h>
#include <linux/capability.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <utility>

namespace testsupport {

bool privateNetwork(char const* target)
{
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "%s: runs on the machine's network\n", target);
        return false;
    }
    Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq loopback{};
    std::strcpy(loopback.ifr_name, "lo");
    loopback.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    if (::ioctl(socket.lowlevel_fd(), SIOCSIFFLAGS, &loopback) != 0)
        std::fprintf(stderr, "%s: the loopback of its network is down\n", target);
    return true;
}

void noPacketSockets(char const* target)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, caps) != 0)
        return;
    caps[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    caps[CAP_TO_INDEX(CAP_NET_RAW)].permitted &= ~CAP_TO_MASK(CAP_NET_RAW);
    if (::syscall(SYS_capset, &header, caps) != 0)
        std::fprintf(stderr, "%s: samples the network interfaces\n", target);
}

void promptSocket(int fd)
{
    int const on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

bool handedOver(int fd, int timeoutMs)
{
    return runUntil(
        [fd] {
            int unsent = 0;
            return ::ioctl(fd, SIOCOUTQNSD, &unsent) != 0 || unsent == 0;
        },
        timeoutMs);
}

namespace {

// Whether the connection a socket asked for is made, or has failed (error set).
bool connected(int fd, int& error)
{
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1)
        return false;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    return true;
}

}  // namespace

int connectWithin(int fd, sockaddr const* to, socklen_t size, int timeoutMs)
{
    int const flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return errno;
    int error = ::connect(fd, to, size) == 0 ? 0 : errno;
    // A unix-domain listener whose queue is full refuses at once: it is asked again as the
    // daemon's loop takes what waits.
    bool const done = runUntil(
        [&] {
            if (error == EAGAIN)
                error = ::connect(fd, to, size) == 0 ? 0 : errno;
            return error == EINPROGRESS ? connected(fd, error) : error != EAGAIN;
        },
        timeoutMs);
    ::fcntl(fd, F_SETFL, flags);
    return done ? error : ETIMEDOUT;
}

bool quietStreams(char const* variable)
{
    // Never destroyed: the streams are flushed after every static object has gone.
    static Immortal<Discard> discard;
    if (std::getenv(variable) != nullptr)
        return true;
    for (std::ostream* s : {&std::cout, &std::cerr, &std::clog})
        s->rdbuf(&discard.value);
    return false;
}

LineCount::LineCount(std::ostream& stream, std::string part)
    : stream_(stream), next_(stream.rdbuf(this)), part_(std::move(part))
{
}

LineCount::~LineCount() { stream_.rdbuf(next_); }

int LineCount::overflow(int c)
{
    if (c == traits_type::eof())
        return traits_type::not_eof(c);
    char const ch = char(c);
    xsputn(&ch, 1);
    return c;
}

std::streamsize LineCount::xsputn(char const* s, std::streamsize n)
{
    for (std::streamsize at = 0; at < n;) {
        char const* end = static_cast<char const*>(std::memchr(s + at, '\n', std::size_t(n - at)));
        std::streamsize const upTo = end ? end - s : n;
        line_.append(s + at, std::size_t(upTo - at));
        at = upTo;
        if (end == nullptr)
            break;
        if (line_.find(part_) != std::string::npos)
            ++count_;
        line_.clear();
        ++at;
    }
    return next_ ? next_->sputn(s, n) : n;
}

void quietFuzzer(int* argc, char*** argv, std::initializer_list<char const*> defaults)
{
    static std::vector<std::string> flags;
    flags.assign({"-print_funcs=0"});
    flags.insert(flags.end(), defaults.begin(), defaults.end());
    static std::vector<char*> args(*argv, *argv + *argc);
    for (std::size_t i = 0; i < flags.size(); ++i)
        args.insert(args.begin() + 1 + std::ptrdiff_t(i), flags[i].data());
    args.push_back(nullptr);
    *argc = int(args.size()) - 1;
    *argv = args.data();
}

void breach(char const* target, std::string const& what)
{
    std::fprintf(stderr, "%s: %s\n", target, what.c_str());
    // The run ends here: nothing it made is left.
    removeBoardRoot();
    std::abort();
}

namespace {

// Ends the target, saying why, with no verdict on the daemon.
[[noreturn]] void stop(char const* target, char const* what, std::string const& why)
{
    std::fprintf(stderr, "%s: %s: %s\n", target, what, why.c_str());
    std::fflush(stderr);
    // Not exit(): the engine takes that for a fault of the input it was running.
    std::_Exit(1);
}

}  // namespace

void cannotStart(char const* target, std::string const& why) { stop(target, "cannot start", why); }

void cannotGoOn(char const* target, std::string const& why) { stop(target, "cannot go on", why); }

void start(char const* target, std::function<void()> const& build)
{
    try {
        build();
    } catch (std::exception const& e) {
        cannotStart(target, e.what());
    } catch (...) {
        cannotStart(target, "an exception");
    }
}

namespace {

// The folders of the path up to its last part, made where missing.
void makeFolders(std::string const& path)
{
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        ::mkdir(path.substr(0, at).c_str(), 0755);
}

int removeEntry(char const* path, struct stat const*, int, FTW*) { return ::remove(path); }

// The process's board root, removed at its exit (or before, by removeBoardRoot()).
struct RootFolder {
    ~RootFolder() { remove(); }
    void remove()
    {
        if (path.empty())
            return;
        // A file system the target mounted there, in mounts of its own, goes first: the
        // folder under it is then the one to remove.
        ::umount2(path.c_str(), MNT_DETACH);
        ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
        path.clear();
    }
    std::string path;
};

RootFolder& rootFolder()
{
    static RootFolder root;
    return root;
}

// Names the board root of a process and its namespace of processes, for the processes it
// runs: "<namespace> <path>".
constexpr char kRootVariable[] = "GW_FUZZ_BOARD_ROOT";

// The namespace of processes the process is in, as its link in /proc names it.
std::string processNamespace()
{
    char link[64];
    ssize_t const n = ::readlink("/proc/self/ns/pid", link, sizeof link);
    return n > 0 ? std::string(link, std::size_t(n)) : std::string();
}

}  // namespace

void removeBoardRoot() { rootFolder().remove(); }

std::string boardRoot(char const* target, std::initializer_list<char const*> folders)
{
    RootFolder& root = rootFolder();
    // A process in a namespace of processes that one with a board root made (a worker of
    // -jobs, of a target that runs in processes of its own) makes its root in that one's: a
    // janitor of its own would end with the namespace, and that one's outlives it.
    std::string const space = processNamespace();
    std::string within = "/tmp";
    char const* outer = std::getenv(kRootVariable);
    std::string const named = outer != nullptr ? outer : "";
    std::size_t const cut = named.find(' ');
    bool const nested = cut != std::string::npos && named.compare(0, cut, space) != 0;
    if (nested)
        within = named.substr(cut + 1);
    std::string folder = within + "/gw-fuzz-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        std::string const why = std::strerror(errno);
        cannotStart(target, "no board root under " + within + ": " + why);
    }
    root.path = folder;
    if (!nested) {
        // Held until the process ends, in every process it forks.
        if (startJanitor(root.path) < 0) {
            std::string const why = std::strerror(errno);
            root.remove();
            cannotStart(target, "no janitor for the board root: " + why);
        }
        ::setenv(kRootVariable, (space + " " + root.path).c_str(), 1);
    }
    for (char const* f : folders)
        makeFolders(root.path + f + "/");
    board::setRoot(root.path);
    return root.path;
}

bool writeProgram(std::string const& path, std::string const& text, bool executable)
{
    makeFolders(path);
    ::unlink(path.c_str());
    std::ofstream(path, std::ios::binary) << text;
    return ::chmod(path.c_str(), executable ? 0755 : 0644) == 0;
}

bool childLeft()
{
    siginfo_t info{};
    bool const child = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
    return child || ChildWaitService::childWaitService->waiting() != 0;
}

void takeFrames(char const* target, std::vector<std::uint8_t>& in,
                std::function<void(std::vector<std::uint8_t> const& body)> const& body)
{
    std::size_t at = 0;
    while (in.size() - at >= 4) {
        std::size_t const length = std::size_t(in[at + 2]) << 8 | in[at + 3];
        if (in[at] != 3 || in[at + 1] != 0 || length <= 4)
            breach(target, "bytes that are not a TPKT frame came");
        if (in.size() - at < length)
            break;
        body(std::vector<std::uint8_t>(in.begin() + std::ptrdiff_t(at + 4), in.begin() + std::ptrdiff_t(at + length)));
        at += length;
    }
    in.erase(in.begin(), in.begin() + std::ptrdiff_t(at));
}

bool receiveAll(int fd, std::vector<std::uint8_t>& in)
{
    std::uint8_t buffer[65536];
    for (;;) {
        ssize_t const n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 || errno != EAGAIN;
        in.insert(in.end(), buffer, buffer + n);
    }
}

std::uint32_t TimeBudget::spend(std::uint32_t ms)
{
    ms = std::min(ms, left_);
    left_ -= ms;
    return ms;
}

void passTime(Mux::TestClock& clock, std::uint32_t ms, std::uint32_t stepMs, std::function<void()> const& check)
{
    for (std::uint32_t left = ms; left > 0;) {
        std::uint32_t const now = std::min(left, stepMs);
        advance(clock, now);
        left -= now;
        check();
    }
}

std::map<int, std::string> heldDescriptors(std::vector<int> const& except)
{
    std::string const listing = "/proc/" + std::to_string(::getpid()) + "/fd";
    std::map<int, std::string> out = descriptorTargets(::getpid());
    for (int fd : except)
        out.erase(fd);
    // Nor the listing's own, whose number is the lowest free one.
    for (auto it = out.begin(); it != out.end();)
        it = it->second == listing ? out.erase(it) : std::next(it);
    return out;
}

std::string newDescriptors(std::map<int, std::string> const& before, std::map<int, std::string> const& after)
{
    std::string out;
    for (auto const& [number, target] : after)
        if (before.count(number) == 0 || before.at(number) != target)
            out += " [" + std::to_string(number) + " " + target + "]";
    return out;
}

void Baseline::take(std::vector<int> const& except)
{
    descriptors_ = heldDescriptors(except);
    timers_ = multiplexer.timer_count();
    packets_ = _Packet::Pool::available();
    taken_ = true;
}

std::string Baseline::left(std::vector<int> const& except) const
{
    if (!taken_)
        return {};
    std::map<int, std::string> const held = heldDescriptors(except);
    if (held.size() > descriptors_.size())
        return "descriptors are left:" + newDescriptors(descriptors_, held);
    if (multiplexer.timer_count() != timers_)
        return "timers are left: " + std::to_string(multiplexer.timer_count()) + " of " + std::to_string(timers_);
    if (_Packet::Pool::available() != packets_)
        return "packets of the pool are left: " + std::to_string(_Packet::Pool::available()) + " free of "
             + std::to_string(packets_);
    return {};
}

// Each byte read in its own statement: the order of a call's arguments is the compiler's.
std::uint16_t FuzzInput::word16()
{
    std::uint16_t const low = byte();
    return std::uint16_t(low | byte() << 8);
}

std::uint32_t FuzzInput::word32()
{
    std::uint32_t const low = word16();
    return low | std::uint32_t(word16()) << 16;
}

std::uint16_t FuzzInput::bigWord16()
{
    std::uint16_t const high = byte();
    return std::uint16_t(high << 8 | byte());
}

std::uint32_t FuzzInput::bigWord32()
{
    std::uint32_t const high = bigWord16();
    return high << 16 | bigWord16();
}

std::vector<std::uint8_t> FuzzInput::take(std::size_t n)
{
    n = std::min(n, left());
    std::vector<std::uint8_t> out(at_, at_ + n);
    at_ += n;
    return out;
}

std::string FuzzInput::text(std::size_t max)
{
    std::vector<std::uint8_t> const bytes = take(std::min<std::size_t>(byte(), max));
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace testsupport
