#include "board/sim/sim_board.h"

#include "board/sim/dsp_data_model.h"
#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "board/sim/e1_cas_model.h"
#include "board/sim/hal_model.h"
#include "board/sim/hdlc_iface_model.h"
#include "board/sim/maintenance_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mctl_model.h"
#include "board/sim/mixer_model.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/voice_model.h"
#include "board/sim/watchdog_model.h"
#include "runtime/event.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
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

    int fd() const { return event_.lowlevel_fd(); }

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
    byFd_.clear();
    watches_.clear();
    opens_.clear();
}

void SimBoard::addStandardDevices()
{
    add<HalModel>();
    add<MccModel>();
    add<DtmfModel>();
    add<DspModel>();
    RtpModel const& rtp = add<RtpModel>();
    add<VoiceModel>();
    add<MaintenanceModel>();
    add<E1CasModel>();
    add<MctlModel>();
    for (int n = 0; n < HdlcIfaceModel::kStandardCount; ++n)
        addInterface(std::make_unique<HdlcIfaceModel>(n));
    add<MixerModel>();
    add<DspDataModel>();
    add<RtpExtModel>(&rtp);
    add<WatchdogModel>();
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
    enter(ref);
    found_ = {};
    nodes_[path] = std::move(device);
    return ref;
}

Device& SimBoard::addInterface(std::unique_ptr<Device> iface)
{
    Device& ref = *iface;
    enter(ref);
    found_ = {};
    interfaces_[iface->path()] = std::move(iface);
    return ref;
}

void SimBoard::enter(Device& device)
{
    device.journalSite_ = journal_.site(device.path());
    device.journalSites_.clear();
    for (RequestInfo const& r : device.requests_) {
        device.journalSites_.push_back(journal_.site(device.path(), r.name ? r.name : "", r.number));
        if (!r.byValue)
            journal_.reserveRecord(r.size);
    }
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

void SimBoard::failRead(std::string const& path, ReadFault fault, int times)
{
    service();
    Device const* d = device(path);
    reads_.arm(path, fault, times, d ? d->opens() : std::vector<OpenFile*>{});
}

void SimBoard::clearFailures()
{
    failures_.clear();
    reads_.clear();
}

int SimBoard::takeFailure(std::string const& path, bool open, unsigned long request, void const* record,
                          std::size_t size)
{
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        Failure& f = *it;
        // The numbers first: a pass of many requests compares few paths.
        if (f.open != open || (!open && f.request != request) || f.path != path)
            continue;
        std::uint32_t word0 = 0;
        if (size >= sizeof word0)
            std::memcpy(&word0, record, sizeof word0);
        if (f.word0 && (size < sizeof word0 || word0 != *f.word0))
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
    std::string const name = path ? path : "";
    int error = 0;
    int daemonEnd = -1;
    auto node = nodes_.find(name);
    if (node == nodes_.end() || removed_.count(name)) {
        error = ENOENT;
    } else if (int injected = failures_.empty() ? 0 : takeFailure(name, true, 0, nullptr, 0)) {
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
                OpenFile& made = *file;
                device.opens_.push_back(&made);
                remember(daemonEnd, &made);
                watches_[st.st_ino] = std::make_unique<Watch>(*this, made);
                opens_[st.st_ino] = std::move(file);
                reads_.opened(made);
            }
        }
    }
    Journal::Site const site = node != nodes_.end() ? node->second->journalSite_ : journal_.site(name);
    journal_.add(JournalEntry::Kind::open, site, nullptr, 0, static_cast<unsigned long>(flags), error ? -1 : daemonEnd,
                 error);
    errno = error;
    return error ? -1 : daemonEnd;
}

std::vector<int> SimBoard::ownDescriptors() const
{
    std::vector<int> out;
    for (auto const& [inode, file] : opens_)
        out.push_back(file->modelFd());
    for (auto const& [inode, watch] : watches_)
        out.push_back(watch->fd());
    reads_.kept(out);
    return out;
}

OpenFile* SimBoard::lookUp(int fd)
{
    // A dup, or a descriptor of no device: looked up by its socket's inode once.
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return nullptr;
    auto it = opens_.find(st.st_ino);
    OpenFile* file = S_ISSOCK(st.st_mode) && it != opens_.end() ? it->second.get() : reads_.replaced(st.st_dev, st.st_ino);
    if (file == nullptr) {
        errno = ENOTTY;
        return nullptr;
    }
    remember(fd, file);
    return file;
}

