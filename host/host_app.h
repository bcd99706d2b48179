#pragma once

#include "command_line.h"

#include <optional>
#include <string>
#include <vector>

namespace zelkor::host {

std::vector<std::string> ArgumentsAfterProgram(int argc, char** argv);

// The exit code when the command line builds no window (an index without an experiment, or unusable
// options, which are reported on stderr); nullopt when a window is to be shown.
std::optional<int> EndBeforeAnyWindow(const HostOptions& options);

// kivor's start-up once the QApplication exists: picks the sensor backend and runs the one experiment
// window modally. Returns the process exit code.
int RunHost(const HostOptions& options);

// Shows a pipe-open failure with an exclamation icon, then ends the host. Any thread may call it; a
// worker waits until the message has been dismissed.
void ReportPipeFailureAndEnd(const char* utf8Message);

}  // namespace zelkor::host
