#pragma once
// Whole-file writes: a temporary file beside the target under a name no one else has, synced and
// renamed over it once complete, so that a failed write leaves the old file as it was.

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

namespace files {

// The system call that puts bytes into a file; tests hand in one that fails as a full disk does.
using WriteFn = std::function<ssize_t(int fd, const void* data, size_t size)>;
[[nodiscard]] WriteFn SystemWrite();

// Writes every byte or says why not ("No space left on device"); EINTR and short writes retried.
[[nodiscard]] std::string WriteAll(const WriteFn& write, int fd, std::string_view data);

// `next` fills its buffer with the next piece of the file and returns false when nothing is left.
// A file that is replaced keeps its mode; a new one gets NewFileMode(). Returns the empty string,
// or the system's reason the file could not be written.
[[nodiscard]] std::string ReplaceFile(const std::string& path,
                                      const std::function<bool(std::string&)>& next,
                                      const WriteFn& write = SystemWrite());
// The same for a text in hand.
[[nodiscard]] std::string ReplaceFile(const std::string& path, std::string_view contents,
                                      const WriteFn& write = SystemWrite());

}  // namespace files
