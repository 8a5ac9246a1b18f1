#include "base/packet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

template class List_allocator<_Packet, packet_pool_size, Dummy_critical_section>;

namespace {

// " <byte>" per byte, in lower-case hex without leading zero; the stream's flags survive.
void putBytes(std::ostream& os, unsigned char const* begin, unsigned char const* end)
{
    std::ios_base::fmtflags const flags = os.flags();
    os << std::hex;
    for (unsigned char const* b = begin; b != end; ++b)
        os << ' ' << unsigned(*b);
    os.flags(flags);
}

void putRooms(std::ostream& os, _Packet const& b)
{
    os << "head=" << b.headroom() << ", " << "data=" << b.length() << ", " << "tail=" << b.tailroom();
}

// The free blocks a take for the use leaves to the others.
unsigned int floorOf(PacketUse use)
{
    switch (use) {
    case PacketUse::queued: return packet_control_reserve + packet_frame_reserve;
    case PacketUse::frame: return packet_control_reserve;
    case PacketUse::control: break;
    }
    return 0;
}

// Whether the last take for each use was refused.
bool refused[3] = {false, false, false};

}  // namespace

// ---- _Packet

_Packet::_Packet(_Packet const& o) : data(buf + (o.data - o.buf)), tail(buf + (o.tail - o.buf))
{
    std::memcpy(data, o.data, std::size_t(o.tail - o.data));
}

void* _Packet::operator new(std::size_t)
{
    void* p = Pool::allocate();
    if (!p)
        throw std::bad_alloc();
    return p;
}

void* _Packet::operator new(std::size_t, std::nothrow_t const&) noexcept { return Pool::allocate(); }

// ---- PacketInfo

PacketInfo::PacketInfo(Packet const& p) : block_(p.cblock()) {}

void PacketInfo::put(std::ostream& os) const
{
    if (!block_) {
        os << "(null)" << '\n';
        return;
    }
    putRooms(os, *block_);
    os << '\n';
    if (!block_->consistent()) {
        os << "can't dump packet: wrong pointers" << '\n';
    } else if (block_->data != block_->tail) {
        os << "dump:" << '\n';
        putBytes(os, block_->data, block_->tail);
        os << '\n';
    }
}

std::ostream& operator<<(std::ostream& os, PacketInfo const& info)
{
    info.put(os);
    return os;
}

// ---- Packet: failures

void Packet::fail(_Packet const* block, char const* message)
{
    std::clog << "PACKET ASSERTION FAILED!" << '\n' << message << '\n' << PacketInfo(block) << std::endl;
    std::terminate();
}

void Packet::check_fail(char const* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::clog << "packet check fail" << '\n' << text << '\n' << "terminate." << std::endl;
    std::terminate();
}

void Packet::check(char const* operation) const
{
    _Packet const* b = cblock();
    if (!b)
        check_fail("after \"%s\" packet is null", operation);
    if (b->data < b->begin() || b->data > b->end())
        check_fail("after \"%s\" fdata invalid", operation);
    if (b->tail < b->begin() || b->tail > b->end())
        check_fail("after \"%s\" ftail invalid", operation);
    if (b->data > b->tail)
        check_fail("after \"%s\" fdata>ftail", operation);
}

// ---- Packet: blocks

_Packet* Packet::block() { return p_.operator->(); }

bool Packet::take(unsigned int n, PacketUse use)
{
    bool& refusal = refused[static_cast<unsigned>(use)];
    _Packet* b = _Packet::Pool::available() > floorOf(use) ? new (std::nothrow) _Packet : nullptr;
    refusal = b == nullptr;
    if (!b)
        return false;
    b->data = b->tail = b->buf + n;
    p_ = b;
    return true;
}

void Packet::reserve_head(unsigned int n)
{
    passert(n <= packet_max_size, "length>packet_max_size");
    if (null()) {
        passert(take(n), "allocation fail");
        return;
    }
    passert(_headroom() + _length() + n <= packet_max_size, "new_len>packet_max_size");
    _Packet* b = block();
    b->data += n;
    b->tail += n;
}

bool Packet::try_reserve_head(unsigned int n, PacketUse use)
{
    passert(n <= packet_max_size, "length>packet_max_size");
    if (null())
        return take(n, use);
    reserve_head(n);
    return true;
}

bool Packet::refusing(PacketUse use) { return refused[static_cast<unsigned>(use)]; }

void Packet::reserve_tail(unsigned int n)
{
    passert(n <= packet_max_size, "len>packet_max_size");
    if (null()) {
        passert(take(packet_max_size - n), "allocation fail");
        return;
    }
    passert(_tailroom() + _length() + n <= packet_max_size, "_tailroom()+len <= packet_max_size");
    _Packet* b = block();
    b->data -= n;
    b->tail -= n;
}

// ---- Packet: the window

unsigned char* Packet::put(unsigned int n)
{
    passert(!null(), "null packet");
    passert(n <= _tailroom(), "len<=_tailroom()");
    _Packet* b = block();
    unsigned char* old = b->tail;
    b->tail += n;
    check("put");
    return old;
}

