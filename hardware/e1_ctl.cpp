#include "hardware/e1_ctl.h"

#include "base/errno.h"
#include "base/ext.h"
#include "board/board.h"
#include "board/maintenance.h"
#include "hardware/board_devices.h"
#include "messages/acp.h"
#include "runtime/device_read.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace {

constexpr int kDeviceFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;

// A driver's state number as a trunk state; one it does not define is unknown.
ACP::TrunkState::NamedNumber trunkState(std::uint32_t state)
{
    return state <= ACP::TrunkState::disabled ? ACP::TrunkState::NamedNumber(state) : ACP::TrunkState::unknown;
}

bool isTrunk(std::uint32_t trunk) { return trunk < std::uint32_t(E1Ctl::kTrunks); }

}  // namespace

E1Ctl& E1Ctl::instance()
{
    static E1Ctl e1;
    return e1;
}

E1Ctl::E1Ctl()
{

}
E1Ctl::~E1Ctl() = default;

void E1Ctl::PutHeader(std::ostream& os) const { os << "E1: "; }

bool E1Ctl::OnCommand(ZGCP::Command const& command)
{
    if (command.ioctl_isSelected() && command.get_ioctl().cas_isSelected()
        && !(casReturn_.away() ? casReturn_.Retry() : CheckOpenCas())) {
        Error(ZGCP::ErrorCause::unsupported);
        return true;
    }
    if (command.ioctl_isSelected())
        HandleCas(command.get_ioctl());
    else if (command.trunkCfg_isSelected())
        SetMode(command.get_trunkCfg());
    else
        return false;
    // What the driver did is in the logs and the cas reports.
    Success();
    return true;
}

void E1Ctl::OnConnect()
{
    SendStatus();
    SetTimer();
    tclk_ = 0;
    UpdateTclk();
    CheckOpenCas();
}

void E1Ctl::SetTimer() { timer_.set(kPollMs, &E1Ctl::OnCheckStatus, this); }

void E1Ctl::OnCheckStatus(Timer*)
{
    SendStatus();
    CheckOpenCas();
    SetTimer();
}

bool E1Ctl::IsOpen()
{
    if (!maintenance_)
        maintenance_ = Fd(board::board().open(GetMaintenance(), kDeviceFlags));
    return bool(maintenance_);
}

void E1Ctl::SendStatus()
{
    if (!IsOpen())
        return;
    for (int trunk = 0; trunk < kTrunks; ++trunk) {
        maintenance::SyncStatus r{};
        r.trunk = std::uint32_t(trunk);
        if (board::board().ioctl(maintenance_.lowlevel_fd(), maintenance::kSyncStatus, &r) < 0) {
            Errno e;
            std::cerr << ext::header(this) << "synchronization status read fail, trunk = " << trunk
                      << " cause = " << e << std::endl;
            continue;
        }
        ZGCP::Signal signal;
        ACP::TrunkStatus& s = signal.select_trunkStatus();
        s.set_trunk(trunk);
        s.set_state(trunkState(r.state));
        s.set_slips(std::int32_t(r.slips));
        s.set_lossBF(std::int32_t(r.lossBF));
        s.set_lossCarrier(std::int32_t(r.lossCarrier));
        s.set_lossAIS(std::int32_t(r.lossAIS));
        s.set_lossRAI(std::int32_t(r.lossRAI));
        s.set_clockMaster(false);
        s.set_type(ACP::TrunkType::e1);
        SendSignal(signal);
    }
}

void E1Ctl::SetMode(ZGCP::TrunkCfg const& cfg)
{
    int const trunk = cfg.get_trunk().getValue();
    if (trunk < 0)
        return;
    if (trunk < 32) {
        std::uint32_t const bit = std::uint32_t(1) << trunk;
        if (cfg.get_mode().is_slave())
            tclk_ |= bit;
        else
            tclk_ &= ~bit;
    }
    UpdateTclk();
}

void E1Ctl::UpdateTclk()
{
    if (!IsOpen())
        return;
    if (board::board().ioctl(maintenance_.lowlevel_fd(), maintenance::kTclk, board::byValue(tclk_)) < 0) {
        Errno e;
        std::cerr << ext::header(this) << "fail to set TCLK [cause=" << e << "]" << std::endl;
        return;
    }
    std::clog << ext::header(this) << "TCLT = 0x" << std::hex << tclk_ << std::dec << std::endl;
}

