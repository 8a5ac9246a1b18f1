#pragma once

#include <cstddef>
#include <ostream>
#include <sstream>
#include <string>

namespace testsupport {

// How often the part occurs in the text (a log line in a log).
inline std::size_t occurrences(std::string const& text, std::string const& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Collects what is written to a stream (std::cerr, std::clog, ...) while it lives.
class CaptureStream {
public:
    explicit CaptureStream(std::ostream& stream) : stream_(stream), saved_(stream.rdbuf(text_.rdbuf())) {}
    ~CaptureStream() { stream_.rdbuf(saved_); }
    CaptureStream(CaptureStream const&) = delete;
    CaptureStream& operator=(CaptureStream const&) = delete;

    std::string text() const { return text_.str(); }
    // How many times the part occurs in the text.
    std::size_t count(std::string const& part) const { return occurrences(text_.str(), part); }

private:
    std::ostream& stream_;
    std::ostringstream text_;
    std::streambuf* saved_;
};

}  // namespace testsupport
