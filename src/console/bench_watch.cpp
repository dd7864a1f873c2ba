#include "console/bench_watch.h"

namespace console {

std::string MeasurementDoneText(int64_t ms) {
  return "Measurement done (" + std::to_string((ms + 500) / 1000) + " s)";
}

std::string SafetyText(int mmHg) {
  return "Safety: cuff at " + std::to_string(mmHg) + " mmHg with the pump running";
}

void BenchWatch::OnEvent(const modlink::Event& e, int64_t nowMs, bool pumpOn, Notes& notes) {
  using modlink::EventKind;
  switch (silence_.OnEvent(e, nowMs)) {
    case modlink::SilenceWatch::Change::kRepliesAgain:
      notes.lines.emplace_back(kRepliesAgain);
      notes.silenceChanged = true;
      break;
    default:
      break;
  }
  if (e.kind == EventKind::kSent) {
    if (e.raw) return;
    if (commands::StartMode(e.request.command)) {
      measuring_ = true;
      startMs_ = nowMs;
      end_ = results::EndDetector{};
    } else if (e.request.command == commands::Command::kAbortBp) {
      // An aborted measurement has no result to tell of.
      measuring_ = false;
    }
    return;
  }
  // A closed or lost port leaves nothing to wait for: whatever ran is not ours to tell.
  if (e.kind == EventKind::kPortClosed || e.kind == EventKind::kPortLost) measuring_ = false;
  if (e.kind != EventKind::kCuffPressure) return;
  const int mmHg = e.mmHg;
  if (mmHg < kSafetyRearmMmHg) safetySaid_ = false;
  if (pumpOn && mmHg >= kSafetyMmHg && !safetySaid_) {
    safetySaid_ = true;
    notes.lines.push_back(SafetyText(mmHg));
  }
  if (measuring_ && end_.Feed(nowMs, mmHg)) {
    measuring_ = false;
    notes.measurementDone = true;
    notes.lines.push_back(MeasurementDoneText(nowMs - startMs_));
  }
}

void BenchWatch::OnTick(int64_t nowMs, Notes& notes) {
  if (silence_.OnTick(nowMs) == modlink::SilenceWatch::Change::kSilent) {
    notes.lines.emplace_back(kNoReply);
    notes.silenceChanged = true;
  }
}

}  // namespace console
