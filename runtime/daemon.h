#pragma once

#include <memory>
#include <string>

class LogFileStreamBuf;

namespace Daemon {

// How to detach.
class Params {
public:
    Params() = default;

    // 0: the standard streams go to the program's syslog client; 1: to hourly log files.
    int mode = 0;
    // Keep the working directory.
    bool nochdir = false;
    // Mode 0: the syslog ident (at most 79 characters are used); mode 1: the directory of
    // the log files.
    std::string name = "unknown";
};

// Detaches the process from its terminal as daemon(3) does (the parent exits, the child goes
// on in a new session with descriptors 0, 1 and 2 on the null device; its fork is
// Process::Fork's) and sends the standard streams to the mode's back end. When detaching
// fails: "daemon() fail!" on the error stream and exit code 2.
//
// Mode 0: std::cout, std::cerr and std::clog log through syslogManager with the daemon
// facility and the severities notice, err and debug; the syslog socket is also put on
// descriptors 1 and 2, so that bytes written to them directly (and by child programs,
// which inherit them) reach the log. These stream buffers are never destroyed, so the
// streams keep working while the process exits.
// Mode 1: one log-file buffer serves the three streams while the sentry lives.
class Sentry {
public:
    explicit Sentry(Params const& params);
    ~Sentry();
    Sentry(Sentry const&) = delete;
    Sentry& operator=(Sentry const&) = delete;

private:
    int mode_;
    std::unique_ptr<LogFileStreamBuf> logFile_;
};

// Detaches once: the first call builds the process's Sentry, later calls do nothing.
void Init(Params const& params);

}  // namespace Daemon
