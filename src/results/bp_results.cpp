#include "results/bp_results.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "records/record_format.h"

namespace results {

namespace {

std::string Hex(const std::array<uint8_t, 8>& tc, bool spaced) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : tc) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    if (spaced) out += ' ';
  }
  return out;
}

std::string Fixed1(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

}  // namespace

std::string TcCsvCell(const std::array<uint8_t, 8>& tc) {
  std::string hex = Hex(tc, true);
  hex.pop_back();  // the blank after the last byte
  return '"' + hex + '"';
}

const char* ColumnTitle(Column c) {
  static constexpr const char* kTitles[kColumnCount] = {
      "Time", "Systolic", "Diastolic", "Heart rate", "MAP", "SQ", "Err", "Status", "TC", "Mode"};
  return kTitles[static_cast<int>(c)];
}

std::string CellText(const BpRow& row, Column c) {
  switch (c) {
    case Column::kTime:
      return records::DateTimeLocal(row.ms);
    case Column::kSystolic:
      return std::to_string(row.systolic);
    case Column::kDiastolic:
      return std::to_string(row.diastolic);
    case Column::kHeartRate:
      return std::to_string(row.heartRate);
    case Column::kMap:
      return std::to_string(row.map);
    case Column::kSq:
      return std::to_string(row.sq);
    case Column::kErr:
      return std::to_string(row.err);
    case Column::kStatus:
      return std::to_string(row.status);
    case Column::kTc:
      return Hex(row.tc, true);
    case Column::kMode:
      return row.mode ? std::string(commands::ModeName(*row.mode)) : std::string();
  }
  return {};
}

bool BpResults::Add(const BpRow& row) {
  const auto same = [&row](const BpRow& r) {
    return r.tc == row.tc && r.systolic == row.systolic && r.diastolic == row.diastolic &&
           r.heartRate == row.heartRate && r.map == row.map && r.sq == row.sq && r.err == row.err &&
           r.status == row.status;
  };
  // A repeat is most likely the newest row: search from the back.
  if (std::any_of(rows_.rbegin(), rows_.rend(), same)) return false;
  rows_.push_back(row);
  ++version_;
  if (listener_) listener_();
  return true;
}

void BpResults::Clear() {
  rows_.clear();
  ++version_;
  if (listener_) listener_();
}

Summary BpResults::Summarize(const std::vector<size_t>& indices) const {
  Summary s;
  const auto value = [](const BpRow& r, size_t k) {
    const int v[4] = {r.systolic, r.diastolic, r.heartRate, r.map};
    return static_cast<double>(v[k]);
  };
  const auto each = [&](auto&& f) {
    if (indices.empty()) {
      for (const BpRow& r : rows_) {
        if (!IsError(r.err)) f(r);
      }
    } else {
      for (size_t i : indices) {
        if (i < rows_.size() && !IsError(rows_[i].err)) f(rows_[i]);
      }
    }
  };
  std::array<double, 4> sum{};
  each([&](const BpRow& r) {
    for (size_t k = 0; k < 4; ++k) {
      const double v = value(r, k);
      Stat& st = s.stats[k];
      st.min = s.n == 0 ? v : std::min(st.min, v);
      st.max = s.n == 0 ? v : std::max(st.max, v);
      sum[k] += v;
    }
    ++s.n;
  });
  if (s.n == 0) return s;
  for (size_t k = 0; k < 4; ++k) s.stats[k].mean = sum[k] / static_cast<double>(s.n);
  // Second pass about the mean: no cancellation for values close together.
  std::array<double, 4> sq{};
  each([&](const BpRow& r) {
    for (size_t k = 0; k < 4; ++k) {
      const double d = value(r, k) - s.stats[k].mean;
      sq[k] += d * d;
    }
  });
  if (s.n > 1) {
    for (size_t k = 0; k < 4; ++k) s.stats[k].sd = std::sqrt(sq[k] / static_cast<double>(s.n - 1));
  }
  return s;
}

std::string BpResults::Csv() const {
  std::string out = "time,systolic,diastolic,heart_rate,map,sq,err,status,tc,mode\n";
  for (const BpRow& r : rows_) {
    out += records::IsoLocal(r.ms);
    for (int v : {r.systolic, r.diastolic, r.heartRate, r.map, r.sq, r.err, r.status}) {
      out += ',';
      out += std::to_string(v);
    }
    out += ',';
    out += TcCsvCell(r.tc);
    out += ',';
    out += CellText(r, Column::kMode);
    out += '\n';
  }
  return out;
}

std::string SummaryText(const Summary& s) {
  std::string out = "n=" + std::to_string(s.n);
  if (s.n == 0) return out;
  static constexpr const char* kNames[4] = {"Systolic", "Diastolic", "Heart rate", "MAP"};
  for (size_t k = 0; k < 4; ++k) {
    const Stat& st = s.stats[k];
    out += "   ";
    out += kNames[k];
    out += ": mean " + Fixed1(st.mean) + ", SD " + Fixed1(st.sd) + ", min " + Fixed1(st.min) +
           ", max " + Fixed1(st.max);
  }
  return out;
}

}  // namespace results
