#pragma once
// The BP results of a session as rows, their summary for judging repeatability, and the CSV.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands/commands.h"

namespace results {

struct BpRow {
  int64_t ms = 0;  // wall clock
  int systolic = 0, diastolic = 0, heartRate = 0, map = 0;
  int sq = 0, err = 0, status = 0;
  std::array<uint8_t, 8> tc{};
  // The start command that preceded the result; none when whoever fed it did not know.
  std::optional<commands::Mode> mode{};
};

// A result with an error (an aborted or failed measurement) stays in the table but out of the
// summary: its zeros would drag every mean.
[[nodiscard]] constexpr bool IsError(int err) {
  return err != 0;
}

// The columns, in table order.
enum class Column {
  kTime,
  kSystolic,
  kDiastolic,
  kHeartRate,
  kMap,
  kSq,
  kErr,
  kStatus,
  kTc,
  kMode
};
inline constexpr int kColumnCount = 10;
[[nodiscard]] const char* ColumnTitle(Column c);
// The cell as the table shows it (TC as in the event log, the mode as "adult" or empty).
[[nodiscard]] std::string CellText(const BpRow& row, Column c);
// TC as a CSV cell: the table's eight hex bytes, blanks between, quoted so that a spreadsheet
// keeps it as text ("52 01 b4 00 0e 0b 00 02" is no number in any locale).
[[nodiscard]] std::string TcCsvCell(const std::array<uint8_t, 8>& tc);

struct Stat {
  double mean = 0, sd = 0, min = 0, max = 0;  // sd is 0 below two rows
};

struct Summary {
  size_t n = 0;
  // Systolic, diastolic, heart rate, MAP.
  std::array<Stat, 4> stats{};
};

class BpResults {
 public:
  // False when the same result (same TC and values) is already a row: fetched twice, it stays one.
  bool Add(const BpRow& row);
  void Clear();
  // Called after every change, on the thread that makes it; one listener (the open view).
  void SetListener(std::function<void()> listener) { listener_ = std::move(listener); }
  [[nodiscard]] const std::vector<BpRow>& Rows() const { return rows_; }
  [[nodiscard]] uint64_t Version() const { return version_; }

  // Of the rows at `indices`, or of every row when `indices` is empty; rows with an error are
  // left out.
  [[nodiscard]] Summary Summarize(const std::vector<size_t>& indices) const;
  [[nodiscard]] std::string Csv() const;

 private:
  std::vector<BpRow> rows_;
  uint64_t version_ = 0;
  std::function<void()> listener_;
};

// "n=3   Systolic: mean 120.3, SD 1.2, min 119.0, max 122.0   Diastolic: ...", one decimal.
[[nodiscard]] std::string SummaryText(const Summary& s);

}  // namespace results
