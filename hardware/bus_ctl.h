#pragma once

#include "base/fd.h"
#include "control/ctrl_server.h"

#include <iosfwd>

class spiCtrl;

// The board's TDM clock source, on "/dev/hal".
//
// Takes the controller's clockCfg and selects the one source it names; every controller
// connect and disconnect puts the internal free-running source back. The device opens at
// first use; a failed open is tried again at the next. Without the device the SPI line
// chips are told to leave clock-master mode. "--disable-clock" turns the service off
// before it is bound: the device is never opened and clockCfg is unsupported.
class BusCtl : public CtrlSrv::Service {
public:
    // Source numbers.
    static constexpr int kFreeRun = 4;
    static constexpr int kExternal = 5;

    // The process's service, built on first call.
    static BusCtl& instance();

    // spi: the line-chip service to fall back on (null: spiCtrl::instance(), when needed).
    explicit BusCtl(spiCtrl* spi = nullptr);
    ~BusCtl() override;

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(ZGCP::Command const& command) override;

    // For good: logs "clock control disabled.".
    void DisableControl();
    // Opens the device when it is closed and control is enabled.
    bool IsOpen();
    void SetDefaultClock();
    void SetClockSrc(ZGCP::ClockCfg const& cfg);
    void DrvSetClkSrc(int source);

    bool enabled() const { return enabled_; }
    void PutHeader(std::ostream& os) const;

private:
    Fd hal_;
    bool enabled_ = true;
    spiCtrl* spi_;
};
