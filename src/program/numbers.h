#pragma once
// Numbers as a command line gives them: the one parser of every program's options.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace program {

// A plain decimal number ("12", "0.5") within [min, max]; no exponent or blanks, and no sign but
// a minus where the range reaches below zero ("-2.5").
[[nodiscard]] std::optional<double> ParseNumber(std::string_view text, double min, double max);
// A whole number within [min, max].
[[nodiscard]] std::optional<long> ParseWhole(std::string_view text, long min, long max);
// The same for counts and seeds that may need all 64 bits.
[[nodiscard]] std::optional<uint64_t> ParseCount(std::string_view text, uint64_t min, uint64_t max);
// The shortest text that reads back as `v` for the numbers above: "120", "0.5".
[[nodiscard]] std::string FormatNumber(double v);

}  // namespace program
