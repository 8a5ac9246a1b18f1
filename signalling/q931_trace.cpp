#include "signalling/q931_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ISDN {

char logbuf[kLogBufSize];

// Bounded output

TraceText::TraceText(char* out, std::size_t size) : out_(out), size_(size)
{
    if (size_ > 0)
        out_[0] = '\0';
}

int TraceText::printf(char const* format, ...)
{
    std::size_t const free = room();
    if (free == 0)
        return 0;
    va_list args;
    va_start(args, format);
    int const wanted = std::vsnprintf(out_ + length_, free + 1, format, args);
    va_end(args);
    if (wanted <= 0)
        return 0;
    std::size_t const written = std::size_t(wanted) < free ? std::size_t(wanted) : free;
    length_ += written;
    return int(written);
}

int TraceText::put(char c) { return put(reinterpret_cast<unsigned char const*>(&c), 1); }

int TraceText::put(unsigned char const* chars, std::size_t count)
{
    std::size_t const written = count < room() ? count : room();
    if (written == 0)
        return 0;
    std::memcpy(out_ + length_, chars, written);
    length_ += written;
    out_[length_] = '\0';
    return int(written);
}

// Auxiliaries

int printbits(TraceText& out, unsigned char octet, int start, int count)
{
    int written = 0;
    for (int bit = start; bit > start - count && bit >= 1; --bit)
        written += out.put((octet >> (bit - 1)) & 1 ? '1' : '0');
    return written;
}

std::size_t skipext(Element const& e, std::size_t n)
{
    while (e.has(n) && !(e.octet(n) & 0x80))
        ++n;
    return n + 1;
}

int QuickHex(TraceText& out, unsigned char const* data, int count)
{
    int written = 0;
    for (int i = 0; i < count; ++i)
        written += out.printf(" %02X", data[i]);
    return written + 1;
}

namespace {

// The eight bits of octet n, when the element holds it.
int bits(TraceText& out, Element const& e, std::size_t n) { return e.has(n) ? printbits(out, e.octet(n), 8, 8) : 0; }

// "<label><bits of octet n>\n" when the element holds octet n.
int octetLine(TraceText& out, char const* label, Element const& e, std::size_t n)
{
    if (!e.has(n))
        return 0;
    return out.printf("%s", label) + bits(out, e, n) + out.put('\n');
}

// count octets from octet n as characters, as far as the element holds them.
int chars(TraceText& out, Element const& e, std::size_t n, long count)
{
    if (count <= 0)
        return 0;
    std::size_t const held = e.remaining(n);
    return out.put(e.at(n), std::size_t(count) < held ? std::size_t(count) : held);
}

template <class Row, std::size_t N>
Row const* find(Row const (&table)[N], unsigned char value)
{
    for (Row const& row : table)
        if (row.value == value)
            return &row;
    return nullptr;
}

MessageTypeRow const* findType(unsigned char type)
{
    for (MessageTypeRow const& row : mtlist)
        if (row.type == type)
            return &row;
    return nullptr;
}

ElementRow const* findElement(unsigned char id)
{
    for (ElementRow const& row : ielist)
        if (row.id == id)
            return &row;
    return nullptr;
}

char nextSuffix(char suffix) { return suffix == ' ' ? 'a' : suffix < 'z' ? char(suffix + 1) : suffix; }

// "  cause value %x : %s \n" from a table, or "Unknown cause type %x!\n".
template <class Row>
int causeLine(TraceText& out, Row const* row, char const* text, unsigned value)
{
    if (!row)
        return out.printf("Unknown cause type %x!\n", value);
    return out.printf("  cause value %x : %s \n", value, text);
}

// "    coding <bits 7..6> location <bits 4..1>\n" of octet n.
int codingLocation(TraceText& out, Element const& e, std::size_t n)
{
    if (!e.has(n))
        return 0;
    int w = out.printf("    coding ") + printbits(out, e.octet(n), 7, 2);
    w += out.printf(" location ") + printbits(out, e.octet(n), 4, 4);
    return w + out.put('\n');
}

}  // namespace

// Renderers

