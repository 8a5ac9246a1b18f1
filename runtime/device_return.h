#pragma once

#include "runtime/timer.h"

#include <cstdint>

// Brings back a device that cannot be opened or has ended (runtime/device_read.h), as its
// owner left it. The owner's Reopen opens the device again and its PutBack puts back on the
// new descriptor what it had asked of the old one; the device is tried 1 s after the loss,
// then after twice the last wait each time up to about a minute, and at once by a request
// that needs the device in between (Retry).
//
// The owner says once that the device went and once that it is back, and nothing in
// between: a device that ended comes back on trial, and is back (the owner's Back) once it
// has stayed open for trial_ms; when it ends during its trial, that end is not said again
// and the tries go on. A device that had not ended (its first open failed) is back as soon
// as it opens. A device is back only once everything was put back: when the driver refuses
// part of it, the owner says so once (Refused), and the put-back is tried again on the same
// back-off, quietly, until it takes; the device is open and serves requests meanwhile.
class DeviceReturn {
public:
    class Owner {
    public:
        virtual ~Owner() = default;
        // Opens the device again, quietly; true when it is open.
        virtual bool Reopen() = 0;
        // Puts back on the open device, quietly, what was asked of it and it does not hold
        // yet; true when it holds all of it.
        virtual bool PutBack() { return true; }
        // The driver refused part of the put-back: one line.
        virtual void Refused() {}
        // The device is back: one line.
        virtual void Back() = 0;
    };

    static constexpr std::uint32_t first_wait_ms = 1000;
    static constexpr std::uint32_t last_wait_ms = 64000;
    static constexpr std::uint32_t trial_ms = 1000;

    explicit DeviceReturn(Owner& owner) : owner_(owner) {}
    DeviceReturn(DeviceReturn const&) = delete;
    DeviceReturn& operator=(DeviceReturn const&) = delete;

    // The device's first open failed: the tries begin.
    void Lost();
    // The device ended (its descriptor is closed or about to be): the tries begin. True when
    // the owner is to say so, false for an end during a trial or a put-back.
    bool Ended();
    // A request needs the device: while it is away, one try now. True when it is open.
    bool Retry();
    // No more tries (the owner closes the device for good).
    void Cancel();

    bool away() const { return state_ == State::away; }
    bool onTrial() const { return state_ == State::trial; }
    // Open, with part of the put-back still to take.
    bool restoring() const { return state_ == State::restoring; }
    // The wait before the next try while away or restoring.
    std::uint32_t wait() const { return wait_; }

private:
    enum class State { up, away, restoring, trial };

    void Away(std::uint32_t wait);
    // A try: open, then put back, when the owner could open the device.
    bool Try();
    // The device is open: the put-back, and back (or on trial) when all of it took.
    void Settle();
    void OnTimer();

    Owner& owner_;
    Timer timer_;
    State state_ = State::up;
    std::uint32_t wait_ = 0;
    // The device ended since it was last back: it comes back on trial.
    bool ended_ = false;
};
