#include "files/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "files/folders.h"

namespace files {

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
  struct stat old {};
  const mode_t mode =
      ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 07777 : NewFileMode();
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
  // mkstemp makes the file private; it gets the mode the user's files get.
  if (error.empty() && ::fchmod(fd, mode) != 0) error = std::strerror(errno);
  if (error.empty() && ::fsync(fd) != 0) error = std::strerror(errno);
  if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
  if (error.empty() && ::rename(name.data(), path.c_str()) != 0) error = std::strerror(errno);
  if (!error.empty()) ::unlink(name.data());
  return error;
}

std::string ReplaceFile(const std::string& path, std::string_view contents, const WriteFn& write) {
  bool done = false;
  return ReplaceFile(
      path,
      [&](std::string& chunk) {
        if (!done) chunk = contents;
        done = true;
        return false;
      },
      write);
}

}  // namespace files
