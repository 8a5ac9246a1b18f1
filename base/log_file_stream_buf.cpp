#include "base/log_file_stream_buf.h"

#include "board/path.h"
#include "base/clock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr std::streamsize kAreaSize = 16;

long dayOf(struct tm const& t) { return long(t.tm_year) * 1000 + t.tm_yday; }

}  // namespace

LogFileStreamBuf::LogFileStreamBuf(std::string const& directory) : mDirectory(directory)
{
    mOwned.reset(new char[kAreaSize]);
    setp(mOwned.get(), mOwned.get() + kAreaSize);
    Mux::timeval tv;
    Mux::gettimeval(tv);
    std::time_t now = tv.tv_sec;
    struct tm tm = {};
    ::localtime_r(&now, &tm);
    NewFile(tm);
}

void LogFileStreamBuf::NewFile(struct tm const& now)
{
    mFile.reset();
    mHour = now.tm_hour;
    mDay = dayOf(now);
    char name[32];
    if (std::strftime(name, sizeof name, "%Y_%m_%d-%H", &now) == 0)
        return;
    std::string path = board::path(mDirectory + "/" + name + ".log");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0)
        mFile.emplace(fd);
}

void LogFileStreamBuf::write(char const* data, std::size_t n)
{
    while (mFile && n > 0) {
        ssize_t w = ::write(mFile->lowlevel_fd(), data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += w;
        n -= std::size_t(w);
    }
}

std::streambuf* LogFileStreamBuf::setbuf(char* p, std::streamsize n)
{
    if (p == nullptr || n < 1)
        return this;
    sync();
    setp(p, p + n);
    mOwned.reset();
    return this;
}

int LogFileStreamBuf::sync()
{
    char* s = pbase();
    char* end = pptr();
    if (!s)
        return 0;
    if (mMidLine) {
        char* nl = static_cast<char*>(std::memchr(s, '\n', std::size_t(end - s)));
        if (!nl) {
            write(s, std::size_t(end - s));
            setp(pbase(), epptr());
            return 0;
        }
        write(s, std::size_t(nl + 1 - s));
        s = nl + 1;
        mMidLine = false;
    }
    // One reading gives the file, the second and the microseconds, so they agree.
    Mux::timeval tv;
    Mux::gettimeval(tv);
    std::time_t now = tv.tv_sec;
    struct tm tm = {};
    ::localtime_r(&now, &tm);
    if (tm.tm_hour != mHour || dayOf(tm) != mDay)
        NewFile(tm);
    char prefix[32];
    int plen = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%06ld: ", tm.tm_min, tm.tm_sec,
                             long(tv.tv_usec));
    while (s < end) {
        write(prefix, std::size_t(plen));
        char* nl = static_cast<char*>(std::memchr(s, '\n', std::size_t(end - s)));
        if (!nl) {
            write(s, std::size_t(end - s));
            mMidLine = true;
            break;
        }
        write(s, std::size_t(nl + 1 - s));
        s = nl + 1;
    }
    setp(pbase(), epptr());
    return 0;
}

int LogFileStreamBuf::overflow(int c)
{
    sync();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return 0;
    if (!pbase() || pptr() == epptr())
        return traits_type::eof();
    return sputc(traits_type::to_char_type(c));
}
