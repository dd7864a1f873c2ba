#pragma once
// The end detector lives with the results, where the checks use it too.

#include "results/end_detector.h"

namespace cli {
using results::EndDetector;
using results::kDownBelowMmHg;
using results::kDownForMs;
using results::kRisenAboveMmHg;
}  // namespace cli
