#pragma once
// Numbers as the command line gives them.

#include <optional>
#include <string>
#include <string_view>

namespace results {

// A plain decimal number ("12", "0.5") within [min, max]; no sign, exponent or blanks.
[[nodiscard]] std::optional<double> ParseNumber(std::string_view text, double min, double max);
// A whole number within [min, max].
[[nodiscard]] std::optional<long> ParseWhole(std::string_view text, long min, long max);
// The shortest text that reads back as `v` for the numbers above: "120", "0.5".
[[nodiscard]] std::string FormatNumber(double v);

}  // namespace results
