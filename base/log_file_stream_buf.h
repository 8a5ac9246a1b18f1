#pragma once

#include "base/fd.h"

#include <memory>
#include <optional>
#include <streambuf>
#include <string>

// A stream buffer that writes time-stamped lines into hourly files of a directory.
//
// The files are named "<directory>/%Y_%m_%d-%H.log" after the local time (the directory
// is a board path) and are appended to, so reopening a file keeps what it had. Each line
// begins with "mm:ss:uuuuuu: " (minute, second, microseconds) taken when it is flushed; a
// line written across several flushes carries one prefix. A new file is started whenever
// the date or the hour changes. A file that cannot be opened makes the writes fail
// quietly.
class LogFileStreamBuf : public std::streambuf {
public:
    explicit LogFileStreamBuf(std::string const& directory);
    ~LogFileStreamBuf() override = default;

protected:
    // Uses the caller's array (all n characters) from now on.
    std::streambuf* setbuf(char* p, std::streamsize n) override;
    int sync() override;
    int overflow(int c) override;

private:
    void NewFile(struct tm const& now);
    void write(char const* data, std::size_t n);

    std::optional<Fd> mFile;
    std::string mDirectory;
    int mHour = -1;
    long mDay = -1;  // year and day of the year of the open file
    bool mMidLine = false;
    std::unique_ptr<char[]> mOwned;
};
