#pragma once

#include "base/list_allocator.h"
#include "base/smart_pointer.h"

#include <cstddef>
#include <iosfwd>
#include <new>
#include <string>

// The buffer size of every packet block: the bound of head room, tail room and length.
constexpr unsigned int packet_max_size = 65536;
// The number of blocks in the packet pool.
constexpr unsigned int packet_pool_size = 1024;

// What a block is taken for. The pool keeps its last blocks for the message links (the
// controller's and the SNMP agents'), so that answers, signals and pings are always built,
// and the blocks above those for the frames the link stacks build and receive, so that the
// messages the signalling links queue can never take them all.
enum class PacketUse : unsigned char {
    queued,   // a message a link holds in its queue until it is sent
    frame,    // a frame a link stack builds or receives, and every other use
    control,  // the message links: what they read, and every message they send
};
// The blocks only the message links take, and the blocks queued messages leave to frames.
constexpr unsigned int packet_control_reserve = 32;
constexpr unsigned int packet_frame_reserve = 64;

// One packet block: a reference count, the window [data, tail) and the buffer.
// Blocks only ever live in the pool: new takes one, delete gives it back.
class _Packet final {
public:
    typedef List_allocator<_Packet, packet_pool_size, Dummy_critical_section> Pool;

    // A fresh block: count 0, empty window at the buffer end (all head room).
    _Packet() : data(buf + packet_max_size), tail(buf + packet_max_size) {}
    // The window at the same positions, with only its bytes copied; count 0.
    _Packet(_Packet const& o);
    _Packet& operator=(_Packet const&) = delete;

    // Takes a block from the pool; std::bad_alloc when the pool is empty.
    static void* operator new(std::size_t size);
    // Takes a block from the pool; null when the pool is empty.
    static void* operator new(std::size_t size, std::nothrow_t const&) noexcept;
    static void operator delete(void* p) noexcept { Pool::deallocate(p); }
    static void operator delete(void* p, std::nothrow_t const&) noexcept { Pool::deallocate(p); }
    static void* operator new[](std::size_t) = delete;
    static void operator delete[](void*) = delete;

    unsigned char* begin() { return buf; }
    unsigned char* end() { return buf + packet_max_size; }
    unsigned char const* begin() const { return buf; }
    unsigned char const* end() const { return buf + packet_max_size; }
    // data and tail lie in the buffer, data not after tail.
    bool consistent() const { return data >= begin() && data <= end() && tail >= begin() && tail <= end() && data <= tail; }
    // Head room, length and tail room; meaningful only when consistent.
    long headroom() const { return data - buf; }
    long length() const { return tail - data; }
    long tailroom() const { return end() - tail; }

    unsigned int ref_count = 0;
    unsigned char* data;
    unsigned char* tail;
    unsigned char buf[packet_max_size];
};

// The pool is instantiated once, in packet.cpp.
extern template class List_allocator<_Packet, packet_pool_size, Dummy_critical_section>;

// A change through a packet handle whose block is shared copies the block first.
template <>
struct Smart_pointer_traits<_Packet> {
    static unsigned int& count(_Packet* p) { return p->ref_count; }
    static void destroy(_Packet* p) { delete p; }
    static void prepare_for_modify(Smart_pointer<_Packet>& p);
};

class Packet;

// What the assertion report prints of a packet: null, or its head room, length and tail
// room and, when its positions are consistent, its bytes.
class PacketInfo {
public:
    explicit PacketInfo(Packet const& p);
    explicit PacketInfo(_Packet const* block) : block_(block) {}
    void put(std::ostream& os) const;

private:
    _Packet const* block_;
};

std::ostream& operator<<(std::ostream& os, PacketInfo const& info);

// A handle on a reference-counted packet block from the fixed pool (null: no block).
//
// Copies share the block; every operation that writes or moves the window first gives the
// handle a block of its own when the block is shared (copy-on-write), so a queued packet
// never changes through a change made to a copy. The const queries never copy.
//
// Misuse (a null packet, a window overrun, an index out of range) prints
// "PACKET ASSERTION FAILED!", the message and the packet's report to the log stream and
// ends the process. Taking a block from an empty pool is misuse too, except through
// try_reserve_head, which every path of the daemon uses: it drops its frame or refuses its
// message when the pool keeps no block for its use.
class Packet {
public:
    Packet() = default;

    // Drops the reference: the packet is null afterwards.
    void clear() { p_.clean(); }

