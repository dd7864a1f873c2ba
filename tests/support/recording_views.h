#pragma once
// The console's windows as a test sees them: what was made, shown and closed, in order, and the
// Ports window handed to a hook of the test instead of running.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "console/views.h"

namespace testsupport {

class RecordingViews final : public console::Views {
 public:
  std::unique_ptr<console::View> CreatePressureChart(chart::PressureSeries& series,
                                                     fw::Window* parent) override {
    chartSeries_ = &series;
    parents_.push_back(parent);
    return std::make_unique<Recording>(events_, "Pressure Chart");
  }
  std::unique_ptr<console::View> CreateResults(results::BpResults& rows,
                                               fw::Window* parent) override {
    resultRows_ = &rows;
    parents_.push_back(parent);
    return std::make_unique<Recording>(events_, "Results");
  }
  std::unique_ptr<console::View> CreateServiceChecks(console::ChecksHost& host,
                                                     fw::Window* parent) override {
    checksHost_ = &host;
    parents_.push_back(parent);
    return std::make_unique<Recording>(events_, "Service Checks");
  }
  void RunPorts(std::unique_ptr<ports::DeviceSource> source, const std::filesystem::path& dir,
                fw::Window* parent) override {
    events_.push_back("Ports run");
    parents_.push_back(parent);
    if (onPorts) onPorts(*source, dir);
  }

  std::optional<std::vector<uint8_t>> RunSendBytes(fw::Window* parent) override {
    events_.push_back("Send Bytes run");
    parents_.push_back(parent);
    return sendBytes;
  }
  // What the "Send Bytes" window gives back.
  std::optional<std::vector<uint8_t>> sendBytes;
  // Called while the Ports window would run, with what it was given.
  std::function<void(ports::DeviceSource&, const std::filesystem::path&)> onPorts;
  // "Pressure Chart created", "Pressure Chart shown", ... in order.
  [[nodiscard]] const std::vector<std::string>& Events() const { return events_; }
  // The stores the newest views were made over, and the parent each window was given.
  [[nodiscard]] const chart::PressureSeries* ChartSeries() const { return chartSeries_; }
  [[nodiscard]] const results::BpResults* ResultRows() const { return resultRows_; }
  [[nodiscard]] const std::vector<fw::Window*>& Parents() const { return parents_; }
  // What the console hands the service checks: a run drives the module through it.
  [[nodiscard]] console::ChecksHost* ChecksHost() const { return checksHost_; }

 private:
  class Recording final : public console::View {
   public:
    Recording(std::vector<std::string>& events, std::string title)
        : events_(events), title_(std::move(title)) {
      events_.push_back(title_ + " created");
    }
    ~Recording() override { events_.push_back(title_ + " closed"); }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    void Show() override { events_.push_back(title_ + " shown"); }

   private:
    std::vector<std::string>& events_;
    std::string title_;
  };

  std::vector<std::string> events_;
  std::vector<fw::Window*> parents_;
  console::ChecksHost* checksHost_ = nullptr;
  const chart::PressureSeries* chartSeries_ = nullptr;
  const results::BpResults* resultRows_ = nullptr;
};

}  // namespace testsupport
