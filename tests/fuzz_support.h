#pragma once

// What every fuzz target shares: the input read a byte at a time, the report of a breach,
// quiet log streams, the process's own network, the clock moved on within a budget, TPKT
// frames cut from what a peer of the daemon received, and what an input must leave as it
// found it (descriptors, timers, packets of the pool).

#include "base/clock.h"

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <streambuf>
#include <string>
#include <vector>

namespace testsupport {

// The bytes of an input, read in order; past the end they read as 0.
class FuzzInput {
public:
    FuzzInput(std::uint8_t const* data, std::size_t size) : at_(data), end_(data + size) {}

    bool done() const { return at_ == end_; }
    std::size_t left() const { return std::size_t(end_ - at_); }
    std::uint8_t byte() { return done() ? 0 : *at_++; }
    // Words, little-endian.
    std::uint16_t word16();
    std::uint32_t word32();
    // Words, the most significant byte first.
    std::uint16_t bigWord16();
    std::uint32_t bigWord32();
    // The next n bytes, or what is left.
    std::vector<std::uint8_t> take(std::size_t n);
    // A text of up to max bytes: a length byte, then the bytes.
    std::string text(std::size_t max);

private:
    std::uint8_t const* at_;
    std::uint8_t const* end_;
};

// Ends the run on a breach, saying which on the standard error ("<target>: <what>").
[[noreturn]] void breach(char const* target, std::string const& what);

// Ends a target that cannot start (a folder, a file or a port it needs is not to be had),
// saying why in one line ("<target>: cannot start: <why>"), with exit code 1 and no report
// of the engine's: no input is at fault.
[[noreturn]] void cannotStart(char const* target, std::string const& why);
// Runs what builds a target's part; what it throws ends the target as cannotStart does.
void start(char const* target, std::function<void()> const& build);
// Ends a target that cannot go on for a fault of its own making (a socket it cannot have),
// as cannotStart does ("<target>: cannot go on: <why>"): no verdict on the daemon.
[[noreturn]] void cannotGoOn(char const* target, std::string const& why);

// A fresh board root for the process (a folder under /tmp, with the board folders given),
// set as the root and removed with its contents: by the process when it exits or finds a
// breach (with a file system it mounted there), and else by a janitor process of its own
// once it and every process it forked (and that runs no other program) have ended, however
// they ended (an interrupt or a crash, which the engine ends with _Exit, or a signal). In a
// namespace of processes that a process with a board root made, the root is made in that
// one's, and goes with it. A target that cannot make it stops as cannotStart says. Its path.
std::string boardRoot(char const* target, std::initializer_list<char const*> folders = {});
// Removes the board root boardRoot() made, now: for a process that ends without its exit
// handlers, or that outlives the one that used it.
void removeBoardRoot();
// Writes a program the daemon runs as a child (a shell script, or bytes that are none) at
// the path, executable when asked, replacing what was there, in the folders it needs; false
// when it cannot.
bool writeProgram(std::string const& path, std::string const& text, bool executable = true);
// Whether a child process is left (running or not reaped yet), or the daemon still waits
// for one.
bool childLeft();

// Takes whatever is written and keeps nothing.
class Discard : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(char const*, std::streamsize n) override { return n; }
};

// Counts the lines written to a stream that hold a text, while it lives, and passes what is
// written on to where the stream wrote before (nowhere when the streams are quiet). Lines
// ended by std::endl or "\n" are seen as they end.
class LineCount : public std::streambuf {
public:
    LineCount(std::ostream& stream, std::string part);
    ~LineCount() override;
    LineCount(LineCount const&) = delete;
    LineCount& operator=(LineCount const&) = delete;

    std::size_t count() const { return count_; }

protected:
    int overflow(int c) override;
    std::streamsize xsputn(char const* s, std::streamsize n) override;
    int sync() override { return next_ ? next_->pubsync() : 0; }

private:
    std::ostream& stream_;
    std::streambuf* next_;
    std::string part_;
    std::string line_;
    std::size_t count_ = 0;
};

