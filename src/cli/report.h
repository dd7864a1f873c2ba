#pragma once
// What a series of measurements leaves: CSV rows, and the summary of the results with mean,
// sample standard deviation, minimum and maximum.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/expect.h"
#include "protocol/reply.h"

namespace cli {

struct MeasurementRow {
  long index = 0;        // from 1
  int64_t startMs = 0;   // wall clock, when the start command went out
  double durationS = 0;  // from the start command to the result
  int peakMmHg = 0;      // highest cuff pressure polled
  protocol::BpData bp;
};

inline constexpr const char* kCsvHeader =
    "index,start,duration_s,peak_mmHg,systolic,diastolic,heart_rate,map,sq,err,status,tc";
// One CSV line without its end; `start` as IsoLocal, TC as the event log's hex bytes.
[[nodiscard]] std::string CsvRow(const MeasurementRow& row);

struct Stats {
  size_t n = 0;
  double mean = 0;
  std::optional<double> sd;  // sample SD: none below two values
  double min = 0;
  double max = 0;
};
[[nodiscard]] Stats ComputeStats(const std::vector<double>& values);

// The results that count for the summary and the limits: those without an error.
[[nodiscard]] bool IsValidResult(const protocol::BpData& bp);

// "n 3" and one line per value, "systolic" mean sd min max, each with one decimal ("-" for
// what there is not). Lines end with '\n'.
[[nodiscard]] std::string SummaryText(const std::vector<MeasurementRow>& rows);
// The same as one JSON object, no line end.
[[nodiscard]] std::string SummaryJson(const std::vector<MeasurementRow>& rows);

}  // namespace cli