int general(TraceText& out, Element const& e)
{
    int w = 0;
    unsigned number = 3;
    char suffix = ' ';
    for (std::size_t n = 3; n < 3 + std::size_t(e.length()) && e.has(n); ++n) {
        w += out.printf("    octet %u%c ", number, suffix) + bits(out, e, n) + out.put('\n');
        if (e.octet(n) & 0x80) {
            ++number;
            suffix = ' ';
        } else {
            suffix = nextSuffix(suffix);
        }
    }
    return w;
}

int general_ni1(TraceText& out, Element const& e) { return general(out, e); }

int prbearer(TraceText& out, Element const& e)
{
    int w = octetLine(out, "    octet 3  ", e, 3) + octetLine(out, "    octet 4  ", e, 4);
    std::size_t n = 5;
    if (e.has(4) && (e.octet(4) & 0x1F) == 24)
        w += octetLine(out, "    octet 4.1 ", e, n++);
    if (e.has(n) && (e.octet(n) & 0x60) == 0x20) {
        char suffix = ' ';
        for (bool more = true; more && e.has(n); ++n) {
            w += out.printf("    octet 5%c ", suffix) + bits(out, e, n) + out.put('\n');
            more = !(e.octet(n) & 0x80);
            suffix = nextSuffix(suffix);
        }
    }
    if (e.has(n) && (e.octet(n) & 0x60) == 0x40)
        w += octetLine(out, "    octet 6  ", e, n++);
    if (e.has(n) && (e.octet(n) & 0x60) == 0x60)
        w += octetLine(out, "    octet 7  ", e, n++);
    return w;
}

int prbearer_ni1(TraceText& out, Element const& e)
{
    if (!e.has(3))
        return 0;
    unsigned char const cap = e.octet(3);
    int w = out.printf("    octet 3  ") + bits(out, e, 3);
    w += out.printf("%s\n", cap == 0x88   ? " Unrestricted digital information"
                            : cap == 0x90 ? " 3.1 kHz audio"
                            : cap == 0x80 ? " Speech"
                                          : " Unknown information-transfer capability");
    if (!e.has(4))
        return w;
    unsigned char const mode = e.octet(4);
    w += out.printf("    octet 4  ") + bits(out, e, 4);
    w += out.printf("%s\n", mode == 0x90 ? " 64 kbps, circuit mode" : mode == 0xC0 ? " Packet mode" : " Unknown transfer mode");
    if (e.length() <= 2 || !e.has(5))
        return w;
    unsigned char const layer1 = e.octet(5);
    w += out.printf("    octet 5  ") + bits(out, e, 5);
    if (layer1 == 0x21) {
        w += out.printf(" Rate adaption\n    octet 5a ") + bits(out, e, 6);
    } else {
        w += out.printf("%s", layer1 == 0xA2 ? " u-law" : " Unknown UI layer 1 protocol");
    }
    return w + out.put('\n');
}

int prcause(TraceText& out, Element const& e)
{
    int w = codingLocation(out, e, 3);
    std::size_t n = skipext(e, 3);
    if (!e.has(n))
        return w;
    unsigned const value = e.octet(n) & 0x7F;
    CauseRow const* row = find(cvlist, static_cast<unsigned char>(value));
    w += causeLine(out, row, row ? row->english : "", value);
    // Diagnostics: attribute, rejection reason and available value, as far as they go.
    for (++n; e.has(n);) {
        w += out.printf("    diag attribute %d ", e.octet(n) & 0x7F);
        if (!e.has(++n))
            break;
        w += out.printf(" rej %d ", e.octet(n) & 0x7F);
        if (e.octet(n) & 0x80) {
            w += out.put('\n');
            break;
        }
        if (!e.has(++n))
            break;
        w += out.printf(" av %d\n", e.octet(n) & 0x7F);
    }
    return w;
}

int prcause_1tr6(TraceText& out, Element const& e)
{
    if (e.length() == 0)
        return out.printf("   OK (cause length=0)\n");
    int w = e.length() > 1 ? codingLocation(out, e, 4) : 0;
    if (!e.has(3))
        return w;
    unsigned const value = e.octet(3) & 0x7F;
    TextRow const* row = find(cause_1tr6, static_cast<unsigned char>(value));
    return w + causeLine(out, row, row ? row->text : "", value);
}

