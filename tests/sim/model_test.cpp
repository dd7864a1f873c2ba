#include "sim/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/frames.h"

namespace {

using sim::Bytes;

const Bytes kGetPressure = {0x3A, 0x79, 0x05, 0x00, 0x48};
const Bytes kGetBpData = {0x3A, 0x79, 0x03, 0x00, 0x4A};
const Bytes kAbort = {0x3A, 0x79, 0x01, 0x00, 0x4C};
const Bytes kStartAdult = {0x3A, 0x20, 0xA6};
const Bytes kStartNeonate = {0x3A, 0x28, 0x9E};
const Bytes kStartPediatric = {0x3A, 0x87, 0x3F};
const Bytes kReplyK = {0x3E, 0x04, 0x4B, 0x73};
const Bytes kReplyE = {0x3E, 0x04, 0x45, 0x79};

Bytes SetPressure(int mmHg) {
  protocol::TxBuf tx;
  const size_t n = protocol::BuildSetPressure(tx, static_cast<uint32_t>(mmHg));
  return Bytes(tx.begin(), tx.begin() + static_cast<long>(n));
}

Bytes Pneumatics(bool pump, bool cv, bool dv) {
  protocol::TxBuf tx;
  const size_t n = protocol::BuildPneumatics(tx, pump, cv, dv);
  return Bytes(tx.begin(), tx.begin() + static_cast<long>(n));
}

std::vector<Bytes> Replies(sim::Module& m, const Bytes& in) {
  m.Receive(in);
  std::vector<Bytes> out;
  for (auto& r : m.TakeReplies()) out.push_back(r.frame);
  return out;
}

// The one reply a command must get.
Bytes Reply(sim::Module& m, const Bytes& in) {
  auto r = Replies(m, in);
  EXPECT_EQ(r.size(), 1u);
  return r.empty() ? Bytes{} : r.front();
}

struct Decoded {
  int sys, dia, sq, status, hr, map, err;
  Bytes tc;
};

Decoded Decode(const Bytes& f) {
  auto u16 = [&](size_t i) { return f[i] | (f[i + 1] << 8); };
  return {u16(2),  u16(4),  f[6],  f[7],
          u16(16), u16(18), f[20], Bytes(f.begin() + 8, f.begin() + 16)};
}

// Steps module time until the measurement ends; returns the highest pressure seen.
double RunToEnd(sim::Module& m, double step = 0.1, double limit = 300) {
  double highest = 0;
  for (double t = 0; t < limit && m.phase() != sim::Phase::kIdle; t += step) {
    m.Advance(step);
    highest = std::max(highest, m.cuff().pressure());
  }
  EXPECT_EQ(m.phase(), sim::Phase::kIdle) << "measurement did not end";
  return highest;
}

TEST(CommandParser, FindsFramesInGarbageAndFlagsBadChecksums) {
  struct Case {
    const char* name;
    Bytes in;
    std::vector<sim::Command> out;
    size_t pending;
  };
  const std::vector<Case> cases = {
      {"one frame", kGetPressure, {{kGetPressure, true}}, 0},
      {"garbage first, reply start byte too",
       {0x00, 0xFF, 0x3E, 0x12, 0x3A, 0x20, 0xA6},
       {{kStartAdult, true}},
       0},
      {"start byte with unknown code", {0x3A, 0x55, 0x3A, 0x28, 0x9E}, {{kStartNeonate, true}}, 0},
      {"doubled start byte", {0x3A, 0x3A, 0x87, 0x3F}, {{kStartPediatric, true}}, 0},
      {"bad checksum",
       {0x3A, 0x17, 0xA0, 0x00, 0x10},
       {{{0x3A, 0x17, 0xA0, 0x00, 0x10}, false}},
       0},
      // The frame 3A 79 3A 20 A6 fails; the search resumes after its start byte.
      {"frame behind a stray start byte",
       {0x3A, 0x79, 0x3A, 0x20, 0xA6},
       {{{0x3A, 0x79, 0x3A, 0x20, 0xA6}, false}, {kStartAdult, true}},
       0},
      {"back to back",
       {0x3A, 0x0C, 0x01, 0x00, 0x00, 0xB9, 0x3A, 0x79, 0x03, 0x00, 0x4A},
       {{Pneumatics(true, false, false), true}, {kGetBpData, true}},
       0},
      {"incomplete frame waits", {0x11, 0x3A, 0x0C, 0x01}, {}, 3},
      {"lone start byte waits", {0x3A}, {}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool byteByByte : {false, true}) {
      sim::CommandParser p;
      std::vector<sim::Command> got;
      if (byteByByte) {
        for (uint8_t b : c.in)
          for (auto& cmd : p.Feed(std::span(&b, 1))) got.push_back(cmd);
      } else {
        got = p.Feed(c.in);
      }
      ASSERT_EQ(got.size(), c.out.size());
      for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].bytes, c.out[i].bytes);
        EXPECT_EQ(got[i].checksumOk, c.out[i].checksumOk);
      }
      EXPECT_EQ(p.Pending(), c.pending);
    }
  }
}

