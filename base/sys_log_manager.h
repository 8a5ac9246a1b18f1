#pragma once

#include "base/fd.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>

// The program's own syslog client on the local socket "/dev/log".
//
// Each message is "<priority>", the local time as "%h %e %T ", the ident (with the
// process id in square brackets under LOG_PID) and ": " when there is an ident, the text,
// and a NUL; 1024 bytes at most. Messages are queued and sent together by sendmsg(): on a
// datagram socket one datagram per message (sent with one system call), so a receiver
// keeps every line; on a stream socket the NUL-terminated messages follow each other.
// A failed send reconnects once and sends again what is left. The client connects by
// itself whenever a message finds it unconnected.
//
// A receiver that takes nothing (a syslog daemon that hangs) holds the caller up for
// kSendWaitMs at most: a batch waits for room that long in all, then the rest of it is
// lost, and the batches after it do not wait at all until a send goes through again. A
// connect to a stream receiver whose queue is full fails at once.
class SysLogManager {
public:
    static constexpr int kLineSize = 1024;
    static constexpr int kBatchSize = 16384;
    static constexpr int kBatchSendAt = 12288;  // bytes queued past which the batch leaves
    static constexpr int kMaxMessages = 256;
    static constexpr int kSendWaitMs = 1000;

    SysLogManager();
    SysLogManager(SysLogManager const&) = delete;
    SysLogManager& operator=(SysLogManager const&) = delete;

    // Takes the ident (when not null), the options (LOG_PID, LOG_CONS, LOG_NDELAY,
    // LOG_PERROR) and a default facility (when not 0); LOG_NDELAY connects at once.
    void openlog(char const* ident, int options, int facility);
    // Closes the socket and drops the queued messages; the ident is reset.
    void closelog();
    // Formats and queues one message; printf-style (pass foreign text through "%s").
    void syslog(int priority, char const* format, ...) __attribute__((format(printf, 3, 4)));
    // Sends the queued messages; the bytes sent, or -1 when the send failed.
    int sendmsg();
    // The socket's descriptor, -1 when there is none.
    int fd() const { return mFd ? mFd->lowlevel_fd() : -1; }

private:
    void vsyslog(int priority, char const* format, va_list args);
    void openlog_internal(char const* ident, int options, int facility);
    void closelog_internal();
    int sendmsg_internal(char const* data, unsigned int length);
    int transmit();
    // Waits for room on the socket until the deadline (milliseconds of the steady clock),
    // not at all while stalled; false (stalled from now on) when no room comes.
    bool waitForRoom(int fd, long long deadline);
    void console(char const* text, std::size_t length);

    int mType;
    std::optional<Fd> mFd;
    bool mConnected = false;
    int mOptions = 0;
    std::string mIdent;
    int mFacility;
    int mMask = 0xff;
    char mLine[kLineSize];
    char mBatch[kBatchSize];
    std::uint32_t mUsed = 0;
    struct iovec mVec[kMaxMessages];
    struct mmsghdr mMsgs[kMaxMessages];
    int mCount = 0;
    int mSent = 0;            // messages of the batch already sent
    std::size_t mPartial = 0;  // bytes of the next message already sent (stream socket)
    bool mStalled = false;     // the receiver gave no room: sends do not wait until one goes
};

// The one client of the process. It is never destroyed, so the standard streams may still
// log through it while the process exits.
extern SysLogManager& syslogManager;

// A stream buffer that logs each line with one priority through the C library's syslog.
// A flush sends every complete line and a last piece after them; text without a line end
// waits for more unless the buffer is full. A full buffer sends its complete lines and
// keeps the unfinished one (or, holding no line end, goes out whole).
class SysLogStreamBuf : public std::streambuf {
public:
    // Facility as the C library defines it (LOG_DAEMON = 24), severity 0 to 7.
    SysLogStreamBuf(int facility, int severity);
    ~SysLogStreamBuf() override = default;

protected:
    // Uses the caller's array (of n >= 2 characters, one kept for the NUL) from now on.
    std::streambuf* setbuf(char* p, std::streamsize n) override;
    int sync() override;
    int overflow(int c) override;

    // Cuts the text into lines and hands each to log(); false when the text waits for
    // more (no line end, buffer not full). With keepTail an unfinished last line stays.
    bool cutLines(bool keepTail);
    // One message per line.
    virtual void log(char const* line);
    // After the lines of one cut were logged.
    virtual void sent();
    // Makes a new owned array of n characters the buffer.
    void newArea(std::streamsize n);

    int mPriority;

private:
    void useArea(char* p, std::streamsize n);

    std::unique_ptr<char[]> mOwned;
};

// The same through syslogManager: every flush sends its messages in one batch.
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
public:
    ManagedSysLogStreamBuf(int facility, int severity);
    ~ManagedSysLogStreamBuf() override = default;

protected:
    void log(char const* line) override;
    void sent() override;
};