void E1Ctl::select_source(int source)
{
    if (IsOpen()
        && board::board().ioctl(maintenance_.lowlevel_fd(), maintenance::kClockSource,
                                board::byValue(static_cast<unsigned long>(std::uint32_t(source)))) < 0)
        std::cerr << ext::header(this) << "fail to set clock source" << std::endl;
}

bool E1Ctl::CheckOpenCas()
{
    // While it is away, its own tries bring it back.
    if (cas_ || casReturn_.away())
        return bool(cas_);
    if (!openCas()) {
        casReturn_.Lost();
        return false;
    }
    Back();
    return true;
}

bool E1Ctl::openCas()
{
    cas_ = Fd(board::board().open(e1cas::kPath, kDeviceFlags));
    if (!cas_)
        return false;
    casEvent_.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
    casEvent_.Schedule(cas_, POLLIN);
    return true;
}

void E1Ctl::Back() { std::clog << ext::header(this) << "cas interface opened!" << std::endl; }

E1Ctl::Cas::Cas()
{
    for (auto& trunk : channels)
        trunk.fill(-1);
}

bool E1Ctl::Reopen() { return cas_ || openCas(); }

bool E1Ctl::PutBack()
{
    bool whole = true;
    for (std::uint32_t t = 0; t < kTrunks; ++t) {
        if (want_.trunks[t] && !held_.trunks[t])
            held_.trunks[t] = casRequest(e1cas::kOpenTrunk, board::byValue(t)) >= 0;
        whole = whole && held_.trunks[t] == want_.trunks[t];
        for (std::uint32_t ts = 0; ts < kTimeslots && held_.trunks[t]; ++ts) {
            std::int8_t const bits = want_.channels[t][ts];
            if (bits < 0 || held_.channels[t][ts] == bits)
                continue;
            e1cas::ChannelControl control{{t, ts, 0, std::uint8_t(bits), {0, 0}}, e1cas::kOpenChannel};
            if (casRequest(e1cas::kChannelControl, &control) >= 0)
                held_.channels[t][ts] = bits;
            else
                whole = false;
        }
    }
    return whole;
}

void E1Ctl::Refused()
{
    std::cerr << ext::header(this)
              << "cas interface opened, but the driver refused part of what is put back on it: tried again"
              << std::endl;
}

void E1Ctl::OnUpdateCas(int, short revents)
{
    cas_channel event{};
    DeviceRead const read = readRecord(cas_.lowlevel_fd(), revents, event);
    if (read.ended()) {
        // Closed, and the driver lets go of what it held; opened again with the trunks and
        // channels open now.
        casEvent_.Release();
        cas_ = Fd();
        held_ = Cas();
        if (casReturn_.Ended())
            std::cerr << ext::header(this) << "cas interface closed: " << read << std::endl;
        return;
    }
    if (recordRead<cas_channel>(read))
        SendCASSignal(int(event.path), int(event.timeslot), event.rx, event.tx);
    else if (read.data())
        std::cerr << ext::header(this) << "cas event: " << notARecord(read, sizeof event) << ", dropped" << std::endl;
}

int E1Ctl::casRequest(unsigned long number, void* arg) { return board::board().ioctl(cas_.lowlevel_fd(), number, arg); }

void E1Ctl::HandleCas(ZGCP::IoctlParams const& params)
{
    if (!params.cas_isSelected() || !CheckOpenCas())
        return;
    ZGCP::CasCommand const& command = params.get_cas();
    cas_channel ch{};
    ch.path = std::uint32_t(command.get_channel().get_path().getValue());
    ch.timeslot = std::uint32_t(command.get_channel().get_timeslot().getValue());
    ZGCP::CasCommandSignal const& cmd = command.get_cmd();
    if (cmd.open_isSelected())
        HandleCasOpen(ch, cmd.get_open().getValue());
    else if (cmd.set_isSelected())
        HandleCasOpen(ch, cmd.get_set().getValue());
    else if (cmd.close_isSelected())
        HandleCasClose(ch);
    else if (cmd.get_isSelected())
        HandleCasGet(ch);
}

