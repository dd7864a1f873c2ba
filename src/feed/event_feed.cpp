#include "feed/event_feed.h"

#include <string>

namespace feed {

void EventFeed::OnEvent(const modlink::Event& e) {
  switch (e.kind) {
    case modlink::EventKind::kSent:
      if (e.raw) return;  // bytes of the user's own are no command
      // A result belongs to the start that went out before it.
      if (const auto mode = commands::StartMode(e.request.command)) mode_ = mode;
      // A command that never went out is no moment of the session.
      if (auto label = commands::MarkerLabel(e.request)) series_.AddMarker(e.ms, std::move(*label));
      return;
    case modlink::EventKind::kCuffPressure:
      series_.AddPoint(e.ms, e.mmHg);
      return;
    case modlink::EventKind::kBpData: {
      const protocol::BpData& bp = e.bp;
      results_.Add(results::BpRow{.ms = e.ms,
                                  .systolic = bp.systolic,
                                  .diastolic = bp.diastolic,
                                  .heartRate = bp.heartRate,
                                  .map = bp.map,
                                  .sq = bp.sq,
                                  .err = bp.err,
                                  .status = bp.status,
                                  .tc = bp.tc,
                                  .mode = mode_});
      series_.AddMarker(e.ms, std::to_string(bp.systolic) + "/" + std::to_string(bp.diastolic));
      return;
    }
    default:
      return;
  }
}

}  // namespace feed
