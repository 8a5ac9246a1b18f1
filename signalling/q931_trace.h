#pragma once

#include <cstddef>

// Readable text of one D-channel frame for the log: the Q.921 header and, inside I-frames and
// broadcast UI frames, the Q.931 message with its information elements.
//
// Plain functions over constant tables. The input is hostile: nothing is read past the
// frame's end, and the text never grows past its buffer (what does not fit is cut; the
// text always ends with a NUL).
namespace ISDN {

constexpr std::size_t kLogBufSize = 1024;

// The decoded text of one frame; each call's text is consumed before the next call.
extern char logbuf[kLogBufSize];

// Bounded text output: writes into a caller's buffer of a given size, cutting what does not
// fit and keeping a terminating NUL.
class TraceText {
public:
    TraceText(char* out, std::size_t size);
    TraceText(TraceText const&) = delete;
    TraceText& operator=(TraceText const&) = delete;

    // Each returns the characters written.
    int printf(char const* format, ...) __attribute__((format(printf, 2, 3)));
    int put(char c);
    int put(unsigned char const* chars, std::size_t count);

    std::size_t length() const { return length_; }

private:
    std::size_t room() const { return size_ > length_ + 1 ? size_ - length_ - 1 : 0; }

    char* out_;
    std::size_t size_;
    std::size_t length_ = 0;
};

// One variable-length information element as far as the frame holds it: octet 1 is the
// identifier, octet 2 the length, the contents from octet 3 (Q.931 octet numbers).
class Element {
public:
    // id points at the identifier octet; available octets remain in the frame from there.
    Element(unsigned char const* id, std::size_t available) : id_(id), available_(available) {}

    // The length octet (0 when the frame holds none).
    unsigned length() const { return available_ >= 2 ? id_[1] : 0; }
    // Whether octet n (1 the identifier) lies inside the element and inside the frame.
    bool has(std::size_t n) const { return n >= 1 && n <= end(); }
    // Octet n; only when has(n).
    unsigned char octet(std::size_t n) const { return id_[n - 1]; }
    unsigned char const* at(std::size_t n) const { return id_ + n - 1; }
    // The number of octets from octet n up to the element's last one that the frame holds.
    std::size_t remaining(std::size_t n) const { return has(n) ? end() - n + 1 : 0; }

private:
    // The last octet number: the element's, or the frame's when that ends first.
    std::size_t end() const
    {
        std::size_t const whole = 2 + std::size_t(length());
        return whole < available_ ? whole : available_;
    }

    unsigned char const* id_;
    std::size_t available_;
};

// Writes the detail lines of one element; returns the characters written.
typedef int (*Renderer)(TraceText& out, Element const& element);

struct MessageTypeRow {
    unsigned char type;
    char const* name;
};

struct ElementRow {
    unsigned char id;
    char const* name;
    Renderer render;
};

struct CauseRow {
    unsigned char value;
    char const* english;
    char const* german;
};

struct TextRow {
    unsigned char value;
    char const* text;
};

extern MessageTypeRow const mtlist[32];
extern ElementRow const ielist[33];
extern CauseRow const cvlist[67];
extern TextRow const cause_1tr6[26];
extern int const cause_1tr6_len;
extern TextRow const dtaglist[22];
extern ElementRow const ielist_ni1[21];
extern ElementRow const _cs5[2];
extern ElementRow const _cs6[1];
extern ElementRow const we_0[10];
extern ElementRow const we_6[7];

// Writes the text of one frame into out (size octets, the log buffer by default) and ends it
// with a NUL. A direction that is not zero labels the frame "network->user", zero
// "user->network". A frame of fewer than 3 octets gives an empty text.
void dlogframe(unsigned char const* frame, unsigned int length, int direction, char* out,
               std::size_t size = kLogBufSize);

// Renderers of the element tables.
int general(TraceText& out, Element const& e);
int general_ni1(TraceText& out, Element const& e);
int prbearer(TraceText& out, Element const& e);
int prbearer_ni1(TraceText& out, Element const& e);
int prcause(TraceText& out, Element const& e);
int prcause_1tr6(TraceText& out, Element const& e);
int prchident(TraceText& out, Element const& e);
int prcalled(TraceText& out, Element const& e);
int prcalling(TraceText& out, Element const& e);
int prcharge(TraceText& out, Element const& e);
int prtext(TraceText& out, Element const& e);
int prfeatureind(TraceText& out, Element const& e);
int disptext_ni1(TraceText& out, Element const& e);
int display(TraceText& out, Element const& e);
int prfacility(TraceText& out, Element const& e);

// count characters '0' or '1' for the bits of the octet from bit start (8 the most
// significant) downwards; returns the characters written.
int printbits(TraceText& out, unsigned char octet, int start, int count);
// The octet number after the first octet from n on that has bit 8 set (that octet
// included); past the element when none has.
std::size_t skipext(Element const& e, std::size_t n);
// For each octet a blank and two upper-case hexadecimal digits; returns the characters
// written plus one (the terminating NUL).
int QuickHex(TraceText& out, unsigned char const* data, int count);

}  // namespace ISDN