TEST(Replies, EachCommandGetsItsExactBytes) {
  Bytes zeroResult(22, 0);
  zeroResult[0] = 0x3E;
  zeroResult[1] = 0x16;
  zeroResult[21] = 0xAC;
  struct Case {
    const char* name;
    std::vector<Bytes> commands;
    std::vector<Bytes> replies;
  };
  const std::vector<Case> cases = {
      {"get pressure, cuff empty", {kGetPressure}, {{0x3E, 0x05, 0x00, 0x00, 0xBD}}},
      {"get bp data before any measurement", {kGetBpData}, {zeroResult}},
      {"set pressure", {SetPressure(160)}, {kReplyK}},
      {"start adult", {kStartAdult}, {kReplyK}},
      {"start neonate", {kStartNeonate}, {kReplyK}},
      {"start pediatric", {kStartPediatric}, {kReplyK}},
      {"abort while idle", {kAbort}, {kReplyK}},
      {"pneumatics", {Pneumatics(true, true, false)}, {kReplyK}},
      {"bad checksum", {{0x3A, 0x79, 0x05, 0x00, 0x49}}, {kReplyE}},
      {"unknown request", {{0x3A, 0x79, 0x07, 0x00, 0x46}}, {{0x3E, 0x04, '?', 0x7F}}},
      {"second start while measuring",
       {kStartAdult, kStartNeonate},
       {kReplyK, {0x3E, 0x04, 'B', 0x7C}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Module m;
    std::vector<Bytes> got;
    for (const auto& cmd : c.commands)
      for (auto& r : Replies(m, cmd)) got.push_back(r);
    EXPECT_EQ(got, c.replies);
    for (const auto& r : got) EXPECT_TRUE(protocol::SumsToZero(r));
  }
}

TEST(Replies, LayoutsMatchWhatTheConsoleDecodes) {
  EXPECT_EQ(sim::PressureReply(160), (Bytes{0x3E, 0x05, 0xA0, 0x00, 0x1D}));
  EXPECT_EQ(sim::PressureReply(300), (Bytes{0x3E, 0x05, 0x2C, 0x01, 0x90}));
  sim::Result r{120, 80, 5, 2, {1, 2, 3, 4, 5, 6, 7, 8}, 72, 93, 1};
  EXPECT_EQ(sim::BpDataReply(r),
            (Bytes{0x3E, 0x16, 0x78, 0x00, 0x50, 0x00, 0x05, 0x02, 0x01, 0x02, 0x03,
                   0x04, 0x05, 0x06, 0x07, 0x08, 0x48, 0x00, 0x5D, 0x00, 0x01, 0x13}));
}

TEST(Cuff, PumpAndValvesMoveThePressure) {
  struct Case {
    const char* name;
    double from;  // pumped up to this first
    sim::Pneumatics valves;
    double seconds;
    double lo, hi;             // where the pressure ends
    sim::CuffFaults faults{};  // from the start of `seconds`
  };
  const std::vector<Case> cases = {
      {"pump, valves closed: rises", 0, {true, true, true}, 5, 95, 105},
      {"pump off, valves closed: holds", 150, {false, true, true}, 30, 149.5, 150.5},
      {"control valve: bleeds slowly", 150, {false, false, true}, 1, 110, 140},
      {"control valve: empties in the end", 150, {false, false, true}, 30, 0, 1},
      {"dump valve: empty within two seconds", 300, {false, true, false}, 2, 0, 1},
      {"both open", 300, {false, false, false}, 2, 0, 1},
      {"pump against the open control valve levels off", 0, {true, false, true}, 60, 90, 110},
      {"pump stalls at 360", 0, {true, true, true}, 60, 360, 360},
      // 250 e^(-12/60/250 * 60)
      {"leak: 12 mmHg a minute at 250",
       250,
       {false, true, true},
       60,
       238.1,
       238.5,
       {.leakMmHgMin = 12}},
      {"leak: in proportion, 3 at 62.5",
       62.5,
       {false, true, true},
       60,
       59.5,
       59.7,
       {.leakMmHgMin = 12}},
      {"leak: the pump still wins", 100, {true, true, true}, 5, 195, 200, {.leakMmHgMin = 30}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Cuff cuff;
    cuff.Set({true, true, true});
    cuff.Advance(c.from / sim::Cuff::kPumpRate);
    ASSERT_NEAR(cuff.pressure(), c.from, 0.5);
    cuff.SetFaults(c.faults);
    cuff.Set(c.valves);
    double highest = 0;
    for (double t = 0; t < c.seconds; t += 0.05) {
      cuff.Advance(0.05);
      highest = std::max(highest, cuff.pressure());
    }
    EXPECT_GE(cuff.pressure(), c.lo);
    EXPECT_LE(cuff.pressure(), c.hi);
    EXPECT_LE(highest, sim::Cuff::kStallPressure);
  }
}

TEST(Cuff, SensorReadsTrueTimesGainPlusOffset) {
  struct Case {
    double offset, gain, pressure;
    uint16_t reading;
  };
  const std::vector<Case> cases = {
      {0, 1, 200, 200},    {3, 1, 200, 203},    {-2.5, 1, 100, 98},
      {0, 1.02, 250, 255}, {2, 0.98, 150, 149}, {-5, 1, 2, 0},  // never below zero
  };
  for (const Case& c : cases) {
    sim::Cuff cuff;
    cuff.SetFaults({.sensorOffset = c.offset, .sensorGain = c.gain});
    cuff.Set({true, true, true});
    cuff.Advance(c.pressure / sim::Cuff::kPumpRate);
    EXPECT_EQ(cuff.Reading(), c.reading) << c.offset << " " << c.gain << " " << c.pressure;
  }
}

TEST(Measurement, EndsWithThePatientsResult) {
  struct Case {
    const char* name;
    Bytes start;
    sim::Patient patient;
    int inflate;  // Set Pressure before the start; 0 for none
    double peakLo, peakHi;
    int modeBits, err;
    bool reinflated;
  };
  const std::vector<Case> cases = {
      {"adult, default inflate", kStartAdult, {120, 80, 72}, 0, 160, 161, 0, 0, false},
      {"neonate", kStartNeonate, {70, 40, 140}, 100, 100, 101, 1, 0, false},
      {"pediatric", kStartPediatric, {100, 60, 100}, 120, 120, 121, 2, 0, false},
      {"target clamped to the cuff", kStartAdult, {250, 150, 60}, 1000, 299, 300.5, 0, 0, false},
      {"too low a target re-inflates", kStartAdult, {120, 80, 72}, 60, 150, 151, 0, 0, true},
      {"systolic out of reach",
       kStartAdult,
       {310, 200, 72},
       250,
       299,
       300,
       0,
       sim::kErrOutOfRange,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Module m(c.patient);
    if (c.inflate != 0) {
      EXPECT_EQ(Reply(m, SetPressure(c.inflate)), kReplyK);
    }
    EXPECT_EQ(Reply(m, c.start), kReplyK);
    const double highest = RunToEnd(m);
    EXPECT_GE(highest, c.peakLo);
    EXPECT_LE(highest, c.peakHi);
    EXPECT_LT(m.cuff().pressure(), sim::Module::kEndPressure);

    const Decoded d = Decode(Reply(m, kGetBpData));
    EXPECT_EQ(d.err, c.err);
    EXPECT_EQ(d.status & 3, c.modeBits);
    EXPECT_EQ((d.status & sim::kStatusReinflated) != 0, c.reinflated);
    EXPECT_EQ(d.tc[7], 1) << "measurement counter";
    EXPECT_EQ(d.tc[2] | (d.tc[3] << 8), static_cast<int>(highest + 0.5));
    if (c.err == 0) {
      EXPECT_EQ(d.sys, c.patient.systolic);
      EXPECT_EQ(d.dia, c.patient.diastolic);
      EXPECT_EQ(d.hr, c.patient.heartRate);
      EXPECT_EQ(d.map, sim::MeanArterialPressure(c.patient.systolic, c.patient.diastolic));
      EXPECT_NE(d.status & sim::kStatusValid, 0);
      EXPECT_GT(d.sq, 0);
      EXPECT_GT(d.tc[4], 3) << "deflation steps";
    } else {
      EXPECT_EQ(d.sys, 0);
      EXPECT_EQ(d.status & sim::kStatusValid, 0);
    }
  }
}

TEST(Measurement, TakesAboutHalfAMinuteAndTimeCanRunInLargeSteps) {
  for (double step : {0.01, 0.5, 3.0}) {
    SCOPED_TRACE(step);
    sim::Module m;
    (void)Reply(m, kStartAdult);
    RunToEnd(m, step);
    const Decoded d = Decode(Reply(m, kGetBpData));
    EXPECT_EQ(d.sys, 120);
    EXPECT_EQ(d.dia, 80);
    const double seconds = (d.tc[0] | (d.tc[1] << 8)) / 10.0;
    EXPECT_GT(seconds, 20);
    EXPECT_LT(seconds, 45);
  }
}

TEST(Measurement, AbortOrPneumaticsEndItAndTheCuffEmpties) {
  struct Case {
    const char* name;
    Bytes command;
    int err;
    sim::Pneumatics valvesAfter;
  };
  const std::vector<Case> cases = {
      {"abort", kAbort, sim::kErrAborted, {}},
      {"pneumatics, dump valve open",
       Pneumatics(false, true, false),
       sim::kErrInterrupted,
       {false, true, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Module m;
    (void)Reply(m, kStartAdult);
    m.Advance(5);
    ASSERT_GT(m.cuff().pressure(), 80);
    EXPECT_EQ(Reply(m, c.command), kReplyK);
    EXPECT_EQ(m.phase(), sim::Phase::kIdle);
    EXPECT_EQ(m.cuff().valves(), c.valvesAfter);
    m.Advance(2);
    EXPECT_LT(m.cuff().pressure(), 1);
    const Decoded d = Decode(Reply(m, kGetBpData));
    EXPECT_EQ(d.err, c.err);
    EXPECT_EQ(d.sys, 0);
    EXPECT_NE(d.status & sim::kStatusUnfinished, 0);
    // A new measurement may start at once.
    EXPECT_EQ(Reply(m, kStartAdult), kReplyK);
  }
}

TEST(Measurement, AbortAlsoStopsAPumpRunByHand) {
  sim::Module m;
  (void)Reply(m, Pneumatics(true, true, true));
  m.Advance(10);
  EXPECT_EQ(m.cuff().Reading(), 200);
  EXPECT_EQ(Reply(m, kGetPressure), sim::PressureReply(200));
  (void)Reply(m, kAbort);
  m.Advance(3);
  EXPECT_EQ(m.cuff().Reading(), 0);
  EXPECT_FALSE(m.Busy());
}

TEST(Measurement, NeverAboveTheOverpressureLimitWhateverTheConsoleDoes) {
  struct Case {
    int overpressure;
    double highest;  // the pump stalls at 360 without the protection
  };
  for (const Case& c : std::vector<Case>{{310, 310}, {250, 250}, {0, 360}}) {
    SCOPED_TRACE(c.overpressure);
    sim::Module m({290, 200, 60});
    m.SetFaults({.overpressure = c.overpressure});
    const std::vector<Bytes> script = {SetPressure(65535),
                                       kStartAdult,
                                       Pneumatics(true, true, true),
                                       kStartNeonate,
                                       SetPressure(0),
                                       kStartPediatric,
                                       kAbort,
                                       kStartAdult};
    double highest = 0;
    for (const auto& cmd : script) {
      (void)m.TakeReplies();
      m.Receive(cmd);
      for (int i = 0; i < 400; ++i) {
        m.Advance(0.1);
        highest = std::max(highest, m.cuff().pressure());
        EXPECT_LE(m.cuff().Reading(), c.highest);
      }
    }
    EXPECT_LE(highest, c.highest + 0.2);
    EXPECT_GT(highest, c.highest - 5);
  }
}

}  // namespace
