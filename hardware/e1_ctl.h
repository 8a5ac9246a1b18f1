#pragma once

#include "base/fd.h"
#include "board/e1_cas.h"
#include "control/ctrl_server.h"
#include "runtime/device_return.h"
#include "runtime/event.h"
#include "runtime/timer.h"

#include <array>
#include <cstdint>
#include <iosfwd>

// The board's four E1 framers and their channel-associated signalling (CAS).
//
// From the first controller connect on, the framers' synchronization status is read from
// "/dev/maintenance" once a second and each trunk is reported as a trunkStatus of type e1
// (the poll goes on after a disconnect). trunkCfg sets a trunk's bit of the transmit-clock
// (TCLK) mask (slave) or clears it (master). Slotless ioctl commands of the alternative cas
// open, close, set and read CAS bits on "/dev/e1-cas"; the results and every change of
// received bits the driver reports go to the controller as cas signals (a read of the device
// that is not one whole record is dropped with a line). Driver failures
// reach the controller inside those reports, never as an error cause. Both devices open at
// first use. A failed open of the maintenance device is tried again at its next use. A CAS
// device that cannot be opened or ends is opened again (runtime/device_return.h): by the
// next CAS command, and when none comes, by a timer whose waits grow to about a minute; the
// new descriptor gets back every trunk and channel the controller had opened, with its
// bits (what the driver refuses of it is tried again on the same back-off, and the device
// is back once all of it took). While the CAS device cannot be had, a CAS command is
// answered unsupported.
class E1Ctl : public CtrlSrv::Service, private DeviceReturn::Owner {
public:
    static constexpr int kTrunks = 4;
    static constexpr std::uint32_t kTimeslots = 32;
    static constexpr unsigned kPollMs = 1000;

    // The process's service, built on first call.
    static E1Ctl& instance();

    E1Ctl();
    ~E1Ctl() override;

    void OnConnect() override;
    void OnDisconnect() override {}
    bool OnCommand(ZGCP::Command const& command) override;

    void SetMode(ZGCP::TrunkCfg const& cfg);
    void UpdateTclk();
    // One trunkStatus per trunk.
    void SendStatus();
    // Opens the maintenance device when it is closed.
    bool IsOpen();
    // Opens the CAS device when it is closed and polls it for events.
    bool CheckOpenCas();
    void SetTimer();
    void OnCheckStatus(Timer*);
    void OnUpdateCas(int fd, short revents);
    void HandleCas(ZGCP::IoctlParams const& params);
    void HandleCasOpen(cas_channel const& ch, int value);
    void HandleCasClose(cas_channel const& ch);
    void HandleCasGet(cas_channel const& ch);
    void SendCASSignal(int path, int timeslot, int rx, int tx);
    void SendCASTrunkStatus(int trunk, int status);
    // The framers' clock source (not used by the flows of this service).
    void select_source(int source);
    static void Assign(ZGCP::CasChannel& to, cas_channel const& from);

    std::uint32_t tclk() const { return tclk_; }
    // The controller opened the trunk's CAS (and did not close it).
    bool casOpen(int trunk) const { return want_.trunks[std::size_t(trunk)]; }
    // The CAS device is closed and tried again now and then.
    bool casAway() const { return casReturn_.away(); }
    bool polling() const { return timer_.is_running(); }
    void PutHeader(std::ostream& os) const;

private:
    // A request on the CAS device: its result, -1 on failure.
    int casRequest(unsigned long number, void* arg);
    // The get request; reports the bits or the failure.
    void reportChannel(cas_channel const& ch);
    // Opens the CAS device and polls it; false when it cannot be opened.
    bool openCas();
    // Opens the CAS device again.
    bool Reopen() override;
    // Opens on it the trunks and channels the controller had opened that it does not hold.
    bool PutBack() override;
    void Refused() override;
    void Back() override;

    // The trunks whose CAS is open, and per trunk and time slot the bits the open channel
    // transmits (-1 where closed).
    struct Cas {
        Cas();
        std::array<bool, kTrunks> trunks{};
        std::array<std::array<std::int8_t, kTimeslots>, kTrunks> channels;
    };

    Fd maintenance_;
    Timer timer_;
    Fd cas_;
    Event casEvent_;
    // What the controller opened (put back on a new descriptor), and what the driver holds
    // on the open descriptor.
    Cas want_;
    Cas held_;
    DeviceReturn casReturn_{*this};
    std::uint32_t tclk_ = 0;
};
