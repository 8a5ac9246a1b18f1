#pragma once

#include "base/errno.h"
#include "base/fd.h"
#include "board/rtp.h"
#include "runtime/device_read.h"
#include "runtime/event.h"
#include "runtime/timer.h"

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace TERM {
class RadioModifier;
class RadioStatus;
class RtpRadioRequest;
}

namespace RTPSignalling {

// The radio slot's face of its radio control. These bodies refuse everything.
class IRadioController {
public:
    virtual ~IRadioController() = default;
    // The controller's radio status or command for the radio; false when the control does
    // not take it.
    virtual bool SendASNToChan(TERM::RadioStatus const&) { return false; }
    virtual bool SendASNToChan(TERM::RadioModifier const&) { return false; }
    // The radio's squelch is open.
    virtual bool GetSQU() const { return false; }
};

// The face the read event and the status timer use. Times are 32-bit millisecond counts of
// the loop's clock, which wrap.
class IRadioIntController {
public:
    virtual ~IRadioIntController() = default;
    virtual void OnRtpExtEvent(int /*fd*/, short /*revents*/) {}
    // A status tick at `now`; returns the delay in milliseconds until the next one.
    virtual std::uint32_t ProcessRadioStatus(std::uint32_t /*now*/, std::uint32_t interval) { return interval; }
};

// What a radio control reports to its slot; these bodies ignore it.
class IRadioControlNotify {
public:
    virtual ~IRadioControlNotify() = default;
    // A radio report for the controller.
    virtual void RadioControlNotify(TERM::RtpRadioRequest const&) {}
    // The radio is to be aborted with the cause.
    virtual void RadioControlNotify(int /*cause*/) {}
};

// How a control reaches the RTP header-extension driver.
enum RadioControlType {
    // Opens "/dev/rtp_ext", initialises it and attaches it to an RTP session.
    kRtpExtAttached = 0,
    // Attaches on the RTP device's own descriptor; no extension descriptor of its own.
    kRtpAttached = 1,
    // Opens "/dev/rtp_ext" and initialises it; attaches nothing.
    kRtpExtOnly = 2,
};

// Set by the slot; what it means belongs to the protocol classes (the gateway side stamps
// its periodic sends, the workstation side does not).
enum RadioControlMode {
    kGatewayMode = 0,
    kWorkstationMode = 1,
};

// "/dev/rtp_ext".
char const* GetRtpExtDevName();

// A radio slot's session with the RTP header-extension driver: opens, initialises and
// attaches the extension device, watches it for payloads (the protocol classes read them in
// their OnRtpExtEvent), runs one periodic status timer (their ProcessRadioStatus), keeps an
// optional source filter in the driver and reports to the slot through the bound notify
// object.
//
// The extension descriptor is non-blocking: a drain of payloads ends when a read finds
// nothing more. Device failures are logged and reported as results; nothing throws.
class RadioControl : public IRadioController, private IRadioIntController {
public:
    // Payloads are at most this long.
    static constexpr std::size_t kMaxPayload = 1024;
    static constexpr std::uint32_t kDefaultInterval = 1000;
    // The shortest status interval and tick delay: a tick never comes on every loop pass.
    static constexpr std::uint32_t kMinInterval = 10;

    // Type kRtpExtAttached.
    RadioControl(int channel, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    // Type kRtpAttached, on a descriptor of the RTP device.
    RadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach);
    // Type kRtpExtOnly; channel 0.
    explicit RadioControl(rtp_ext_init_params const& init);
    // Issues no detach: the slot stops the session first.
    ~RadioControl() override;
    RadioControl(RadioControl const&) = delete;
    RadioControl& operator=(RadioControl const&) = delete;

    // Starts the device session as the type says (kRtpExtOnly opens only when asked to);
    // false, logged, when a request failed, leaving no extension descriptor.
    bool RtpExtStart(bool open_extension);
    // Detaches and closes the extension descriptor (kRtpExtAttached only); true.
    bool RtpExtStop();
    // The slot's RTP session now lives on another open of the RTP device (after a codec
    // change): the next start attaches to it. kRtpExtAttached names the descriptor in its
    // attach record; kRtpAttached issues its attach on a duplicate of it.
    void RtpSessionMoved(Fd const& rtp);

    // true arms the timer with the current interval, false cancels it.
    void SetTimerEnable(bool enable);
    // The interval later ticks get and a later enable arms; a pending tick stays. Raised to
    // kMinInterval, with a log line.
    void SetTimerInterval(std::uint32_t ms);
    // (Re)arms the status timer to tick after ms (at least kMinInterval).
    void SetTimer(std::uint32_t ms);
    void SetRadioControlMode(RadioControlMode mode) { mode_ = mode; }
    void SetDebug(bool debug) { debug_ = debug; }
    void Bind(IRadioControlNotify* notify) { notify_ = notify; }
    void UnBind() { notify_ = nullptr; }

