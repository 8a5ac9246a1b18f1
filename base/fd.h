#pragma once

#include <unistd.h>

#include <cstddef>

// Owner of one file descriptor (-1: closed).
//
// Every descriptor put into an Fd (adopted, opened or duplicated) is close-on-exec, so no
// child program inherits it by accident. Copying duplicates the descriptor: two Fds never
// own the same number.
class Fd {
public:
    struct BoolResult;

    Fd() = default;
    explicit Fd(int fd);
    Fd(Fd const& other);
    Fd& operator=(Fd const& other);
    // Moving hands the descriptor over without a duplicate; the source is left closed.
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept;
    // Leaves errno as it was, so that the error of a failed call is still there to be logged
    // after the Fd it concerned has gone.
    ~Fd();

    // A close-on-exec duplicate of the descriptor; -1 when closed, negative on failure.
    int dup() const;
    int lowlevel_fd() const { return fd_; }
    bool is_valid() const { return fd_ >= 0; }
    operator BoolResult*() const { return is_valid() ? reinterpret_cast<BoolResult*>(1) : nullptr; }

    // Closes the current descriptor, then opens the path (no mode argument).
    bool open(char const* path, int flags);
    // -1 and errno EBADF when already closed; otherwise close(2)'s result. Always leaves -1.
    int close();
    // Lets the number go without closing it, for a descriptor found not open: the number
    // may be another descriptor's by now. Leaves -1.
    void forget() { fd_ = -1; }
    bool NonBlock();

private:
    int fd_ = -1;
};

bool NonBlockMode(int fd);
bool BlockMode(int fd);
// Sets or clears FD_CLOEXEC; false when the descriptor is bad.
bool SetCloexec(int fd, bool on);

// Writes all n bytes, going on after short writes and interruptions; false (errno set) on
// failure.
bool writeAll(int fd, void const* data, std::size_t n);

inline ssize_t read(Fd& fd, void* buf, unsigned int n) { return ::read(fd.lowlevel_fd(), buf, n); }
inline ssize_t write(Fd& fd, void const* buf, unsigned int n) { return ::write(fd.lowlevel_fd(), buf, n); }
inline int close(Fd& fd) { return fd.close(); }
