#include "sim/replay.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;

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

TEST(Replay, TimesAreOffsetsFromTheFirstFrame) {
  struct FileCase {
    const char* name;
    const char* text;
    std::vector<int64_t> offsets;
  };
  const FileCase files[] = {
      {"session across midnight and a zone change",
       "2026-12-07T23:59:59.900+01:00\tS\tCom_Port 1 Open\n"
       "2026-12-07T23:59:59.950+01:00\tR\tPC --> MODULE <3A><79><05><00><48>\n"
       "2026-12-07T23:59:59.990+01:00\tR\tPC <-- MODULE <3E><05><A0><00><1D>\n"
       "2026-12-08T00:00:00.240+01:00\tN\tPC <-- MODULE <11>\n"
       "2026-12-07T23:00:00.490+00:00\tR\tPC <-- MODULE <3E><05><A0><00><1D>\n",
       {0, 250, 500}},
      {"raw log, a clock set back",
       "2026-02-28 10:00:00.000\tPC <-- MODULE <3E><04><4B><73>\n"
       "2026-02-28 10:00:01.500\tPC <-- MODULE <3E><04><4B><73>\n"
       "2026-02-28 09:00:00.000\tPC <-- MODULE <3E><04><4B><73>\n"
       "2026-03-01 10:00:01.500\tPC <-- MODULE <3E><04><4B><73>\n",
       {0, 1500, 1500, 86401500}},
      {"nothing received", "2026-12-07T09:30:01.123+00:00\tE\tSet Pressure\n", {}},
  };
  for (const FileCase& c : files) {
    SCOPED_TRACE(c.name);
    std::istringstream in(c.text);
    std::vector<int64_t> offsets;
    for (const sim::ReplayFrame& f : sim::ReadReplay(in)) offsets.push_back(f.ms);
    EXPECT_EQ(offsets, c.offsets);
  }
}

}  // namespace
