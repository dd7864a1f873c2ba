#pragma once
// Saved logs, written whole through a temporary file (files/replace.h).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "files/replace.h"

namespace records {

using files::ReplaceFile;
using files::SystemWrite;
using files::WriteAll;
using files::WriteFn;

// A log as saved: one line per log line, FormatSavedLine, LF after each.
struct LogLines {
  int count = 0;
  std::function<int64_t(int)> time;
  std::function<std::string(int)> text;
};
[[nodiscard]] std::string SaveLog(const std::string& path, const LogLines& lines,
                                  const WriteFn& write = SystemWrite());

}  // namespace records