// The standard output, error and log streams write nowhere unless the environment
// variable is set (to look into a finding); true when they are shown.
bool quietStreams(char const* variable);

// For LLVMFuzzerInitialize: libFuzzer's arguments with -print_funcs=0 and the target's own
// defaults (its length limit, "-max_len=8192", say) before the command line's flags, which
// rule where they say otherwise. Naming a newly covered function starts a symbolizer process,
// a child the checks would take for one the daemon left.
void quietFuzzer(int* argc, char*** argv, std::initializer_list<char const*> defaults = {});

// A network of the process's own with only its loopback up: the daemon's fixed ports and
// the peers an input names never reach the machine's network. False (with a line naming
// the target) when the process may not make one.
bool privateNetwork(char const* target);

// Without CAP_NET_RAW the process opens no packet socket, so that the monitoring
// controller samples no network interface: the close of a packet socket waits for the
// kernel's grace period at every sample, which would make a run several times slower.
void noPacketSockets(char const* target);

// A TCP socket of the target's own (a peer of the daemon on the loopback) that sends every
// write at once and acknowledges at once what it gets, so that neither side's small writes
// wait for the other's delayed acknowledgement.
void promptSocket(int fd);
// Runs the loop until the socket has handed all that was written to it to its peer (real
// time, within the bound); false when it has not.
bool handedOver(int fd, int timeoutMs);
// Connects a socket of the target's own, running the loop meanwhile so that a listener of the
// daemon's may take the connection (real time, within the bound). The call never waits, so
// no signal of the process's (the engine's time-out alarm) cuts it short; the socket is left
// blocking or not as it was. 0 once connected, else the error (ETIMEDOUT past the bound).
int connectWithin(int fd, sockaddr const* to, socklen_t size, int timeoutMs);

// The clock time the steps of one input may pass in all.
class TimeBudget {
public:
    explicit TimeBudget(std::uint32_t ms) : left_(ms) {}
    // As much of ms as is left, taken from what is left.
    std::uint32_t spend(std::uint32_t ms);

private:
    std::uint32_t left_;
};

// The clock moves on by ms, at most stepMs at a time, with check() after each move.
void passTime(Mux::TestClock& clock, std::uint32_t ms, std::uint32_t stepMs, std::function<void()> const& check);

// Cuts the whole TPKT frames off the front of what a peer of the daemon received, handing
// each body on, in order; part of a frame stays. Bytes that are not a frame (version 3,
// reserved 0, a length past the header: the daemon sends no empty message) are a breach.
void takeFrames(char const* target, std::vector<std::uint8_t>& in,
                std::function<void(std::vector<std::uint8_t> const& body)> const& body);
// Appends what the socket has for now; true when its connection has ended (or failed).
bool receiveAll(int fd, std::vector<std::uint8_t>& in);

// The descriptors the process holds, each as its number and what it refers to, but those
// given (a simulated board's own) and the one that lists them.
std::map<int, std::string> heldDescriptors(std::vector<int> const& except = {});
// "[12 socket:[5127]]" for each descriptor held after that was not before.
std::string newDescriptors(std::map<int, std::string> const& before, std::map<int, std::string> const& after);

// What an input must leave as it found it: the descriptors the process holds (but those
// given: a simulated board's own), the loop's pending timers and the free blocks of the
// packet pool.
class Baseline {
public:
    void take(std::vector<int> const& except = {});
    bool taken() const { return taken_; }
    unsigned timers() const { return timers_; }
    // What is left beyond it; empty when nothing (or when it was not taken).
    std::string left(std::vector<int> const& except = {}) const;

private:
    bool taken_ = false;
    std::map<int, std::string> descriptors_;
    unsigned timers_ = 0;
    unsigned packets_ = 0;
};

}  // namespace testsupport