void E1Ctl::HandleCasOpen(cas_channel const& ch, int value)
{
    if (!isTrunk(ch.path))
        return;
    int const trunk = int(ch.path);
    if (held_.trunks[ch.path]) {
        SendCASTrunkStatus(trunk, 0);
    } else {
        int const r = casRequest(e1cas::kOpenTrunk, board::byValue(ch.path));
        SendCASTrunkStatus(trunk, r);
        if (r < 0) {
            std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - fail(" << r << ")"
                      << std::endl;
            return;
        }
        std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - ok" << std::endl;
        held_.trunks[ch.path] = true;
    }
    want_.trunks[ch.path] = true;
    if (ch.timeslot == 0 || ch.timeslot == 16)
        return;
    e1cas::ChannelControl control{ch, e1cas::kOpenChannel};
    control.channel.rx = 0;
    control.channel.tx = std::uint8_t(value & 15);
    int const r = casRequest(e1cas::kChannelControl, &control);
    if (r < 0) {
        SendCASSignal(trunk, int(ch.timeslot), r, 0);
        return;
    }
    if (ch.timeslot < kTimeslots)
        want_.channels[ch.path][ch.timeslot] = held_.channels[ch.path][ch.timeslot] = std::int8_t(control.channel.tx);
    reportChannel(ch);
}

void E1Ctl::HandleCasClose(cas_channel const& ch)
{
    if (!isTrunk(ch.path) || !casOpen(int(ch.path)))
        return;
    int const trunk = int(ch.path);
    // What the driver does not hold (its put-back is still to take) is closed at once.
    if (ch.timeslot == 0) {
        int const r = held_.trunks[ch.path] ? casRequest(e1cas::kCloseTrunk, board::byValue(ch.path)) : 0;
        SendCASTrunkStatus(trunk, r == 0 ? 1 : r);
        if (r >= 0) {
            // Its channels go with it: a trunk opened again starts with none to put back.
            want_.trunks[ch.path] = held_.trunks[ch.path] = false;
            want_.channels[ch.path].fill(-1);
            held_.channels[ch.path].fill(-1);
        }
        return;
    }
    if (ch.timeslot == 16)
        return;
    bool const held = ch.timeslot >= kTimeslots || held_.channels[ch.path][ch.timeslot] >= 0;
    e1cas::ChannelControl control{ch, e1cas::kCloseChannel};
    control.channel.rx = 0;
    control.channel.tx = 0;
    int const r = held ? casRequest(e1cas::kChannelControl, &control) : 0;
    if (r < 0) {
        SendCASSignal(trunk, int(ch.timeslot), r, 0);
        return;
    }
    if (ch.timeslot < kTimeslots)
        want_.channels[ch.path][ch.timeslot] = held_.channels[ch.path][ch.timeslot] = -1;
    SendCASSignal(trunk, int(ch.timeslot), -1, 1);
}

void E1Ctl::HandleCasGet(cas_channel const& ch)
{
    if (isTrunk(ch.path) && casOpen(int(ch.path)))
        reportChannel(ch);
}

void E1Ctl::reportChannel(cas_channel const& ch)
{
    cas_channel bits{};
    bits.path = ch.path;
    bits.timeslot = ch.timeslot;
    int const r = casRequest(e1cas::kGetChannel, &bits);
    if (r < 0)
        SendCASSignal(int(ch.path), int(ch.timeslot), r, 0);
    else
        SendCASSignal(int(ch.path), int(ch.timeslot), bits.rx, bits.tx);
}

void E1Ctl::SendCASTrunkStatus(int trunk, int status) { SendCASSignal(trunk, 0, status, 0); }

void E1Ctl::SendCASSignal(int path, int timeslot, int rx, int tx)
{
    ZGCP::Signal signal;
    ZGCP::CasSignalling& cas = signal.select_cas();
    cas.set_channel().set_path(path);
    cas.set_channel().set_timeslot(timeslot);
    cas.set_rx(rx);
    cas.set_tx(tx);
    SendSignal(signal);
}

void E1Ctl::Assign(ZGCP::CasChannel& to, cas_channel const& from)
{
    to.set_path(int(from.path));
    to.set_timeslot(int(from.timeslot));
}
