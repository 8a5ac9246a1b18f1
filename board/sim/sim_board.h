#pragma once

#include "board/board.h"
#include "board/sim/device.h"
#include "board/sim/journal.h"
#include "board/sim/read_failures.h"

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace board::sim {

// The simulated board: device models behind real descriptors.
//
// open of a known device returns one end of a socket pair whose other end the device's
// model keeps, so the daemon polls, reads and writes it like a driver's descriptor. A
// descriptor and its dups are recognised by the socket's inode; when the daemon closes the
// last of them the model sees the hang-up. Unknown paths fail with ENOENT, requests a model
// does not know with ENOTTY, descriptors of no device with ENOTTY. Every open, request, close
// and pause goes into a bounded journal; opens, requests and reads can be made to fail.
//
// A request costs a function call: the board keeps which open each descriptor number leads
// to, from the open (or the first request through a dup) until the number is closed (Fd
// tells the installed board) or the open ends, so a number reused after a close never
// reaches the old open.
//
// What the daemon wrote and its closes are handed to the models whenever the board is
// used or asked anything, and from the event loop while it runs.
class SimBoard : public Board {
public:
    SimBoard();
    ~SimBoard() override;
    SimBoard(SimBoard const&) = delete;
    SimBoard& operator=(SimBoard const&) = delete;

    // Every device model the daemon uses, at its path.
    void addStandardDevices();

    // Adds a device node model at its path (replacing one there; the daemon's descriptors of
    // the replaced one see a hang-up).
    Device& add(std::unique_ptr<Device> device);
    template <class Model, class... Args>
    Model& add(Args&&... args)
    {
        auto m = std::make_unique<Model>(std::forward<Args>(args)...);
        Model& ref = *m;
        add(std::unique_ptr<Device>(std::move(m)));
        return ref;
    }
    // Adds a network interface model under its name ("hdlc0").
    Device& addInterface(std::unique_ptr<Device> iface);

    // The model at a path or of an interface name (removed ones too); null when none.
    Device* device(std::string const& path) const;
    std::vector<Device*> devices() const;

    // The device node disappears (opens fail with ENOENT; descriptors already open keep
    // working) or comes back. False when there is no such model.
    bool remove(std::string const& path);
    bool restore(std::string const& path);
    bool present(std::string const& path) const;

    // The next `times` opens of the path fail with the error (times < 0: until cleared).
    void failOpen(std::string const& path, int error, int times = 1);
    // The next `times` requests of that number on the device fail with the error; with word0,
    // only those whose record begins with that 32-bit word.
    void failRequest(std::string const& path, unsigned long request, int error, int times = 1,
                     std::optional<std::uint32_t> word0 = {});
    // The device's reads fail as the fault says (board/sim/read_failures.h), for `times`
    // strikes (< 0: until cleared) over its opens held now and later.
    void failRead(std::string const& path, ReadFault fault, int times = 1);
    void clearFailures();

    // The journal, after handing pending writes and closes to the models.
    Journal& journal();
    // Hands what the daemon wrote and its closes to the models.
    void service();
    // Opens held now.
    std::size_t openCount();
    // The descriptors the board holds itself: the models' ends of the opens and what watches
    // them, and the sockets of opens whose descriptors a read failure replaced. What the
    // daemon holds is every other descriptor of the process.
    std::vector<int> ownDescriptors() const;
    // The open a descriptor of the process leads to, by what it is now (a dup, or one a read
    // failure replaced, too); null when none.
    OpenFile const* openOf(int fd) { return lookUp(fd); }

    int open(char const* path, int flags) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int ifaceIoctl(unsigned long request, ifreq* ifr) override;
    // Records the wait and returns at once; the one after stopAtPause() stops the process
    // first (SIGSTOP), so that a test can act while the loop is held at a known point.
    void pause(unsigned int us) override;
    void stopAtPause() { stopAtPause_ = true; }
    // A plain read unless a read failure is armed or an open is struck.
    ssize_t read(int fd, void* buf, std::size_t size) override;
    void closing(int fd) override;

private:
    struct Failure {
        std::string path;
        bool open;
        unsigned long request;
        int error;
        int times;
        std::optional<std::uint32_t> word0;
    };
    class Watch;

    int perform(OpenFile* file, Device& device, JournalEntry::Kind kind, unsigned long request, void* arg);
    int takeFailure(std::string const& path, bool open, unsigned long request, void const* record, std::size_t size);
    // The open a descriptor the board has not seen yet leads to; null with errno set when
    // none.
    OpenFile* lookUp(int fd);
    void remember(int fd, OpenFile* file);
    // Interns the device's path and request names and makes room for its records.
    void enter(Device& device);
    void serviceOpen(OpenFile& file, short revents);
    void serviceInode(ino_t inode, short revents);
    void closeOpen(ino_t inode, bool tellModel);

    // The open each descriptor number leads to (null: none known).
    std::vector<OpenFile*> byFd_;
    std::map<std::string, std::unique_ptr<Device>> nodes_;
    std::map<std::string, std::unique_ptr<Device>> interfaces_;
    std::set<std::string> removed_;
    std::map<ino_t, std::unique_ptr<OpenFile>> opens_;
    std::map<ino_t, std::unique_ptr<Watch>> watches_;
    std::vector<Failure> failures_;
    ReadFailures reads_;
    Journal journal_;
    // The request looked up last (null info: not in the device's table), and its site.
    struct Found {
        Device const* device = nullptr;
        unsigned long request = 0;
        RequestInfo const* info = nullptr;
        Journal::Site site = Journal::kNoSite;
    } found_;
    unsigned nextOpenId_ = 1;
    std::vector<char> buffer_;
    bool stopAtPause_ = false;
};

}  // namespace board::sim
