#pragma once
// The report of a run of checks: JSON for programs, a self-contained HTML page for people (inline
// CSS and an inline SVG of the cuff pressure; no scripts, nothing fetched). Every number in them
// is the one the engine computed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/check_types.h"
#include "checks/engine.h"

namespace checks {

// A JSON string literal of `s` (UTF-8 as it is, controls escaped).
[[nodiscard]] std::string JsonString(std::string_view s);

// What the driver knows about the run.
struct ReportInfo {
  std::string operatorName;
  std::string moduleId;
  std::string port;    // "COM1"
  std::string device;  // "/dev/pts/3"
  std::string referenceName;
  std::string referenceDue;  // "YYYY-MM-DD", or empty
};

// What the engine leaves of a run.
struct RunRecord {
  int64_t startMs = 0;  // wall clock
  Params params;
  std::vector<CheckResult> results;
  std::vector<TracePoint> trace;
  std::vector<PhaseSpan> phases;
};
[[nodiscard]] RunRecord RecordOf(const Engine& engine);

// "the reference's due date 2026-01-31 is in the past" when the due date lies before the day
// the run started (local time); none otherwise.
[[nodiscard]] std::optional<std::string> DueWarning(const ReportInfo& info, int64_t startMs);

[[nodiscard]] std::string ReportJson(const ReportInfo& info, const RunRecord& run);
[[nodiscard]] std::string ReportHtml(const ReportInfo& info, const RunRecord& run);

// "report.html" -> "report.json"; any other name gets ".json" added.
[[nodiscard]] std::string JsonPathBeside(const std::string& htmlPath);
// With several ports each gets its own report: "out/report.html", "COM2" -> "out/report-COM2.html".
[[nodiscard]] std::string ReportPathForPort(const std::string& htmlPath, const std::string& port);
// Writes both files, each through a temporary file and a rename; empty, or why not.
[[nodiscard]] std::string WriteReports(const std::string& htmlPath, const ReportInfo& info,
                                       const RunRecord& run);

}  // namespace checks
