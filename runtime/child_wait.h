#pragma once

#include "base/dual_list.h"
#include "runtime/event.h"
#include "base/fd.h"

#include <signal.h>

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>

class ChildWaitService;

// Waits for the exit of one child process and calls its owner back with the wait status.
//
// A ChildWait is a member of the object that starts the child: Bind a member function
// once, then Attach the child's pid right after the fork. The exit is delivered from the
// event loop, never from the signal handler, so attaching after the fork cannot miss a
// child that ends at once. A waiter is detached before its handler runs, so the handler may
// attach it again, rebind it or destroy it with its owner.
class ChildWait : public F_dual_list_item<ChildWait> {
public:
    // The exit callback; it lives in the ChildWait's own storage.
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(ChildWait& wait, int status) = 0;
    };

    class DummyHandler : public Handler {
    public:
        void Invoke(ChildWait&, int) override {}
    };

    template <class T>
    class THandler1 : public Handler {
    public:
        typedef void (T::*Method)(int);
        THandler1(T* object, Method method) : object_(object), method_(method) {}
        void Invoke(ChildWait&, int status) override { (object_->*method_)(status); }

    private:
        T* object_;
        Method method_;
    };

    // One static instance in every unit that uses ChildWait (this header makes it): the
    // first creates the service, the last one destroyed destroys it.
    class Init {
    public:
        Init();
        ~Init();
        Init(Init const&) = delete;
        Init& operator=(Init const&) = delete;
    };

    ChildWait() { new (storage_) DummyHandler; }
    ~ChildWait();
    ChildWait(ChildWait const&) = delete;
    ChildWait& operator=(ChildWait const&) = delete;

    // Replaces the handler; the pid and the attachment stay as they are. Never allocates.
    // The class is taken from the member function; the object may be of a derived class.
    template <class T>
    void Bind(typename std::common_type<T>::type* object, void (T::*method)(int))
    {
        static_assert(sizeof(THandler1<T>) <= kStorage, "handler too large for its storage");
        handler()->~Handler();
        new (storage_) THandler1<T>(object, method);
    }

    // Waits for the child pid (moved to the tail when it waited already).
    void Attach(int pid);
    // Stops waiting; nothing when not waiting.
    void Detach();

    int pid() const { return pid_; }
    bool attached() const { return attached_; }

    static void Initialize();
    static void Cleanup();
    // Starts reaping: the service's socket pair and SIGCHLD handler.
    static void Activate();

    // Number of live Init objects.
    static std::uint32_t UsageCounter;

private:
    friend class ChildWaitService;
    static constexpr std::size_t kStorage = 64;

    Handler* handler() { return std::launder(reinterpret_cast<Handler*>(storage_)); }

    int pid_ = -1;
    bool attached_ = false;
    alignas(std::max_align_t) unsigned char storage_[kStorage];
};

namespace {
ChildWait::Init childWaitInit;
}  // namespace

// Turns SIGCHLD into a loop event. The signal handler reaps every ended child with
// waitpid and writes one 8-byte record {pid, status} per child into a datagram socket
// pair; the loop reads the records, logs each exit and hands it to the ChildWait waiting
// for that pid.
//
// The handler never blocks: the write end is non-blocking, and a record that the socket
// cannot take at once goes to a small ring that the loop drains after the socket. When the
// ring is full too, the handler stops reaping, and the loop reaps the remaining children
// once it has made room; so no exit is lost. Should the read end ever end (a read of 0, an
// error, a hang-up), one line says so and a new socket pair takes the old one's place.
class ChildWaitService {
public:
    // The one service (null outside the lifetime of the Init objects).
    static ChildWaitService* childWaitService;

    ChildWaitService() = default;
    // Uninstalls the SIGCHLD handler first, then closes the descriptors; the waiters are
    // left untouched.
    ~ChildWaitService();
    ChildWaitService(ChildWaitService const&) = delete;
    ChildWaitService& operator=(ChildWaitService const&) = delete;

    // The socket pair, the loop event and the SIGCHLD handler; then the children that ended
    // before are reaped. On failure "ChildWaitService: initialize fails" on the error stream
    // and nothing is reaped. A second call does nothing.
    void Activate();
    // Undoes Activate: the handler goes back to the default, the loop stops polling.
    void Deactivate();
    bool IsActive() const { return installed_; }

    void Attach(ChildWait* wait);
    void Detach(ChildWait* wait);
    unsigned int waiting() const { return waiters_.count(); }
    // The descriptor the handler writes the records to; -1 while inactive.
    int writeEnd() const { return writeFd_; }

    // The installed handler: keeps errno, reaps through the service when there is one.
    static void SigChldHandlerWrapper(int, siginfo_t*, void*);
    // Reaps every ended child and records each exit (signal context).
    void SigChldHandler();
    // The loop callback of the read end.
    void OnChildEvent(int fd, short revents);

    static constexpr unsigned int kRingSize = 32;

private:
    struct Record {
        std::int32_t pid;
        std::int32_t status;
    };

    void post(std::int32_t pid, std::int32_t status);
    bool ringEmpty() const { return head_.load() == tail_.load(); }
    bool ringFull() const { return tail_.load() - head_.load() >= kRingSize; }
    // Reaps from the loop with SIGCHLD blocked.
    void reapNow();
    // Makes the socket pair and polls its read end; false (logged) when it cannot.
    bool openPair();
    // The read end has ended: a new pair replaces the old one, so no exit is lost.
    void reopen(std::string const& why);
    // Hands on the records the socket holds, until it has none or ends (revents: the
    // readiness that led to the reading, 0 for none).
    void readRecords(short revents);
    void dispatch(std::int32_t pid, std::int32_t status);

    Event event_;
    Fd write_;
    // The write end for the handler; -1 when none.
    volatile std::sig_atomic_t writeFd_ = -1;
    bool installed_ = false;
    F_dual_list<ChildWait> waiters_;
    // Records the socket could not take: written by the handler at tail_, read by the loop
    // at head_ (free-running counters).
    Record ring_[kRingSize] = {};
    std::atomic<unsigned int> head_{0};
    std::atomic<unsigned int> tail_{0};
    // The handler left children unreaped for want of room.
    std::atomic<bool> overflow_{false};
};
