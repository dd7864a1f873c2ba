#pragma once
// The service checks as plain data: which checks, their parameters and limits, what each found
// and its verdict. The engine fills these; the reports and the drivers only read them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "commands/commands.h"
#include "results/expect.h"
#include "results/measurements.h"

namespace checks {

enum class CheckKind : uint8_t { kLeak, kStatic, kOverpressure, kRepeat };
// "leak", "static", "overpressure", "repeat": the words of the command line and the report.
[[nodiscard]] std::string_view CheckName(CheckKind kind);
[[nodiscard]] std::optional<CheckKind> CheckByName(std::string_view name);

enum class Verdict : uint8_t { kPass, kFail, kAborted, kInfo };
// "PASS", "FAIL", "ABORTED", "INFO".
[[nodiscard]] std::string_view VerdictName(Verdict verdict);

// No ceiling may be set above this, for any check.
inline constexpr int kCeilingMaxMmHg = 330;

struct SafetyParams {
  int ceilingMmHg = 320;   // the cuff read above this stops the check
  double pumpLimitS = 60;  // the pump may run this long without reaching its target
};

struct LeakParams {
  int targetMmHg = 250;
  double settleS = 5;
  double holdS = 60;
  double limitMmHgMin = 6.0;  // PASS at or below
};

struct StaticParams {
  std::vector<int> pointsMmHg = {0, 50, 100, 150, 200, 250};
  double settleS = 5;
  double limitMmHg = 3.0;  // PASS when every |error| is at or below
};

struct OverpressureParams {
  int limitMmHg = 300;
  int windowBelowMmHg = 10;  // the release peak may lie from limit - below...
  int windowAboveMmHg = 20;  // ...to limit + above
};
// The ceiling of the overpressure check: limit + 30, never above kCeilingMaxMmHg.
[[nodiscard]] int OverpressureCeiling(const OverpressureParams& p);

struct RepeatParams {
  commands::Mode mode = commands::Mode::kAdult;
  std::optional<uint32_t> inflate;
  long count = 1;
  double restS = 0;
  double timeoutS = 180;   // one measurement
  results::Limits limits;  // none set: the check is INFO
};

struct Params {
  SafetyParams safety;
  LeakParams leak;
  StaticParams statics;
  OverpressureParams overpressure;
  RepeatParams repeat;
};

// Why these parameters cannot run (a ceiling above 330 mmHg, a target at or above the ceiling, no
// points), or nothing.
[[nodiscard]] std::optional<std::string> Validate(const std::vector<CheckKind>& checks,
                                                  const Params& params);

// What must hold before a check starts; the driver knows the port, the engine says why not:
// "the port is not open", "a measurement is running".
[[nodiscard]] std::optional<std::string> PreconditionFailure(bool portOpen,
                                                             bool measurementRunning);

struct LeakResult {
  double rateMmHgMin = 0;  // one decimal
  int startMmHg = 0;       // first reading of the hold
  int endMmHg = 0;         // last reading of the hold
  int dropMmHg = 0;        // start - end
};

struct StaticPoint {
  int targetMmHg = 0;
  double moduleMmHg = 0;     // mean of the last 2 s of polls, one decimal
  double referenceMmHg = 0;  // one decimal
  double errorMmHg = 0;      // module - reference, one decimal
};
struct StaticResult {
  std::vector<StaticPoint> points;
};

struct OverpressureResult {
  bool released = false;
  int peakMmHg = 0;
  double releaseS = 0;             // from pump start to the peak the release began at
  std::optional<int> after2sMmHg;  // the reading 2 s after the release
};

struct RepeatResult {
  std::vector<results::MeasurementRow> rows;
};

using Findings = std::variant<LeakResult, StaticResult, OverpressureResult, RepeatResult>;

struct CheckResult {
  CheckKind kind = CheckKind::kLeak;
  Verdict verdict = Verdict::kAborted;
  std::string reason;  // empty on PASS and INFO
  int64_t startMs = 0;
  int64_t endMs = 0;
  Findings findings;
};

// ABORTED if any check was (or none ran), else FAIL if any failed, else INFO if every one was, else
// PASS.
[[nodiscard]] Verdict Overall(const std::vector<CheckResult>& results);

}  // namespace checks
