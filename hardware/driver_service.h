#pragma once

#include "base/errno.h"
#include "board/board.h"
#include "runtime/device_read.h"
#include "runtime/device_return.h"
#include "runtime/event.h"
#include "runtime/owed_requests.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>

namespace Hardware {

// " errno=" and the text of the error number of the moment it is made, between double
// quotes, as the failure lines of the driver requests end.
struct ErrnoField {
    Errno error;
};

inline std::ostream& operator<<(std::ostream& os, ErrnoField const& f)
{
    return os << " errno=\"" << f.error << '"';
}

// What the tone and the voice-processing services share: the owner of one device that
// delivers fixed-size event records, polled as an Event, which numbers its enable requests.
//
// A device that cannot be opened or ends is opened again (runtime/device_return.h): by the
// next request that needs it, and when none asks, by a timer whose waits grow to about a
// minute. Each receiver keeps what the controller's answered requests leave it (what is put
// back) apart from what the driver holds on the open descriptor (nothing, once it ended). On
// the new descriptor the service puts back what the driver does not hold yet (restore), with
// fresh request ids; what the driver refuses is tried again on the same back-off, and the
// device is back once it holds all of it. Meanwhile the requests fail with their line.
//
// A channel let go of (its receiver destroyed, or its slot lost it) has its functions switched
// off; what the driver refuses to switch off then is owed by the channel: said once, tried
// again on the same back-off, and made before any other request on the channel (which fails
// while the driver still refuses it). The end of the device clears it: the driver let go of
// everything.
class DriverService : public Event, private DeviceReturn::Owner, private OwedRequests::Owner {
public:
    // What names the device.
    struct Device {
        char const* word;          // in the read-failure lines ("tonec")
        char const* path;
        int flags;                 // of the open
        char const* eventName;     // of the poll registration
        char const* openFailText;  // the first line of a failed open
    };

    DriverService(DriverService const&) = delete;
    DriverService& operator=(DriverService const&) = delete;

    // Opens the device and starts polling it; when it cannot be opened, writes the
    // open-failure line and the tries begin. While it is away, one try now.
    void init();
    // Reads the pending event records and routes them.
    virtual void OnEvent(int fd, short revents) = 0;
    // The request id handed out last.
    std::uint32_t lastId() const { return lastId_; }
    // The device is closed and tried again now and then.
    bool away() const { return return_.away(); }
    // Active, or made so by a try now; otherwise the line "<what><suffix> fail: (interface
    // not opened)" with the timeslot on the error stream.
    bool ready(char const* what, unsigned ts, char const* suffix = "");
    // The channel owes a switch-off that the driver refused when it was let go of.
    bool owes(unsigned ts) const { return owed_.count(ts) != 0; }
    // A switch-off of a function that is off on the channel as far as the daemon asked
    // (`on` false), with nothing owed there and the device open: it was not needed, and the
    // driver's refusal of it is no failure.
    bool needless(bool on, unsigned ts) const { return IsActive() && !on && !owes(ts); }
    // The back-off of the owed switch-offs: the wait before the next try, 0 when none is owed.
    std::uint32_t owedWait() const { return owedRequests_.wait(); }

protected:
    DriverService(Device const& device, std::uint32_t lastId) : device_(device), lastId_(lastId) {}
    ~DriverService() override = default;

    // The id of the next enable request: counted on, 0 skipped; used up whatever happens
    // to the request.
    std::uint32_t nextId();
    // A request on the device's descriptor: the driver's result, or -1 with errno set.
    int request(unsigned long number, void* arg);
    // Where a request's success or failure line goes: the stream, or nowhere while the
    // receivers' functions are put back or owed switch-offs tried again.
    std::ostream& done(std::ostream& os) { return quietly_ ? quiet_ : os; }
    // Puts back on the open descriptor what every receiver had asked of the device and the
    // driver does not hold; true when it holds all of it.
    virtual bool restore() = 0;
    // The descriptor is gone: the driver holds nothing of any receiver any more.
    virtual void forget() = 0;

    // The switch-offs of a channel that is let go of, one bit each.
    typedef std::uint32_t SwitchOffs;
    // Makes the switch-offs of a channel let go of, with their lines: `on` those of what the
    // channel had on as far as the daemon asked, `always` those sent whatever it had. What the
    // driver refuses of what was on, or was owed already, is owed, and what it owes anew is
    // said (what it owed before was said then); what was owed and is made now has its line,
    // as on the back-off; a refused switch-off of what was never on is only logged by its
    // request. Nothing is made on a device that is closed: it holds nothing.
    void letGo(unsigned ts, SwitchOffs on, SwitchOffs always = 0);
    // One switch-off on the device (its request and lines); true when the driver made it.
    virtual bool switchOff(unsigned ts, SwitchOffs off) = 0;
    // The names of switch-offs, for the lines of what is owed.
    virtual void nameSwitchOffs(std::ostream& os, SwitchOffs offs) const = 0;

    // Reads the records waiting on the device and hands each whole one to take(record).
    // The burst ends when nothing is left, and on a record that is short or long (a line; it
    // is dropped). The end of the device (runtime/device_read.h) is said in one line, the
    // service stops polling it, and the tries to open it again begin.
    template <class Record, class Take>
    void readBurst(int fd, short revents, Take take);

private:
    // Opens the device and polls it; false, errno set, when it cannot be opened.
    bool open();
    bool Reopen() override;
    bool PutBack() override;
    void Refused() override;
    void Back() override;
    bool PayOwed() override;
    // Makes what the channel owes; true when nothing is left. What the driver took has its
    // line, the rest made with it or not.
    bool pay(unsigned ts);
    // The line of owed switch-offs made.
    void paid(unsigned ts, SwitchOffs offs);
    // The channel owes nothing any more; the back-off stops when no channel does.
    void settled(std::map<unsigned, SwitchOffs>::iterator owed);
    // Makes the switch-offs on the device; returns those the driver refused.
    SwitchOffs makeSwitchOffs(unsigned ts, SwitchOffs offs);
    void ended(DeviceRead const& read);
    // A read that held no record: one line.
    void notARecord(DeviceRead const& read, std::size_t size);

    Device device_;
    std::uint32_t lastId_;
    DeviceReturn return_{*this};
    bool quietly_ = false;
    // What channels let go of owe, by timeslot.
    std::map<unsigned, SwitchOffs> owed_;
    OwedRequests owedRequests_{*this};
    // Owed switch-offs are being made: requests do not wait for them.
    bool paying_ = false;
    std::ostream quiet_{nullptr};
};

template <class Record, class Take>
void DriverService::readBurst(int fd, short revents, Take take)
{
    for (;;) {
        Record record{};
        DeviceRead const read = readRecord(fd, revents, record);
        if (recordRead<Record>(read)) {
            take(record);
            continue;
        }
        if (read.ended())
            ended(read);
        else if (read.data())
            notARecord(read, sizeof(Record));
        return;
    }
}

}  // namespace Hardware
