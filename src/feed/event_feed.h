#pragma once
// Reads the console's event-log lines into the pressure series and the results table: the
// logs stay the one source, and the stores outlive "Clear Display".

#include <cstdint>
#include <optional>
#include <string_view>

#include "chart/pressure_series.h"
#include "results/bp_results.h"

namespace feed {

class EventFeed {
 public:
  void OnEventLine(int64_t ms, std::string_view line);

  chart::PressureSeries& Series() { return series_; }
  results::BpResults& Results() { return results_; }
  [[nodiscard]] const chart::PressureSeries& Series() const { return series_; }
  [[nodiscard]] const results::BpResults& Results() const { return results_; }

 private:
  chart::PressureSeries series_;
  results::BpResults results_;
  // A command's marker stands only if the next line does not say it was never sent.
  bool lastWasCommand_ = false;
  // A result is three lines in a row; the first two wait here for the third.
  std::optional<results::BpRow> pending_;
  int pendingLines_ = 0;
};

}  // namespace feed
