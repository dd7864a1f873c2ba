#include "sim/replay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;

// The text handed over a few bytes at a time, so that lines straddle the reads.
sim::Replay Read(const std::string& text, size_t step = 7) {
  size_t at = 0;
  return sim::ReadReplay([&](char* buf, size_t size) {
    const size_t n = std::min({step, size, text.size() - at});
    std::copy_n(text.data() + at, n, buf);
    at += n;
    return static_cast<long>(n);
  });
}

struct LineCase {
  const char* line;
  bool recorded;  // the line gives bytes the module sent
  Bytes bytes;
  bool good;
};

TEST(Replay, TakesExactlyTheReceivedFrames) {
  const LineCase cases[] = {
      {"2026-12-07T09:30:01.123+00:00\tR\tPC <-- MODULE <3E><05><A0><00><1D>",
       true,
       {0x3E, 0x05, 0xA0, 0x00, 0x1D},
       true},
      {"2026-12-07T09:30:01.123+09:00\tR\tPC <-- MODULE <3E><04><4B><73>\r",
       true,
       {0x3E, 0x04, 0x4B, 0x73},
       true},
      {"2026-12-07T09:30:01.123Z\tR\tPC <-- MODULE <3e>", true, {0x3E}, true},
      {"2026-12-07 09:30:01.123\tPC <-- MODULE <3E><04><4B><73>",
       true,
       {0x3E, 0x04, 0x4B, 0x73},
       true},
      {"2026-12-07 09:30:01.123\tPC <-- MODULE <3E><04><4B><74> checksum error",
       true,
       {0x3E, 0x04, 0x4B, 0x74},
       false},
      {"2026-12-07 09:30:01.123\tPC <-- MODULE <55> dropped", true, {0x55}, false},
      {"2026-12-07 09:30:01.123\tPC <-- MODULE <55> lost", false, {}, false},
      {"2026-12-07T09:30:01.123+00:00\tB\tPC <-- MODULE <3E><04><4B><74>",
       true,
       {0x3E, 0x04, 0x4B, 0x74},
       false},
      {"2026-12-07T09:30:01.123+00:00\tB\tPC <-- MODULE <3E><04><4B><74> checksum error",
       true,
       {0x3E, 0x04, 0x4B, 0x74},
       false},
      {"2026-12-07T09:30:01.123+00:00\tN\tPC <-- MODULE <00><FF> dropped",
       true,
       {0x00, 0xFF},
       false},
      // The raw log's own rendering of a bad frame is recorded again as a B line.
      {"2026-12-07T09:30:01.123+00:00\tR\tPC <-- MODULE <3E><04><4B><74> checksum error",
       false,
       {},
       false},
      {"2026-12-07T09:30:01.123+00:00\tR\tPC --> MODULE <3A><79><05><00><48>", false, {}, false},
      {"2026-12-07T09:30:01.123+00:00\tE\tPC <-- MODULE <3E><04><4B><73>", false, {}, false},
      {"2026-12-07T09:30:01.123+00:00\tS\tCom_Port 1 Open", false, {}, false},
      {"2026-12-07T09:30:01.123+00:00\tR\tPC <-- MODULE ", false, {}, false},
      {"2026-12-07T09:30:01.123+00:00\tR\tPC <-- MODULE <3E><0G>", false, {}, false},
      {"2026-12-07T09:30:01.123+00:00\tR\tPC <-- MODULE <3E> ", false, {}, false},
      {"2026-12-07T09:30:01.123+00:00\tR\tPC <-- MODULE <3E><04> dropped", false, {}, false},
      {"2026-12-07T09:30:01.123\tR\tPC <-- MODULE <3E>", false, {}, false},  // no zone
      {"2026-12-07T09:30:01.123-14:00\tR\tPC <-- MODULE <3E>", true, {0x3E}, true},
      {"2026-12-07T09:30:01.123+14:01\tR\tPC <-- MODULE <3E>", false, {}, false},
      {"2026-12-07T09:30:01.123-99:99\tR\tPC <-- MODULE <3E>", false, {}, false},
      {"2026-12-07T09:30:01.123+05:60\tR\tPC <-- MODULE <3E>", false, {}, false},
      {"2026-13-07T09:30:01.123+00:00\tR\tPC <-- MODULE <3E>", false, {}, false},
      {"2026-12-07 09:30:01\tPC <-- MODULE <3E>", false, {}, false},
      {"PC <-- MODULE <3E>", false, {}, false},
      {"", false, {}, false},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.line);
    const auto f = sim::ParseReplayLine(c.line);
    ASSERT_EQ(f.has_value(), c.recorded);
    if (!f) continue;
    EXPECT_EQ(f->bytes, c.bytes);
    EXPECT_EQ(f->good, c.good);
  }
}

