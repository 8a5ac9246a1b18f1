#include "runtime/device_return.h"

#include <algorithm>

constexpr std::uint32_t DeviceReturn::first_wait_ms;
constexpr std::uint32_t DeviceReturn::last_wait_ms;
constexpr std::uint32_t DeviceReturn::trial_ms;

void DeviceReturn::Lost()
{
    ended_ = false;
    Away(first_wait_ms);
}

bool DeviceReturn::Ended()
{
    bool const said = state_ == State::up;
    // A device that ends on trial waits longer for its next try.
    Away(said ? first_wait_ms : std::min(2 * wait_, last_wait_ms));
    ended_ = true;
    return said;
}

bool DeviceReturn::Retry() { return state_ != State::away || Try(); }

void DeviceReturn::Cancel()
{
    timer_.reset();
    state_ = State::up;
    ended_ = false;
}

void DeviceReturn::Away(std::uint32_t wait)
{
    state_ = State::away;
    wait_ = wait;
    timer_.set(wait_, &DeviceReturn::OnTimer, this);
}

bool DeviceReturn::Try()
{
    if (!owner_.Reopen())
        return false;
    Settle();
    return true;
}

void DeviceReturn::Settle()
{
    if (!owner_.PutBack()) {
        if (state_ != State::restoring)
            owner_.Refused();
        state_ = State::restoring;
        timer_.set(wait_, &DeviceReturn::OnTimer, this);
        return;
    }
    if (ended_) {
        state_ = State::trial;
        timer_.set(trial_ms, &DeviceReturn::OnTimer, this);
        return;
    }
    timer_.reset();
    state_ = State::up;
    owner_.Back();
}

void DeviceReturn::OnTimer()
{
    switch (state_) {
    case State::trial:
        Cancel();
        owner_.Back();
        return;
    case State::restoring:
        wait_ = std::min(2 * wait_, last_wait_ms);
        Settle();
        return;
    case State::away:
        if (!Try())
            Away(std::min(2 * wait_, last_wait_ms));
        return;
    case State::up: return;
    }
}
