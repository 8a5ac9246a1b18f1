#include "board/sim/frame_line.h"

#include "board/sim/model_words.h"

#include <sys/socket.h>

#include <algorithm>

namespace board::sim {
namespace {

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
    for (Frame const& reply : answers(written_.back()))
        file.send(reply.data(), reply.size());
}

std::vector<FrameLine::Frame> FrameLine::answers(Frame const& frame)
{
    if (terminals_)
        return terminals_->answer(frame);
    std::optional<Frame> reply = peering_ ? peer_.answer(frame) : std::nullopt;
    return reply ? std::vector<Frame>{*reply} : std::vector<Frame>{};
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
    peer_.reset();
}

bool FrameLine::send(OpenFile& file, Frame const& info)
{
    std::optional<Frame> f = peer_.iframe(info);
    if (!f || !file.send(f->data(), f->size()))
        return false;
    peer_.sent();
    return true;
}

void FrameLine::terminals(OpenFile& file, unsigned n)
{
    terminals_.reset();
    if (n == 0)
        return;
    terminals_.emplace();
    for (Frame const& request : terminals_->join(n))
        file.send(request.data(), request.size());
}

bool FrameLine::terminalSend(OpenFile& file, unsigned k, Frame const& info)
{
    std::optional<Frame> f = terminals_ ? terminals_->iframe(k, info) : std::nullopt;
    if (!f || !file.send(f->data(), f->size()))
        return false;
    terminals_->sent(k);
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
    bool const known = w.size() >= 2 && (w[0] == "push" || w[0] == "written" || w[0] == "hangup" || w[0] == "peer" ||
                                          w[0] == "terminals" || w[0] == "terminal");
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
    if (w[0] == "terminals" && w.size() == 3) {
        std::optional<long long> n = words::number(w[2], 0, BriTerminals::kMaxTerminals);
        if (!n)
            return "error bad count " + w[2];
        line.terminals(*file, unsigned(*n));
        return "ok";
    }
    if (w[0] == "terminal" && w.size() == 5 && w[3] == "send") {
        std::optional<long long> k = words::number(w[2], 1, BriTerminals::kMaxTerminals);
        FrameLine::Frame info;
        if (!k || !parseFrame(w[4], info))
            return "error bad terminal or frame";
        return line.terminalSend(*file, unsigned(*k), info) ? "ok" : "error no link";
    }
    return std::nullopt;
}

}  // namespace board::sim