    // On a null packet: takes a block with an empty window at offset n (head room n).
    // On a block: moves the (empty) window n bytes towards the end.
    void reserve_head(unsigned int n);
    // On a null packet: takes a block with an empty window n bytes before the end (tail
    // room n). On a block: moves the (empty) window n bytes towards the start.
    void reserve_tail(unsigned int n);
    // As reserve_head, except that a pool that keeps no block for the use is not fatal:
    // false, and the packet stays null.
    bool try_reserve_head(unsigned int n, PacketUse use = PacketUse::frame);
    // Whether the last take for the use was refused: a run of refusals goes on.
    static bool refusing(PacketUse use);

    // Appends n bytes to the window; returns where they go.
    unsigned char* put(unsigned int n);
    // Prepends n bytes from the head room; returns the new start of the window.
    unsigned char* push(unsigned int n);
    // Removes n bytes from the front; returns where they were.
    unsigned char* pull(unsigned int n);
    // Removes n bytes from the end; returns the new end.
    unsigned char* trim(unsigned int n);
    unsigned char* data();
    unsigned char* tail();
    // Read-only view of the window start; never copies.
    unsigned char const* data() const;
    unsigned char& operator[](int i);
    unsigned char const& operator[](int i) const;

    void put8(unsigned char v);
    // Little-endian: the low byte first.
    void put16(unsigned short v);
    // Big-endian: the high byte first.
    void put16_b(unsigned short v);
    void push8(unsigned char v);
    // Prepends v so that the window begins with its high byte.
    void push16_b(unsigned short v);

    // A pull the window cannot satisfy returns 0 (an empty string) and removes nothing.
    unsigned char pull8();
    // Little-endian: the first byte is the low one.
    unsigned short pull16();
    unsigned short pull16_l() { return pull16(); }
    // Big-endian: the first byte is the high one.
    unsigned short pull16_b();

    unsigned int length() const;
    bool empty() const { return length() == 0; }
    bool null() const { return p_.null(); }
    // length() < n.
    bool operator<(unsigned int n) const { return length() < n; }
    unsigned int tailroom() const;

    // Appends a length byte and the string's bytes; a string longer than 255 bytes is
    // refused (false, nothing appended).
    bool put(std::string const& s);
    // Reads a length byte and that many bytes (nothing, and "", when fewer are held).
    std::string pull_string();
    // Appends every byte of the other packet.
    void put(Packet const& other);
    // A new, unshared packet holding bytes start .. start + len of the window, at the
    // same buffer positions.
    Packet sub(unsigned int len, unsigned int start) const;

    // "(null)", "(bad)" for inconsistent positions, or the bytes as "%02X" apart by blanks.
    std::string text() const;
    // "head=<h>, data=<l>, tail=<t>"; false (nothing written) for a null packet.
    bool dump(std::ostream& os) const;
    // "dump:" and " <byte in lower-case hex>" per byte; false for a null packet or
    // inconsistent positions, true with nothing written for an empty window.
    bool dump_context(std::ostream& os) const;

    // Ends the process with the assertion report when cond is false.
    void passert(bool cond, char const* message) const
    {
        if (!cond)
            fail(cblock(), message);
    }
    // Writes "packet check fail", the message formatted by printf rules and "terminate."
    // to the log stream and ends the process.
    [[noreturn]] static void check_fail(char const* format, ...) __attribute__((format(printf, 1, 2)));

private:
    friend class PacketInfo;
    friend struct Smart_pointer_traits<_Packet>;

    // Writes the assertion report of the block (null: a null packet) and ends the process.
    [[noreturn]] static void fail(_Packet const* block, char const* message);

    // Takes a block for a null packet, as the use may: an empty window at offset n; false
    // when the pool keeps none for it.
    bool take(unsigned int n, PacketUse use = PacketUse::control);
    // The window check after put, push and trim.
    void check(char const* operation) const;
    _Packet* block();
    _Packet const* cblock() const { return p_.get(); }
    unsigned int _headroom() const { return unsigned(cblock()->headroom()); }
    unsigned int _tailroom() const { return unsigned(cblock()->tailroom()); }
    unsigned int _length() const { return unsigned(cblock()->length()); }

    Smart_pointer<_Packet> p_;
};

std::ostream& operator<<(std::ostream& os, Packet const& p);

inline void Smart_pointer_traits<_Packet>::prepare_for_modify(Smart_pointer<_Packet>& p)
{
    _Packet* shared = p.get();
    if (shared->ref_count <= 1)
        return;
    _Packet* own = new (std::nothrow) _Packet(*shared);
    if (!own)
        Packet::fail(shared, "allocation fail");
    p = own;
}
