#include "records/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "records/record_format.h"

namespace records {

WriteFn SystemWrite() {
  return [](int fd, const void* data, size_t size) { return ::write(fd, data, size); };
}

std::string WriteAll(const WriteFn& write, int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::strerror(errno);
    }
    if (n == 0) return std::strerror(ENOSPC);
    data.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

std::string ReplaceFile(const std::string& path, const std::function<bool(std::string&)>& next,
                        const WriteFn& write) {
  std::vector<char> name(path.begin(), path.end());
  for (const char c : std::string_view(".XXXXXX")) name.push_back(c);
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  std::string error;
  std::string chunk;
  while (error.empty()) {
    chunk.clear();
    const bool more = next(chunk);
    error = WriteAll(write, fd, chunk);
    if (!more) break;
  }
  // mkstemp makes the file private; a saved log is an ordinary file.
  if (error.empty() && ::fchmod(fd, 0644) != 0) error = std::strerror(errno);
  if (error.empty() && ::fsync(fd) != 0) error = std::strerror(errno);
  if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
  if (error.empty() && ::rename(name.data(), path.c_str()) != 0) error = std::strerror(errno);
  if (!error.empty()) ::unlink(name.data());
  return error;
}

std::string SaveLog(const std::string& path, const LogLines& lines, const WriteFn& write) {
  constexpr size_t kChunk = 256 * 1024;
  int row = 0;
  return ReplaceFile(
      path,
      [&](std::string& chunk) {
        while (row < lines.count && chunk.size() < kChunk) {
          chunk += FormatSavedLine(lines.time(row), lines.text(row));
          chunk.push_back('\n');
          ++row;
        }
        return row < lines.count;
      },
      write);
}

}  // namespace records
