#include "hardware/bus_ctl.h"

#include "asn1/value_notation.h"
#include "base/ext.h"
#include "board/board.h"
#include "board/hal.h"
#include "hardware/spi_ctrl.h"

#include <fcntl.h>

#include <iostream>
#include <iterator>

namespace {

// The source's name, or its number where the table has none.
void putSource(std::ostream& os, int source)
{
    static char const* const names[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
    if (source >= 0 && source < int(std::size(names)))
        os << names[source];
    else
        os << source;
}

}  // namespace

BusCtl& BusCtl::instance()
{
    static BusCtl clock;
    return clock;
}

BusCtl::BusCtl(spiCtrl* spi) : spi_(spi) {}

BusCtl::~BusCtl() = default;

void BusCtl::PutHeader(std::ostream& os) const { os << "clkctl: "; }

void BusCtl::DisableControl()
{
    std::clog << ext::header(this) << "clock control disabled." << std::endl;
    enabled_ = false;
}

bool BusCtl::IsOpen()
{
    if (hal_)
        return true;
    if (!enabled_)
        return false;
    hal_ = Fd(board::board().open(hal::kPath, O_RDWR | O_CLOEXEC));
    return bool(hal_);
}

bool BusCtl::OnCommand(ZGCP::Command const& command)
{
    if (!command.clockCfg_isSelected())
        return false;
    if (!enabled_) {
        Error(ZGCP::ErrorCause::unsupported);
        return true;
    }
    SetClockSrc(command.get_clockCfg());
    // Driver failures are logged; the controller gets success.
    Success();
    return true;
}

void BusCtl::OnConnect()
{
    if (enabled_)
        SetDefaultClock();
}

void BusCtl::OnDisconnect()
{
    if (enabled_)
        SetDefaultClock();
}

void BusCtl::SetDefaultClock()
{
    ZGCP::ClockCfg cfg;
    cfg.set_clkSel0(ZGCP::ClkSel0::internal);
    cfg.set_bextEn(ZGCP::BExtEn::disabled);
    cfg.set_source(-1);
    SetClockSrc(cfg);
}

void BusCtl::SetClockSrc(ZGCP::ClockCfg const& cfg)
{
    if (!IsOpen()) {
        (spi_ ? *spi_ : spiCtrl::instance()).clock(-1);
        std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
        return;
    }
    std::cerr << ext::header(this) << "set clock source cmd: " << cfg << std::endl;
    int source = cfg.get_source().getValue();
    if (cfg.get_clkSel0().is_internal())
        source = kFreeRun;
    else if (cfg.get_bextEn().is_disabled())
        source = kExternal;
    else if (source < 0)
        return;
    DrvSetClkSrc(source);
}

void BusCtl::DrvSetClkSrc(int source)
{
    if (!IsOpen()) {
        std::cerr << ext::header(this) << "device open error" << std::endl;
        return;
    }
    hal::ClockSource r{std::uint32_t(source)};
    if (board::board().ioctl(hal_.lowlevel_fd(), hal::kClockSelect, &r) < 0) {
        std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
        return;
    }
    std::cerr << ext::header(this) << "clock source = ";
    putSource(std::cerr, source);
    std::cerr << std::endl;
}
