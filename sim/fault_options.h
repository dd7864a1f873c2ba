#pragma once
// nibp-sim's options for the faults the service checks must catch: a leaking cuff, a sensor
// off by an offset or a gain, an overpressure release at another pressure or none, and a
// reference gauge on a second line.

#include <string>

#include "sim/model.h"

namespace sim {

struct CheckFaults {
  CuffFaults cuff;
  std::string gaugePort;  // "COM2", or empty for no gauge
};

// Takes these options (their help is nibp-sim's usage text) (as "--leak 5" or "--leak=5") out of
// argv, leaving the rest, in order, for the other options. False after printing why not.
[[nodiscard]] bool TakeCheckFaultOptions(int& argc, char** argv, CheckFaults& out);

}  // namespace sim
