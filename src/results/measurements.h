#pragma once
// What a series of measurements leaves: CSV rows, and the summary of the results with mean,
// sample standard deviation, minimum and maximum (the Results window's).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "protocol/reply.h"
#include "results/expect.h"

namespace results {

struct MeasurementRow {
  long index = 0;        // from 1
  int64_t startMs = 0;   // wall clock, when the start command went out
  double durationS = 0;  // from the start command to the result
  int peakMmHg = 0;      // highest cuff pressure polled
  protocol::BpData bp;
  std::optional<commands::Mode> mode{};  // the start command that was sent
};

inline constexpr const char* kCsvHeader =
    "index,start,duration_s,peak_mmHg,systolic,diastolic,heart_rate,map,sq,err,status,tc,mode";
// One CSV line without its end; `start` as IsoLocal, TC as TcCsvCell writes it, the mode as
// "adult" or empty.
[[nodiscard]] std::string CsvRow(const MeasurementRow& row);

// The results that count for the summary and the limits: those without an error.
[[nodiscard]] bool IsValidResult(const protocol::BpData& bp);

// The Results window's summary of the valid results: "n=3   Systolic: mean 120.3, SD 1.2, min
// 119.0, max 122.0   Diastolic: ...", sample SD, one decimal.
[[nodiscard]] std::string SummaryText(const std::vector<MeasurementRow>& rows);
// The same figures as one JSON object, no line end.
[[nodiscard]] std::string SummaryJson(const std::vector<MeasurementRow>& rows);

}  // namespace results
