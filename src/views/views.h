#pragma once
// The framework's views over the console's stores, as Qt windows of their own.

#include <memory>

#include "framework/backend.h"

namespace views {

[[nodiscard]] std::unique_ptr<fw::View> MakePressureChartView(chart::PressureSeries& series);
[[nodiscard]] std::unique_ptr<fw::View> MakeResultsView(results::BpResults& rows);

}  // namespace views
