#include "results/measurements.h"

#include <cstdio>

#include "protocol/frames.h"
#include "records/record_format.h"
#include "results/bp_results.h"

namespace results {
namespace {

std::string OneDecimal(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// The Results window's store does the counting, so that both leave out the same rows.
results::Summary Summarize(const std::vector<MeasurementRow>& rows) {
  results::BpResults table;
  for (const auto& r : rows) {
    const auto& b = r.bp;
    (void)table.Add({.ms = r.startMs,
                     .systolic = b.systolic,
                     .diastolic = b.diastolic,
                     .heartRate = b.heartRate,
                     .map = b.map,
                     .sq = b.sq,
                     .err = b.err,
                     .status = b.status,
                     .tc = b.tc,
                     .mode = r.mode});
  }
  return table.Summarize({});
}

}  // namespace

bool IsValidResult(const protocol::BpData& bp) {
  return !results::IsError(bp.err);
}

std::string CsvRow(const MeasurementRow& row) {
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1f", row.durationS);
  const std::string tc = results::TcCsvCell(row.bp.tc);
  const auto& b = row.bp;
  std::string s;
  for (const std::string& field :
       {std::to_string(row.index), records::IsoLocal(row.startMs), std::string(duration),
        std::to_string(row.peakMmHg), std::to_string(b.systolic), std::to_string(b.diastolic),
        std::to_string(b.heartRate), std::to_string(b.map), std::to_string(b.sq),
        std::to_string(b.err), std::to_string(b.status), tc,
        row.mode ? std::string(commands::ModeName(*row.mode)) : std::string()}) {
    if (!s.empty()) s += ',';
    s += field;
  }
  return s;
}

std::string SummaryText(const std::vector<MeasurementRow>& rows) {
  return results::SummaryText(Summarize(rows));
}

std::string SummaryJson(const std::vector<MeasurementRow>& rows) {
  const results::Summary s = Summarize(rows);
  std::string out = "{\"n\":" + std::to_string(s.n);
  constexpr std::array<Quantity, kQuantities> kAll = {Quantity::kSystolic, Quantity::kDiastolic,
                                                      Quantity::kHeartRate, Quantity::kMap};
  for (size_t k = 0; k < kAll.size() && s.n > 0; ++k) {
    const results::Stat& st = s.stats[k];
    out += ",\"" + std::string(LongName(kAll[k])) + "\":{\"mean\":" + OneDecimal(st.mean) +
           ",\"sd\":" + OneDecimal(st.sd) + ",\"min\":" + OneDecimal(st.min) +
           ",\"max\":" + OneDecimal(st.max) + "}";
  }
  out += "}";
  return out;
}

}  // namespace results
