#pragma once
// The rows and summary of a series of measurements live with the results, where the checks'
// repeat uses them too.

#include "cli/expect.h"
#include "cli/options.h"
#include "commands/commands.h"
#include "results/measurements.h"

namespace cli {
using results::CsvRow;
using results::IsValidResult;
using results::kCsvHeader;
using results::MeasurementRow;
using results::SummaryJson;
using results::SummaryText;

[[nodiscard]] inline commands::Mode CommandMode(Mode mode) {
  switch (mode) {
    case Mode::kNeonate:
      return commands::Mode::kNeonate;
    case Mode::kPediatric:
      return commands::Mode::kPediatric;
    case Mode::kAdult:
      break;
  }
  return commands::Mode::kAdult;
}

}  // namespace cli
