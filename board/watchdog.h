#pragma once

// The board's watchdog device "/dev/misc/gw-wd", opened write-only by the event loop. It
// takes one word a write: "START" arms it, "PING" keeps the board alive, "STOP" disarms it.
// It answers no request.
namespace watchdog {

constexpr char const* kPath = "/dev/misc/gw-wd";

}  // namespace watchdog
