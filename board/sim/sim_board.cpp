#include "board/sim/sim_board.h"

#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "board/sim/e1_cas_model.h"
#include "board/sim/hal_model.h"
#include "board/sim/maintenance_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mixer_model.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/voice_model.h"
#include "runtime/event.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace board::sim {
namespace {

// Largest record or frame a model takes from the daemon in one write.
constexpr std::size_t kMaxRecord = 65536;

std::string interfaceName(ifreq const* ifr)
{
    if (ifr == nullptr)
        return {};
    return std::string(ifr->ifr_name, ::strnlen(ifr->ifr_name, IFNAMSIZ));
}

}  // namespace

// Hands the daemon's writes and close on one open to its model as soon as the event loop
// sees them.
class SimBoard::Watch {
public:
    Watch(SimBoard& board, OpenFile& file) : board_(board), inode_(file.inode())
    {
        event_.Bind("SimBoard::Watch", &Watch::onReady, this);
        event_.Schedule(Fd(::fcntl(file.modelFd(), F_DUPFD_CLOEXEC, 0)), POLLIN);
    }

private:
    void onReady(int, short revents)
    {
        if (revents)
            board_.serviceInode(inode_, revents);
    }

    SimBoard& board_;
    ino_t inode_;
    Event event_;
};

SimBoard::SimBoard() : buffer_(kMaxRecord) {}

SimBoard::~SimBoard()
{
    // The models go after the opens that refer to them.
    watches_.clear();
    opens_.clear();
}

void SimBoard::addStandardDevices()
{
    add<HalModel>();
    add<MccModel>();
    add<DtmfModel>();
    add<DspModel>();
    add<RtpModel>();
    add<VoiceModel>();
    add<MaintenanceModel>();
    add<E1CasModel>();
    add<MixerModel>();
    add<RtpExtModel>();
}

Device& SimBoard::add(std::unique_ptr<Device> device)
{
    std::string path = device->path();
    auto it = nodes_.find(path);
    if (it != nodes_.end()) {
        std::vector<ino_t> dropped;
        for (auto const& [inode, file] : opens_)
            if (&file->device() == it->second.get())
                dropped.push_back(inode);
        for (ino_t inode : dropped)
            closeOpen(inode, false);
    }
    Device& ref = *device;
    nodes_[path] = std::move(device);
    return ref;
}

Device& SimBoard::addInterface(std::unique_ptr<Device> iface)
{
    Device& ref = *iface;
    interfaces_[iface->path()] = std::move(iface);
    return ref;
}

Device* SimBoard::device(std::string const& path) const
{
    auto it = nodes_.find(path);
    if (it != nodes_.end())
        return it->second.get();
    it = interfaces_.find(path);
    return it != interfaces_.end() ? it->second.get() : nullptr;
}

std::vector<Device*> SimBoard::devices() const
{
    std::vector<Device*> all;
    for (auto const& [path, d] : nodes_)
        all.push_back(d.get());
    for (auto const& [name, d] : interfaces_)
        all.push_back(d.get());
    return all;
}

bool SimBoard::remove(std::string const& path)
{
    if (!device(path))
        return false;
    removed_.insert(path);
    return true;
}

bool SimBoard::restore(std::string const& path)
{
    if (!device(path))
        return false;
    removed_.erase(path);
    return true;
}

bool SimBoard::present(std::string const& path) const { return device(path) && !removed_.count(path); }

void SimBoard::failOpen(std::string const& path, int error, int times)
{
    failures_.push_back({path, true, 0, error, times, {}});
}

void SimBoard::failRequest(std::string const& path, unsigned long request, int error, int times,
                           std::optional<std::uint32_t> word0)
{
    failures_.push_back({path, false, request, error, times, word0});
}

void SimBoard::clearFailures() { failures_.clear(); }

int SimBoard::takeFailure(std::string const& path, bool open, unsigned long request, JournalEntry const& entry)
{
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        Failure& f = *it;
        if (f.path != path || f.open != open || (!open && f.request != request))
            continue;
        if (f.word0 && (entry.record.size() < sizeof(std::uint32_t) || entry.word(0) != *f.word0))
            continue;
        int error = f.error;
        if (f.times > 0 && --f.times == 0)
            failures_.erase(it);
        return error;
    }
    return 0;
}

Journal& SimBoard::journal()
{
    service();
    return journal_;
}

std::size_t SimBoard::openCount()
{
    service();
    return opens_.size();
}

