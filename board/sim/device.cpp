#include "board/sim/device.h"

#include <sys/socket.h>

namespace board::sim {

OpenFile::OpenFile(Device& device, Fd modelEnd, ino_t inode, int flags, unsigned id)
    : device_(device), modelEnd_(std::move(modelEnd)), inode_(inode), flags_(flags), id_(id)
{
}

bool OpenFile::send(void const* data, std::size_t length)
{
    return ::send(modelEnd_.lowlevel_fd(), data, length, MSG_DONTWAIT | MSG_NOSIGNAL) == ssize_t(length);
}

Device::Device(std::string path, std::vector<RequestInfo> requests)
    : path_(std::move(path)), requests_(std::move(requests))
{
}

Device::~Device() = default;

RequestInfo const* Device::find(std::string const& name) const
{
    for (RequestInfo const& r : requests_)
        if (name == r.name)
            return &r;
    return nullptr;
}

int Device::opened(OpenFile&) { return 0; }

void Device::received(OpenFile&, void const*, std::size_t) {}

void Device::closed(OpenFile&) {}

std::string Device::dump() const { return {}; }

std::string Device::command(std::vector<std::string> const& words)
{
    return "error " + path_ + " has no command" + (words.empty() ? "" : " " + words.front());
}

int Device::broadcast(void const* data, std::size_t length)
{
    int n = 0;
    for (OpenFile* f : opens_)
        n += f->send(data, length) ? 1 : 0;
    return n;
}

}  // namespace board::sim
