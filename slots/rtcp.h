#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The two RTCP packets an RTP slot sends of its own: a source description when its session
// starts and a goodbye when it ends. Nothing is received.
namespace RTPC {

// One RTCP packet: the 4-octet common header (version 2, no padding, a 5-bit count, the
// packet type, the length in words minus one), then the packet's body.
class Msg {
public:
    virtual ~Msg() = default;

    virtual unsigned pt() const = 0;
    virtual unsigned count() const = 0;

    // Writes the packet into buf and returns its length; 0 when size is below 8. A packet is
    // whole 32-bit words: only the whole words of the buffer are used, nothing past it.
    std::size_t encode(std::uint8_t* buf, std::size_t size) const;

protected:
    // Writes everything after the header into the n octets at p, zero-padded to whole
    // words, and returns its length; 0 when n is below 4.
    virtual std::size_t encode_body(std::uint8_t* p, std::size_t n) const = 0;
};

// A source description of one source (one chunk).
class SDES : public Msg {
public:
    class Item {
    public:
        enum Type : std::uint8_t { CNAME = 1, EMAIL = 3, PHONE = 4 };

        Item(Type type, std::string text) : type_(type), text_(std::move(text)) {}
        Type type() const { return type_; }
        std::string const& text() const { return text_; }

    private:
        Type type_;
        std::string text_;
    };

    explicit SDES(unsigned ssrc) : ssrc_(ssrc) {}
    // Appends an item; a text is sent cut to 255 octets. Items that do not fit the buffer
    // are dropped from the first that does not on.
    void add(Item::Type type, std::string const& text) { items_.emplace_back(type, text); }

    unsigned pt() const override { return 202; }
    unsigned count() const override { return 1; }

protected:
    std::size_t encode_body(std::uint8_t* p, std::size_t n) const override;

private:
    std::uint32_t ssrc_;
    std::vector<Item> items_;
};

// A goodbye of one source, with a reason text (cut to 255 octets and to the buffer; may be
// empty).
class BYE : public Msg {
public:
    BYE(unsigned ssrc, std::string const& reason) : ssrc_(ssrc), reason_(reason) {}

    unsigned pt() const override { return 203; }
    unsigned count() const override { return 1; }

protected:
    std::size_t encode_body(std::uint8_t* p, std::size_t n) const override;

private:
    std::uint32_t ssrc_;
    std::string reason_;
};

}  // namespace RTPC
