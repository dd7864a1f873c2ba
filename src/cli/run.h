#pragma once
// The subcommands of nibp-cli, each returning the program's exit status.

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"
#include "protocol/frames.h"

namespace cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitLimits = 1,   // a result outside the limits
  kExitUsage = 2,    // a usage error, a port that cannot be opened or is lost
  kExitTimeout = 3,  // a measurement that did not end in time, or a stopping signal
  kExitOutput = 1,   // the output could not be written (a closed pipe, a full disk)
};

// The signal that asks the run to stop (SIGINT, SIGTERM, SIGHUP); 0 while none came.
using StopFlag = std::atomic<int>;

// "stopped by SIGINT": the reason a signal ended the run.
[[nodiscard]] std::string StoppedBy(int sig);

// Runs the parsed command line. Records go to `out`, failures as one line to `err`; `stop` is
// set by a signal. A failed write to `out` ends the run at once.
[[nodiscard]] int Run(const Options& options, Output& out, std::FILE* err, const StopFlag& stop);

}  // namespace cli
