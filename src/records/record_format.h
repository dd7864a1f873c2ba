#pragma once
// Times and record lines shared by the logs, the session file and the command-line tool.
// Times are wall-clock milliseconds since the Unix epoch, shown in local time.

#include <cstdint>
#include <optional>
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

// A text as it stands in a record or a saved log: UTF-8 from Latin-1, and kept on one line. A
// backslash is written \\, a line feed \n, a carriage return \r, any other control byte but the
// tab \xHH (two upper-case hex digits); everything else stays as it is.
void AppendRecordText(std::string& out, std::string_view text);
// The reverse: back to the 8-bit text. An unknown or cut escape is kept as it stands.
[[nodiscard]] std::string RecordTextToLatin1(std::string_view utf8);

// One record: IsoLocal(ms), a tab, the tag, a tab, the text as AppendRecordText writes it; no
// line end. Tabs in the text stay: a reader splits at the first two tabs only.
[[nodiscard]] std::string FormatRecord(int64_t ms, Tag tag, std::string_view text);

struct Record {
  int64_t ms = 0;
  Tag tag = Tag::kRaw;
  std::string text;  // 8-bit again
};
// Days from 1970-01-01 to a civil date, proleptic Gregorian: times of records without the time
// zone functions.
[[nodiscard]] int64_t DaysFromCivil(int y, int m, int d);

// Zones on this planet lie within 14 hours of UTC; a larger offset makes a time no time.
inline constexpr int kMaxZoneMinutes = 14 * 60;
// With `iso`, a time as IsoLocal writes it ("2026-12-07T09:30:01.123+09:00", or "Z" for the
// offset); without, a saved log's DateTimeLocal ("2026-12-07 09:30:01.123"), taken as UTC.
[[nodiscard]] std::optional<int64_t> ParseStamp(std::string_view s, bool iso);

// Reads a line written by FormatRecord (without its line end); nothing when it is not one.
[[nodiscard]] std::optional<Record> ParseRecord(std::string_view line);

// A log line as a list shows it: with its time "HH:MM:SS.mmm " in front while times are shown.
[[nodiscard]] std::string ShownLine(int64_t ms, std::string_view text, bool showTimes);

// A line of a saved log: DateTimeLocal(ms), a tab, the text as AppendRecordText writes it.
[[nodiscard]] std::string FormatSavedLine(int64_t ms, std::string_view text);

}  // namespace records
