#pragma once
// When a measurement has ended, judged from the cuff pressures polled during it: the cuff has
// risen above 20 mmHg and then stayed below 5 mmHg for one second.

#include <cstdint>
#include <optional>

namespace results {

inline constexpr int kRisenAboveMmHg = 20;
inline constexpr int kDownBelowMmHg = 5;
inline constexpr int64_t kDownForMs = 1000;

class EndDetector {
 public:
  // One cuff pressure taken at `ms` (any steady clock); true once the measurement has ended.
  bool Feed(int64_t ms, int mmHg);
  [[nodiscard]] bool Ended() const { return ended_; }
  [[nodiscard]] bool Risen() const { return risen_; }
  [[nodiscard]] int Peak() const { return peak_; }

 private:
  bool risen_ = false;
  bool ended_ = false;
  int peak_ = 0;
  std::optional<int64_t> lowSince_;
};

}  // namespace results