int prchident(TraceText& out, Element const& e) { return octetLine(out, "    octet 3 ", e, 3); }

int prcalled(TraceText& out, Element const& e)
{
    if (!e.has(3))
        return 0;
    int w = octetLine(out, "    octet 3 ", e, 3);
    return w + out.printf("    number digits ") + chars(out, e, 4, long(e.length()) - 1) + out.put('\n');
}

int prcalling(TraceText& out, Element const& e)
{
    if (!e.has(3))
        return 0;
    int w = octetLine(out, "    octet 3 ", e, 3);
    std::size_t digits = 4;
    if (!(e.octet(3) & 0x80)) {
        w += octetLine(out, "    octet 3a ", e, 4);
        digits = 5;
    }
    long const count = long(e.length()) - long(digits - 3);
    return w + out.printf("    number digits ") + chars(out, e, digits, count) + out.put('\n');
}

int prcharge(TraceText& out, Element const& e)
{
    if (!e.has(3))
        return 0;
    int w = out.printf("    GEA ") + bits(out, e, 3);
    return w + out.printf("  Anzahl: ") + chars(out, e, 4, long(e.length()) - 1) + out.put('\n');
}

int prtext(TraceText& out, Element const& e)
{
    return out.printf("    ") + chars(out, e, 3, e.length()) + out.put('\n');
}

int display(TraceText& out, Element const& e)
{
    return out.printf("   \"") + chars(out, e, 3, e.length()) + out.printf("\"\n");
}

int prfeatureind(TraceText& out, Element const& e)
{
    if (!e.has(3))
        return 0;
    int w = octetLine(out, "    octet 3  ", e, 3);
    std::size_t n = 4;
    if ((e.octet(3) & 0x50) == 0)
        w += octetLine(out, "    octet 4  ", e, n++);
    if (!e.has(n))
        return w;
    static char const* const status[] = {"Idle", "Active", "Prompt", "Pending"};
    unsigned char const s = e.octet(n);
    return w + out.printf("    Status:  %s\n", s < 4 ? status[s] : "(Reserved)");
}

int disptext_ni1(TraceText& out, Element const& e)
{
    if (!e.has(3))
        return 0;
    if (e.octet(3) != 0x80)
        return out.printf("    Unknown display type\n");
    int w = 0;
    long remainder = long(e.length()) - 1;
    std::size_t n = 4;
    while (remainder > 0 && e.has(n + 1)) {
        unsigned char const tag = e.octet(n);
        unsigned const tagLength = e.octet(n + 1);
        remainder -= long(tagLength) + 2;
        n += 2;
        if (tag == 0x80 || tag == 0x81) {
            ++n;
            continue;
        }
        if (TextRow const* row = find(dtaglist, tag))
            w += out.printf("    %s: ", row->text);
        else
            w += out.printf("    (unknown display tag %2x): ", tag);
        w += chars(out, e, n, tagLength) + out.put('\n');
        n += tagLength;
    }
    return w;
}

int prfacility(TraceText& out, Element const& e)
{
    if (!e.has(3))
        return 0;
    int w = octetLine(out, "    octet 3 ", e, 3);
    long remainder = long(e.length()) - 1;
    std::size_t n = 4;
    while (remainder > 0 && e.has(n)) {
        w += octetLine(out, "   octet 4 ", e, n);
        if (!e.has(n + 1))
            break;
        unsigned const count = e.octet(n + 1) & 0x7F;
        w += out.printf("   octet 5 %u\n", count) + out.printf("   contents ");
        for (std::size_t i = 0; i < count && e.has(n + 2 + i); ++i)
            w += out.printf("%2x ", e.octet(n + 2 + i));
        w += out.put('\n');
        remainder -= 2 + long(count);
        n += 2 + count;
    }
    return w;
}

// The frame

