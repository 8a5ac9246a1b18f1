#pragma once

#include "runtime/dpc.h"
#include "base/fd.h"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <unordered_map>
#include <vector>

// The board's TDM time-slot switch on "/dev/hal".
//
// A connection copies a switch input to a switch output. The outputs of the shared bus
// between boards (8192..10239) must not be driven unless in use: the switch keeps a shadow
// table of them and, from a deferred call, keeps re-disabling the idle ones, 128 a loop
// pass. The device is opened on first use; a failed open is tried again at the next use.
//
// The switch also remembers the input it connected to each output, so that one user can undo
// its own connection without touching a connection another user has made on the same output
// since.
//
// A request the driver refuses leaves no record that could mislead a later release: a failed
// idle or byte write forgets the input the output copied and falls back to disabling the
// output, and an output whose disable failed stays marked, so that the re-disable pass keeps
// trying until it is disabled or driven again.
class HwMux {
public:
    static constexpr int kBusFirst = 8192;
    static constexpr int kBusCount = 2048;
    // Shadow entries other than these two are the input connected to the output.
    static constexpr std::uint16_t kDisabled = 0xFFFF;
    static constexpr std::uint16_t kWritten = 0xFFFE;
    // What a disconnected output sends.
    static constexpr unsigned char kIdleByte = 0xD5;
    // Shadow entries refreshed per deferred-call run.
    static constexpr int kRefreshPerPass = 128;

    // The process's switch, built on first use.
    static HwMux& instance();

    HwMux();
    ~HwMux();
    HwMux(HwMux const&) = delete;
    HwMux& operator=(HwMux const&) = delete;

    // Input src to output dst.
    bool Connect(int src, int dst);
    // Output dst sends the idle byte. False when the write failed: the output is then
    // disabled instead (or left to the re-disable pass).
    bool Disconnect(int dst);
    // Output dst is no longer driven. False when the request failed: the re-disable pass
    // tries again.
    bool Disable(int dst);
    // Output dst sends value; a failed write is followed as Disconnect's.
    bool Write(int dst, unsigned char value);
    // Output dst, while it still copies src, sends the idle byte: true when it no longer
    // copies src. A connection made on dst since is kept.
    bool Disconnect(int src, int dst);
    // The output of a channel given back is no longer driven, unless it copies an input other
    // than src (the channel's own connection, if any): that one another user made since and
    // is kept. True when the channel leaves nothing on it.
    bool Release(int dst, int src = -1);
    // The input output dst copies as this switch connected it; -1 when none.
    int Source(int dst) const;
    // The byte on channel ch; 255 on any failure.
    short Read(int ch);
    void Reset();
    // Opens the device when it is not open yet.
    bool IsOpened();

    // The re-disable pass: 128 bus outputs a run, and every output whose disable failed.
    void RefreshChannel(int i);
    void OnDPC();

    // The shadow entry of shared-bus output kBusFirst + i.
    std::uint16_t shadow(int i) const { return shadow_[std::size_t(i)]; }
    void PutHeader(std::ostream& os) const;

private:
    static bool isBus(int channel) { return channel >= kBusFirst && channel < kBusFirst + kBusCount; }
    int request(unsigned long number, void* record);
    bool disable(int output);
    // Marks the shadow entry of a bus output and forgets the input recorded for the output,
    // then sends the request; false (errno set) when the driver refuses it.
    bool drive(int dst, std::uint16_t mark, unsigned long number, void* record);
    // The output needs no retry of its disable any more.
    void settled(int dst);

    // Outputs outside the bus whose disable failed.
    std::vector<int> pending_;
    // Output -> input of every connected output.
    std::unordered_map<int, int> sources_;
    Fd fd_;
    std::array<std::uint16_t, kBusCount> shadow_;
    std::uint32_t cursor_ = 0;
    Dpc dpc_;
};
