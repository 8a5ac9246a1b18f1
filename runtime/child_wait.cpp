#include "runtime/child_wait.h"

#include "runtime/ipc_signal.h"
#include "runtime/read_end.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>

#include <cerrno>
#include <iostream>

static_assert(std::atomic<unsigned int>::is_always_lock_free, "the signal handler needs lock-free counters");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

ChildWaitService* ChildWaitService::childWaitService = nullptr;
std::uint32_t ChildWait::UsageCounter = 0;

// ---------------------------------------------------------------------------------------
// ChildWait

ChildWait::Init::Init()
{
    if (UsageCounter++ == 0)
        Initialize();
}

ChildWait::Init::~Init()
{
    if (--UsageCounter == 0)
        Cleanup();
}

void ChildWait::Initialize() { ChildWaitService::childWaitService = new ChildWaitService; }

void ChildWait::Cleanup()
{
    ChildWaitService* s = ChildWaitService::childWaitService;
    ChildWaitService::childWaitService = nullptr;
    delete s;
}

void ChildWait::Activate()
{
    if (ChildWaitService* s = ChildWaitService::childWaitService)
        s->Activate();
}

ChildWait::~ChildWait()
{
    handler()->~Handler();
    Detach();
}

void ChildWait::Attach(int pid)
{
    pid_ = pid;
    if (ChildWaitService* s = ChildWaitService::childWaitService)
        s->Attach(this);
}

void ChildWait::Detach()
{
    if (ChildWaitService* s = ChildWaitService::childWaitService)
        s->Detach(this);
}

// ---------------------------------------------------------------------------------------
// ChildWaitService

ChildWaitService::~ChildWaitService() { Deactivate(); }

void ChildWaitService::Activate()
{
    if (installed_ || !openPair())
        return;
    IPC::Signal::handle(SIGCHLD, SigChldHandlerWrapper, SA_RESTART);
    installed_ = true;
    // Children that ended before the handler was there sent their signal to nobody.
    reapNow();
}

bool ChildWaitService::openPair()
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) != 0) {
        std::cerr << "ChildWaitService: initialize fails" << std::endl;
        return false;
    }
    write_ = Fd(sv[0]);
    write_.NonBlock();
    event_.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
    Fd read(sv[1]);
    read.NonBlock();
    event_.Schedule(std::move(read), ReadEnd::input);
    writeFd_ = sv[0];
    return true;
}

void ChildWaitService::reopen(std::string const& why)
{
    std::cerr << event_.event_name() << ": exit socket ended: " << why << "; opening a new one" << std::endl;
    // The handler does not run while the descriptors change; what it cannot write meanwhile
    // waits in the ring.
    sigset_t chld, saved;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &chld, &saved);
    writeFd_ = -1;
    event_.Release();
    write_.close();
    openPair();
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
}

void ChildWaitService::Deactivate()
{
    if (!installed_)
        return;
    IPC::Signal::system(SIGCHLD);
    installed_ = false;
    writeFd_ = -1;
    event_.Release();
    write_.close();
    head_ = 0;
    tail_ = 0;
    overflow_ = false;
}

void ChildWaitService::Attach(ChildWait* wait)
{
    if (wait->attached_)
        waiters_.remove(wait);
    waiters_.insert_to_tail(wait);
    wait->attached_ = true;
}

void ChildWaitService::Detach(ChildWait* wait)
{
    if (!wait->attached_)
        return;
    waiters_.remove(wait);
    wait->attached_ = false;
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*)
{
    int const saved = errno;
    if (ChildWaitService* s = childWaitService)
        s->SigChldHandler();
    errno = saved;
}

void ChildWaitService::SigChldHandler()
{
    for (;;) {
        // Without room for its record a child stays unreaped until the loop has drained.
        if (ringFull()) {
            overflow_ = true;
            return;
        }
        int status = 0;
        pid_t const pid = ::waitpid(-1, &status, WNOHANG);
        if (pid <= 0)
            return;
        post(std::int32_t(pid), std::int32_t(status));
    }
}

void ChildWaitService::post(std::int32_t pid, std::int32_t status)
{
    // Once a record waits in the ring, later ones queue behind it, so the order holds.
    int const fd = writeFd_;
    if (fd >= 0 && ringEmpty()) {
        struct iovec v[2] = {{&pid, sizeof pid}, {&status, sizeof status}};
        if (::writev(fd, v, 2) == ssize_t(sizeof pid + sizeof status))
            return;
    }
    unsigned int const t = tail_.load();
    ring_[t % kRingSize] = Record{pid, status};
    tail_.store(t + 1);
}

void ChildWaitService::reapNow()
{
    sigset_t chld, saved;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &chld, &saved);
    SigChldHandler();
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
}

void ChildWaitService::OnChildEvent(int fd, short revents)
{
    ReadEnd::Kind const ready = ReadEnd::ofPoll(revents);
    if (ready == ReadEnd::end) {
        reopen(ReadEnd::whyPolled(revents, fd));
        revents = 0;
    } else if (ready == ReadEnd::again && ringEmpty() && !overflow_.load()) {
        return;
    }
    for (;;) {
        // The socket's records are older than the ring's.
        readRecords(revents);
        revents = 0;
        while (!ringEmpty()) {
            unsigned int const h = head_.load();
            Record const r = ring_[h % kRingSize];
            head_.store(h + 1);
            dispatch(r.pid, r.status);
        }
        if (!overflow_.exchange(false))
            return;
        reapNow();
    }
}

void ChildWaitService::readRecords(short revents)
{
    while (event_.IsActive()) {
        std::int32_t pid = 0;
        std::int32_t status = 0;
        struct iovec v[2] = {{&pid, sizeof pid}, {&status, sizeof status}};
        ssize_t const n = ::readv(event_.lowlevel_fd(), v, 2);
        int const error = errno;
        if (n == ssize_t(sizeof pid + sizeof status)) {
            dispatch(pid, status);
            continue;
        }
        // A datagram of another size is no record: it is dropped.
        ReadEnd::Kind const k = ReadEnd::ofRead(n, error, revents);
        if (k == ReadEnd::again)
            return;
        if (k == ReadEnd::end) {
            reopen(ReadEnd::whyRead(n, error, revents, event_.lowlevel_fd()));
            return;
        }
    }
}

void ChildWaitService::dispatch(std::int32_t pid, std::int32_t status)
{
    std::clog << "terminate child process, pid=" << pid << " status=" << status << std::endl;
    for (ChildWait* w = waiters_.head(); w; w = w->get_next()) {
        if (w->pid_ != pid)
            continue;
        Detach(w);
        // The handler may attach, rebind or destroy w: it is not touched afterwards.
        w->handler()->Invoke(*w, status);
        return;
    }
}
