#pragma once

// The daemon's start-up, run and shut-down: reads the configuration file and the command
// line, builds the process-wide services in their order, detaches on request, runs the
// event loop until SIGTERM or SIGINT and shuts down in order. Returns the exit code.
//
// Every executable of the daemon calls it from its main (the real board's `server`, and
// executables that install another board first).
int serverMain(int argc, char** argv);

namespace IniFile {
class File;
}

// The process-wide services in the daemon's order: the slot factories (each through its
// instance()), the switch, and the monitoring controller configured from the file (whether
// it opened or not). serverMain calls it; a test process that stands for the daemon calls
// it too.
void BuildServices(IniFile::File& config);

// The controller's command services bound to the controller server, in the order in which
// every command is offered to them.
void BindCommandServices();
