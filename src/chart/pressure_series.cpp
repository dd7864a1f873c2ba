#include "chart/pressure_series.h"

#include <algorithm>
#include <limits>

#include "records/record_format.h"

namespace chart {

int64_t PressureSeries::Stamp(int64_t ms) {
  if (!started_) {
    started_ = true;
    origin_ = ms;
  }
  // A 32-bit offset holds 49 days; a session is far shorter.
  constexpr int64_t kMax = std::numeric_limits<uint32_t>::max();
  last_ = std::clamp(ms - origin_, last_, kMax);
  ++version_;
  return last_;
}

void PressureSeries::AddPoint(int64_t ms, int mmHg) {
  const int64_t t = Stamp(ms);
  times_.push_back(static_cast<uint32_t>(t));
  values_.push_back(static_cast<uint16_t>(std::clamp(mmHg, 0, 0xFFFF)));
  if (listener_) listener_();
}

void PressureSeries::AddMarker(int64_t ms, std::string label) {
  const int64_t t = Stamp(ms);
  markers_.push_back({origin_ + t, std::move(label)});
  if (listener_) listener_();
}

void PressureSeries::DropLastMarker() {
  if (markers_.empty()) return;
  markers_.pop_back();
  ++version_;
  if (listener_) listener_();
}

double PressureSeries::EndSeconds() const {
  return static_cast<double>(last_) / 1000.0;
}

double PressureSeries::BytesPerPoint() const {
  if (times_.empty()) return 0;
  const double bytes = static_cast<double>(times_.capacity() * sizeof(uint32_t) +
                                           values_.capacity() * sizeof(uint16_t));
  return bytes / static_cast<double>(times_.size());
}

void PressureSeries::Visible(double from, double to, int columns, std::vector<Sample>& out,
                             int& maxValue) const {
  out.clear();
  maxValue = 0;
  if (times_.empty() || !(to > from) || columns < 1) return;
  const auto toMs = [](double s) {
    return static_cast<int64_t>(std::clamp(s * 1000.0, -1.0, 4.3e9));
  };
  const int64_t fromMs = toMs(from), toMsV = toMs(to);
  auto first = std::lower_bound(times_.begin(), times_.end(), fromMs,
                                [](uint32_t t, int64_t v) { return static_cast<int64_t>(t) < v; });
  auto last = std::upper_bound(times_.begin(), times_.end(), toMsV,
                               [](int64_t v, uint32_t t) { return v < static_cast<int64_t>(t); });
  size_t i = static_cast<size_t>(first - times_.begin());
  const size_t end = static_cast<size_t>(last - times_.begin());
  const auto emit = [&](size_t k, bool gapBefore) {
    out.push_back({static_cast<double>(times_[k]) / 1000.0, values_[k], gapBefore});
  };
  if (i > 0) emit(i - 1, false);
  const double span = static_cast<double>(toMsV - fromMs);
  const auto column = [&](size_t k) {
    return static_cast<int64_t>(static_cast<double>(times_[k] - fromMs) * columns / span);
  };
  size_t k = i;
  while (k < end) {
    // One slice: the points that fall in the same column with no gap among them.
    const int64_t col = column(k);
    size_t lo = k, hi = k, stop = k;
    while (stop < end && column(stop) == col && (stop == k || !GapBefore(stop))) {
      if (values_[stop] < values_[lo]) lo = stop;
      if (values_[stop] > values_[hi]) hi = stop;
      ++stop;
    }
    maxValue = std::max<int>(maxValue, values_[hi]);
    size_t picks[4] = {k, std::min(lo, hi), std::max(lo, hi), stop - 1};
    size_t previous = std::numeric_limits<size_t>::max();
    for (size_t p : picks) {
      if (p != previous) emit(p, p == k && GapBefore(k) && !out.empty());
      previous = p;
    }
    k = stop;
  }
  if (end < times_.size()) emit(end, GapBefore(end) && !out.empty());
}

std::string PressureSeries::Csv() const {
  std::string out = "time,pressure_mmHg\n";
  out.reserve(out.size() + times_.size() * 36);
  for (size_t i = 0; i < times_.size(); ++i) {
    out += records::IsoLocal(PointMs(i));
    out += ',';
    out += std::to_string(values_[i]);
    out += '\n';
  }
  return out;
}

}  // namespace chart
