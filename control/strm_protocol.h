#pragma once

#include "control/protocol.h"
#include "runtime/event.h"
#include "base/fd.h"
#include "base/measure.h"

#include <cstdint>
#include <iosfwd>
#include <string>

// The bottom layer of a message connection: owns the connected stream socket, passes up
// whatever arrives, writes every packet completely before returning (waiting at most
// 1000 ms in all for a full socket) and turns any socket trouble into one error status
// that ends the connection. The descriptor is closed before the status is reported.
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
};
