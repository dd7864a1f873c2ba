#pragma once
// Reading back what the module sent, from a session file (time, tab, tag, tab, text) or a saved
// raw log (time, tab, text), to be played into a console again.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct ReplayFrame {
  int64_t ms = 0;  // on the file's own clock; ReadReplay makes it the offset from the first frame
  std::vector<uint8_t> bytes;
  bool good = false;   // shown as a received frame; bad-checksum frames and dropped bytes are not
  bool frame = false;  // a whole frame, its checksum right or wrong; dropped bytes are not
};

// The bytes the module sent according to one line, or nothing when the line records none:
// R lines that are exactly a received raw-log line, B and N lines of that form (a trailing
// " checksum error" or " dropped" allowed), and raw-log lines of that form, trailer included.
[[nodiscard]] std::optional<ReplayFrame> ParseReplayLine(std::string_view line);

struct Replay {
  std::vector<ReplayFrame> frames;
  // "line 12: ...", one for each line skipped for what it holds.
  std::vector<std::string> warnings;
  std::string error;  // why the file could not be read to its end; empty when it was
};

// Where the bytes come from: read(2) on a descriptor, or a test's text. Returns the bytes put in
// `buf`, 0 at the end, -1 with errno set on an error.
using ReadFn = std::function<long(char* buf, size_t size)>;

inline constexpr size_t kMaxReplayLine = 64 * 1024;

// Every frame of a file in its order, times as offsets from the first; a time that goes back
// (the clock was set) counts as no time at all. A last line without its line end is not taken
// (a recorder stopped amid it); a frame whose length byte does not match its bytes, and a line
// longer than kMaxReplayLine, are skipped with a warning.
[[nodiscard]] Replay ReadReplay(const ReadFn& read);
[[nodiscard]] Replay ReadReplayFile(const std::string& path);

}  // namespace sim
