#pragma once

#include "base/fd.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace board::sim {

class Device;

// One request a device model knows.
struct RequestInfo {
    unsigned long number;
    char const* name;      // as the journal and the console show it
    std::size_t size = 0;  // bytes of the record the argument points at; 0: no record
    bool byValue = false;  // the argument is the value itself, not a pointer
};

// Per-open state a model keeps (derive from it).
struct OpenState {
    virtual ~OpenState() = default;
};

// One open of a simulated device: the daemon holds one end of a SOCK_SEQPACKET socket pair
// (and maybe dups of it), the model holds the other. Whatever the model sends is one record
// for one read of the daemon; whatever the daemon writes reaches Device::received.
class OpenFile {
public:
    OpenFile(Device& device, Fd modelEnd, ino_t inode, int flags, unsigned id);

    Device& device() const { return device_; }
    // The open(2) flags the daemon gave.
    int flags() const { return flags_; }
    // Numbered from 1 in the order of opening, over the whole board.
    unsigned id() const { return id_; }
    // The inode of the daemon's socket, by which its descriptors are recognised.
    ino_t inode() const { return inode_; }
    int modelFd() const { return modelEnd_.lowlevel_fd(); }

    // Queues one record (a driver event, a received frame) for the daemon to read.
    // False when it cannot be queued (the daemon's queue is full or it has closed).
    bool send(void const* data, std::size_t length);

    // The model's own state of this open, if it keeps one.
    std::unique_ptr<OpenState> state;

private:
    Device& device_;
    Fd modelEnd_;
    ino_t inode_;
    int flags_;
    unsigned id_;
};

// The model of one device node (or one network interface) of the simulated board: the least
// state that makes the daemon's use of the device observable. A model answers the requests
// of its table; the board answers the others with ENOTTY, journals every request and applies
// the injected failures before the model sees a request.
class Device {
public:
    Device(std::string path, std::vector<RequestInfo> requests);
    virtual ~Device();
    Device(Device const&) = delete;
    Device& operator=(Device const&) = delete;

    // The board path ("/dev/hal") or the interface name ("hdlc0").
    std::string const& path() const { return path_; }
    RequestInfo const* find(unsigned long request) const
    {
        for (RequestInfo const& r : requests_)
            if (r.number == request)
                return &r;
        return nullptr;
    }
    RequestInfo const* find(std::string const& name) const;
    std::vector<RequestInfo> const& requests() const { return requests_; }

    // The daemon opened the device: 0 to accept, or a negative errno to refuse.
    virtual int opened(OpenFile& file);
    // A request of the table on an open (null for an interface). Returns the driver's result
    // (0 or more) or a negative errno.
    virtual int request(OpenFile* file, RequestInfo const& info, void* arg) = 0;
    // One record the daemon wrote on an open.
    virtual void received(OpenFile& file, void const* data, std::size_t length);
    // The daemon closed its last descriptor of an open.
    virtual void closed(OpenFile& file);

    // The model's state on one line, for the board socket.
    virtual std::string dump() const;
    // A model's own console command (words after "device PATH"); returns the reply line
    // ("ok ..." or "error ...").
    virtual std::string command(std::vector<std::string> const& words);

    // The opens held now, in the order of opening.
    std::vector<OpenFile*> const& opens() const { return opens_; }
    // Sends a record to every open; returns how many took it.
    int broadcast(void const* data, std::size_t length);

private:
    friend class SimBoard;

    std::string path_;
    std::vector<RequestInfo> requests_;
    std::vector<OpenFile*> opens_;
    // Where the board's journal keeps the device's path and its requests (in table order).
    std::uint32_t journalSite_ = 0;
    std::vector<std::uint32_t> journalSites_;
};

}  // namespace board::sim