void SimBoard::remember(int fd, OpenFile* file)
{
    if (std::size_t(fd) >= byFd_.size())
        byFd_.resize(std::size_t(fd) + 1);
    byFd_[std::size_t(fd)] = file;
}

void SimBoard::closing(int fd)
{
    if (fd < 0 || std::size_t(fd) >= byFd_.size())
        return;
    // What the daemon wrote on it reaches the model before the descriptor goes: the last
    // words of a descriptor closed as the daemon ends are seen too.
    if (OpenFile* file = byFd_[std::size_t(fd)])
        serviceOpen(*file, 0);
    byFd_[std::size_t(fd)] = nullptr;
}

int SimBoard::ioctl(int fd, unsigned long request, void* arg)
{
    // A negative number is out of the table too.
    OpenFile* file = std::size_t(fd) < byFd_.size() ? byFd_[std::size_t(fd)] : nullptr;
    if (file == nullptr && (file = lookUp(fd)) == nullptr)
        return -1;
    return perform(file, file->device(), JournalEntry::Kind::request, request, arg);
}

int SimBoard::ifaceIoctl(unsigned long request, ifreq* ifr)
{
    std::string name = interfaceName(ifr);
    auto it = interfaces_.find(name);
    if (it == interfaces_.end() || removed_.count(name)) {
        journal_.add(JournalEntry::Kind::iface, journal_.site(name, {}, request), nullptr, 0, 0, -1, ENODEV);
        errno = ENODEV;
        return -1;
    }
    return perform(nullptr, *it->second, JournalEntry::Kind::iface, request, ifr);
}

ssize_t SimBoard::read(int fd, void* buf, std::size_t size)
{
    if (!reads_.active())
        return ::read(fd, buf, size);
    OpenFile* file = fd >= 0 && std::size_t(fd) < byFd_.size() ? byFd_[std::size_t(fd)] : nullptr;
    if (file == nullptr) {
        int const saved = errno;
        file = lookUp(fd);
        errno = saved;
    }
    return reads_.read(file, fd, buf, size);
}

void SimBoard::pause(unsigned int us)
{
    journal_.add(JournalEntry::Kind::pause, Journal::kNoSite, nullptr, 0, us);
    if (stopAtPause_) {
        stopAtPause_ = false;
        ::raise(SIGSTOP);
    }
}

int SimBoard::perform(OpenFile* file, Device& device, JournalEntry::Kind kind, unsigned long request, void* arg)
{
    // A run of the same request (the switch's re-disable pass) skips the search.
    if (found_.device != &device || found_.request != request) {
        RequestInfo const* info = device.find(request);
        found_ = {&device, request, info,
                  info ? device.journalSites_[std::size_t(info - device.requests_.data())] : Journal::kNoSite};
    }
    RequestInfo const* info = found_.info;
    if (info == nullptr) {
        journal_.add(kind, journal_.site(device.path(), {}, request), nullptr, 0, 0, -1, ENOTTY);
        errno = ENOTTY;
        return -1;
    }
    void const* record = nullptr;
    std::size_t size = 0;
    unsigned long value = 0;
    int r = 0;
    if (info->byValue) {
        value = reinterpret_cast<unsigned long>(arg);
    } else if (info->size > 0) {
        record = arg;
        size = arg ? info->size : 0;
        r = arg ? 0 : -EFAULT;
    }
    // The record is journaled as the daemon gave it, before the model answers into it.
    std::uint64_t const seq = journal_.add(kind, found_.site, record, size, value);
    if (r == 0) {
        if (int injected = failures_.empty() ? 0 : takeFailure(device.path(), false, request, record, size))
            r = -injected;
        else
            r = device.request(file, *info, arg);
    }
    if (r < 0) {
        journal_.setResult(seq, -1, -r);
        errno = -r;
        return -1;
    }
    journal_.setResult(seq, r, 0);
    return r;
}

void SimBoard::service()
{
    // An open whose descriptors a read failure replaced ends when the daemon has closed them.
    if (reads_.active())
        for (ino_t inode : reads_.abandoned())
            closeOpen(inode, true);
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
    std::replace(byFd_.begin(), byFd_.end(), file.get(), static_cast<OpenFile*>(nullptr));
    reads_.forget(*file);

    journal_.add(JournalEntry::Kind::close, device.journalSite_, nullptr, 0, 0);
    if (tellModel)
        device.closed(*file);
}

}  // namespace board::sim
