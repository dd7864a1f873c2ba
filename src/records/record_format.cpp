#include "records/record_format.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace records {
namespace {

struct Local {
  std::tm tm{};
  int millis = 0;
};

Local ToLocal(int64_t ms) {
  // Floor division, so times before the epoch keep a positive millisecond part.
  int64_t secs = ms / 1000;
  int millis = static_cast<int>(ms % 1000);
  if (millis < 0) {
    millis += 1000;
    --secs;
  }
  Local l;
  const auto t = static_cast<std::time_t>(secs);
  ::localtime_r(&t, &l.tm);
  l.millis = millis;
  return l;
}

}  // namespace

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string IsoLocal(int64_t ms) {
  const Local l = ToLocal(ms);
  const long off = l.tm.tm_gmtoff;
  const long absOff = off < 0 ? -off : off;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                l.tm.tm_year + 1900, l.tm.tm_mon + 1, l.tm.tm_mday, l.tm.tm_hour, l.tm.tm_min,
                l.tm.tm_sec, l.millis, off < 0 ? '-' : '+', absOff / 3600, (absOff / 60) % 60);
  return buf;
}

std::string DateTimeLocal(int64_t ms) {
  const Local l = ToLocal(ms);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", l.tm.tm_year + 1900,
                l.tm.tm_mon + 1, l.tm.tm_mday, l.tm.tm_hour, l.tm.tm_min, l.tm.tm_sec, l.millis);
  return buf;
}

std::string TimeOfDayLocal(int64_t ms) {
  const Local l = ToLocal(ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", l.tm.tm_hour, l.tm.tm_min, l.tm.tm_sec,
                l.millis);
  return buf;
}

std::string FileStampLocal(int64_t ms) {
  const Local l = ToLocal(ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d%02d", l.tm.tm_year + 1900, l.tm.tm_mon + 1,
                l.tm.tm_mday, l.tm.tm_hour, l.tm.tm_min, l.tm.tm_sec);
  return buf;
}

void AppendLatin1AsUtf8(std::string& out, std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
}

void AppendRecordText(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\\') {
      out.append("\\\\");
    } else if (b == '\n') {
      out.append("\\n");
    } else if (b == '\r') {
      out.append("\\r");
    } else if (b < 0x20 && b != '\t') {
      out.append("\\x");
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    } else if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
}

std::string RecordTextToLatin1(std::string_view utf8) {
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b == '\\' && i + 1 < utf8.size()) {
      const char e = utf8[i + 1];
      if (e == '\\' || e == 'n' || e == 'r') {
        out.push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : '\\');
        ++i;
        continue;
      }
      if (e == 'x' && i + 3 < utf8.size() && hex(utf8[i + 2]) >= 0 && hex(utf8[i + 3]) >= 0) {
        out.push_back(static_cast<char>(hex(utf8[i + 2]) * 16 + hex(utf8[i + 3])));
        i += 3;
        continue;
      }
    }
    // Two-byte sequences are the Latin-1 range; anything longer cannot come from a record.
    if ((b & 0xE0) == 0xC0 && i + 1 < utf8.size() && b <= 0xC3) {
      out.push_back(static_cast<char>(((b & 0x03) << 6) | (utf8[i + 1] & 0x3F)));
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(b));
  }
  return out;
}

std::string FormatRecord(int64_t ms, Tag tag, std::string_view text) {
  std::string line = IsoLocal(ms);
  line.reserve(line.size() + 3 + text.size());
  line.push_back('\t');
  line.push_back(static_cast<char>(tag));
  line.push_back('\t');
  AppendRecordText(line, text);
  return line;
}

namespace {

// Reads `n` digits at `pos`; -1 when they are not all digits.
int Digits(std::string_view s, size_t pos, size_t n) {
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

}  // namespace

int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<int64_t>(era) * 146097 + doe - 719468;
}

std::optional<int64_t> ParseStamp(std::string_view s, bool iso) {
  if (s.size() < 23) return std::nullopt;
  const int y = Digits(s, 0, 4), mo = Digits(s, 5, 2), d = Digits(s, 8, 2);
  const int h = Digits(s, 11, 2), mi = Digits(s, 14, 2), sec = Digits(s, 17, 2);
  const int ms = Digits(s, 20, 3);
  if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      sec < 0 || sec > 60 || ms < 0 || s[4] != '-' || s[7] != '-' || s[10] != (iso ? 'T' : ' ') ||
      s[13] != ':' || s[16] != ':' || s[19] != '.') {
    return std::nullopt;
  }
  int offsetMin = 0;
  const std::string_view zone = s.substr(23);
  if (iso && zone != "Z") {
    const int oh = Digits(zone, 1, 2), om = Digits(zone, 4, 2);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || oh < 0 ||
        om < 0 || om > 59 || oh * 60 + om > kMaxZoneMinutes) {
      return std::nullopt;
    }
    offsetMin = (oh * 60 + om) * (zone[0] == '-' ? -1 : 1);
  } else if (!iso && !zone.empty()) {
    return std::nullopt;
  }
  const int64_t minutes = DaysFromCivil(y, mo, d) * 1440 + h * 60 + mi - offsetMin;
  return (minutes * 60 + sec) * 1000 + ms;
}

std::optional<Record> ParseRecord(std::string_view line) {
  // "2026-12-07T09:30:01.123+00:00", 29 characters, then a tab, the tag, a tab.
  constexpr size_t kTime = 29;
  if (line.size() < kTime + 3 || line[kTime] != '\t' || line[kTime + 2] != '\t') return {};
  const std::optional<int64_t> ms = ParseStamp(line.substr(0, kTime), true);
  const char tag = line[kTime + 1];
  if (!ms || (tag != 'R' && tag != 'E' && tag != 'S' && tag != 'B' && tag != 'N')) return {};
  return Record{*ms, static_cast<Tag>(tag), RecordTextToLatin1(line.substr(kTime + 3))};
}

std::string ShownLine(int64_t ms, std::string_view text, bool showTimes) {
  if (!showTimes) return std::string(text);
  std::string line = TimeOfDayLocal(ms);
  line.push_back(' ');
  line.append(text);
  return line;
}

std::string FormatSavedLine(int64_t ms, std::string_view text) {
  std::string line = DateTimeLocal(ms);
  line.reserve(line.size() + 1 + text.size());
  line.push_back('\t');
  AppendRecordText(line, text);
  return line;
}

}  // namespace records
