// nibp-cli's logic without a device: the command line, --expect, the frames sent, the end of a
// measurement, and the CSV and summary texts.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"
#include "cli/run.h"
#include "commands/commands.h"
#include "program/numbers.h"
#include "protocol/frames.h"
#include "results/end_detector.h"
#include "results/expect.h"
#include "results/measurements.h"

namespace {

using namespace cli;

ParseResult Parse(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  return ParseCommandLine(std::vector<std::string_view>(words.begin(), words.end()));
}

TEST(CliOptions, ErrorsAreOneClearMessage) {
  struct Case {
    const char* line;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"", "no command given (send, watch, measure, check, ports, map or unmap)"},
      {"--json", "no command given (send, watch, measure, check, ports, map or unmap)"},
      {"sned abort", "unknown command \"sned\""},
      {"send", "send: no command to send"},
      {"send start-child", "send: unknown command to send: \"start-child\""},
      {"send set-pressure=301",
       "send: \"set-pressure=301\": Enter a pressure from 30 to 300 mmHg."},
      {"send set-pressure=29", "send: \"set-pressure=29\": Enter a pressure from 30 to 300 mmHg."},
      {"send set-pressure=-5", "send: \"set-pressure=-5\": Enter a pressure from 30 to 300 mmHg."},
      {"send set-pressure=70000",
       "send: \"set-pressure=70000\": Enter a pressure from 30 to 300 mmHg."},
      {"send set-pressure=", "send: \"set-pressure=\": Enter a pressure from 30 to 300 mmHg."},
      {"send pneumatics=1,0", "send: \"pneumatics=1,0\": give PUMP,CONTROL,DUMP, each 0 or 1"},
      {"send pneumatics=1,2,0", "send: \"pneumatics=1,2,0\": give PUMP,CONTROL,DUMP, each 0 or 1"},
      {"send --listen abort", "--listen: \"abort\" is not a number of seconds from 0 to 86400"},
      {"send abort --listen", "--listen needs a value"},
      {"send abort --listen -1", "--listen: \"-1\" is not a number of seconds from 0 to 86400"},
      {"send abort --json=1", "--json takes no value"},
      {"send abort --duration 3", "--duration is not an option of send"},
      {"watch --count 3", "--count is not an option of watch"},
      {"watch now", "watch: unexpected argument \"now\""},
      {"watch --duration 1e3", "--duration: \"1e3\" is not a number of seconds from 0 to 86400"},
      {"--port COM0 watch", "--port: \"COM0\" is not a port (COM1 to COM255)"},
      {"--port /dev/ttyS0 watch", "--port: \"/dev/ttyS0\" is not a port (COM1 to COM255)"},
      {"--port COM1 --device /dev/ttyS0 watch", "give --port or --device, not both"},
      {"--port COM1 --port COM2 watch", "--port given twice (only check takes several ports)"},
      {"--port COM1 --port com1 check leak", "--port com1 given twice"},
      {"check", "check: name the checks (leak, static, overpressure, repeat)"},
      {"check leak leek", "check: unknown check \"leek\" (leak, static, overpressure or repeat)"},
      {"check leak leak", "check: \"leak\" named twice"},
      {"check leak --ceiling 331",
       "--ceiling: \"331\" is not a whole number of mmHg from 1 to 330 (never above 330)"},
      {"check overpressure --limit 300.5",
       "--limit: \"300.5\" is not a whole number of mmHg from 1 to 330"},
      {"check overpressure --window 10:+20",
       "--window: \"10:+20\" is not a window as -BELOW:+ABOVE in mmHg (-10:+20)"},
      {"check static --points 0,50, --reference 0,50",
       "--points: \"0,50,\" is not a list of whole numbers of mmHg from 0 to 330 (0,50,100)"},
      {"check static --points 0,50 --reference 0,50,100", "--reference: 3 readings for 2 points"},
      {"check static --reference 0 --reference-port COM2",
       "give --reference or --reference-port, not both"},
      {"check static --reference-unit psi", "--reference-unit: \"psi\" is not mmHg, kPa or cmH2O"},
      {"check leak --reference-due 2026-13-01",
       "--reference-due: \"2026-13-01\" is not a date as YYYY-MM-DD"},
      {"--port COM1 --port COM2 check static",
       "check: with several ports give the reference (--reference-port or --reference)"},
      {"measure --mode adult --hold 5", "--hold is not an option of measure"},
      {"--baud 9600 watch", "unknown option \"--baud\""},
      {"measure", "measure: --mode adult, neonate or pediatric is needed"},
      {"measure --mode infant", "--mode: \"infant\" is not adult, neonate or pediatric"},
      {"measure --mode adult --count 0", "--count: \"0\" is not a whole number from 1 to 1000000"},
      {"measure --mode adult --count 2.5",
       "--count: \"2.5\" is not a whole number from 1 to 1000000"},
      {"measure --mode adult --inflate 310",
       "--inflate: \"310\": Enter a pressure from 30 to 300 mmHg."},
      {"measure --mode adult --timeout 0",
       "--timeout: \"0\" is not a number of seconds above 0, at most 86400"},
      {"measure --mode adult --expect sys=120",
       "--expect: not a limit: \"sys=120\" (NAME=VALUE:TOLERANCE, NAME sys, dia, hr or map)"},
      {"measure --mode adult 3", "measure: unexpected argument \"3\""},
      {"ports all", "ports: unexpected argument \"all\""},
      {"map COM3", "map: give the port and the device (map COM3 /dev/ttyUSB0)"},
      {"unmap", "unmap: give the port (unmap COM3)"},
      {"unmap COM3 --listen 1", "--listen is not an option of unmap"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const ParseResult r = Parse(c.line);
    EXPECT_FALSE(r.options.has_value());
    EXPECT_EQ(r.error, c.error);
  }
}

TEST(CliOptions, ValidLinesAndInfoRequests) {
  const ParseResult send = Parse(
      "--json send set-pressure=30 --port com12 pneumatics=1,0,1 "
      "--listen=0.5 start-pediatric");
  ASSERT_TRUE(send.options) << send.error;
  EXPECT_TRUE(send.options->json);
  EXPECT_EQ(send.options->port, 12);
  const auto& s = std::get<SendOptions>(send.options->command);
  EXPECT_EQ(s.listenSeconds, 0.5);
  EXPECT_EQ(s.commands, (std::vector<commands::Request>{
                            commands::SetPressure(30), commands::Pneumatics(true, false, true),
                            commands::Simple(commands::Command::kStartPediatric)}));

  const ParseResult measure = Parse(
      "--device /dev/ttyUSB0 measure --mode neonate --inflate 300 --count 100 --rest 2 "
      "--timeout 60 --csv run.csv --expect hr=72:3");
  ASSERT_TRUE(measure.options) << measure.error;
  EXPECT_EQ(measure.options->device, "/dev/ttyUSB0");
  const auto& m = std::get<MeasureOptions>(measure.options->command);
  EXPECT_EQ(m.mode, Mode::kNeonate);
  EXPECT_EQ(m.inflate, 300u);
  EXPECT_EQ(m.count, 100);
  EXPECT_EQ(m.restSeconds, 2);
  EXPECT_EQ(m.timeoutSeconds, 60);
  EXPECT_EQ(m.csvPath, "run.csv");
  EXPECT_FALSE(m.limits[results::Quantity::kSystolic]);
  EXPECT_EQ(m.limits[results::Quantity::kHeartRate]->value, 72);

  const ParseResult check = Parse(
      "--port COM3 --port COM4 check overpressure leak repeat --limit 290 --window -5:+15 "
      "--target 200 --hold 20 --settle 2 --ceiling 330 --pump-limit 30 --count 3 --mode neonate "
      "--report r.html --operator A --reference-due 2027-01-31");
  ASSERT_TRUE(check.options) << check.error;
  EXPECT_EQ(check.options->ports, (std::vector<uint8_t>{3, 4}));
  const auto& c = std::get<CheckOptions>(check.options->command);
  EXPECT_EQ(c.checks,
            (std::vector<checks::CheckKind>{checks::CheckKind::kOverpressure,
                                            checks::CheckKind::kLeak, checks::CheckKind::kRepeat}));
  EXPECT_EQ(c.params.overpressure.limitMmHg, 290);
  EXPECT_EQ(c.params.leak.limitMmHgMin, 290);
  EXPECT_EQ(c.params.overpressure.windowBelowMmHg, 5);
  EXPECT_EQ(c.params.overpressure.windowAboveMmHg, 15);
  EXPECT_EQ(c.params.leak.targetMmHg, 200);
  EXPECT_EQ(c.params.leak.holdS, 20);
  EXPECT_EQ(c.params.statics.settleS, 2);
  EXPECT_EQ(c.params.safety.ceilingMmHg, 330);
  EXPECT_EQ(c.params.safety.pumpLimitS, 30);
  EXPECT_EQ(c.params.repeat.count, 3);
  EXPECT_EQ(c.params.repeat.mode, Mode::kNeonate);
  EXPECT_EQ(c.reportPath + c.operatorName + c.referenceDue, "r.htmlA2027-01-31");

  EXPECT_FALSE(std::get<WatchOptions>(Parse("watch").options->command).durationSeconds);
  EXPECT_TRUE(std::holds_alternative<PortsOptions>(Parse("--json ports").options->command));
  const auto map = std::get<MapOptions>(Parse("map com3 /dev/ttyUSB0").options->command);
  EXPECT_EQ(map.name + " " + map.device, "com3 /dev/ttyUSB0");
  // --help and --version win over everything else, errors included, up to "--".
  EXPECT_EQ(Parse("measure --count x --version").info, program::InfoRequest::kVersion);
  EXPECT_EQ(Parse("--bogus --help").info, program::InfoRequest::kHelp);
  EXPECT_EQ(Parse("send -- --help").info, program::InfoRequest::kNone);
}

// The programs' one number parser: what the options of nibp-cli and nibp-sim take.
TEST(Numbers, PlainDecimalsWithinTheirRange) {
  const struct {
    const char* text;
    double min, max;
    std::optional<double> number;
  } cases[] = {
      {"12", 0, 100, 12},   {"0.5", 0, 1, 0.5}, {"1", 0, 1, 1},          {"1.5", 0, 1, {}},
      {"-1", 0, 10, {}},    {"+1", 0, 10, {}},  {"1e3", 0, 1e6, {}},     {".5", 0, 1, {}},
      {" 1", 0, 10, {}},    {"", 0, 10, {}},    {"-2.5", -10, 10, -2.5}, {"-11", -10, 10, {}},
      {"--1", -10, 10, {}}, {"nan", 0, 10, {}}, {"inf", 0, 1e308, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(program::ParseNumber(c.text, c.min, c.max), c.number) << c.text;
  }
  EXPECT_EQ(program::ParseWhole("-5", -10, 10), -5);
  EXPECT_EQ(program::ParseWhole("-5", 0, 10), std::nullopt);
  EXPECT_EQ(program::ParseWhole("5.0", 0, 10), std::nullopt);
  EXPECT_EQ(program::ParseCount("18446744073709551615", 0, UINT64_MAX), UINT64_MAX);
  EXPECT_EQ(program::ParseCount("18446744073709551616", 0, UINT64_MAX), std::nullopt);
  EXPECT_EQ(program::ParseCount("-1", 0, UINT64_MAX), std::nullopt);
}

TEST(CliExpect, Grammar) {
  struct Case {
    const char* text;
    const char* limits;  // "sys=120:5 ..." as parsed, or the error
  };
  const std::vector<Case> cases = {
      {"sys=120:5,dia=80:5,hr=72:3,map=93:5", "sys=120:5 dia=80:5 hr=72:3 map=93:5"},
      {"map=93.5:0.5", "map=93.5:0.5"},
      {"hr=72:0,sys=120:10", "sys=120:10 hr=72:0"},
      {"", "--expect: no limits given: \"\" (NAME=VALUE:TOLERANCE, NAME sys, dia, hr or map)"},
      {"pulse=72:3",
       "--expect: unknown value: \"pulse=72:3\" (NAME=VALUE:TOLERANCE, NAME sys, "
       "dia, hr or map)"},
      {"sys=120:5,",
       "--expect: not a limit: \"\" (NAME=VALUE:TOLERANCE, NAME sys, dia, hr or map)"},
      {"sys=120:5,sys=110:5",
       "--expect: given twice: \"sys=110:5\" (NAME=VALUE:TOLERANCE, NAME "
       "sys, dia, hr or map)"},
      {"sys:5=120",
       "--expect: not a limit: \"sys:5=120\" (NAME=VALUE:TOLERANCE, NAME sys, dia, "
       "hr or map)"},
      {"sys=120:-5",
       "--expect: not a number from 0 to 1000: \"sys=120:-5\" "
       "(NAME=VALUE:TOLERANCE, NAME sys, dia, hr or map)"},
      {"sys=abc:5",
       "--expect: not a number from 0 to 1000: \"sys=abc:5\" "
       "(NAME=VALUE:TOLERANCE, NAME sys, dia, hr or map)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const results::ExpectParse e = results::ParseExpect(c.text);
    std::string got = e.error;
    if (e.limits) {
      for (const results::Quantity q : {results::Quantity::kSystolic, results::Quantity::kDiastolic,
                                        results::Quantity::kHeartRate, results::Quantity::kMap}) {
        if (const auto& l = (*e.limits)[q]) {
          if (!got.empty()) got += ' ';
          std::ostringstream s;
          s << results::ExpectName(q) << '=' << l->value << ':' << l->tolerance;
          got += s.str();
        }
      }
    }
    EXPECT_EQ(got, c.limits);
  }
}

TEST(CliExpect, BoundsAreInside) {
  const results::Limits limits = *results::ParseExpect("sys=120:5,hr=72:0").limits;
  struct Case {
    uint16_t sys, hr;
    std::vector<std::string> violations;
  };
  const std::vector<Case> cases = {
      {125, 72, {}},
      {115, 72, {}},
      {126, 72, {"systolic 126 outside 120:5"}},
      {114, 71, {"systolic 114 outside 120:5", "heart_rate 71 outside 72:0"}},
  };
  for (const auto& c : cases) {
    protocol::BpData bp;
    bp.systolic = c.sys;
    bp.heartRate = c.hr;
    EXPECT_EQ(Violations(limits, bp), c.violations);
  }
}

// The one command table: each command's frame, its event lines and its chart marker, as the
// console, nibp-cli and the chart use them.
TEST(CommandTable, FramesEventLinesAndMarkers) {
  using commands::Command;
  using commands::Pneumatics;
  using commands::Simple;
  struct Case {
    commands::Request command;
    std::string raw;
    std::vector<std::string> events;
    std::optional<std::string> marker;
  };
  const std::vector<Case> cases = {
      {commands::SetPressure(180),
       "PC --> MODULE <3A><17><B4><00><FB>",
       {"-- Set Initial Inflate to 180 --"},
       "Set 180"},
      {Simple(Command::kStartAdult),
       "PC --> MODULE <3A><20><A6>",
       {"-- Start Adult BP --"},
       "Start Adult BP"},
      {Simple(Command::kStartNeonate),
       "PC --> MODULE <3A><28><9E>",
       {"-- Start Neonate BP --"},
       "Start Neonate BP"},
      {Simple(Command::kStartPediatric),
       "PC --> MODULE <3A><87><3F>",
       {"-- Start Pediatric BP --"},
       "Start Pediatric BP"},
      {Simple(Command::kAbortBp),
       "PC --> MODULE <3A><79><01><00><4C>",
       {"-- Abort BP --"},
       "Abort BP"},
      {Simple(Command::kGetPressure),
       "PC --> MODULE <3A><79><05><00><48>",
       {"-- Get Pressure --"},
       std::nullopt},
      {Simple(Command::kGetBpData),
       "PC --> MODULE <3A><79><03><00><4A>",
       {"-- Get BP Data --"},
       std::nullopt},
      // The console's boxes: the one frame, named by the box clicked.
      {Pneumatics(true, false, true, Command::kPump), "", {"-- Start Pump --"}, "Start Pump"},
      {Pneumatics(false, true, false, Command::kControlValve),
       "",
       {"-- Closed Control Valve --"},
       "Closed Control Valve"},
      {Pneumatics(true, false, false, Command::kDumpValve),
       "",
       {"-- open Dump Valve --"},
       "open Dump Valve"},
      {Pneumatics(true, false, true),
       "",
       {"-- Start Pump --", "-- open Control Valve --", "-- Closed Dump Valve --"},
       "Pneumatics 1,0,1"},
  };
  for (const auto& c : cases) {
    protocol::TxBuf tx{};
    const size_t n = commands::BuildFrame(c.command, tx);
    if (!c.raw.empty()) {
      EXPECT_EQ(protocol::RenderRaw(protocol::kPrefixSent, std::span(tx.data(), n)), c.raw);
    } else {
      protocol::TxBuf expected{};
      const size_t m = protocol::BuildPneumatics(expected, c.command.pump, c.command.controlClosed,
                                                 c.command.dumpClosed);
      EXPECT_EQ(std::vector<uint8_t>(tx.begin(), tx.begin() + static_cast<long>(n)),
                std::vector<uint8_t>(expected.begin(), expected.begin() + static_cast<long>(m)));
    }
    EXPECT_EQ(commands::EventLines(c.command), c.events);
    EXPECT_EQ(commands::MarkerLabel(c.command), c.marker);
  }
}

// Pressures as polled every 250 ms; the index of the sample that ends the measurement, or -1.
TEST(CliEndDetector, RecordedSequences) {
  struct Case {
    const char* name;
    std::vector<int> mmHg;
    int endsAt;
    int peak;
  };
  const std::vector<Case> cases = {
      {"a plain measurement", {0, 40, 120, 160, 150, 120, 90, 60, 30, 4, 2, 1, 0, 0, 0}, 13, 160},
      {"a re-inflation after a short dip",
       {0, 60, 160, 130, 100, 4, 3, 80, 200, 150, 70, 3, 2, 1, 0, 0, 0},
       15,
       200},
      {"an abort early in the inflation", {0, 25, 50, 10, 3, 0, 0, 0, 0, 0}, 8, 50},
      {"a cuff that never comes down", {0, 80, 160, 150, 140, 140, 140, 140, 140, 140}, -1, 160},
      {"a cuff that never rises", {0, 3, 12, 20, 4, 0, 0, 0, 0, 0, 0}, -1, 20},
      {"a cuff left low by the last measurement", {3, 4, 2, 30, 8, 4, 4, 4, 4, 4}, 9, 30},
      {"hovering at 5 is not down", {0, 100, 5, 5, 5, 5, 5, 5, 5}, -1, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    results::EndDetector d;
    int endedAt = -1;
    for (size_t i = 0; i < c.mmHg.size(); ++i) {
      if (d.Feed(static_cast<int64_t>(i) * 250 + 1000000, c.mmHg[i]) && endedAt < 0) {
        endedAt = static_cast<int>(i);
      }
    }
    EXPECT_EQ(endedAt, c.endsAt);
    EXPECT_EQ(d.Ended(), c.endsAt >= 0);
    EXPECT_EQ(d.Peak(), c.peak);
  }
}

results::MeasurementRow Row(long index, uint16_t sys, uint16_t dia, uint16_t hr, uint16_t map,
                            uint8_t err = 0) {
  results::MeasurementRow r;
  r.index = index;
  r.startMs = 1796635801123;  // 2026-12-07 09:30:01.123 UTC
  r.durationS = 31.25;
  r.peakMmHg = 180;
  r.bp = {.systolic = sys,
          .diastolic = dia,
          .heartRate = hr,
          .map = map,
          .sq = 74,
          .err = err,
          .status = 0x80,
          .tc = {0x52, 0x01, 0xB4, 0x00, 0x0E, 0x0B, 0x00, 0x02}};
  return r;
}

struct TimeZoneUtc : ::testing::Test {
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

TEST_F(TimeZoneUtc, CsvAndSummaryOfAKnownTable) {
  EXPECT_EQ(std::string(results::kCsvHeader),
            "index,start,duration_s,peak_mmHg,systolic,diastolic,heart_rate,map,sq,err,status,tc,"
            "mode");
  EXPECT_EQ(results::CsvRow(Row(1, 120, 80, 72, 93)),
            "1,2026-12-07T09:30:01.123+00:00,31.2,180,120,80,72,93,74,0,128,\"52 01 b4 00 0e 0b 00 "
            "02\",");
  results::MeasurementRow neonate = Row(2, 120, 80, 72, 93);
  neonate.mode = Mode::kNeonate;
  EXPECT_EQ(results::CsvRow(neonate),
            "2,2026-12-07T09:30:01.123+00:00,31.2,180,120,80,72,93,74,0,128,\"52 01 b4 00 0e 0b 00 "
            "02\",neonate");

  // Sample SD: systolic 118, 120, 125 has mean 121.0 and SD sqrt(13) = 3.6; the aborted row
  // (Err 1) counts for neither.
  const std::vector<results::MeasurementRow> rows = {Row(1, 118, 80, 70, 93),
                                                     Row(2, 120, 78, 72, 92), Row(3, 0, 0, 0, 0, 1),
                                                     Row(4, 125, 83, 77, 97)};
  EXPECT_EQ(results::SummaryText(rows),
            "n=3   Systolic: mean 121.0, SD 3.6, min 118.0, max 125.0   Diastolic: mean 80.3, SD "
            "2.5, min 78.0, max 83.0   Heart rate: mean 73.0, SD 3.6, min 70.0, max 77.0   MAP: "
            "mean 94.0, SD 2.6, min 92.0, max 97.0");
  EXPECT_EQ(results::SummaryJson({Row(1, 120, 80, 72, 93)}),
            "{\"n\":1,\"systolic\":{\"mean\":120.0,\"sd\":0.0,\"min\":120.0,\"max\":120.0},"
            "\"diastolic\":{\"mean\":80.0,\"sd\":0.0,\"min\":80.0,\"max\":80.0},"
            "\"heart_rate\":{\"mean\":72.0,\"sd\":0.0,\"min\":72.0,\"max\":72.0},"
            "\"map\":{\"mean\":93.0,\"sd\":0.0,\"min\":93.0,\"max\":93.0}}");
  EXPECT_EQ(results::SummaryText({Row(1, 0, 0, 0, 0, 2)}), "n=0");
  EXPECT_EQ(results::SummaryJson({}), "{\"n\":0}");
}

TEST_F(TimeZoneUtc, JsonRecordsCarryTheSessionFields) {
  struct Case {
    records::Tag tag;
    std::string text;
    std::string json;
  };
  const std::vector<Case> cases = {
      {records::Tag::kEvent, "Cuff pressure: 160",
       R"({"time":"2026-12-07T09:30:01.123+00:00","tag":"E","text":"Cuff pressure: 160"})"},
      {records::Tag::kRaw, "PC <-- MODULE <3E><04><4B><73>",
       R"({"time":"2026-12-07T09:30:01.123+00:00","tag":"R","text":"PC <-- MODULE <3E><04><4B><73>"})"},
      // Bytes are Latin-1; quotes, backslashes and control characters are escaped.
      {records::Tag::kEvent, "Reply: \xE9",
       "{\"time\":\"2026-12-07T09:30:01.123+00:00\",\"tag\":"
       "\"E\",\"text\":\"Reply: \xC3\xA9\"}"},
      {records::Tag::kEvent, std::string("Reply: \"\\\x01", 10),
       R"({"time":"2026-12-07T09:30:01.123+00:00","tag":"E","text":"Reply: \"\\\u0001"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonRecord(1796635801123, c.tag, c.text), c.json);

  // A result's first line carries its numbers; the mode is null when the start was not seen.
  const protocol::BpData bp = Row(1, 121, 79, 65, 92, 1).bp;
  const std::string text = "BP Data: 121 / 79 mmHg Heart: 65  MAP: 92";
  const std::string fields =
      R"("systolic":121,"diastolic":79,"heart_rate":65,"map":92,"sq":74,"err":1,"status":128,)"
      R"("tc":"52 01 b4 00 0e 0b 00 02","mode")";
  const std::string head =
      R"({"time":"2026-12-07T09:30:01.123+00:00","tag":"E","text":")" + text + R"(",)";
  EXPECT_EQ(JsonResult(1796635801123, text, bp, commands::Mode::kPediatric),
            head + fields + R"(:"pediatric"})");
  EXPECT_EQ(JsonResult(1796635801123, text, bp, std::nullopt), head + fields + ":null}");
}

}  // namespace
