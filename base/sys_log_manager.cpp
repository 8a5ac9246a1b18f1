#include "base/sys_log_manager.h"

#include "base/immortal.h"
#include "board/path.h"
#include "base/clock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace {

char const kDefaultIdent[] = "syslog-qe";

// Real time, whatever clock the loop runs on: the bound of a wait on the receiver.
long long steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Built before main, never destroyed.
Immortal<SysLogManager> immortal;

}  // namespace

SysLogManager& syslogManager = immortal.value;

SysLogManager::SysLogManager() : mType(SOCK_DGRAM), mIdent(kDefaultIdent), mFacility(LOG_USER)
{
    for (int i = 0; i < kMaxMessages; ++i) {
        mMsgs[i] = {};
        mMsgs[i].msg_hdr.msg_iov = &mVec[i];
        mMsgs[i].msg_hdr.msg_iovlen = 1;
    }
}

void SysLogManager::openlog(char const* ident, int options, int facility)
{
    openlog_internal(ident, options, facility);
}

void SysLogManager::closelog()
{
    closelog_internal();
    mIdent = kDefaultIdent;
    mType = SOCK_DGRAM;
    mUsed = 0;
    mCount = 0;
    mSent = 0;
    mPartial = 0;
}

void SysLogManager::openlog_internal(char const* ident, int options, int facility)
{
    if (ident)
        mIdent = ident;
    mOptions = options;
    if (facility != 0 && (facility & ~LOG_FACMASK) == 0)
        mFacility = facility;

    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!mFd) {
            if (!(mOptions & LOG_NDELAY))
                return;
            // Non-blocking while it connects: a stream receiver with a full queue refuses at
            // once instead of holding the caller.
            int s = ::socket(AF_UNIX, mType | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (s < 0)
                return;
            mFd.emplace(s);
        }
        if (mConnected)
            return;
        // Descriptor 0 is as good as any other.
        struct sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        std::string path = board::path("/dev/log");
        int r;
        if (path.size() >= sizeof addr.sun_path) {
            r = -1;
            errno = ENAMETOOLONG;
        } else {
            std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
            r = ::connect(mFd->lowlevel_fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        }
        if (r == 0) {
            // Blocking again for those that inherit it as their standard output; the client
            // itself never waits on it without a bound.
            mConnected = BlockMode(mFd->lowlevel_fd());
            if (!mConnected)
                mFd.reset();
            return;
        }
        int err = errno;
        mFd.reset();
        if (err != EPROTOTYPE)
            return;
        mType = mType == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
    }
}

void SysLogManager::closelog_internal()
{
    if (mConnected) {
        mFd.reset();
        mConnected = false;
    }
}

void SysLogManager::syslog(int priority, char const* format, ...)
{
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

void SysLogManager::vsyslog(int priority, char const* format, va_list args)
{
    if (!(mMask & (1 << (priority & LOG_PRIMASK))))
        return;
    if ((priority & LOG_FACMASK) == 0)
        priority |= mFacility;

    // Each piece is cut to the room left, so the message never passes kLineSize - 1.
    constexpr std::size_t cap = kLineSize - 1;
    std::size_t pos = 0;
    auto advance = [&](int n) {
        if (n > 0)
            pos = std::min(cap, pos + std::size_t(n));
    };
    advance(std::snprintf(mLine, cap + 1, "<%d>", priority));
    std::time_t now = Mux::seconds();
    struct tm tm;
    if (::localtime_r(&now, &tm))
        pos += std::strftime(mLine + pos, cap + 1 - pos, "%h %e %T ", &tm);
    mLine[pos] = '\0';
    std::size_t text = pos;
    if (!mIdent.empty())
        advance(std::snprintf(mLine + pos, cap + 1 - pos, "%s", mIdent.c_str()));
    if (mOptions & LOG_PID)
        advance(std::snprintf(mLine + pos, cap + 1 - pos, "[%d]", int(::getpid())));
    if (!mIdent.empty())
        advance(std::snprintf(mLine + pos, cap + 1 - pos, ": "));
    advance(std::vsnprintf(mLine + pos, cap + 1 - pos, format, args));

    if (mOptions & LOG_PERROR) {
        struct iovec v[2] = {{mLine + text, pos - text}, {const_cast<char*>("\n"), 1}};
        bool lineEnd = pos > text && mLine[pos - 1] == '\n';
        ssize_t ignored = ::writev(STDERR_FILENO, v, lineEnd ? 1 : 2);
        (void)ignored;
    }

    if (!mConnected)
        openlog_internal(nullptr, mOptions | LOG_NDELAY, 0);
    unsigned int length = unsigned(pos) + 1;  // with the NUL
    if (mConnected && sendmsg_internal(mLine, length) >= 0)
        return;
    if (mConnected) {
        closelog_internal();
        openlog_internal(nullptr, mOptions | LOG_NDELAY, 0);
    }
    if (mConnected && sendmsg_internal(mLine, length) >= 0)
        return;
    closelog_internal();
    if (mOptions & LOG_CONS)
        console(mLine + text, pos - text);
}

void SysLogManager::console(char const* text, std::size_t length)
{
    Fd con;
    if (!con.open(board::path("/dev/console").c_str(), O_WRONLY | O_NOCTTY))
        return;
    struct iovec v[2] = {{const_cast<char*>(text), length}, {const_cast<char*>("\r\n"), 2}};
    ssize_t ignored = ::writev(con.lowlevel_fd(), v, 2);
    (void)ignored;
}

int SysLogManager::sendmsg_internal(char const* data, unsigned int length)
{
    if (data == nullptr || length == 0)
        return 0;
    // A message is at most kLineSize bytes and the batch leaves past kBatchSendAt, so
    // there is always room; the check only guards against misuse.
    if (length > unsigned(kBatchSize) - mUsed)
        return -1;
    std::memcpy(mBatch + mUsed, data, length);
    mVec[mCount].iov_base = mBatch + mUsed;
    mVec[mCount].iov_len = length;
    mUsed += length;
    ++mCount;
    if (mCount >= kMaxMessages || mUsed > unsigned(kBatchSendAt))
        return sendmsg();
    return 0;
}

int SysLogManager::transmit()
{
    int fd = mFd ? mFd->lowlevel_fd() : -1;
    if (fd < 0)
        return -1;
    long bytes = 0;
    long long const deadline = steadyMs() + kSendWaitMs;
    if (mType == SOCK_DGRAM) {
        while (mSent < mCount) {
            int n = ::sendmmsg(fd, mMsgs + mSent, unsigned(mCount - mSent), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && waitForRoom(fd, deadline)))
                    continue;
                return -1;
            }
            mStalled = false;
            for (int i = 0; i < n; ++i)
                bytes += long(mVec[mSent + i].iov_len);
            mSent += n;
        }
        return int(bytes);
    }
    // A stream socket may take part of the batch: go on from where it stopped.
    while (mSent < mCount) {
        struct iovec rest[kMaxMessages];
        int parts = mCount - mSent;
        std::copy(mVec + mSent, mVec + mCount, rest);
        rest[0].iov_base = static_cast<char*>(rest[0].iov_base) + mPartial;
        rest[0].iov_len -= mPartial;
        struct msghdr h = {};
        h.msg_iov = rest;
        h.msg_iovlen = std::size_t(parts);
        ssize_t n = ::sendmsg(fd, &h, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && waitForRoom(fd, deadline)))
                continue;
            return -1;
        }
        mStalled = false;
        bytes += n;
        std::size_t left = std::size_t(n);
        while (left > 0 && mSent < mCount) {
            std::size_t rem = mVec[mSent].iov_len - mPartial;
            if (left >= rem) {
                left -= rem;
                mPartial = 0;
                ++mSent;
            } else {
                mPartial += left;
                left = 0;
            }
        }
    }
    return int(bytes);
}

