#pragma once

#include "control/protocol.h"
#include "runtime/event.h"
#include "base/fd.h"
#include "base/measure.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

// The bottom layer of a message connection: owns the connected stream socket, passes up
// whatever arrives, writes every packet completely before returning (waiting at most
// 1000 ms in all for a full socket) and turns any socket trouble into one error status
// that ends the connection. The descriptor is closed before the status is reported.
//
// A peer's last words are not lost to its end: a hang-up, an error or a failed write is
// reported only after what waits in the socket has been read and passed up, each message
// handled as if the peer were still there; once a write has failed, later writes are
// dropped silently. A descriptor found not open (POLLNVAL) ends the stream at once.
class StrmProtocol : public Protocol {
public:
    // The longest time one packet may take to be written.
    static constexpr int write_timeout_ms = 1000;

    StrmProtocol();
    explicit StrmProtocol(Fd fd);
    ~StrmProtocol() override;

    Protocol_name const& name() const override { return name_; }

    // Holds a duplicate of fd (releasing the previous one).
    void attach(Fd const& fd);
    // Stops watching and closes the descriptor; nothing is reported.
    void release();
    bool opened() const { return fd_.is_valid(); }

    bool local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;

    void on_event(int fd, short revents);
    // Ends the stream for the reason given (an end its owner saw in the socket's state):
    // what waits is read and passed up first.
    void end(std::string const& text);
    // Looks at the socket now, outside the loop's turn: a peer that has gone (a reset, an
    // error, its sending side shut) ends the stream as end() does.
    void take_waiting_end();

    std::string const& service_name() const { return serviceName_; }
    void service_name(std::string const& name) { serviceName_ = name; }
    Measure const& get_read_measure() const { return readMeasure_; }
    Measure const& get_write_measure() const { return writeMeasure_; }
    std::uint32_t GetOverflowCounter() const { return overflow_; }

    // "SockStream[<service name>]: "
    void PutHeader(std::ostream& os) const;

    // Socket figures of the error lines.
    int sendbuf_space() const;
    int recvbuf_space() const;
    int inq_space() const;
    int outq_space() const;
    int free_space() const;

private:
    void init();
    void do_read();
    // One read of at most limit bytes, passed up: its result, errno kept.
    ssize_t read_up(std::size_t limit);
    // Reads and passes up what waits in the socket, then reports the end that is due.
    void take_rest();
    void on_error(std::string const& text);
    // "<what>, sendbuf=..., recvbuf=..., free=..., inq=..., outq=..." on the error stream,
    // then ", error=" and the error's text unless error is 0.
    void write_failure_line(char const* what, int error) const;

    Protocol_name_str name_{"StrmProtocol"};
    Fd fd_;
    bool outqReportsFree_ = false;
    std::string serviceName_;
    Event event_;
    Measure readMeasure_;
    Measure writeMeasure_;
    std::uint32_t overflow_ = 0;
    // A read is passing its bytes up: an end found meanwhile waits for it.
    bool reading_ = false;
    // Why the stream ends, once the rest is read; empty while no end is due.
    std::string pendingEnd_;
    // A write has failed: the peer takes nothing more.
    bool writeFailed_ = false;
};