TEST(Replay, TimesAreOffsetsFromTheFirstFrameAndDamagedLinesAreSkipped) {
  const std::string good = "2026-12-07T09:30:00.000+00:00\tR\tPC <-- MODULE <3E><04><4B><73>\n";
  struct FileCase {
    const char* name;
    std::string text;
    std::vector<int64_t> offsets;
    std::vector<std::string> warnings;
  };
  const FileCase files[] = {
      {"session across midnight and a zone change",
       "2026-12-07T23:59:59.900+01:00\tS\tCom_Port 1 Open\n"
       "2026-12-07T23:59:59.950+01:00\tR\tPC --> MODULE <3A><79><05><00><48>\n"
       "2026-12-07T23:59:59.990+01:00\tR\tPC <-- MODULE <3E><05><A0><00><1D>\n"
       "2026-12-08T00:00:00.240+01:00\tN\tPC <-- MODULE <11>\n"
       "2026-12-07T23:00:00.490+00:00\tR\tPC <-- MODULE <3E><05><A0><00><1D>\n",
       {0, 250, 500},
       {}},
      {"raw log, a clock set back",
       "2026-02-28 10:00:00.000\tPC <-- MODULE <3E><04><4B><73>\n"
       "2026-02-28 10:00:01.500\tPC <-- MODULE <3E><04><4B><73>\n"
       "2026-02-28 09:00:00.000\tPC <-- MODULE <3E><04><4B><73>\n"
       "2026-03-01 10:00:01.500\tPC <-- MODULE <3E><04><4B><73>\n",
       {0, 1500, 1500, 86401500},
       {}},
      {"nothing received", "2026-12-07T09:30:01.123+00:00\tE\tSet Pressure\n", {}, {}},
      {"a last line cut short by a full disk", good + good.substr(0, good.size() - 5), {0}, {}},
      {"frames whose length byte disagrees; dropped bytes have none",
       good +
           "2026-12-07T09:30:00.100+00:00\tR\tPC <-- MODULE <3E><05><4B><73>\n"
           "2026-12-07T09:30:00.200+00:00\tB\tPC <-- MODULE <3E>\n"
           "2026-12-07T09:30:00.300+00:00\tN\tPC <-- MODULE <3E><09> dropped\n" +
           good,
       {0, 300, 300},
       {"line 2: 4 frame bytes disagree with the length byte: skipped",
        "line 3: 1 frame bytes disagree with the length byte: skipped"}},
      {"a line beyond the limit",
       good + "2026-12-07T09:30:00.500+00:00\tE\t" + std::string(sim::kMaxReplayLine, 'x') + "\n" +
           good,
       {0, 0},
       {"line 2: longer than 64 KiB: skipped"}},
  };
  for (const FileCase& c : files) {
    SCOPED_TRACE(c.name);
    for (const size_t step : {size_t{7}, c.text.size()}) {
      const sim::Replay r = Read(c.text, step);
      std::vector<int64_t> offsets;
      for (const sim::ReplayFrame& f : r.frames) offsets.push_back(f.ms);
      EXPECT_EQ(offsets, c.offsets);
      EXPECT_EQ(r.warnings, c.warnings);
      EXPECT_EQ(r.error, "");
    }
  }

  int calls = 0;
  const sim::Replay failed = sim::ReadReplay([&](char* buf, size_t size) -> long {
    if (calls++ > 0) {
      errno = EIO;
      return -1;
    }
    const size_t n = std::min(size, good.size());
    std::copy_n(good.data(), n, buf);
    return static_cast<long>(n);
  });
  EXPECT_EQ(failed.frames.size(), 1u);
  EXPECT_EQ(failed.error, "Input/output error");
}

}  // namespace
