#include "hardware/driver_service.h"

#include <iostream>

namespace Hardware {

void DriverService::init()
{
    // Away, its tries bring it back: one now.
    if (return_.away()) {
        return_.Retry();
        return;
    }
    if (open())
        return;
    Errno e;
    std::cerr << device_.openFailText << e << std::endl;
    return_.Lost();
}

bool DriverService::open()
{
    int const fd = board::board().open(device_.path, device_.flags);
    if (fd < 0)
        return false;
    Bind(device_.eventName, &DriverService::OnEvent, this);
    Schedule(Fd(fd), POLLIN);
    return true;
}

bool DriverService::Reopen() { return IsActive() || open(); }

bool DriverService::PutBack()
{
    quietly_ = true;
    bool const whole = restore();
    quietly_ = false;
    return whole;
}

void DriverService::Refused()
{
    std::cerr << device_.word << " interface opened, but the driver refused part of what is put back on it: tried again"
              << std::endl;
}

void DriverService::Back() { std::clog << device_.word << " interface opened" << std::endl; }

std::uint32_t DriverService::nextId()
{
    if (++lastId_ == 0)
        lastId_ = 1;
    return lastId_;
}

int DriverService::request(unsigned long number, void* arg)
{
    return board::board().ioctl(lowlevel_fd(), number, arg);
}

bool DriverService::ready(char const* what, unsigned ts, char const* suffix)
{
    if (!IsActive() && !(return_.Retry() && IsActive())) {
        std::cerr << what << suffix << " fail: (interface not opened)" << " timeslot=" << ts << std::endl;
        return false;
    }
    // Nothing new on a channel before what it owes is made.
    if (paying_ || !owes(ts))
        return true;
    bool const quiet = quietly_;
    quietly_ = true;
    bool const paid = pay(ts);
    quietly_ = quiet;
    if (!paid)
        std::cerr << what << suffix << " fail: (what the timeslot was let go of with is not switched off yet)"
                  << " timeslot=" << ts << std::endl;
    return paid;
}

void DriverService::letGo(unsigned ts, SwitchOffs on, SwitchOffs always)
{
    if (!IsActive())
        return;
    auto const owed = owed_.find(ts);
    SwitchOffs const before = owed != owed_.end() ? owed->second : 0;
    SwitchOffs const owable = on | before;
    SwitchOffs const left = makeSwitchOffs(ts, owable | always) & owable;
    // What the channel owed and this let-go made is paid, as the back-off would have said.
    if ((before & ~left) != 0)
        paid(ts, before & ~left);
    if (left == 0) {
        if (owed != owed_.end())
            settled(owed);
        return;
    }
    // What it owed before was said then: only what it owes anew is said now.
    if ((left & ~before) != 0) {
        nameSwitchOffs(std::cerr << device_.word << ": timeslot " << ts << " let go of with ", left & ~before);
        std::cerr << " still on: switched off once the driver takes it" << std::endl;
    }
    owed_[ts] = left;
    owedRequests_.Owe();
}

DriverService::SwitchOffs DriverService::makeSwitchOffs(unsigned ts, SwitchOffs offs)
{
    paying_ = true;
    SwitchOffs left = 0;
    for (SwitchOffs off = 1; off != 0 && off <= offs; off <<= 1) {
        if ((offs & off) != 0 && !switchOff(ts, off))
            left |= off;
    }
    paying_ = false;
    return left;
}

bool DriverService::pay(unsigned ts)
{
    auto const owed = owed_.find(ts);
    if (owed == owed_.end())
        return true;
    SwitchOffs const offs = owed->second;
    SwitchOffs const left = makeSwitchOffs(ts, offs);
    // What the driver took now is said now, whether the rest is made with it or later.
    if ((offs & ~left) != 0)
        paid(ts, offs & ~left);
    if (left != 0) {
        owed->second = left;
        return false;
    }
    settled(owed);
    return true;
}

void DriverService::paid(unsigned ts, SwitchOffs offs)
{
    nameSwitchOffs(std::clog << device_.word << ": timeslot " << ts << " let go of: ", offs);
    std::clog << " switched off" << std::endl;
}

void DriverService::settled(std::map<unsigned, SwitchOffs>::iterator owed)
{
    owed_.erase(owed);
    if (owed_.empty())
        owedRequests_.Clear();
}

bool DriverService::PayOwed()
{
    if (!IsActive())
        return owed_.empty();
    quietly_ = true;
    for (auto it = owed_.begin(); it != owed_.end();) {
        unsigned const ts = (it++)->first;
        pay(ts);
    }
    quietly_ = false;
    return owed_.empty();
}

void DriverService::ended(DeviceRead const& read)
{
    Release();
    forget();
    // The driver let go of everything the descriptor held, what was owed too.
    owed_.clear();
    owedRequests_.Clear();
    if (return_.Ended())
        std::cerr << "fail to read from " << device_.word << ": " << read << std::endl;
}

void DriverService::notARecord(DeviceRead const& read, std::size_t size)
{
    std::cerr << "fail to read from " << device_.word << ": " << ::notARecord(read, size) << ", dropped" << std::endl;
}

}  // namespace Hardware
