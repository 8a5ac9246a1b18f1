#pragma once

#include "board/sim/bri_terminals.h"
#include "board/sim/device.h"
#include "board/sim/q921_peer.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

// The far end of one frame channel of a simulated device (a channel of the MCC controller,
// the signalling channel of the DSP data device): the frames the daemon writes are kept until
// taken, and while the scripted peer is on, it answers them as the far side of a Q.921 data
// link would (Q921Peer), sending I-frames of its own on request. In place of the peer, the
// line may carry the terminals of a basic-rate bus (BriTerminals) facing the daemon's
// network side.
class FrameLine {
public:
    using Frame = std::vector<std::uint8_t>;

    // Frames kept of what the daemon wrote; older ones are dropped.
    static constexpr std::size_t kKeptFrames = 256;

    // A frame the daemon wrote on the open; the peer's answer goes back on it.
    void received(OpenFile& file, void const* data, std::size_t length);
    // The frames the daemon wrote since the last take, oldest first.
    std::vector<Frame> take();

    // Switches the peer on or off; either way its link starts released.
    void peer(bool on);
    bool peering() const { return peering_; }
    bool established() const { return peer_.established(); }
    // The peer sends an I-frame carrying the octets on its established link; false when the
    // link is not established or the frame cannot be queued.
    bool send(OpenFile& file, Frame const& info);

    // n terminals (1..8) join the bus and ask for their TEIs; 0: no terminals any more.
    void terminals(OpenFile& file, unsigned n);
    // Terminal k (from 1) sends an I-frame carrying the octets; false when it has no link or
    // the frame cannot be queued.
    bool terminalSend(OpenFile& file, unsigned k, Frame const& info);

private:
    std::vector<Frame> answers(Frame const& frame);

    std::deque<Frame> written_;
    bool peering_ = false;
    Q921Peer peer_;
    std::optional<BriTerminals> terminals_;
};

// A frame as hexadecimal bytes ("0a0b"), "-" for an empty one, and back.
bool parseFrame(std::string const& text, FrameLine::Frame& frame);
std::string frameText(FrameLine::Frame const& frame);

// Ends the line of an open: the daemon reads the frames still queued, then the end of file,
// and sees a hang-up.
bool hangUp(OpenFile& file);

// The per-open state of a device whose opens carry a frame line at a switch channel (derive
// from it to keep more).
struct LineState : OpenState {
    int channel = -1;
    FrameLine line;
};

// A device model whose opens are frame channels, each with a frame line at its switch
// channel once its state is a LineState: what the daemon writes goes to the line, and the
// console reaches the lines by their switch channel.
class LineDevice : public Device {
public:
    using Device::Device;

    // The switch channels of the opens with a line, ascending.
    std::vector<int> lineChannels() const;
    // The far end of the channel at the switch channel; null when there is none.
    FrameLine* line(int channel) const;

    void received(OpenFile& file, void const* data, std::size_t length) override;

protected:
    static LineState* lineOf(OpenFile const& file);
    // The open whose line is at the switch channel; null when none.
    OpenFile* findLine(int channel) const;
    // The console commands on the lines: "push TS FRAME...", "written TS", "hangup TS",
    // "peer TS on|off", "peer TS send FRAME", "terminals TS N", "terminal TS K send FRAME".
    // Nullopt when the words are none of these.
    std::optional<std::string> lineCommand(std::vector<std::string> const& words);
};

}  // namespace board::sim
