#include "board/sim/frame_line.h"

#include "board/sim/model_words.h"

#include <sys/socket.h>

#include <algorithm>

namespace board::sim {
namespace {

constexpr std::uint8_t kSabme = 0x6F, kDisc = 0x43, kUa = 0x63, kDm = 0x0F, kRr = 0x01, kPf = 0x10;
constexpr std::uint8_t kCommandBit = 0x02;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

void FrameLine::received(OpenFile& file, void const* data, std::size_t length)
{
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    written_.emplace_back(bytes, bytes + length);
    if (written_.size() > kKeptFrames)
        written_.pop_front();
    if (std::optional<Frame> reply = answer(written_.back()))
        file.send(reply->data(), reply->size());
}

std::vector<FrameLine::Frame> FrameLine::take()
{
    std::vector<Frame> out(written_.begin(), written_.end());
    written_.clear();
    return out;
}

void FrameLine::peer(bool on)
{
    peering_ = on;
    established_ = false;
    vs_ = vr_ = 0;
}

// A response to a command carries the command's address octets as they are: the C/R bit of
// a response from one side equals that of a command from the other.
std::optional<FrameLine::Frame> FrameLine::answer(Frame const& f)
{
    if (!peering_ || f.size() < 3 || (f[0] & 0x01) || !(f[1] & 0x01))
        return std::nullopt;
    auto reply = [&f](std::initializer_list<std::uint8_t> rest) {
        Frame r;
        r.reserve(2 + rest.size());
        r.push_back(f[0]);
        r.push_back(f[1]);
        r.insert(r.end(), rest.begin(), rest.end());
        return r;
    };
    std::uint8_t const control = f[2];
    if (!(control & 0x01)) {
        if (!established_ || f.size() < 4)
            return std::nullopt;
        if (unsigned(control >> 1) == vr_)
            vr_ = (vr_ + 1) % 128;
        return reply({kRr, std::uint8_t(vr_ << 1 | (f[3] & 0x01))});
    }
    if ((control & 0x03) == 0x01) {
        bool const command = (f[0] & kCommandBit) == (address_[0] & kCommandBit);
        if (!established_ || f.size() < 4 || !command || !(f[3] & 0x01))
            return std::nullopt;
        return reply({kRr, std::uint8_t(vr_ << 1 | 0x01)});
    }
    std::uint8_t const pf = control & kPf;
    switch (control & ~kPf) {
    case kSabme:
        established_ = true;
        vs_ = vr_ = 0;
        address_ = {f[0], f[1]};
        return reply({std::uint8_t(kUa | pf)});
    case kDisc: {
        bool const was = established_;
        established_ = false;
        return reply({std::uint8_t((was ? kUa : kDm) | pf)});
    }
    }
    return std::nullopt;
}

bool FrameLine::send(OpenFile& file, Frame const& info)
{
    if (!established_)
        return false;
    Frame f{std::uint8_t(address_[0] ^ kCommandBit), address_[1], std::uint8_t(vs_ << 1), std::uint8_t(vr_ << 1)};
    f.insert(f.end(), info.begin(), info.end());
    if (!file.send(f.data(), f.size()))
        return false;
    vs_ = (vs_ + 1) % 128;
    return true;
}

bool parseFrame(std::string const& text, FrameLine::Frame& frame)
{
    frame.clear();
    if (text == "-")
        return true;
    if (text.empty() || text.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]);
        int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        frame.push_back(std::uint8_t(hi << 4 | lo));
    }
    return true;
}

std::string frameText(FrameLine::Frame const& frame)
{
    if (frame.empty())
        return "-";
    static char const digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : frame) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

bool hangUp(OpenFile& file) { return ::shutdown(file.modelFd(), SHUT_RDWR) == 0; }

LineState* LineDevice::lineOf(OpenFile const& file) { return dynamic_cast<LineState*>(file.state.get()); }

std::vector<int> LineDevice::lineChannels() const
{
    std::vector<int> out;
    for (OpenFile* f : opens())
        if (LineState* l = lineOf(*f))
            out.push_back(l->channel);
    std::sort(out.begin(), out.end());
    return out;
}

OpenFile* LineDevice::findLine(int channel) const
{
    for (OpenFile* f : opens())
        if (LineState* l = lineOf(*f); l && l->channel == channel)
            return f;
    return nullptr;
}

FrameLine* LineDevice::line(int channel) const
{
    OpenFile* f = findLine(channel);
    return f ? &lineOf(*f)->line : nullptr;
}

void LineDevice::received(OpenFile& file, void const* data, std::size_t length)
{
    if (LineState* l = lineOf(file))
        l->line.received(file, data, length);
}

std::optional<std::string> LineDevice::lineCommand(std::vector<std::string> const& w)
{
    bool const known = w.size() >= 2 && (w[0] == "push" || w[0] == "written" || w[0] == "hangup" || w[0] == "peer");
    if (!known)
        return std::nullopt;
    std::optional<long long> channel = words::number(w[1], 0, 0x7FFFFFFF);
    if (!channel)
        return std::nullopt;
    OpenFile* const file = findLine(int(*channel));
    if (file == nullptr)
        return "error no channel " + w[1];
    FrameLine& line = lineOf(*file)->line;
    if (w[0] == "push" && w.size() >= 3) {
        std::vector<FrameLine::Frame> frames(w.size() - 2);
        for (std::size_t i = 2; i < w.size(); ++i)
            if (!parseFrame(w[i], frames[i - 2]))
                return "error bad frame " + w[i];
        int sent = 0;
        for (FrameLine::Frame const& f : frames) {
            if (!file->send(f.data(), f.size()))
                break;
            ++sent;
        }
        return "ok " + std::to_string(sent);
    }
    if (w[0] == "written" && w.size() == 2) {
        std::string reply = "ok";
        for (FrameLine::Frame const& f : line.take())
            reply += ' ' + frameText(f);
        return reply;
    }
    if (w[0] == "hangup" && w.size() == 2)
        return hangUp(*file) ? "ok" : "error hangup failed";
    if (w[0] == "peer" && w.size() == 3 && (w[2] == "on" || w[2] == "off")) {
        line.peer(w[2] == "on");
        return "ok";
    }
    if (w[0] == "peer" && w.size() == 4 && w[2] == "send") {
        FrameLine::Frame info;
        if (!parseFrame(w[3], info))
            return "error bad frame " + w[3];
        return line.send(*file, info) ? "ok" : "error link not established";
    }
    return std::nullopt;
}

}  // namespace board::sim
