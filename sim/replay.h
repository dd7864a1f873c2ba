#pragma once
// Reading back what the module sent, from a session file (time, tab, tag, tab, text) or a saved
// raw log (time, tab, text), to be played into a console again.

#include <cstdint>
#include <istream>
#include <optional>
#include <string_view>
#include <vector>

namespace sim {

struct ReplayFrame {
  int64_t ms = 0;  // on the file's own clock; ReadReplay makes it the offset from the first frame
  std::vector<uint8_t> bytes;
  bool good = false;  // shown as a received frame; bad-checksum frames and dropped bytes are not
};

// The bytes the module sent according to one line, or nothing when the line records none:
// R lines that are exactly a received raw-log line, B and N lines of that form (a trailing
// " checksum error" or " dropped" allowed), and raw-log lines of that form, trailer included.
[[nodiscard]] std::optional<ReplayFrame> ParseReplayLine(std::string_view line);

// Every frame of a file in its order, times as offsets from the first; a time that goes back
// (the clock was set) counts as no time at all.
[[nodiscard]] std::vector<ReplayFrame> ReadReplay(std::istream& in);

}  // namespace sim
