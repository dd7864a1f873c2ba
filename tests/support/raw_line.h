#pragma once

#include <cctype>
#include <string>

namespace testsupport {

// The bytes of a raw-log line, as "3e 05 a0 00 1d". They follow the direction prefix, which has
// a "<" of its own.
inline std::string RawLineToHex(const std::string& raw) {
  std::string out;
  for (size_t i = raw.find('<', 14); i != std::string::npos; i = raw.find('<', i + 1)) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(raw[i + 1]))));
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(raw[i + 2]))));
  }
  return out;
}

}  // namespace testsupport
