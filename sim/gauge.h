#pragma once
// A reference gauge on a second pseudo-terminal: the true cuff pressure as "123.4 mmHg" lines,
// four a second, for the static check to compare the module's reading with.

#include <chrono>
#include <filesystem>
#include <string>

#include "sim/pty.h"

namespace sim {

// "123.4 mmHg\r\n".
[[nodiscard]] std::string GaugeLine(double mmHg);

class Gauge {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kPeriod = std::chrono::milliseconds(250);

  // `link` is the port's entry in the ports folder.
  Gauge(std::string port, std::filesystem::path link);
  // Makes the line and links the port to it; empty, or why not (the name is the user's).
  [[nodiscard]] std::string Open();
  [[nodiscard]] Clock::time_point Due() const { return next_; }
  // Writes a line when one is due; lines nobody takes are dropped.
  void Tick(Clock::time_point now, double mmHg);
  [[nodiscard]] const std::string& slavePath() const { return pty_.slavePath(); }

 private:
  std::string port_;
  Pty pty_;
  PortLink link_;
  Clock::time_point next_{};
};

}  // namespace sim
