#pragma once
// Notices a module that has stopped answering: a Get Pressure or Get BP Data that got no reply
// within a second. Fed the link's events and the owner's clock; says each change once.

#include <cstdint>
#include <optional>

#include "link/event.h"

namespace modlink {

inline constexpr int64_t kReplyWithinMs = 1000;

class SilenceWatch {
 public:
  enum class Change : uint8_t { kNone, kSilent, kRepliesAgain };

  // A reply ends a silence (kRepliesAgain); a command that expects one starts the wait.
  Change OnEvent(const Event& event, int64_t nowMs);
  // kSilent once when the oldest unanswered command has waited kReplyWithinMs.
  Change OnTick(int64_t nowMs);

  [[nodiscard]] bool Silent() const { return silent_; }
  // A command waits for its reply (the owner keeps ticking while it does).
  [[nodiscard]] bool Waiting() const { return waitingSince_.has_value(); }
  // When the unanswered command was sent.
  [[nodiscard]] int64_t SilentSinceMs() const { return silentSince_; }
  // Any reply at all came since the watch was made.
  [[nodiscard]] bool EverReplied() const { return everReplied_; }

 private:
  std::optional<int64_t> waitingSince_;
  bool silent_ = false;
  bool everReplied_ = false;
  int64_t silentSince_ = 0;
};

// Commands the module answers with a frame.
[[nodiscard]] bool ExpectsReply(commands::Command command);

}  // namespace modlink
