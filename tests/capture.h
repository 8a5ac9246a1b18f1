#pragma once

#include <ostream>
#include <sstream>
#include <string>

namespace testsupport {

// Collects what is written to a stream (std::cerr, std::clog, ...) while it lives.
class CaptureStream {
public:
    explicit CaptureStream(std::ostream& stream) : stream_(stream), saved_(stream.rdbuf(text_.rdbuf())) {}
    ~CaptureStream() { stream_.rdbuf(saved_); }
    CaptureStream(CaptureStream const&) = delete;
    CaptureStream& operator=(CaptureStream const&) = delete;

    std::string text() const { return text_.str(); }
    // How many times the part occurs in the text.
    std::size_t count(std::string const& part) const
    {
        std::string const text = text_.str();
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

private:
    std::ostream& stream_;
    std::ostringstream text_;
    std::streambuf* saved_;
};

}  // namespace testsupport
