#pragma once
// The cuff pressures of a session and the labelled moments among them, kept compactly enough
// for a day of points; a view asks only for what one screen can show.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace chart {

struct Sample {
  double seconds = 0;  // since the session's first entry
  int mmHg = 0;
  bool gapBefore = false;  // no point came for kGapMs or more before this one: the line breaks
};

// A pause this long between two points (a lost port, the poll off) is not a slow change.
inline constexpr int64_t kGapMs = 2000;

struct Marker {
  int64_t ms = 0;  // wall clock
  std::string label;
};

class PressureSeries {
 public:
  void AddPoint(int64_t ms, int mmHg);
  void AddMarker(int64_t ms, std::string label);
  // Takes back the newest marker (a command that was never sent).
  void DropLastMarker();
  // Called after every change, on the thread that makes it; one listener (the open view).
  void SetListener(std::function<void()> listener) { listener_ = std::move(listener); }

  [[nodiscard]] size_t Count() const { return times_.size(); }
  [[nodiscard]] bool Empty() const { return times_.empty(); }
  [[nodiscard]] int Latest() const { return values_.empty() ? 0 : values_.back(); }
  [[nodiscard]] const std::vector<Marker>& Markers() const { return markers_; }
  // Changes with every addition: a view redraws only when it moved.
  [[nodiscard]] uint64_t Version() const { return version_; }
  // Wall-clock ms of second 0; 0 while empty.
  [[nodiscard]] int64_t OriginMs() const { return origin_; }
  [[nodiscard]] double SecondsOf(int64_t ms) const {
    return static_cast<double>(ms - origin_) / 1000.0;
  }
  // Seconds of the newest entry, point or marker.
  [[nodiscard]] double EndSeconds() const;
  [[nodiscard]] int64_t PointMs(size_t i) const { return origin_ + times_[i]; }
  [[nodiscard]] int PointValue(size_t i) const { return values_[i]; }
  // Bytes held per point, spare capacity included.
  [[nodiscard]] double BytesPerPoint() const;

  // The points between `from` and `to` seconds, reduced to at most the first, the lowest, the
  // highest and the last of each of `columns` equal slices, in time order; the neighbours just
  // outside the span come too, so that the line reaches both edges. `maxValue` is the highest
  // value in the span. A slice never spans a gap: the samples after one are marked, wherever
  // the slices fall.
  void Visible(double from, double to, int columns, std::vector<Sample>& out, int& maxValue) const;

  // "time,pressure_mmHg" and a row per point, ISO 8601 local times.
  [[nodiscard]] std::string Csv() const;

 private:
  int64_t Stamp(int64_t ms);
  [[nodiscard]] bool GapBefore(size_t i) const {
    return i > 0 && times_[i] - times_[i - 1] >= kGapMs;
  }

  int64_t origin_ = 0;
  bool started_ = false;
  int64_t last_ = 0;  // relative ms; the wall clock may step back, the series does not
  // Two arrays rather than one of pairs: 6 bytes a point with no padding.
  std::vector<uint32_t> times_;  // ms since origin_
  std::vector<uint16_t> values_;
  std::vector<Marker> markers_;
  uint64_t version_ = 0;
  std::function<void()> listener_;
};

}  // namespace chart