bool SysLogManager::waitForRoom(int fd, long long deadline)
{
    for (long long left; !mStalled && (left = deadline - steadyMs()) > 0;) {
        pollfd entry{fd, POLLOUT, 0};
        int const r = ::poll(&entry, 1, int(left));
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            break;
    }
    mStalled = true;
    errno = EAGAIN;
    return false;
}

int SysLogManager::sendmsg()
{
    if (mUsed == 0 || mCount < 1)
        return 0;
    int r = 0;
    if (mFd) {
        r = transmit();
        if (r < 0) {
            // The receiver went away (restarted, say): connect anew and send the rest once
            // more, a message cut short on a stream socket from its start.
            closelog_internal();
            mFd.reset();
            mPartial = 0;
            openlog_internal(nullptr, mOptions | LOG_NDELAY, 0);
            if (mConnected)
                r = transmit();
        }
    }
    mUsed = 0;
    mCount = 0;
    mSent = 0;
    mPartial = 0;
    return r;
}

// ---------------------------------------------------------------------------------------
// Stream buffers

SysLogStreamBuf::SysLogStreamBuf(int facility, int severity) : mPriority(facility | severity)
{
    newArea(SysLogManager::kLineSize);
}

void SysLogStreamBuf::newArea(std::streamsize n)
{
    std::unique_ptr<char[]> area(new char[std::size_t(n)]);
    useArea(area.get(), n);
    mOwned = std::move(area);
}

std::streambuf* SysLogStreamBuf::setbuf(char* p, std::streamsize n)
{
    if (p == nullptr || n < 2)
        return this;
    useArea(p, n);
    mOwned.reset();
    return this;
}

void SysLogStreamBuf::useArea(char* p, std::streamsize n)
{
    if (pbase())
        sync();
    setp(p, p + n - 1);  // one character stays free for the NUL
}

bool SysLogStreamBuf::cutLines(bool keepTail)
{
    char* begin = pbase();
    char* end = pptr();
    if (!begin)
        return false;
    *end = '\0';
    char* last = static_cast<char*>(memrchr(begin, '\n', std::size_t(end - begin)));
    if (!last && end != epptr())
        return false;
    // A full buffer keeps the unfinished line it ends with, so the line is not broken in
    // two messages; a buffer full of one line goes out whole.
    char* stop = keepTail && last ? last + 1 : end;
    for (char* s = begin; s < stop;) {
        char* nl = static_cast<char*>(std::memchr(s, '\n', std::size_t(stop - s)));
        if (nl)
            *nl = '\0';
        log(s);
        s = nl ? nl + 1 : stop;
    }
    std::size_t tail = std::size_t(end - stop);
    std::memmove(begin, stop, tail);
    setp(begin, epptr());
    pbump(int(tail));
    return true;
}

void SysLogStreamBuf::log(char const* line) { ::syslog(mPriority, "%s", line); }

int SysLogStreamBuf::sync()
{
    if (cutLines(false))
        sent();
    return 0;
}

void SysLogStreamBuf::sent() {}

int SysLogStreamBuf::overflow(int c)
{
    if (cutLines(true))
        sent();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return 0;
    if (!pbase() || pptr() == epptr())
        return traits_type::eof();
    return sputc(traits_type::to_char_type(c));
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int severity)
    : SysLogStreamBuf(facility, severity)
{
    newArea(SysLogManager::kBatchSize);
}

void ManagedSysLogStreamBuf::log(char const* line) { syslogManager.syslog(mPriority, "%s", line); }

void ManagedSysLogStreamBuf::sent() { syslogManager.sendmsg(); }
