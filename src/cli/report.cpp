#include "cli/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "protocol/frames.h"
#include "records/record_format.h"

namespace cli {
namespace {

constexpr std::array<Quantity, kQuantities> kAll = {Quantity::kSystolic, Quantity::kDiastolic,
                                                    Quantity::kHeartRate, Quantity::kMap};

std::string OneDecimal(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

std::vector<double> ValuesOf(const std::vector<MeasurementRow>& rows, Quantity q) {
  std::vector<double> values;
  for (const auto& row : rows) {
    if (IsValidResult(row.bp)) values.push_back(ValueOf(row.bp, q));
  }
  return values;
}

size_t ValidCount(const std::vector<MeasurementRow>& rows) {
  return static_cast<size_t>(
      std::count_if(rows.begin(), rows.end(), [](const auto& r) { return IsValidResult(r.bp); }));
}

}  // namespace

bool IsValidResult(const protocol::BpData& bp) {
  return bp.err == 0;
}

std::string CsvRow(const MeasurementRow& row) {
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1f", row.durationS);
  std::string tc;
  protocol::AppendHexSpaced(tc, row.bp.tc);
  if (!tc.empty()) tc.pop_back();
  const auto& b = row.bp;
  std::string s;
  for (const std::string& field :
       {std::to_string(row.index), records::IsoLocal(row.startMs), std::string(duration),
        std::to_string(row.peakMmHg), std::to_string(b.systolic), std::to_string(b.diastolic),
        std::to_string(b.heartRate), std::to_string(b.map), std::to_string(b.sq),
        std::to_string(b.err), std::to_string(b.status), tc}) {
    if (!s.empty()) s += ',';
    s += field;
  }
  return s;
}

Stats ComputeStats(const std::vector<double>& values) {
  Stats s;
  s.n = values.size();
  if (s.n == 0) return s;
  s.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(s.n);
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  s.min = *lo;
  s.max = *hi;
  if (s.n >= 2) {
    double sq = 0;
    for (const double v : values) sq += (v - s.mean) * (v - s.mean);
    s.sd = std::sqrt(sq / static_cast<double>(s.n - 1));
  }
  return s;
}

std::string SummaryText(const std::vector<MeasurementRow>& rows) {
  std::string out = "n " + std::to_string(ValidCount(rows)) + "\n";
  char line[128];
  std::snprintf(line, sizeof line, "%-10s %7s %7s %7s %7s\n", "", "mean", "sd", "min", "max");
  out += line;
  for (const Quantity q : kAll) {
    const Stats s = ComputeStats(ValuesOf(rows, q));
    const auto cell = [&](double v, bool there) { return there ? OneDecimal(v) : "-"; };
    std::snprintf(line, sizeof line, "%-10s %7s %7s %7s %7s\n", std::string(LongName(q)).c_str(),
                  cell(s.mean, s.n > 0).c_str(), cell(s.sd.value_or(0), s.sd.has_value()).c_str(),
                  cell(s.min, s.n > 0).c_str(), cell(s.max, s.n > 0).c_str());
    out += line;
  }
  return out;
}

std::string SummaryJson(const std::vector<MeasurementRow>& rows) {
  std::string out = "{\"n\":" + std::to_string(ValidCount(rows));
  for (const Quantity q : kAll) {
    const Stats s = ComputeStats(ValuesOf(rows, q));
    const auto cell = [&](double v, bool there) { return there ? OneDecimal(v) : "null"; };
    out += ",\"" + std::string(LongName(q)) + "\":{\"mean\":" + cell(s.mean, s.n > 0) +
           ",\"sd\":" + cell(s.sd.value_or(0), s.sd.has_value()) +
           ",\"min\":" + cell(s.min, s.n > 0) + ",\"max\":" + cell(s.max, s.n > 0) + "}";
  }
  out += "}";
  return out;
}

}  // namespace cli
