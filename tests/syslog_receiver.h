#pragma once

#include "base/fd.h"

#include <optional>
#include <string>

namespace testsupport {

// A datagram receiver bound at a unix-domain socket path, standing in for the system's
// syslog daemon on "/dev/log". Each receive() returns one datagram as it came.
class SyslogReceiver {
public:
    // Binds at the path (removing a file of that name first); see bound().
    explicit SyslogReceiver(std::string path);
    ~SyslogReceiver();
    SyslogReceiver(SyslogReceiver const&) = delete;
    SyslogReceiver& operator=(SyslogReceiver const&) = delete;

    bool bound() const { return fd_.is_valid(); }
    // The next datagram, or nothing when none comes within timeoutMs.
    std::optional<std::string> receive(int timeoutMs);
    // Datagrams until one holds text (returned), or nothing on time-out.
    std::optional<std::string> receiveHolding(std::string const& text, int timeoutMs);

private:
    std::string path_;
    Fd fd_;
};

}  // namespace testsupport
