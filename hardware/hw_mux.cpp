#include "hardware/hw_mux.h"

#include "base/ext.h"
#include "board/board.h"
#include "board/hal.h"
#include "base/errno.h"

#include <fcntl.h>

#include <algorithm>
#include <iostream>

HwMux& HwMux::instance()
{
    static HwMux mux;
    return mux;
}

HwMux::HwMux()
{
    shadow_.fill(kDisabled);
    std::clog << ext::header(this) << "init" << std::endl;
    dpc_.Bind(this, &HwMux::OnDPC);
    IsOpened();
}

HwMux::~HwMux() = default;

void HwMux::PutHeader(std::ostream& os) const { os << "hwMux: "; }

int HwMux::request(unsigned long number, void* record) { return board::board().ioctl(fd_.lowlevel_fd(), number, record); }

bool HwMux::disable(int output)
{
    hal::SwitchDisable r{std::uint32_t(output)};
    return request(hal::kSwitchDisable, &r) >= 0;
}

bool HwMux::IsOpened()
{
    if (fd_)
        return true;
    Fd fd(board::board().open(hal::kPath, O_RDWR | O_CLOEXEC));
    if (!fd) {
        Errno e;
        std::clog << ext::header(this) << "can't open device: " << e << std::endl;
        return false;
    }
    fd_ = std::move(fd);
    std::clog << ext::header(this) << "device opened" << std::endl;
    for (int i = 0; i < kBusCount; ++i) {
        disable(kBusFirst + i);
        shadow_[std::size_t(i)] = kDisabled;
    }
    cursor_ = 0;
    dpc_.Activate();
    board::board().pause(500);
    return true;
}

bool HwMux::Connect(int src, int dst)
{
    if (!IsOpened() || src < 0 || dst < 0) {
        std::clog << ext::header(this) << "ERROR not opened" << std::endl;
        return false;
    }
    hal::SwitchConnect r{std::uint32_t(dst), std::uint32_t(src)};
    if (request(hal::kSwitchConnect, &r) < 0) {
        Errno e;
        std::clog << ext::header(this) << "connect " << src << " -> " << dst << " failed: " << e << std::endl;
        return false;
    }
    // Only a connection the driver made keeps the output out of the re-disable pass.
    if (isBus(dst))
        shadow_[std::size_t(dst - kBusFirst)] = std::uint16_t(src);
    sources_[dst] = src;
    settled(dst);
    return true;
}

bool HwMux::drive(int dst, std::uint16_t mark, unsigned long number, void* record)
{
    if (isBus(dst))
        shadow_[std::size_t(dst - kBusFirst)] = mark;
    // Done or not, the output no longer is, or is no longer known to be, the connection
    // recorded: a release must not keep it for another user's.
    sources_.erase(dst);
    if (request(number, record) < 0)
        return false;
    settled(dst);
    return true;
}

void HwMux::settled(int dst) { pending_.erase(std::remove(pending_.begin(), pending_.end(), dst), pending_.end()); }

bool HwMux::Disconnect(int dst)
{
    if (!IsOpened() || dst < 0)
        return false;
    hal::SwitchByte r{std::uint32_t(dst), kIdleByte};
    if (drive(dst, kWritten, hal::kSwitchWrite, &r))
        return true;
    Errno e;
    std::clog << ext::header(this) << "disconnect failed " << dst << " : " << e << std::endl;
    // Rather not driven than left copying what it did.
    Disable(dst);
    return false;
}

bool HwMux::Disable(int dst)
{
    if (!IsOpened() || dst < 0)
        return false;
    hal::SwitchDisable r{std::uint32_t(dst)};
    if (drive(dst, kDisabled, hal::kSwitchDisable, &r))
        return true;
    Errno e;
    std::clog << ext::header(this) << "disable failed " << dst << " : " << e << std::endl;
    // A bus output's shadow entry says disabled: the pass retries it with the others.
    if (!isBus(dst) && std::find(pending_.begin(), pending_.end(), dst) == pending_.end())
        pending_.push_back(dst);
    return false;
}

bool HwMux::Write(int dst, unsigned char value)
{
    if (!IsOpened() || dst < 0)
        return false;
    hal::SwitchByte r{std::uint32_t(dst), value};
    if (drive(dst, kWritten, hal::kSwitchWrite, &r))
        return true;
    Errno e;
    std::clog << ext::header(this) << "write failed " << dst << " <- 0x" << std::hex << unsigned(value) << std::dec
              << " : " << e << std::endl;
    Disable(dst);
    return false;
}

bool HwMux::Disconnect(int src, int dst) { return src < 0 || Source(dst) != src || Disconnect(dst); }

bool HwMux::Release(int dst, int src)
{
    int const input = Source(dst);
    return dst < 0 || (input >= 0 && input != src) || Disable(dst);
}

int HwMux::Source(int dst) const
{
    auto const at = sources_.find(dst);
    return at == sources_.end() ? -1 : at->second;
}

short HwMux::Read(int ch)
{
    if (!IsOpened() || ch < 0)
        return 255;
    hal::SwitchByte r{std::uint32_t(ch), 255};
    if (request(hal::kSwitchRead, &r) < 0) {
        Errno e;
        std::clog << ext::header(this) << "read failed " << ch << " -> 0x" << std::hex << r.value << std::dec
                  << " : " << e << std::endl;
        return 255;
    }
    return short(r.value & 0xFF);
}

void HwMux::Reset() {}

void HwMux::RefreshChannel(int i)
{
    if (i < 0 || i >= kBusCount)
        return;
    if (shadow_[std::size_t(i)] == kDisabled)
        disable(kBusFirst + i);
}

void HwMux::OnDPC()
{
    if (!fd_)
        return;
    for (int n = 0; n < kRefreshPerPass; ++n) {
        cursor_ = (cursor_ + 1) % kBusCount;
        RefreshChannel(int(cursor_));
    }
    // Few, and only after failures: each is tried on every pass until it goes.
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [this](int output) { return disable(output); }),
                   pending_.end());
}