int SimBoard::open(char const* path, int flags)
{
    service();
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::open;
    entry.path = path ? path : "";
    entry.value = static_cast<unsigned long>(flags);

    int error = 0;
    int daemonEnd = -1;
    auto node = nodes_.find(entry.path);
    if (node == nodes_.end() || removed_.count(entry.path)) {
        error = ENOENT;
    } else if (int injected = takeFailure(entry.path, true, 0, entry)) {
        error = injected;
    } else {
        int sv[2];
        struct stat st;
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) {
            error = errno;
        } else if (::fstat(sv[0], &st) != 0) {
            error = errno;
            ::close(sv[0]);
            ::close(sv[1]);
        } else {
            Fd modelEnd(sv[1]);
            NonBlockMode(sv[1]);
            if (!(flags & O_CLOEXEC))
                SetCloexec(sv[0], false);
            if (flags & O_NONBLOCK)
                NonBlockMode(sv[0]);
            Device& device = *node->second;
            auto file = std::make_unique<OpenFile>(device, std::move(modelEnd), st.st_ino, flags, nextOpenId_++);
            int r = device.opened(*file);
            if (r < 0) {
                error = -r;
                ::close(sv[0]);
            } else {
                daemonEnd = sv[0];
                device.opens_.push_back(file.get());
                watches_[st.st_ino] = std::make_unique<Watch>(*this, *file);
                opens_[st.st_ino] = std::move(file);
            }
        }
    }
    entry.result = error ? -1 : daemonEnd;
    entry.error = error;
    journal_.add(std::move(entry));
    errno = error;
    return error ? -1 : daemonEnd;
}

int SimBoard::ioctl(int fd, unsigned long request, void* arg)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -1;
    auto it = opens_.find(st.st_ino);
    if (!S_ISSOCK(st.st_mode) || it == opens_.end()) {
        errno = ENOTTY;
        return -1;
    }
    OpenFile& file = *it->second;
    return perform(&file, file.device(), JournalEntry::Kind::request, request, arg);
}

int SimBoard::ifaceIoctl(unsigned long request, ifreq* ifr)
{
    std::string name = interfaceName(ifr);
    auto it = interfaces_.find(name);
    if (it == interfaces_.end() || removed_.count(name)) {
        JournalEntry entry;
        entry.kind = JournalEntry::Kind::iface;
        entry.path = name;
        entry.request = request;
        entry.result = -1;
        entry.error = ENODEV;
        journal_.add(std::move(entry));
        errno = ENODEV;
        return -1;
    }
    return perform(nullptr, *it->second, JournalEntry::Kind::iface, request, ifr);
}

void SimBoard::pause(unsigned int us)
{
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::pause;
    entry.value = us;
    journal_.add(std::move(entry));
}

int SimBoard::perform(OpenFile* file, Device& device, JournalEntry::Kind kind, unsigned long request, void* arg)
{
    JournalEntry entry;
    entry.kind = kind;
    entry.path = device.path();
    entry.request = request;
    int r = 0;
    RequestInfo const* info = device.find(request);
    if (info == nullptr) {
        r = -ENOTTY;
    } else {
        entry.name = info->name;
        if (info->byValue) {
            entry.value = reinterpret_cast<unsigned long>(arg);
        } else if (info->size > 0) {
            if (arg == nullptr)
                r = -EFAULT;
            else
                entry.record.assign(static_cast<std::uint8_t const*>(arg),
                                    static_cast<std::uint8_t const*>(arg) + info->size);
        }
        if (r == 0) {
            if (int injected = takeFailure(device.path(), false, request, entry))
                r = -injected;
            else
                r = device.request(file, *info, arg);
        }
    }
    entry.result = r < 0 ? -1 : r;
    entry.error = r < 0 ? -r : 0;
    journal_.add(std::move(entry));
    if (r < 0) {
        errno = -r;
        return -1;
    }
    return r;
}

void SimBoard::service()
{
    if (opens_.empty())
        return;
    std::vector<pollfd> fds;
    std::vector<ino_t> inodes;
    for (auto const& [inode, file] : opens_) {
        fds.push_back({file->modelFd(), POLLIN, 0});
        inodes.push_back(inode);
    }
    if (::poll(fds.data(), fds.size(), 0) <= 0)
        return;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        auto it = opens_.find(inodes[i]);
        if (fds[i].revents && it != opens_.end())
            serviceOpen(*it->second, fds[i].revents);
    }
}

void SimBoard::serviceInode(ino_t inode, short revents)
{
    auto it = opens_.find(inode);
    if (it != opens_.end())
        serviceOpen(*it->second, revents);
}

void SimBoard::serviceOpen(OpenFile& file, short revents)
{
    bool hungUp = (revents & (POLLHUP | POLLERR)) != 0;
    for (;;) {
        ssize_t n = ::recv(file.modelFd(), buffer_.data(), buffer_.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                hungUp = true;
            if (errno != EINTR)
                break;
            continue;
        }
        if (n == 0) {
            // An empty record, or the end after a close that came since the poll.
            pollfd p{file.modelFd(), POLLIN, 0};
            if (hungUp || (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP))) {
                hungUp = true;
                break;
            }
        }
        file.device().received(file, buffer_.data(), std::min<std::size_t>(std::size_t(n), buffer_.size()));
    }
    if (hungUp)
        closeOpen(file.inode(), true);
}

void SimBoard::closeOpen(ino_t inode, bool tellModel)
{
    auto it = opens_.find(inode);
    if (it == opens_.end())
        return;
    std::unique_ptr<OpenFile> file = std::move(it->second);
    opens_.erase(it);
    watches_.erase(inode);
    Device& device = file->device();
    auto& list = device.opens_;
    list.erase(std::remove(list.begin(), list.end(), file.get()), list.end());

    JournalEntry entry;
    entry.kind = JournalEntry::Kind::close;
    entry.path = device.path();
    journal_.add(std::move(entry));
    if (tellModel)
        device.closed(*file);
}

}  // namespace board::sim