namespace {

// The layer-2 header line; returns where the layer-3 message starts (an index into the
// frame), or 0 when the frame carries none to decode.
std::size_t headerLine(TraceText& out, unsigned char const* frame, unsigned length)
{
    unsigned const sapi = frame[0] >> 2, tei = frame[1] >> 1;
    unsigned char const control = frame[2];
    if (tei == 127 && sapi != 0) {
        if (sapi < 63)
            out.printf("unknown sapi %u broadcast\n", sapi);
        else
            out.printf("tei management:\n");
        return 0;
    }
    if (tei == 127) {
        if (control != 0x03) {
            out.printf("no UI broadcast\n");
            return 0;
        }
        out.printf("broadcast\n");
        return 3;
    }
    if (sapi != 0) {
        out.printf("unknown sapi = %u; tei = %u\n", sapi, tei);
        return 0;
    }
    if (control & 0x01) {
        out.printf("SFrame tei = %u (", tei);
        for (unsigned i = 2; i < length; ++i)
            out.printf("%02X ", frame[i]);
        out.printf(")\n");
        return 0;
    }
    out.printf("IFrame tei = %u\n", tei);
    return 4;
}

// The single-octet element o.
void singleOctet(TraceText& out, unsigned char o)
{
    switch ((o >> 4) & 7) {
    case 2:
        if (o == 0xA0)
            out.printf("  More data\n");
        else if (o == 0xA1)
            out.printf("  Sending complete\n");
        break;
    case 1:
        out.printf("  Shift %x\n", o & 0x0F);
        break;
    case 3:
        out.printf("  Congestion level %x\n", o & 0x0F);
        break;
    case 5:
        out.printf("  Repeat indicator %x\n", o & 0x0F);
        break;
    default:
        out.printf("  Reserved %x\n", o);
        break;
    }
}

// The elements from index i to the frame's end.
void elements(TraceText& out, unsigned char const* frame, std::size_t length, std::size_t i)
{
    while (i < length) {
        unsigned char const id = frame[i];
        if (id & 0x80) {
            singleOctet(out, id);
            ++i;
            continue;
        }
        if (i + 1 >= length)
            return;
        Element const e(frame + i, length - i);
        if (ElementRow const* row = findElement(id)) {
            out.printf("  %s\n", row->name);
            row->render(out, e);
        } else {
            out.printf("  attribute %x attribute size %u\n", id, e.length());
        }
        i += 2 + e.length();
    }
}

// The layer-3 message from index start: protocol, call reference, message type, elements.
void message(TraceText& out, unsigned char const* frame, std::size_t length, std::size_t start)
{
    if (frame[start] != 8) {
        out.printf("Unknown protocol %x!", frame[start]);
        return;
    }
    // The call reference: a length octet (bits 4..1), then that many octets; the flag is
    // bit 8 of the first, the value the remaining bits of all of them.
    std::size_t i = start + 1;
    std::size_t const refLength = i < length ? frame[i] & 0x0F : 0;
    if (i + 1 + refLength >= length) {
        out.printf("frame too short\n");
        return;
    }
    ++i;
    bool called = false;
    unsigned long reference = 0;
    for (std::size_t k = 0; k < refLength; ++k, ++i) {
        unsigned char const o = frame[i];
        if (k == 0) {
            called = o & 0x80;
            reference = o & 0x7F;
        } else {
            reference = (reference << 8 | o) & 0xFFFFFFFFul;
        }
    }
    unsigned char const type = frame[i++];
    unsigned const size = unsigned(length - start);
    char const* const side = called ? "called" : "caller";
    if (MessageTypeRow const* row = findType(type))
        out.printf("callref %lu %s size %u message type %s\n", reference, side, size, row->name);
    else
        out.printf("callref %lu %s size %u unknown message type %x!\n", reference, side, size, type);
    elements(out, frame, length, i);
}

}  // namespace

void dlogframe(unsigned char const* frame, unsigned int length, int direction, char* out, std::size_t size)
{
    TraceText text(out, size);
    if (!frame || length < 3)
        return;
    QuickHex(text, frame, int(length));
    text.printf("\nframe %s ", direction ? "network->user" : "user->network");
    std::size_t const start = headerLine(text, frame, length);
    if (start == 0)
        return;
    if (start >= length) {
        text.printf("frame too short\n");
        return;
    }
    message(text, frame, length, start);
}

}  // namespace ISDN
