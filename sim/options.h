#pragma once
// The simulator's command line: what it plays and how, checked before anything is touched.

#include <cstdint>
#include <optional>
#include <string>

#include "sim/faults.h"
#include "sim/model.h"

namespace sim {

// The faults the service checks must catch, and the reference gauge that goes with them.
struct CheckFaults {
  CuffFaults cuff;
  std::string gaugePort;  // "COM2", or empty for no gauge
};

struct Options {
  std::string port = "COM1";  // as the ports folder names it
  Patient patient;
  double speed = 1;
  FaultOptions faults;
  double streamHz = 0;
  uint64_t burst = 0;
  bool numbered = false;
  double hangupAfter = 0;
  bool reopen = false;
  bool hangupAgain = false;
  uint64_t seed = 0;
  bool seedGiven = false;
  std::string logSent;
  std::string logSentTimes;
  std::string replay;
  bool loop = false;
  bool force = false;
  bool quiet = false;
  CheckFaults checks;
};

// The options, or nothing after printing why not (or the help, or the version) with `exitCode`
// set: 2 for a usage error, 0 after --help and --version.
[[nodiscard]] std::optional<Options> ParseOptions(int argc, char** argv, int& exitCode);

}  // namespace sim
