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

std::string FormatRecord(int64_t ms, Tag tag, std::string_view text) {
  std::string line = IsoLocal(ms);
  line.reserve(line.size() + 3 + text.size());
  line.push_back('\t');
  line.push_back(static_cast<char>(tag));
  line.push_back('\t');
  AppendLatin1AsUtf8(line, text);
  return line;
}

}  // namespace records
