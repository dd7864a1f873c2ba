#include "program/numbers.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace program {

namespace {

// The digits, after a minus sign that only a range reaching below zero allows.
bool Unsigned(std::string_view& text, bool negativeAllowed) {
  if (negativeAllowed && text.starts_with('-')) text.remove_prefix(1);
  return !text.empty() && std::isdigit(static_cast<unsigned char>(text.front())) != 0;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text, double min, double max) {
  std::string_view digits = text;
  if (!Unsigned(digits, min < 0)) return std::nullopt;
  double v = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  if (ec != std::errc{} || end != text.data() + text.size() || v < min || v > max) {
    return std::nullopt;
  }
  return v;
}

std::optional<long> ParseWhole(std::string_view text, long min, long max) {
  std::string_view digits = text;
  if (!Unsigned(digits, min < 0)) return std::nullopt;
  long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || end != text.data() + text.size() || v < min || v > max) {
    return std::nullopt;
  }
  return v;
}

std::optional<uint64_t> ParseCount(std::string_view text, uint64_t min, uint64_t max) {
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || v < min || v > max) {
    return std::nullopt;
  }
  return v;
}

std::string FormatNumber(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

}  // namespace program
