#pragma once

#include "base/fd.h"
#include "runtime/async_connect.h"
#include "runtime/async_copy.h"
#include "runtime/dpc.h"
#include "runtime/event.h"
#include "slots/slot.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// Voice slots move audio between one MCC channel and something outside the switch: a player
// feeds its channel from a TCP peer or from phrase files, a recorder sends its channel's
// audio to a TCP peer. The bytes pass unchanged; the slot reports start, end and failure.
// The channel is freed when the slot goes (its descriptor closes), its switch output disabled.
// A copy that ends with the channel's line (hung up, broken) leaves the slot without its
// channel: the descriptor is closed then, and the slot takes no link any more.
class VoiceSlot : public Slot {
public:
    // A TCP peer's connect time-out.
    static constexpr unsigned kConnectTimeoutMs = 5000;

    VoiceSlot(int channel, Fd device) : channel_(channel), device_(std::move(device)) {}

    // "player[512]: ".
    void PutHeader(std::ostream& os) const;

protected:
    // After a copy ended: when the channel's line has ended too, the slot loses its channel
    // and closes its descriptor.
    void checkLine();

    int channel_;
    Fd device_;
};

// A player: its channel is the slot's transmit channel.
class PlaySlotGeneric : public VoiceSlot {
public:
    // Asks the channel's switch channel.
    PlaySlotGeneric(int timeslot, Fd device);

    bool IsTimeSlotValid() const { return channel_ >= 0; }
    Fd& RefDeviceFd() { return device_; }

    // Leaves the factory's players.
    bool IBeforeDestroy() override;
    int IGetTransmitChannel() override { return channel_; }
    char const* GetName() const override { return "player"; }
};

// Plays what a TCP peer sends: on the first output stream it connects, sends its id (32
// bits, network order) and copies the peer's bytes into the channel until the peer closes.
class PlaySlotNetwork : public PlaySlotGeneric {
public:
    enum State { idle = 0, connecting = 1, playing = 2, released = 3 };

    PlaySlotNetwork(int timeslot, Fd device, ZGCP::PlayerParams_network const& params);

    // Connects once; a released player has no output any more.
    bool IOnOutputStream() override;

    void OnConnect(ASync::Connect::Status::Type status, Fd socket);
    void OnPlayComplete(ASync::Copy::Status::Type status);

    State state() const { return state_; }

private:
    void Release();

    std::string host_;
    std::uint32_t id_;
    State state_ = idle;
    std::unique_ptr<ASync::Copy> copy_;
    std::unique_ptr<ASync::Connect> connect_;
};

// Plays phrase files of "/usr/local/voice/" in order, the list repeat times (0: without
// end). Files that do not open are skipped; a pass that plays nothing ends the player. A
// player that ended has no output any more.
class PlaySlotFile : public PlaySlotGeneric {
public:
    static constexpr char const* kFolder = "/usr/local/voice/";
    static constexpr unsigned kBufferSize = 8192;

    PlaySlotFile(int timeslot, Fd device, ZGCP::PlayerParams_file const& params);

    // Starts the phrases the first time; when none opens, abort follows on the next loop
    // pass and the output is refused.
    bool IOnOutputStream() override;

    void OnPlayComplete(ASync::Copy::Status::Type status);
    void delayed_abort();

private:
    void Release();
    bool restart();
    bool next_phrase();

    std::unique_ptr<ASync::Copy> copy_;
    Fd file_;
    std::uint32_t repeat_;
    bool started_ = false;
    bool released_ = false;
    Dpc delayedAbort_;
    std::vector<std::string> names_;
    std::size_t current_ = 0;
    // Bytes played in the current pass over the list.
    std::uint64_t passBytes_ = 0;
};

// Records to a TCP peer: when its input opens it connects and sends the channel's bytes
// until the peer closes (userRequest) or the copy fails (connectionAborted). While a
// recording runs, an input that opens again joins it: the recording goes on in the same
// connection.
class RecordSlot : public VoiceSlot {
public:
    RecordSlot(std::string host, int channel, Fd device);

    // Reports the input stream active.
    void IAfterCreate() override;
    // Leaves the factory's recorders.
    bool IBeforeDestroy() override;
    bool IOnInputStream() override;
    int IGetReceiveChannel() override { return channel_; }
    char const* GetName() const override { return "recorder"; }

    void OnConnect(ASync::Connect::Status::Type status, Fd socket);
    void OnRecordComplete(ASync::Copy::Status::Type status);
    // The peer's side of the connection: its close ends the recording, its reset or
    // error aborts it.
    void OnPeerEvent(int fd, short revents);

    bool recording() const { return copy_ != nullptr; }

private:
    // "record aborted", and the recording stops with connectionAborted.
    void Aborted();
    void StopRecording(ZGCP::StopRecordingCause::NamedNumber cause);

    std::string host_;
    std::unique_ptr<ASync::Copy> copy_;
    std::unique_ptr<ASync::Connect> connect_;
    Event peer_;
};