    // Asks the driver to accept payloads only from addr (enable) or from every sender
    // again; a request only when that changes the filter. 0.
    int UpdateAccess(bool enable, in_addr const& addr);

    // "rtp_ext[CHANNEL] TIME:" ("rtp_ext TIME:" for kRtpExtOnly), kept as the last prefix.
    std::string const& GetPrefix();

    RadioControlType type() const { return type_; }
    int channel() const { return channel_; }
    bool timerEnabled() const { return timerEnabled_; }
    bool timerRunning() const { return timer_.is_running(); }
    std::uint32_t timerInterval() const { return interval_; }
    bool extensionOpen() const { return ext_.is_valid(); }
    // Why the construction's start had no descriptor it needed (none free): for the
    // extension device, its watch, or the copy of the RTP descriptor. None otherwise.
    std::optional<Errno> const& DescriptorShortage() const { return shortage_; }
    bool filterSet() const { return filterSet_; }

protected:
    // Logs "receive extension packet(s)!" with debug on.
    void OnRtpExtEvent(int fd, short revents) override;
    // The interval.
    std::uint32_t ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) override;

    // One step of a drain, as the readiness asks: asks the driver for the sender of the next
    // payload (Source()), then reads the payload.
    DeviceRead ReadPayload(short revents, std::uint8_t* buf, std::size_t size);
    // Drains the extension descriptor: decode(record, octets, length) clears the record and
    // decodes a payload into it (false drops the payload); a decoded record takes its sender
    // into its first two words, and of each run of records that same(record, previous) puts
    // together only the last reaches process(record), through previous. The end of the
    // device (runtime/device_read.h) is DeviceEnded's.
    template <class Record, class Decode, class Same, class Process>
    void DrainPayloads(short revents, Record& record, Record& previous, Decode decode, Same same, Process process)
    {
        std::uint8_t buf[kMaxPayload];
        bool any = false;
        DeviceRead read;
        while ((read = ReadPayload(revents, buf, sizeof buf)).data()) {
            if (!decode(record, buf, read.size))
                continue;
            record.session_addr = source_.addr;
            record.session_ssrc = source_.ssrc;
            if (any && !same(record, previous))
                process(previous);
            previous = record;
            any = true;
        }
        if (any)
            process(previous);
        if (read.ended())
            DeviceEnded(read);
    }
    // The device ended: it is no longer watched (its descriptor stays for the stop), and the
    // slot is told to abort with the read's error (0 for an end of file or a hang-up).
    void DeviceEnded(DeviceRead const& read);
    // Sends one payload; write's result (-1 without an extension descriptor).
    ssize_t WritePayload(std::uint8_t const* data, std::size_t length);

    // The sender of the payload read last (zero when the driver did not say).
    rtp_ext_source const& Source() const { return source_; }
    rtp_ext_init_params const& InitParams() const { return init_; }
    RadioControlMode Mode() const { return mode_; }
    bool Debug() const { return debug_; }
    IRadioControlNotify* Notify() const { return notify_; }
    // The time of the current tick.
    std::uint32_t TickTime() const { return tick_; }
    void SetTickTime(std::uint32_t now) { tick_ = now; }

private:
    RadioControl(RadioControlType type, int channel);
    void Init(RadioControlType type);
    void OnProcessStatus();
    // Opens and initialises the extension device, then attaches it when asked; the new
    // descriptor is kept and watched only when every step succeeded.
    bool OpenExtension(bool attach);
    // Logs that the extension session could not be had; notes a shortage of descriptors. False.
    bool CreateFailed();
    // A request on a descriptor; false, with the failure logged, when it failed.
    bool Request(int fd, unsigned long request, void* arg, char const* failure);

    RadioControlType type_;
    Fd rtp_;
    Fd ext_;
    Event event_;
    Timer timer_;
    rtp_attach_session_params rtpAttach_{};
    rtp_ext_attach_session_params extAttach_{};
    rtp_ext_init_params init_{};
    rtp_ext_source source_{};
    RadioControlMode mode_ = kGatewayMode;
    std::uint32_t tick_ = 0;
    std::uint32_t interval_ = kDefaultInterval;
    int channel_;
    bool debug_ = false;
    bool timerEnabled_ = false;
    bool filterSet_ = false;
    rtp_ext_filter filter_{};
    std::optional<Errno> shortage_;
    IRadioControlNotify* notify_ = nullptr;
    std::string prefix_;
};

}  // namespace RTPSignalling
