#include "link/silence.h"

namespace modlink {

bool ExpectsReply(commands::Command command) {
  return command == commands::Command::kGetPressure || command == commands::Command::kGetBpData;
}

SilenceWatch::Change SilenceWatch::OnEvent(const Event& e, int64_t nowMs) {
  switch (e.kind) {
    case EventKind::kSent:
      if (!e.raw && ExpectsReply(e.request.command) && !waitingSince_) waitingSince_ = nowMs;
      return Change::kNone;
    case EventKind::kCuffPressure:
    case EventKind::kBpData:
    case EventKind::kShortReply:
    case EventKind::kCharReply:
      waitingSince_.reset();
      everReplied_ = true;
      if (!silent_) return Change::kNone;
      silent_ = false;
      return Change::kRepliesAgain;
    case EventKind::kPortClosed:
    case EventKind::kPortLost:
      // What was sent before will not be answered on this port: no fault of the module's.
      waitingSince_.reset();
      return Change::kNone;
    default:
      return Change::kNone;
  }
}

SilenceWatch::Change SilenceWatch::OnTick(int64_t nowMs) {
  if (silent_ || !waitingSince_ || nowMs - *waitingSince_ < kReplyWithinMs) return Change::kNone;
  silent_ = true;
  silentSince_ = *waitingSince_;
  return Change::kSilent;
}

}  // namespace modlink
