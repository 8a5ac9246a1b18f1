#pragma once

// Terminal modes of standard input.
namespace Console {

// Turns off canonical input and every echo; messages on the error stream on failure.
void SwitchToBinaryMode();
// Makes standard input non-blocking.
void SwitchToNonBlockMode();

}  // namespace Console
