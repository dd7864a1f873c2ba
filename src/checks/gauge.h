#pragma once
// A reference gauge on a serial line: any line-oriented instrument whose lines carry the reading
// as their first number ("  123.4 mmHg", "P=16.45kPa").

#include <cstdint>
#include <optional>
#include <string_view>

namespace checks {

enum class Unit : uint8_t { kMmHg, kKPa, kCmH2O };
// "mmHg", "kPa", "cmH2O".
[[nodiscard]] std::optional<Unit> ParseUnit(std::string_view text);
[[nodiscard]] double ToMmHg(double value, Unit unit);

// The first number on the line (sign and decimals taken), in `unit`, converted to mmHg; none when
// the line has no number.
[[nodiscard]] std::optional<double> ParseGaugeLine(std::string_view line, Unit unit);

}  // namespace checks
