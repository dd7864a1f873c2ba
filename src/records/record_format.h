#pragma once
// Times and record lines shared by the logs, the session file and the command-line tool.
// Times are wall-clock milliseconds since the Unix epoch, shown in local time.

#include <cstdint>
#include <string>
#include <string_view>

namespace records {

[[nodiscard]] int64_t NowMs();

// "2026-12-07T09:30:01.123+00:00": ISO 8601, local time with its offset.
[[nodiscard]] std::string IsoLocal(int64_t ms);
// "2026-12-07 09:30:01.123"
[[nodiscard]] std::string DateTimeLocal(int64_t ms);
// "09:30:01.123"
[[nodiscard]] std::string TimeOfDayLocal(int64_t ms);
// "20261207-093001", for file names.
[[nodiscard]] std::string FileStampLocal(int64_t ms);

// Texts are 8-bit: each byte is the Latin-1 character of the same value.
void AppendLatin1AsUtf8(std::string& out, std::string_view text);

// Record tags of the session format.
enum class Tag : char {
  kRaw = 'R',      // a raw-log line
  kEvent = 'E',    // an event-log line
  kStatus = 'S',   // the status line changed
  kBad = 'B',      // a frame with a bad checksum, as a raw-log line received
  kDropped = 'N',  // bytes dropped between frames, the same form
};

// One record: IsoLocal(ms), a tab, the tag, a tab, the text in UTF-8; no line end.
[[nodiscard]] std::string FormatRecord(int64_t ms, Tag tag, std::string_view text);

}  // namespace records
