#pragma once
// The rows and summary of a series of measurements live with the results, where the checks'
// repeat uses them too.

#include "cli/expect.h"
#include "results/measurements.h"

namespace cli {
using results::CsvRow;
using results::IsValidResult;
using results::kCsvHeader;
using results::MeasurementRow;
using results::SummaryJson;
using results::SummaryText;
}  // namespace cli
