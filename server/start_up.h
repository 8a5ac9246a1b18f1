#pragma once

// The daemon's start-up, run and shut-down: reads the configuration file and the command
// line, builds the process-wide services in their order, detaches on request, runs the
// event loop until SIGTERM or SIGINT and shuts down in order. Returns the exit code.
//
// Every executable of the daemon calls it from its main (the real board's `server`, and
// executables that install another board first).
int serverMain(int argc, char** argv);

// The slot factories, each built through its instance(), in the daemon's order (serverMain
// calls it; a test process that stands for the daemon's slot side calls it too).
void BuildSlotFactories();
