#pragma once
// The console's chart, results and Ports windows as the Qt views of src/views, parented to the
// console's own window: they take real input while it runs modally.

#include "console/views.h"

class QtViews final : public console::Views {
 public:
  [[nodiscard]] std::unique_ptr<console::View> CreatePressureChart(chart::PressureSeries& series,
                                                                   fw::Window* parent) override;
  [[nodiscard]] std::unique_ptr<console::View> CreateResults(results::BpResults& rows,
                                                             fw::Window* parent) override;
  [[nodiscard]] std::unique_ptr<console::View> CreateServiceChecks(console::ChecksHost& host,
                                                                   fw::Window* parent) override;
  void RunPorts(std::unique_ptr<ports::DeviceSource> source, const std::filesystem::path& dir,
                fw::Window* parent) override;
  [[nodiscard]] std::optional<std::vector<uint8_t>> RunSendBytes(fw::Window* parent) override;
};
