#pragma once
// The windows the console opens beside itself ("Pressure Chart", "Results") and over itself
// ("Ports"). The program that runs the console makes them (src/app, with the Qt views of
// src/views); tests hand in their own. The framework knows nothing of them.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "ports/ports.h"

namespace chart {
class PressureSeries;
}
namespace results {
class BpResults;
}
namespace fw {
class Window;
}

namespace console {

class ChecksHost;

// A non-modal window of its own over a store that the console fills; it reads the store on the
// user-interface thread and follows its changes itself. Destroying the view closes its window.
class View {
 public:
  virtual ~View() = default;
  // Shows the window (again, after the user closed it) and raises it.
  virtual void Show() = 0;
};

class Views {
 public:
  virtual ~Views() = default;
  // Windows of `parent` that take input while it runs modally; the stores outlive the views.
  [[nodiscard]] virtual std::unique_ptr<View> CreatePressureChart(chart::PressureSeries& series,
                                                                  fw::Window* parent) = 0;
  [[nodiscard]] virtual std::unique_ptr<View> CreateResults(results::BpResults& rows,
                                                            fw::Window* parent) = 0;
  // "Service Checks": runs the checks on the console's link through `host`; none by default.
  [[nodiscard]] virtual std::unique_ptr<View> CreateServiceChecks(ChecksHost& /*host*/,
                                                                  fw::Window* /*parent*/) {
    return nullptr;
  }
  // The Ports window over the ports folder `dir`, modal to `parent`; returns when it is closed.
  virtual void RunPorts(std::unique_ptr<ports::DeviceSource> source,
                        const std::filesystem::path& dir, fw::Window* parent) = 0;
  // "Send Bytes", modal to `parent`: the bytes to send (checksum added when asked), none when
  // cancelled.
  [[nodiscard]] virtual std::optional<std::vector<uint8_t>> RunSendBytes(fw::Window* /*parent*/) {
    return std::nullopt;
  }
};

}  // namespace console