unsigned char* Packet::push(unsigned int n)
{
    passert(!null(), "null packet");
    passert(n <= _headroom(), "len<=_headroom()");
    _Packet* b = block();
    b->data -= n;
    check("push");
    return b->data;
}

unsigned char* Packet::pull(unsigned int n)
{
    passert(!null(), "null packet");
    passert(n <= _length(), "len<=_length()");
    _Packet* b = block();
    unsigned char* old = b->data;
    b->data += n;
    return old;
}

unsigned char* Packet::trim(unsigned int n)
{
    passert(!null(), "null packet");
    passert(n <= _length(), "len<=_length()");
    _Packet* b = block();
    b->tail -= n;
    check("trim");
    return b->tail;
}

unsigned char* Packet::data()
{
    passert(!null(), "null packet");
    return block()->data;
}

unsigned char const* Packet::data() const
{
    passert(!null(), "null packet");
    return cblock()->data;
}

unsigned char* Packet::tail()
{
    passert(!null(), "null packet");
    return block()->tail;
}

unsigned char& Packet::operator[](int i)
{
    passert(!null(), "null packet");
    passert(i >= 0 && unsigned(i) < _length(), "index out of range");
    return block()->data[i];
}

unsigned char const& Packet::operator[](int i) const
{
    passert(!null(), "null packet");
    passert(i >= 0 && unsigned(i) < _length(), "index out of range");
    return cblock()->data[i];
}

// ---- Packet: bytes and words

void Packet::put8(unsigned char v) { *put(1) = v; }

void Packet::put16(unsigned short v)
{
    put8(static_cast<unsigned char>(v & 255));
    put8(static_cast<unsigned char>(v >> 8));
}

void Packet::put16_b(unsigned short v)
{
    put8(static_cast<unsigned char>(v >> 8));
    put8(static_cast<unsigned char>(v & 255));
}

void Packet::push8(unsigned char v) { *push(1) = v; }

void Packet::push16_b(unsigned short v)
{
    push8(static_cast<unsigned char>(v & 255));
    push8(static_cast<unsigned char>(v >> 8));
}

unsigned char Packet::pull8()
{
    passert(!null(), "null packet");
    if (_length() == 0)
        return 0;
    return *pull(1);
}

unsigned short Packet::pull16()
{
    passert(!null(), "null packet");
    if (_length() < 2)
        return 0;
    unsigned int const low = pull8();
    return static_cast<unsigned short>(low | unsigned(pull8()) << 8);
}

unsigned short Packet::pull16_b()
{
    passert(!null(), "null packet");
    if (_length() < 2)
        return 0;
    unsigned int const high = pull8();
    return static_cast<unsigned short>(high << 8 | pull8());
}

// ---- Packet: queries

unsigned int Packet::length() const { return null() ? 0 : _length(); }

unsigned int Packet::tailroom() const
{
    passert(!null(), "null packet");
    return _tailroom();
}

// ---- Packet: strings and copies

bool Packet::put(std::string const& s)
{
    passert(!null(), "null packet");
    if (s.size() > 255)
        return false;
    put8(static_cast<unsigned char>(s.size()));
    std::memcpy(put(unsigned(s.size())), s.data(), s.size());
    return true;
}

std::string Packet::pull_string()
{
    passert(!null(), "null packet");
    if (_length() == 0 || _length() < 1u + cblock()->data[0])
        return std::string();
    unsigned int const n = pull8();
    unsigned char const* b = pull(n);
    return std::string(reinterpret_cast<char const*>(b), n);
}

void Packet::put(Packet const& other)
{
    unsigned int const n = other.length();
    unsigned char* to = put(n);
    if (n)
        std::memcpy(to, other.cblock()->data, n);
}

Packet Packet::sub(unsigned int len, unsigned int start) const
{
    passert(!null(), "null packet");
    passert(start <= _length(), "start<=_length()");
    passert(len <= _length() - start, "start+len<=_length()");
    Packet r;
    r.passert(r.take(_headroom() + start), "allocation fail");
    _Packet* b = r.block();
    std::memcpy(b->data, cblock()->data + start, len);
    b->tail += len;
    return r;
}

// ---- Packet: text forms

std::string Packet::text() const
{
    _Packet const* b = cblock();
    if (!b)
        return "(null)";
    if (!b->consistent())
        return "(bad)";
    static char const digits[] = "0123456789ABCDEF";
    std::string t;
    t.reserve(std::size_t(b->length()) * 3);
    for (unsigned char const* c = b->data; c != b->tail; ++c) {
        if (c != b->data)
            t += ' ';
        t += digits[*c >> 4];
        t += digits[*c & 15];
    }
    return t;
}

bool Packet::dump(std::ostream& os) const
{
    if (null())
        return false;
    putRooms(os, *cblock());
    return true;
}

bool Packet::dump_context(std::ostream& os) const
{
    _Packet const* b = cblock();
    if (!b || !b->consistent())
        return false;
    if (b->data == b->tail)
        return true;
    os << "dump:";
    putBytes(os, b->data, b->tail);
    return true;
}

std::ostream& operator<<(std::ostream& os, Packet const& p) { return os << p.text(); }
