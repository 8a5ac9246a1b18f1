#include "runtime/owed_requests.h"

#include <algorithm>

constexpr std::uint32_t OwedRequests::first_wait_ms;
constexpr std::uint32_t OwedRequests::last_wait_ms;

void OwedRequests::Owe()
{
    if (timer_.is_running())
        return;
    wait_ = first_wait_ms;
    timer_.set(wait_, &OwedRequests::OnTimer, this);
}

void OwedRequests::Clear()
{
    timer_.reset();
    wait_ = 0;
}

void OwedRequests::OnTimer()
{
    if (owner_.PayOwed()) {
        wait_ = 0;
        return;
    }
    wait_ = std::min(2 * wait_, last_wait_ms);
    timer_.set(wait_, &OwedRequests::OnTimer, this);
}
