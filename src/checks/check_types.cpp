#include "checks/check_types.h"

#include <algorithm>
#include <array>

namespace checks {
namespace {

constexpr std::array<std::string_view, 4> kCheckNames = {"leak", "static", "overpressure",
                                                         "repeat"};

}  // namespace

std::string_view CheckName(CheckKind kind) {
  return kCheckNames[static_cast<size_t>(kind)];
}

std::optional<CheckKind> CheckByName(std::string_view name) {
  const auto* it = std::find(kCheckNames.begin(), kCheckNames.end(), name);
  if (it == kCheckNames.end()) return std::nullopt;
  return static_cast<CheckKind>(it - kCheckNames.begin());
}

std::string_view VerdictName(Verdict verdict) {
  constexpr std::array<std::string_view, 4> kNames = {"PASS", "FAIL", "ABORTED", "INFO"};
  return kNames[static_cast<size_t>(verdict)];
}

int OverpressureCeiling(const OverpressureParams& p) {
  return std::min(p.limitMmHg + 30, kCeilingMaxMmHg);
}

std::optional<std::string> Validate(const std::vector<CheckKind>& checks, const Params& params) {
  const int ceiling = params.safety.ceilingMmHg;
  if (checks.empty()) return "no check given";
  if (ceiling <= 0 || ceiling > kCeilingMaxMmHg) {
    return "the ceiling must be from 1 to " + std::to_string(kCeilingMaxMmHg) + " mmHg";
  }
  if (params.safety.pumpLimitS <= 0) return "the pump limit must be above 0 s";
  for (const CheckKind k : checks) {
    switch (k) {
      case CheckKind::kLeak:
        if (params.leak.targetMmHg <= 0 || params.leak.targetMmHg >= ceiling) {
          return "the leak target must be above 0 and below the ceiling of " +
                 std::to_string(ceiling) + " mmHg";
        }
        if (params.leak.holdS <= 0) return "the hold must be above 0 s";
        break;
      case CheckKind::kStatic:
        if (params.statics.pointsMmHg.empty()) return "no static points given";
        for (const int p : params.statics.pointsMmHg) {
          if (p < 0 || p >= ceiling) {
            return "static point " + std::to_string(p) + " mmHg is not below the ceiling of " +
                   std::to_string(ceiling) + " mmHg";
          }
        }
        break;
      case CheckKind::kOverpressure:
        if (params.overpressure.limitMmHg <= 0 ||
            params.overpressure.limitMmHg >= kCeilingMaxMmHg) {
          return "the overpressure limit must be above 0 and below " +
                 std::to_string(kCeilingMaxMmHg) + " mmHg";
        }
        break;
      case CheckKind::kRepeat:
        if (params.repeat.count < 1) return "the count must be at least 1";
        break;
    }
  }
  return std::nullopt;
}

std::optional<std::string> PreconditionFailure(bool portOpen, bool measurementRunning) {
  if (!portOpen) return "the port is not open";
  if (measurementRunning) return "a measurement is running";
  return std::nullopt;
}

Verdict Overall(const std::vector<CheckResult>& results) {
  const auto any = [&](Verdict v) {
    return std::any_of(results.begin(), results.end(),
                       [v](const CheckResult& r) { return r.verdict == v; });
  };
  if (results.empty() || any(Verdict::kAborted)) return Verdict::kAborted;
  if (any(Verdict::kFail)) return Verdict::kFail;
  if (!any(Verdict::kPass)) return Verdict::kInfo;
  return Verdict::kPass;
}

}  // namespace checks
