#include "sim/fault_options.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

namespace sim {
namespace {

std::optional<double> Number(std::string_view text, double lo, double hi) {
  double v = 0;
  const char* end = text.data() + text.size();
  const char* from = text.data();
  if (!text.empty() && text.front() == '+') ++from;
  const auto [ptr, ec] = std::from_chars(from, end, v);
  if (text.empty() || ec != std::errc{} || ptr != end || !std::isfinite(v) || v < lo || v > hi) {
    return std::nullopt;
  }
  return v;
}

bool ValidComPort(std::string_view name) {
  if (name.size() < 4 || name.substr(0, 3) != "COM" || name[3] == '0') return false;
  const auto n = Number(name.substr(3), 1, 255);
  return n && *n == std::floor(*n) && name.find('.') == std::string_view::npos;
}

}  // namespace

bool TakeCheckFaultOptions(int& argc, char** argv, CheckFaults& out) {
  int kept = 1;
  bool rest = false;  // after "--" nothing is an option
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (rest || arg == "--" || !arg.starts_with("--")) {
      rest = rest || arg == "--";
      argv[kept++] = argv[i];
      continue;
    }
    const size_t eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    if (name != "--leak" && name != "--sensor-offset" && name != "--sensor-gain" &&
        name != "--overpressure" && name != "--gauge") {
      argv[kept++] = argv[i];
      continue;
    }
    std::string_view value;
    if (eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      std::fprintf(stderr, "nibp-sim: %.*s needs a value (see --help)\n",
                   static_cast<int>(name.size()), name.data());
      return false;
    }
    const auto bad = [&](const char* what) {
      std::fprintf(stderr, "nibp-sim: bad %s: %.*s (see --help)\n", what,
                   static_cast<int>(value.size()), value.data());
      return false;
    };
    if (name == "--leak") {
      const auto v = Number(value, 0, 1000);
      if (!v) return bad("leak (0..1000 mmHg/min)");
      out.cuff.leakMmHgMin = *v;
    } else if (name == "--sensor-offset") {
      const auto v = Number(value, -100, 100);
      if (!v) return bad("sensor offset (-100..100 mmHg)");
      out.cuff.sensorOffset = *v;
    } else if (name == "--sensor-gain") {
      const auto v = Number(value, 0.5, 2);
      if (!v) return bad("sensor gain (0.5..2)");
      out.cuff.sensorGain = *v;
    } else if (name == "--overpressure") {
      const auto v = Number(value, 0, 350);
      if (!v || *v != std::floor(*v) || (*v > 0 && *v < 50)) {
        return bad("overpressure (0, or 50..350 mmHg)");
      }
      out.cuff.overpressure = static_cast<int>(*v);
    } else {
      if (!ValidComPort(value)) return bad("gauge port (COM1 to COM255)");
      out.gaugePort = std::string(value);
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return true;
}

}  // namespace sim
