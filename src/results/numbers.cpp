#include "results/numbers.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace results {

std::optional<double> ParseNumber(std::string_view text, double min, double max) {
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) != 0)) {
    return std::nullopt;
  }
  double v = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  if (ec != std::errc{} || end != text.data() + text.size() || v < min || v > max) {
    return std::nullopt;
  }
  return v;
}

std::optional<long> ParseWhole(std::string_view text, long min, long max) {
  long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || text.front() == '-' || ec != std::errc{} ||
      end != text.data() + text.size() || v < min || v > max) {
    return std::nullopt;
  }
  return v;
}

std::string FormatNumber(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

}  // namespace results
