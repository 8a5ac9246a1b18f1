#pragma once

#include "base/errno.h"
#include "base/fd.h"
#include "control/service.h"
#include "runtime/timer.h"

#include <cstdint>
#include <iostream>
#include <utility>

namespace Control {

// What the client sides of a message connection share: the socket of the attempt in
// progress and when to try again. After an activation the first seven failed attempts
// are retried 1000 ms apart, later ones after the long wait of the way the attempt
// failed; a lost connection is tried again 10000 ms later, without refilling the quick
// tries. Base is the service of the socket family; subclasses make one attempt in
// TryConnect().
template <class Base>
class Connector : public Base {
public:
    static constexpr std::int32_t quick_tries = 7;
    static constexpr unsigned int quick_wait_ms = 1000;
    static constexpr unsigned int reconnect_wait_ms = 10000;

    ~Connector() override { retryTimer_.reset(); }

    // One attempt.
    virtual void TryConnect() = 0;
    // The retry timer: a new attempt unless a connection is up or ending.
    void OnTimeout(Timer*)
    {
        if (this->GetState() == Service::State::Connecting)
            TryConnect();
    }
    // Whether a retry or a reconnection is waiting.
    bool waiting() const { return retryTimer_.is_running(); }

protected:
    Connector() = default;

    // Refills the quick tries and makes the first attempt; false when that attempt could
    // not even make its socket (the connector is idle then).
    bool Start()
    {
        quickTriesLeft_ = quick_tries;
        TryConnect();
        return this->GetState() != Service::State::Idle;
    }
    void ImplDeactivate() override
    {
        this->Release();
        connecting_.close();
        retryTimer_.reset();
    }
    void ImplOnDisconnect() override { retryTimer_.set(reconnect_wait_ms, &Connector::OnTimeout, this); }

    // Closes the failed attempt's socket and arms the retry.
    void RetryLater(unsigned int longWaitMs)
    {
        connecting_.close();
        unsigned int wait = longWaitMs;
        if (quickTriesLeft_ > 0) {
            --quickTriesLeft_;
            wait = quick_wait_ms;
        }
        retryTimer_.set(wait, &Connector::OnTimeout, this);
    }
    // Logs what failed with the error text and goes idle.
    void GiveUp(char const* what)
    {
        Errno const error;
        std::cerr << what << error << std::endl;
        this->Deactivate();
    }
    // The attempt's connected socket, for the stack to take over (it keeps a duplicate;
    // this one closes when the caller is done with it).
    Fd TakeSocket()
    {
        retryTimer_.reset();
        return std::move(connecting_);
    }

    Fd connecting_;

private:
    Timer retryTimer_;
    std::int32_t quickTriesLeft_ = 0;
};

}  // namespace Control
