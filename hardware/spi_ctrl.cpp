#include "hardware/spi_ctrl.h"

#include "base/ext.h"
#include "board/board.h"
#include "board/hal.h"
#include "messages/acp.h"

#include <fcntl.h>

#include <cerrno>
#include <iostream>

namespace {

// The reported state of a line status register.
ACP::TrunkState::NamedNumber lineState(unsigned status)
{
    if (!(status & 0x01))
        return ACP::TrunkState::lossCarrier;
    if (!(status & 0x04))
        return ACP::TrunkState::lossBF;
    switch (status & 0xC0) {
    case 0x80: return ACP::TrunkState::rai;
    case 0xC0: return ACP::TrunkState::normal;
    default: return ACP::TrunkState::ais;
    }
}

constexpr unsigned kSlipBit = 0x20;

}  // namespace

spiCtrl& spiCtrl::instance()
{
    static spiCtrl spi;
    return spi;
}

spiCtrl::spiCtrl() { init_device_and_channels(); }

spiCtrl::~spiCtrl()
{
    if (!hal_)
        return;
    timer_.reset();
    for (int n = 0; n < kLines; ++n)
        disable_channel(n);
    clock(-1);
    hal_.close();
}

void spiCtrl::PutHeader(std::ostream& os) const { os << "spi: "; }

void spiCtrl::OnConnect()
{
    if (hal_ && available_)
        timer_.set(kPollMs, &spiCtrl::status, this);
}

void spiCtrl::OnDisconnect() { timer_.reset(); }

void spiCtrl::lost()
{
    available_ = false;
    timer_.reset();
    std::clog << ext::header(this) << "hal without spi" << std::endl;
}

bool spiCtrl::request(unsigned long number, unsigned channel, unsigned reg, unsigned value, int& result)
{
    hal::SpiRegister r{std::uint8_t(channel), std::uint8_t(reg), std::uint8_t(value)};
    result = board::board().ioctl(hal_.lowlevel_fd(), number, &r);
    if (result >= 0)
        return true;
    if (errno == ENODEV)
        lost();
    return false;
}

void spiCtrl::write(unsigned channel, unsigned reg, unsigned value)
{
    int result = 0;
    if (!available_ || !hal_ || request(hal::kSpiWrite, channel, reg, value, result))
        return;
    if (available_)
        std::clog << ext::header(this) << "write error: channel=" << channel << " addr=" << reg << " data=" << value
                  << std::endl;
}

unsigned spiCtrl::read(unsigned channel, unsigned reg)
{
    int result = 0;
    if (!available_ || !hal_)
        return 0;
    if (request(hal::kSpiRead, channel, reg, 0xFF, result))
        return unsigned(result) & 0xFF;
    if (available_)
        std::clog << ext::header(this) << "read error: channel=" << channel << " addr=" << reg << std::endl;
    return 0;
}

void spiCtrl::init_device_and_channels()
{
    if (!available_ || hal_)
        return;
    std::clog << ext::header(this) << "try init" << std::endl;
    hal_ = Fd(board::board().open(hal::kPath, O_RDWR | O_CLOEXEC));
    if (!hal_) {
        std::clog << ext::header(this) << "/dev/hal open fail" << std::endl;
        return;
    }
    // Every line is set up: all eight are polled, clocked and disabled.
    for (int n = 0; n < kLines; ++n) {
        init_channel(n);
        enable_channel(n);
    }
}

bool spiCtrl::lineOp(int n, char const* what)
{
    if (!available_)
        return false;
    if (n < 0 || n >= kLines) {
        std::clog << ext::header(this) << "bad channel for " << what << ' ' << n << std::endl;
        return false;
    }
    init_device_and_channels();
    return true;
}

void spiCtrl::init_channel(int n)
{
    if (!lineOp(n, "init"))
        return;
    static constexpr unsigned steps[][2] = {{Mode, kDisabled}, {Init1, 8},   {Clock, kClockSlave}, {Init2, 96},
                                            {Init3, 0},        {Init4, 0},   {Init5, 0}};
    for (auto const& [reg, value] : steps)
        write(unsigned(n), reg, value);
    std::clog << ext::header(this) << "init channel " << n << std::endl;
}

void spiCtrl::enable_channel(int n)
{
    if (!lineOp(n, "enable"))
        return;
    write(unsigned(n), Mode, kEnabled);
    std::clog << ext::header(this) << "enable channel " << n << std::endl;
}

void spiCtrl::disable_channel(int n)
{
    if (!lineOp(n, "disable"))
        return;
    write(unsigned(n), Mode, kDisabled);
    std::clog << ext::header(this) << "disable channel " << n << std::endl;
}

void spiCtrl::clock(int n)
{
    if (!available_)
        return;
    if (n < -1 || n >= kLines) {
        std::clog << ext::header(this) << "bad channel for set clock master " << n << std::endl;
        return;
    }
    init_device_and_channels();
    for (int line = 0; line < kLines; ++line)
        write(unsigned(line), Clock, kClockSlave);
    if (n == -1) {
        std::clog << ext::header(this) << "clock master disabled" << std::endl;
        return;
    }
    write(unsigned(n), Clock, kClockMaster);
    std::clog << ext::header(this) << "set clock master on channel " << n << std::endl;
}

void spiCtrl::status()
{
    if (!available_)
        return;
    for (int line = 0; line < kLines; ++line) {
        unsigned const bits = read(unsigned(line), Status);
        // A HAL found without SPI reports nothing more, not even this pass.
        if (!available_)
            return;
        bool const slip = (bits & kSlipBit) != 0;
        bool const rising = slip && !slipLatch_[std::size_t(line)];
        slipLatch_[std::size_t(line)] = slip;

        ZGCP::Signal signal;
        ACP::TrunkStatus& s = signal.select_trunkStatus();
        s.set_trunk(line);
        s.set_state(lineState(bits));
        s.set_slips(rising ? 1 : 0);
        s.set_lossBF(0);
        s.set_lossCarrier(0);
        s.set_lossAIS(0);
        s.set_lossRAI(0);
        s.set_clockMaster(false);
        s.set_type(ACP::TrunkType::bri);
        SendSignal(signal);
    }
    timer_.set(kPollMs, &spiCtrl::status, this);
}
