#pragma once

#include "base/fd.h"
#include "control/ctrl_server.h"
#include "runtime/timer.h"

#include <array>
#include <iosfwd>

// The BRI line interfaces: eight line chips reached one register at a time over SPI
// through "/dev/hal".
//
// Built at start-up, it opens the device and puts every line's registers into their
// working values; while a controller is connected it reads each line's status register
// once a second and reports the line as a trunkStatus of type bri; the clock control asks
// it which line, if any, is clock master. It takes no command. The first register access
// that fails with ENODEV shows a HAL without SPI: from then on the service does nothing.
class spiCtrl : public CtrlSrv::Service {
public:
    static constexpr int kLines = 8;
    static constexpr unsigned kPollMs = 1000;

    // Registers and values of the line chips.
    enum Register : unsigned { Init1 = 48, Status = 51, Mode = 50, Init2 = 52, Init3 = 53, Init4 = 54, Init5 = 55, Clock = 87 };
    static constexpr unsigned kDisabled = 128;
    static constexpr unsigned kEnabled = 0;
    static constexpr unsigned kClockSlave = 48;
    static constexpr unsigned kClockMaster = 56;

    // The process's service, built (and the chips set up) on first call.
    static spiCtrl& instance();

    // Opens the device and sets up every line.
    spiCtrl();
    // When the device is open: every line disabled, no clock master, the device closed.
    ~spiCtrl() override;

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(ZGCP::Command const&) override { return false; }

    void write(unsigned channel, unsigned reg, unsigned value);
    // The register's value; 0 when nothing could be read.
    unsigned read(unsigned channel, unsigned reg);
    void init_channel(int n);
    void enable_channel(int n);
    void disable_channel(int n);
    // Line n becomes the only clock master; -1: none is.
    void clock(int n);
    // One report per line, then the next pass in a second.
    void status();
    // Opens the device when it is closed and sets up every line.
    void init_device_and_channels();

    bool available() const { return available_; }
    bool polling() const { return timer_.is_running(); }
    void PutHeader(std::ostream& os) const;

private:
    // A register request: false (errno set) when it failed; ENODEV ends the service.
    bool request(unsigned long number, unsigned channel, unsigned reg, unsigned value, int& result);
    void lost();
    // What every operation on line n checks first: SPI present, n a line (else the
    // bad-channel line for what); then the device is opened and set up if it is closed.
    bool lineOp(int n, char const* what);

    Fd hal_;
    Timer timer_;
    bool available_ = true;
    // Per line: whether its slip bit was set at the last pass, so a slip is reported once.
    std::array<bool, kLines> slipLatch_{};
};
