#include "results/end_detector.h"

#include <algorithm>

namespace results {

bool EndDetector::Feed(int64_t ms, int mmHg) {
  if (ended_) return true;
  peak_ = std::max(peak_, mmHg);
  // A cuff still empty from the last measurement says nothing about this one.
  if (!risen_) {
    risen_ = mmHg > kRisenAboveMmHg;
    return false;
  }
  if (mmHg >= kDownBelowMmHg) {
    lowSince_.reset();  // a re-inflation, or a deflation not finished yet
    return false;
  }
  if (!lowSince_) lowSince_ = ms;
  ended_ = ms - *lowSince_ >= kDownForMs;
  return ended_;
}

}  // namespace results
