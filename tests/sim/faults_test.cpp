#include "sim/faults.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "protocol/frames.h"
#include "sim/options.h"

namespace {

using sim::Bytes;

const sim::Reply kFrame{{0x3E, 0x16, 0x78, 0x00, 0x50, 0x00, 0x05, 0x02, 0x01, 0x02, 0x03,
                         0x04, 0x05, 0x06, 0x07, 0x08, 0x48, 0x00, 0x5D, 0x00, 0x01, 0x13},
                        "bp data"};

Bytes Joined(const std::vector<sim::Chunk>& chunks, bool withNoise) {
  Bytes out;
  for (const auto& c : chunks)
    if (withNoise || !c.noise) out.insert(out.end(), c.bytes.begin(), c.bytes.end());
  return out;
}

TEST(Shaper, WithoutFaultsAFrameIsOneGoodWrite) {
  sim::Shaper s({}, 1);
  const auto chunks = s.Shape(kFrame);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].bytes, kFrame.frame);
  EXPECT_TRUE(chunks[0].endsFrame);
  EXPECT_TRUE(chunks[0].good);
  EXPECT_EQ(chunks[0].frame, kFrame.frame);
  EXPECT_EQ(chunks[0].pause, 0);
}

// Over many frames each fault shows, and only as it should.
TEST(Shaper, FaultsAtFullRate) {
  struct Case {
    const char* name;
    sim::FaultOptions faults;
  };
  const std::vector<Case> cases = {
      {"noise", {false, 1.0, 0}},
      {"corrupt", {false, 0, 1.0}},
      {"fragment", {true, 0, 0}},
      {"all", {true, 1.0, 1.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Shaper s(c.faults, 7);
    bool split = false;
    for (int i = 0; i < 2000; ++i) {
      const auto chunks = s.Shape(kFrame);
      ASSERT_FALSE(chunks.empty());
      const auto& last = chunks.back();
      EXPECT_TRUE(last.endsFrame);
      EXPECT_EQ(last.good, c.faults.corrupt == 0);
      EXPECT_EQ(protocol::SumsToZero(last.frame), last.good);
      // Only the checksum may differ from the frame given.
      EXPECT_EQ(Bytes(last.frame.begin(), last.frame.end() - 1),
                Bytes(kFrame.frame.begin(), kFrame.frame.end() - 1));
      EXPECT_EQ(Joined(chunks, false), last.frame);
      EXPECT_EQ(chunks.front().noise, c.faults.noise > 0);
      EXPECT_EQ(chunks[c.faults.noise > 0 ? 1 : 0].pause, 0);  // the frame starts when due
      for (const auto& ch : chunks) {
        if (ch.noise) {
          EXPECT_GE(ch.bytes.size(), 1u);
          EXPECT_LE(ch.bytes.size(), static_cast<size_t>(sim::Shaper::kMaxNoise));
          for (uint8_t b : ch.bytes) ASSERT_NE(b, 0x3E);
        }
        EXPECT_GE(ch.pause, 0);
        EXPECT_LE(ch.pause, sim::Shaper::kMaxPause);
        if (!c.faults.fragment) {
          EXPECT_EQ(ch.pause, 0);
        }
      }
      split = split || chunks.size() > (c.faults.noise > 0 ? 2u : 1u);
    }
    EXPECT_EQ(split, c.faults.fragment);
  }
}

TEST(Shaper, TheSeedMakesARunRepeatable) {
  const sim::FaultOptions all{true, 0.5, 0.5};
  sim::Shaper a(all, 42), b(all, 42), other(all, 43);
  bool differs = false;
  for (int i = 0; i < 50; ++i) {
    const auto ca = a.Shape(kFrame), cb = b.Shape(kFrame), co = other.Shape(kFrame);
    EXPECT_EQ(Joined(ca, true), Joined(cb, true));
    ASSERT_EQ(ca.size(), cb.size());
    for (size_t k = 0; k < ca.size(); ++k) EXPECT_EQ(ca[k].pause, cb[k].pause);
    differs = differs || Joined(ca, true) != Joined(co, true);
  }
  EXPECT_TRUE(differs);
}

}  // namespace

TEST(CheckFaultOptions, ReadFromTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    sim::CuffFaults cuff;
    std::string gauge;
  };
  const std::vector<Case> cases = {
      {{"--port", "COM3"}, true, {}, ""},
      {{"--leak", "12", "--port", "COM3", "--sensor-offset=-2.5"},
       true,
       {.leakMmHgMin = 12, .sensorOffset = -2.5},
       ""},
      {{"--sensor-gain", "1.02", "--overpressure", "0", "--gauge", "com9", "--quiet"},
       true,
       {.sensorGain = 1.02, .overpressure = 0},
       "COM9"},
      {{"--overpressure=290"}, true, {.overpressure = 290}, ""},
      {{"--leak"}, false, {}, ""},
      {{"--leak", "-1"}, false, {}, ""},
      {{"--sensor-gain", "3"}, false, {}, ""},
      {{"--overpressure", "20"}, false, {}, ""},
      {{"--overpressure", "300.5"}, false, {}, ""},
      {{"--gauge", "COM0"}, false, {}, ""},
      {{"--gauge", "/dev/ttyS0"}, false, {}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> storage = {"nibp-sim"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    SCOPED_TRACE(c.args.empty() ? "" : c.args.front());
    int exitCode = 0;
    testing::internal::CaptureStderr();
    const std::optional<sim::Options> o =
        sim::ParseOptions(static_cast<int>(storage.size()), argv.data(), exitCode);
    (void)testing::internal::GetCapturedStderr();
    ASSERT_EQ(o.has_value(), c.ok);
    if (!o) {
      EXPECT_EQ(exitCode, 2);
      continue;
    }
    EXPECT_EQ(o->checks.cuff.leakMmHgMin, c.cuff.leakMmHgMin);
    EXPECT_EQ(o->checks.cuff.sensorOffset, c.cuff.sensorOffset);
    EXPECT_EQ(o->checks.cuff.sensorGain, c.cuff.sensorGain);
    EXPECT_EQ(o->checks.cuff.overpressure, c.cuff.overpressure);
    EXPECT_EQ(o->checks.gaugePort, c.gauge);
  }
}
