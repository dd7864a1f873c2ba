#pragma once
// Takes the link's events into the pressure series and the results table: typed values, never
// the log texts. The stores outlive "Clear Display".

#include <optional>

#include "chart/pressure_series.h"
#include "link/event.h"
#include "results/bp_results.h"

namespace feed {

class EventFeed final : public modlink::EventSink {
 public:
  void OnEvent(const modlink::Event& event) override;

  chart::PressureSeries& Series() { return series_; }
  results::BpResults& Results() { return results_; }
  [[nodiscard]] const chart::PressureSeries& Series() const { return series_; }
  [[nodiscard]] const results::BpResults& Results() const { return results_; }

 private:
  chart::PressureSeries series_;
  results::BpResults results_;
  std::optional<commands::Mode> mode_;  // of the last start sent
};

}  // namespace feed
