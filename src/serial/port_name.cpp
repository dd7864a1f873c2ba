#include "serial/port_name.h"

namespace serial {

std::optional<uint8_t> ParsePortName(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.size() < 4 || text.size() > 6) return std::nullopt;
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  if (upper(text[0]) != 'C' || upper(text[1]) != 'O' || upper(text[2]) != 'M') return std::nullopt;
  text.remove_prefix(3);
  if (text.front() == '0') return std::nullopt;
  unsigned n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n < 1 || n > 255) return std::nullopt;
  return static_cast<uint8_t>(n);
}

}  // namespace serial
