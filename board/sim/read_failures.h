#pragma once

#include "base/fd.h"

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

class OpenFile;

// How the reads of a device fail.
struct ReadFault {
    enum class Kind { eof, hangup, err, error };
    Kind kind = Kind::eof;
    int error = 0;  // Kind::error: what the read fails with
};

// "eof", "hangup", "err", or an error's name or number ("EIO", "11").
std::optional<ReadFault> parseReadFault(std::string const& text);

// Makes the daemon's reads of simulated devices fail on its own, unchanged descriptors:
// - eof: the model's end is shut down for writing, so the daemon's descriptor stays
//   readable, its reads return 0 and no hang-up is reported;
// - hangup: every descriptor the daemon holds of the open becomes (dup3 onto its number) the
//   read end of a pipe whose writer is gone: poll reports POLLHUP alone, reads return 0;
// - err: the same with the write end of a pipe whose reader is gone: poll reports POLLERR
//   alone, reads fail with EIO;
// - error: the board's read takes one record and fails with the error instead. The opens
//   held when it is armed get an empty record each, so that the daemon reads at once; such
//   a record that no failure is left for reads as EAGAIN.
// An eof, hangup or err strikes an open once and for good. The board keeps the socket of an
// open whose descriptors were replaced, so that its requests still reach the model, until
// the daemon has closed every descriptor of it.
class ReadFailures {
public:
    // Arms a fault on the path for `times` strikes (< 0: until cleared): eof, hangup and err
    // strike the opens held now (given oldest first), then later ones as they are made; an
    // error strikes reads.
    void arm(std::string const& path, ReadFault fault, int times, std::vector<OpenFile*> const& held);
    // The armed faults end; opens already struck stay as they are.
    void clear() { armed_.clear(); }
    // A new open of a device, its daemon descriptor open.
    void opened(OpenFile& file);

    // Whether reads need looking at.
    bool active() const { return !armed_.empty() || !opens_.empty(); }
    // A read of the daemon's descriptor fd, which leads to file (null: to no open).
    ssize_t read(OpenFile* file, int fd, void* buf, std::size_t size);

    // The open whose replaced descriptors have this file; null when none.
    OpenFile* replaced(dev_t dev, ino_t inode) const;
    // The inodes of replaced opens of which the daemon holds no descriptor any more.
    std::vector<ino_t> abandoned() const;
    // The sockets it keeps of replaced opens, added to out.
    void kept(std::vector<int>& out) const;
    // The open is gone.
    void forget(OpenFile const& file) { opens_.erase(&file); }

private:
    struct Armed {
        std::string path;
        ReadFault fault;
        int times;
    };
    struct Struck {
        int wakeups = 0;  // empty records queued to wake the daemon
        bool replaced = false;
        bool err = false;
        Fd held;          // the daemon's socket of a replaced open
        dev_t dev = 0;    // the pipe its descriptors are now
        ino_t inode = 0;
        int first = -1;   // the first of the daemon's descriptors replaced
    };

    // Takes one strike of an armed fault of the path: an error, or one of the others.
    std::optional<ReadFault> take(std::string const& path, bool error);
    void strike(OpenFile& file, ReadFault::Kind kind);
    void replace(OpenFile& file, Struck& s, ReadFault::Kind kind);

    std::vector<Armed> armed_;
    std::map<OpenFile const*, Struck> opens_;
};

}  // namespace board::sim
