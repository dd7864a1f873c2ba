#pragma once
// What the console tells the bench engineer beyond the module's own replies: a module that went
// silent and its return, the end of a measurement, a cuff pumped too high. Fed the link's events
// with the console's clock; no window here, so the texts can be tested on their own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "link/event.h"
#include "link/silence.h"
#include "results/end_detector.h"

namespace console {

inline constexpr char kNoReply[] = "No reply from the module";
inline constexpr char kRepliesAgain[] = "Replies again";
inline constexpr int kSafetyMmHg = 300;
inline constexpr int kSafetyRearmMmHg = 280;

class BenchWatch {
 public:
  struct Notes {
    std::vector<std::string> lines;  // for the event log, in order
    bool measurementDone = false;
    bool silenceChanged = false;
  };

  // `pumpOn`: the Pump box is checked.
  void OnEvent(const modlink::Event& event, int64_t nowMs, bool pumpOn, Notes& notes);
  void OnTick(int64_t nowMs, Notes& notes);

  [[nodiscard]] bool Measuring() const { return measuring_; }
  [[nodiscard]] bool Silent() const { return silence_.Silent(); }
  [[nodiscard]] int64_t SilentSinceMs() const { return silence_.SilentSinceMs(); }
  // The owner ticks while a command waits for its reply.
  [[nodiscard]] bool Waiting() const { return silence_.Waiting(); }

 private:
  modlink::SilenceWatch silence_;
  results::EndDetector end_;
  bool measuring_ = false;
  int64_t startMs_ = 0;
  bool safetySaid_ = false;
};

// "Measurement done (42 s)".
[[nodiscard]] std::string MeasurementDoneText(int64_t ms);
// "Safety: cuff at 305 mmHg with the pump running".
[[nodiscard]] std::string SafetyText(int mmHg);

}  // namespace console
