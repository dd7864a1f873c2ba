// Record times, the session record line and its reader, saved logs, the session writer and its
// folder. Times are read in fixed zones given as POSIX TZ strings, so no zone database is needed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "records/file_io.h"
#include "records/record_format.h"
#include "records/session.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using records::Tag;

records::SessionRecorder::Options In(const fs::path& folder, int64_t startMs) {
  records::SessionRecorder::Options o;
  o.folder = folder.string();
  o.startMs = startMs;
  return o;
}

// 2026-12-07 09:30:01.123 UTC
constexpr int64_t kMs = 1796635801123;

struct Zone {
  explicit Zone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~Zone() {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
  }
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(RecordTimes, EachFormatInZonesEitherSideOfUtc) {
  const struct {
    const char* tz;
    const char* iso;
    const char* dateTime;
    const char* timeOfDay;
    const char* stamp;
  } cases[] = {
      {"UTC0", "2026-12-07T09:30:01.123+00:00", "2026-12-07 09:30:01.123", "09:30:01.123",
       "20261207-093001"},
      {"KST-9", "2026-12-07T18:30:01.123+09:00", "2026-12-07 18:30:01.123", "18:30:01.123",
       "20261207-183001"},
      {"<-0330>3:30", "2026-12-07T06:00:01.123-03:30", "2026-12-07 06:00:01.123", "06:00:01.123",
       "20261207-060001"},
  };
  for (const auto& c : cases) {
    Zone zone(c.tz);
    EXPECT_EQ(records::IsoLocal(kMs), c.iso) << c.tz;
    EXPECT_EQ(records::DateTimeLocal(kMs), c.dateTime) << c.tz;
    EXPECT_EQ(records::TimeOfDayLocal(kMs), c.timeOfDay) << c.tz;
    EXPECT_EQ(records::FileStampLocal(kMs), c.stamp) << c.tz;
    EXPECT_EQ(records::ShownLine(kMs, "-- Abort BP --", true),
              std::string(c.timeOfDay) + " -- Abort BP --");
    // The reader gives back the same instant whatever the zone it was written in.
    const auto back = records::ParseRecord(records::FormatRecord(kMs, Tag::kEvent, "x"));
    ASSERT_TRUE(back.has_value()) << c.tz;
    EXPECT_EQ(back->ms, kMs) << c.tz;
  }
  Zone utc("UTC0");
  EXPECT_EQ(records::ShownLine(kMs, "text", false), "text");
  EXPECT_EQ(records::DateTimeLocal(-1), "1969-12-31 23:59:59.999");  // floor, not truncation
}

TEST(RecordLine, EveryTagAndTextsThatMustStayOnOneLine) {
  Zone utc("UTC0");
  const std::string prefix = "2026-12-07T09:30:01.123+00:00\t";
  const struct {
    Tag tag;
    std::string text;
    std::string written;  // after the tag and its tab
  } cases[] = {
      {Tag::kRaw, "PC <-- MODULE <3E><05><A0><00><1D>", "PC <-- MODULE <3E><05><A0><00><1D>"},
      {Tag::kEvent, "Cuff pressure: 160", "Cuff pressure: 160"},
      {Tag::kStatus, "COM1 OPEN", "COM1 OPEN"},
      {Tag::kBad, "PC <-- MODULE <3E><04><4B><00>", "PC <-- MODULE <3E><04><4B><00>"},
      {Tag::kDropped, "PC <-- MODULE <FF><00>", "PC <-- MODULE <FF><00>"},
      {Tag::kEvent, "a\tb", "a\tb"},                    // tabs stay
      {Tag::kEvent, "Reply: \xE9", "Reply: \xC3\xA9"},  // Latin-1 as UTF-8
      {Tag::kEvent, "\x80\xFF", "\xC2\x80\xC3\xBF"},
      {Tag::kEvent, "Reply: \n", "Reply: \\n"},  // line ends escaped
      {Tag::kEvent, "Reply: \r", "Reply: \\r"},
      {Tag::kEvent, "a\\nb", "a\\\\nb"},  // so is the escape itself
      {Tag::kEvent, std::string("\x00\x1B\x7F", 3), "\\x00\\x1B\x7F"},
      {Tag::kEvent, "", ""},
  };
  for (const auto& c : cases) {
    const std::string line = records::FormatRecord(kMs, c.tag, c.text);
    EXPECT_EQ(line, prefix + static_cast<char>(c.tag) + '\t' + c.written);
    const auto back = records::ParseRecord(line);
    ASSERT_TRUE(back.has_value()) << line;
    EXPECT_EQ(back->tag, c.tag);
    EXPECT_EQ(back->text, c.text) << line;
    EXPECT_EQ(records::FormatSavedLine(kMs, c.text), "2026-12-07 09:30:01.123\t" + c.written);
  }
  for (const char* bad :
       {"", "2026-12-07T09:30:01.123+00:00\tX\ttext", "2026-12-07 09:30:01.123+00:00\tE\ttext",
        "2026-12-07T09:30:01.123+14:30\tE\ttext", "2026-12-07T24:30:01.123+00:00\tE\ttext",
        "2026-12-07T09:30:01.123+00:00 E text"}) {
    EXPECT_FALSE(records::ParseRecord(bad).has_value()) << bad;
  }
}

struct Files : ::testing::Test {
  testsupport::TempFolder tmp;
  [[nodiscard]] std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(tmp.path)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
};

records::WriteFn FullAfter(size_t bytes) {
  return [left = bytes](int fd, const void* data, size_t size) mutable -> ssize_t {
    if (left == 0) {
      errno = ENOSPC;
      return -1;
    }
    const size_t n = std::min(left, size);
    left -= n;
    return ::write(fd, data, n);
  };
}

TEST_F(Files, SaveWritesEveryLineWithItsTimeAndFailuresLeaveNothingBehind) {
  Zone utc("UTC0");
  const std::vector<std::string> texts = {"-- Get Pressure --", "Reply: \n", "Cuff pressure: 160"};
  const records::LogLines lines{3, [](int i) { return kMs + i * 1000; },
                                [&](int i) { return texts[i]; }};
  const fs::path path = tmp.path / "event.txt";
  ASSERT_EQ(records::SaveLog(path, lines), "");
  EXPECT_EQ(ReadAll(path),
            "2026-12-07 09:30:01.123\t-- Get Pressure --\n"
            "2026-12-07 09:30:02.123\tReply: \\n\n"
            "2026-12-07 09:30:03.123\tCuff pressure: 160\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"event.txt"});
  // A replaced file keeps its mode.
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(records::SaveLog(path, lines), "");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  // A full disk midway, a folder that is not there, a path under a file: the old file stays
  // as it was and no temporary file is left.
  const std::string before = ReadAll(path);
  EXPECT_EQ(records::SaveLog(path, lines, FullAfter(30)), "No space left on device");
  EXPECT_EQ(records::SaveLog((tmp.path / "missing" / "x.txt").string(), lines),
            "No such file or directory");
  EXPECT_EQ(records::SaveLog((path / "x.txt").string(), lines), "Not a directory");
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(Names(), std::vector<std::string>{"event.txt"});
}

TEST_F(Files, SessionRecordsArriveInOrderAndAFullDiskStopsRecordingOnce) {
  Zone utc("UTC0");
  {
    records::SessionRecorder rec(In(tmp.path / "sessions", kMs));
    EXPECT_EQ(rec.Path(), (tmp.path / "sessions" / "20261207-093001.session").string());
    rec.Add(kMs, Tag::kStatus, "COM1 OPEN");
    rec.Add(kMs + 1, Tag::kRaw, "PC --> MODULE <3A><79><05><00><48>");
    rec.Add(kMs + 2, Tag::kEvent, "Reply: \r");
    rec.Flush();
    EXPECT_EQ(rec.Written(), 3);
    // Without a flush the writer comes back by itself, from gathering after a write and from
    // idle alike.
    for (int64_t n = 4; n <= 5; ++n) {
      rec.Add(kMs + n - 1, Tag::kEvent, "later");
      for (int i = 0; i < 1000 && rec.Written() < n; ++i) ::usleep(5000);
      ASSERT_EQ(rec.Written(), n);
      if (n == 4) ::usleep(150'000);  // long enough for the writer to go idle
    }
    rec.Add(kMs + 5, Tag::kBad, "PC <-- MODULE <3E><05><A0><00><00>");
  }  // the rest is written on the way out
  std::ifstream in(tmp.path / "sessions" / "20261207-093001.session");
  std::vector<records::Record> got;
  for (std::string line; std::getline(in, line);) got.push_back(*records::ParseRecord(line));
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0].tag, Tag::kStatus);
  EXPECT_EQ(got[2].text, "Reply: \r");
  EXPECT_EQ(got[5].tag, Tag::kBad);
  EXPECT_EQ(got[5].ms, kMs + 5);

  {
    records::SessionRecorder again(In(tmp.path / "sessions", kMs + 800));  // the same second
    EXPECT_EQ(again.Path(), (tmp.path / "sessions" / "20261207-093001-2.session").string());
  }

  int stops = 0;  // the writer's; read once it has been joined
  {
    auto full = In(tmp.path, kMs + 60'000);
    full.write = FullAfter(40);
    full.onStopped = [&](std::stop_token) { ++stops; };
    records::SessionRecorder rec(std::move(full));
    rec.Add(kMs, Tag::kEvent, "first");
    rec.Flush();
    rec.Add(kMs, Tag::kEvent, "after the stop");
    rec.Flush();
    EXPECT_TRUE(rec.Stopped());
    EXPECT_EQ(rec.Failure(), rec.Path() + ": No space left on device");
    // Cut back to the last whole record, which ends the file with its line feed.
    EXPECT_EQ(ReadAll(rec.Path()), records::FormatRecord(kMs, Tag::kEvent, "first") + "\n");
  }
  EXPECT_EQ(stops, 1);

  // A folder that cannot be made stops it at once, without a thread.
  std::ofstream(tmp.path / "file") << "x";
  records::SessionRecorder none(In(tmp.path / "file" / "sessions", kMs));
  EXPECT_TRUE(none.Stopped());
  EXPECT_NE(none.Failure().find("Not a directory"), std::string::npos) << none.Failure();
}

TEST_F(Files, OldSessionsGoAtStartButNotTheNewestNorOneBeingWritten) {
  const int64_t now = kMs;
  const int64_t keep = records::kSessionKeepMs;
  // One being written, left idle for longer than the keeping time.
  records::SessionRecorder live(In(tmp.path, kMs - keep * 3));
  ASSERT_FALSE(live.Stopped()) << live.Failure();
  struct File {
    std::string name;
    int64_t ageMs;
    bool kept;
  };
  std::vector<File> files = {
      {"recent.session", keep - 60'000, true},
      {"old.session", keep * 3, false},
      {"older.session", keep * 3 + 1000, false},
      {fs::path(live.Path()).filename(), keep * 4, true},
      {"old.txt", keep * 4, true},  // not a session
  };
  // With the clock far ahead every one is old: the newest ten stay all the same.
  for (int k = 0; k < 9; ++k)
    files.push_back({"ancient-" + std::to_string(k) + ".session", keep * 2 + k * 1000, true});
  for (const auto& f : files) {
    const fs::path p = tmp.path / f.name;
    if (!fs::exists(p)) std::ofstream(p) << "x\n";
    const int64_t at = now - f.ageMs;
    const timespec times[2] = {{at / 1000, 0}, {at / 1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
  }
  EXPECT_EQ(records::RemoveOldSessions(tmp.path, now), 2);
  for (const auto& f : files) EXPECT_EQ(fs::exists(tmp.path / f.name), f.kept) << f.name;
}

TEST_F(Files, TheRecordingChoiceIsKeptBesideOtherSettingsInPrivateFolders) {
  const std::string config = tmp.path / "config" / "quirab_nibp";
  EXPECT_TRUE(records::LoadRecordSession(config));  // on when never chosen
  const mode_t old = ::umask(027);
  EXPECT_EQ(records::SaveRecordSession(config, true), "");
  EXPECT_EQ(fs::status(config).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(tmp.path / "config").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(config + "/settings").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ::umask(old);
  std::ofstream(config + "/settings") << "other=1\n";
  EXPECT_EQ(records::SaveRecordSession(config, false), "");
  EXPECT_FALSE(records::LoadRecordSession(config));
  EXPECT_EQ(ReadAll(config + "/settings"), "other=1\nrecord_session=0\n");
  EXPECT_EQ(records::SaveRecordSession(config, true), "");
  EXPECT_TRUE(records::LoadRecordSession(config));
}

}  // namespace
