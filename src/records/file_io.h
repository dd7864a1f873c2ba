#pragma once
// Whole-file writes for saved logs and the settings: a temporary file beside the target, renamed
// over it once complete, so that a failed write leaves no half file behind.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace records {

// The system call that puts bytes into a file; tests hand in one that fails as a full disk does.
using WriteFn = std::function<ssize_t(int fd, const void* data, size_t size)>;
[[nodiscard]] WriteFn SystemWrite();

// Writes every byte or says why not ("No space left on device"); EINTR and short writes retried.
[[nodiscard]] std::string WriteAll(const WriteFn& write, int fd, std::string_view data);

// `next` fills its buffer with the next piece of the file and returns false when nothing is left.
// Returns the empty string, or the system's reason the file could not be written.
[[nodiscard]] std::string ReplaceFile(const std::string& path,
                                      const std::function<bool(std::string&)>& next,
                                      const WriteFn& write = SystemWrite());

// A log as saved: one line per log line, FormatSavedLine, LF after each.
struct LogLines {
  int count = 0;
  std::function<int64_t(int)> time;
  std::function<std::string(int)> text;
};
[[nodiscard]] std::string SaveLog(const std::string& path, const LogLines& lines,
                                  const WriteFn& write = SystemWrite());

}  // namespace records
