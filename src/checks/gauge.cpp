#include "checks/gauge.h"

#include <cctype>
#include <charconv>

namespace checks {

std::optional<Unit> ParseUnit(std::string_view text) {
  if (text == "mmHg") return Unit::kMmHg;
  if (text == "kPa") return Unit::kKPa;
  if (text == "cmH2O") return Unit::kCmH2O;
  return std::nullopt;
}

double ToMmHg(double value, Unit unit) {
  // 1 mmHg = 133.322 Pa; 1 cmH2O = 98.0665 Pa.
  switch (unit) {
    case Unit::kKPa:
      return value * 1000.0 / 133.322387415;
    case Unit::kCmH2O:
      return value * 98.0665 / 133.322387415;
    case Unit::kMmHg:
      break;
  }
  return value;
}

std::optional<double> ParseGaugeLine(std::string_view line, Unit unit) {
  for (size_t i = 0; i < line.size(); ++i) {
    const bool sign = (line[i] == '-' || line[i] == '+') && i + 1 < line.size() &&
                      std::isdigit(static_cast<unsigned char>(line[i + 1])) != 0;
    if (!sign && std::isdigit(static_cast<unsigned char>(line[i])) == 0) continue;
    // from_chars takes no '+'.
    const size_t from = line[i] == '+' ? i + 1 : i;
    double v = 0;
    const auto [end, ec] =
        std::from_chars(line.data() + from, line.data() + line.size(), v, std::chars_format::fixed);
    if (ec != std::errc{}) return std::nullopt;
    return ToMmHg(v, unit);
  }
  return std::nullopt;
}

}  // namespace checks
