#pragma once

// The board's watchdog device "/dev/misc/gw-wd", opened write-only by the event loop. It
// takes one word a write: "START" arms it, "PING" keeps the board alive, "STOP" disarms it.
namespace watchdog {

constexpr char const* kPath = "/dev/misc/gw-wd";

constexpr char const* kStart = "START";
constexpr char const* kPing = "PING";
constexpr char const* kStop = "STOP";

}  // namespace watchdog
