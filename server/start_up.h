#pragma once

// The daemon's start-up, run and shut-down: reads the configuration file and the command
// line, builds the process-wide services in their order, detaches on request, runs the
// event loop until SIGTERM or SIGINT and shuts down in order. Returns the exit code.
//
// Every executable of the daemon calls it from its main (the real board's `server`, and
// executables that install another board first).
int serverMain(int argc, char** argv);
