#include "checks/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "checks/gauge.h"
#include "checks/report.h"
#include "records/record_format.h"
#include "support/json_value.h"
#include "support/temp_folder.h"

namespace {

using checks::CheckKind;
using checks::Verdict;
using commands::Command;
using commands::Request;

// A cuff behind the link, as small as the checks need: the pump fills it, open valves empty it,
// a hole leaks it, the sensor reads it with an offset and a gain, the module may dump it by
// itself above a pressure. Times in milliseconds.
modlink::Event Ev(int64_t ms, modlink::EventKind kind) {
  modlink::Event e;
  e.ms = ms;
  e.kind = kind;
  return e;
}

struct CuffScript {
  double pumpMmHgS = 20;
  double leakMmHgMin = 0;  // at 250 mmHg, in proportion
  double offset = 0;
  double gain = 1;
  int releaseAbove = 0;  // the module dumps above this; 0: never
  double stallMmHg = 360;
  int64_t lostAtMs = -1;    // the device goes away
  int64_t abortAtMs = -1;   // a signal
  int64_t silentAtMs = -1;  // the module stops answering
  int measurementPeak = 160;
  protocol::BpData bp{.systolic = 120, .diastolic = 80, .heartRate = 72, .map = 93};
};

class Bench final : public checks::CommandOut {
 public:
  explicit Bench(CuffScript s) : s_(s) {}

  SendResult Send(const Request& r) override {
    // What the engine asked for last, even where it could not go out.
    if (r.command == Command::kPneumatics) valves_ = r;
    if (lost_) return SendResult::kLost;
    sent_.push_back(r);
    if (r.command == Command::kPneumatics) measuring_ = -1;
    if (r.command == Command::kGetPressure) pollDue_ = true;
    if (r.command == Command::kStartAdult) measuring_ = now_;
    if (r.command == Command::kGetBpData && measuring_ < 0 && measured_) bpDue_ = true;
    return SendResult::kSent;
  }

  // Runs the engine until it is done, or 20 simulated minutes.
  void Run(checks::Engine& e) {
    e.Start(now_);
    const int64_t end = now_ + 1'200'000;
    while (!e.Done() && now_ < end) {
      now_ += 10;
      Step(0.010);
      if (now_ == s_.lostAtMs) {
        lost_ = true;
        e.OnEvent(Ev(now_, modlink::EventKind::kPortLost));
      }
      if (now_ == s_.abortAtMs) e.Abort("stopped by a signal", now_);
      if (pollDue_ && !lost_ && (s_.silentAtMs < 0 || now_ < s_.silentAtMs)) {
        pollDue_ = false;
        auto ev = Ev(now_, modlink::EventKind::kCuffPressure);
        ev.mmHg = Reading();
        e.OnEvent(ev);
      }
      if (bpDue_) {
        bpDue_ = false;
        auto ev = Ev(now_, modlink::EventKind::kBpData);
        ev.bp = s_.bp;
        e.OnEvent(ev);
      }
      e.OnTick(now_);
    }
  }

  [[nodiscard]] double True() const { return p_; }
  [[nodiscard]] int64_t now() const { return now_; }
  [[nodiscard]] Request LastPneumatics() const { return valves_; }
  [[nodiscard]] const std::vector<Request>& sent() const { return sent_; }

 private:
  uint16_t Reading() const {
    return static_cast<uint16_t>(std::max(0.0, std::round(p_ * s_.gain + s_.offset)));
  }

  void Step(double dt) {
    if (measuring_ >= 0) {
      // A measurement: up to its peak in 8 s, down in 12 s.
      const double t = static_cast<double>(now_ - measuring_) / 1000.0;
      p_ = t < 8 ? s_.measurementPeak * t / 8
                 : std::max(0.0, s_.measurementPeak * (1 - (t - 8) / 12));
      if (t > 21) {
        measuring_ = -1;
        measured_ = true;
      }
      return;
    }
    if (s_.releaseAbove > 0 && p_ > s_.releaseAbove) dumping_ = true;
    if (dumping_ || !valves_.dumpClosed) {
      p_ -= p_ * 3.0 * dt;
      if (p_ < 2) dumping_ = false;
    } else if (!valves_.controlClosed) {
      p_ -= p_ * 0.2 * dt;
    } else if (valves_.pump) {
      p_ = std::min(p_ + s_.pumpMmHgS * dt, s_.stallMmHg);
    }
    p_ -= s_.leakMmHgMin / 60.0 * (p_ / 250.0) * dt;
  }

  CuffScript s_;
  int64_t now_ = 1'700'000'000'000;
  double p_ = 0;
  Request valves_ = commands::kAllOff;
  bool pollDue_ = false, bpDue_ = false, lost_ = false, dumping_ = false, measured_ = false;
  int64_t measuring_ = -1;
  std::vector<Request> sent_;
};

// The true cuff pressure when asked: a perfect gauge.
class TrueGauge final : public checks::ReferenceSource {
 public:
  explicit TrueGauge(const Bench& b) : b_(b) {}
  checks::ReferenceAnswer Read(size_t, int, int64_t) override {
    return {.state = checks::ReferenceAnswer::State::kValue, .mmHg = b_.True(), .reason = {}};
  }

 private:
  const Bench& b_;
};

class Logs final : public checks::Observer {
 public:
  void OnLog(std::string_view line) override { lines.emplace_back(line); }
  void OnProgress(const checks::Progress& p) override { phases.push_back(p.phase); }
  std::vector<std::string> lines, phases;
};

struct Row {
  const char* name;
  std::vector<CheckKind> checks;
  CuffScript cuff;
  std::function<void(checks::Params&)> tune;
  std::vector<Verdict> verdicts;
  const char* reason;  // of the last check; "" none
  const char* log;     // the last log line; "" none
};

TEST(ChecksEngine, VerdictsOverScriptedCuffs) {
  const auto shortHold = [](checks::Params& p) {
    p.leak.holdS = 20;
    p.statics.pointsMmHg = {0, 100, 250};
  };
  const std::vector<Row> rows = {
      {"healthy leak", {CheckKind::kLeak}, {}, shortHold, {Verdict::kPass}, "", ""},
      {"leaky",
       {CheckKind::kLeak},
       {.leakMmHgMin = 10},
       shortHold,
       {Verdict::kFail},
       "leak rate 10.2 mmHg/min above the limit of 6.0 mmHg/min",
       ""},
      {"target not reached",
       {CheckKind::kLeak},
       {.stallMmHg = 200},
       shortHold,
       {Verdict::kFail},
       "target not reached: the cuff or the line leaks",
       "Safety: target not reached: the cuff or the line leaks"},
      {"ceiling hit",
       {CheckKind::kLeak},
       {.pumpMmHgS = 440},
       [](checks::Params& p) { p.leak.targetMmHg = 300; },
       {Verdict::kAborted},
       "cuff at 334 mmHg, above the ceiling of 320 mmHg",
       ""},
      {"device lost mid-hold",
       {CheckKind::kLeak, CheckKind::kStatic},
       {.lostAtMs = 1'700'000'000'000 + 30'000},
       shortHold,
       {Verdict::kAborted},
       "device lost",
       "Safety: the cuff could not be vented (device lost); vent it once the port takes commands "
       "again"},
      {"signal mid-check",
       {CheckKind::kLeak},
       {.abortAtMs = 1'700'000'000'000 + 5'000},
       shortHold,
       {Verdict::kAborted},
       "stopped by a signal",
       "Safety: stopped by a signal"},
      {"module silent mid-hold",
       {CheckKind::kLeak},
       {.silentAtMs = 1'700'000'000'000 + 30'000},
       shortHold,
       {Verdict::kAborted},
       "no cuff pressure reply for 3 s",
       "Safety: no cuff pressure reply for 3 s"},
      {"static offset within",
       {CheckKind::kStatic},
       {.offset = 2},
       shortHold,
       {Verdict::kPass},
       "",
       ""},
      {"static gain beyond",
       {CheckKind::kStatic},
       {.offset = 1, .gain = 1.02},
       shortHold,
       {Verdict::kFail},
       "error 5.8 mmHg at 250 mmHg, beyond the limit of 3.0 mmHg",
       ""},
      {"static, points going down: bled to each",
       {CheckKind::kStatic},
       {},
       [](checks::Params& p) {
         p.statics.pointsMmHg = {250, 100, 0};
       },
       {Verdict::kPass},
       "",
       ""},
      {"release inside the window",
       {CheckKind::kOverpressure},
       {.releaseAbove = 310},
       {},
       {Verdict::kPass},
       "",
       ""},
      {"release outside the window",
       {CheckKind::kOverpressure},
       {.releaseAbove = 270},
       {},
       {Verdict::kFail},
       "released at 270 mmHg, outside 290 to 320 mmHg",
       ""},
      {"no release by the ceiling",
       {CheckKind::kOverpressure},
       {},
       {},
       {Verdict::kFail},
       "no release by 330 mmHg",
       "Safety: no release by 330 mmHg"},
      {"chain goes on after FAIL",
       {CheckKind::kLeak, CheckKind::kOverpressure},
       {.leakMmHgMin = 10, .releaseAbove = 310},
       shortHold,
       {Verdict::kFail, Verdict::kPass},
       "",
       ""},
      {"chain stops at ABORTED",
       {CheckKind::kLeak, CheckKind::kOverpressure},
       {.pumpMmHgS = 440},
       [](checks::Params& p) { p.leak.targetMmHg = 300; },
       {Verdict::kAborted},
       "",
       ""},
      {"repeat without limits",
       {CheckKind::kRepeat},
       {},
       [](checks::Params& p) { p.repeat.count = 2; },
       {Verdict::kInfo},
       "",
       ""},
      {"repeat beyond --expect",
       {CheckKind::kRepeat},
       {},
       [](checks::Params& p) {
         p.repeat.count = 2;
         p.repeat.limits = *results::ParseExpect("sys=130:5").limits;
       },
       {Verdict::kFail},
       "measurement 1: systolic 120 outside 130:5",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    checks::Params params;
    if (row.tune) row.tune(params);
    ASSERT_EQ(checks::Validate(row.checks, params), std::nullopt);
    Bench bench(row.cuff);
    TrueGauge gauge(bench);
    Logs logs;
    checks::Engine engine(row.checks, params, bench, &gauge, &logs);
    bench.Run(engine);
    ASSERT_TRUE(engine.Done());
    std::vector<Verdict> verdicts;
    for (const auto& r : engine.Results()) verdicts.push_back(r.verdict);
    EXPECT_EQ(verdicts, row.verdicts);
    if (*row.reason) {
      EXPECT_EQ(engine.Results().back().reason, row.reason);
    }
    if (*row.log) {
      EXPECT_EQ(logs.lines.empty() ? "" : logs.lines.back(), row.log);
    }
    // However it ended: pump off, both valves open, asked for even where it could not go out.
    EXPECT_EQ(bench.LastPneumatics(), commands::kAllOff);
    EXPECT_EQ(engine.VentUnsent(), row.cuff.lostAtMs >= 0);
  }
}

TEST(ChecksEngine, NumbersOfEachCheck) {
  checks::Params params;
  params.leak.holdS = 20;
  params.statics.pointsMmHg = {0, 150};
  Bench bench({.leakMmHgMin = 12, .offset = 2, .releaseAbove = 305});
  TrueGauge gauge(bench);
  checks::Engine engine({CheckKind::kLeak, CheckKind::kStatic, CheckKind::kOverpressure}, params,
                        bench, &gauge);
  bench.Run(engine);
  ASSERT_EQ(engine.Results().size(), 3u);
  const auto& leak = std::get<checks::LeakResult>(engine.Results()[0].findings);
  // 12 mmHg/min at 250 in proportion: about 11.7 at the hold's pressures (252 down to 248).
  EXPECT_NEAR(leak.rateMmHgMin, 12.0 * 250 / 250, 0.6);
  EXPECT_EQ(leak.dropMmHg, leak.startMmHg - leak.endMmHg);
  EXPECT_NEAR(leak.dropMmHg, leak.rateMmHgMin / 3, 1.5);
  const auto& st = std::get<checks::StaticResult>(engine.Results()[1].findings);
  ASSERT_EQ(st.points.size(), 2u);
  for (const auto& p : st.points) {
    EXPECT_NEAR(p.errorMmHg, 2.0, 0.6) << p.targetMmHg;
    EXPECT_DOUBLE_EQ(p.errorMmHg, checks::OneDecimal(p.moduleMmHg - p.referenceMmHg));
  }
  const auto& op = std::get<checks::OverpressureResult>(engine.Results()[2].findings);
  EXPECT_TRUE(op.released);
  EXPECT_NEAR(op.peakMmHg, 307, 3);
  EXPECT_GT(op.releaseS, 10);  // 20 mmHg/s from near empty
  ASSERT_TRUE(op.after2sMmHg);
  EXPECT_LT(*op.after2sMmHg, 10);
  // The trace and the shading cover the whole run.
  EXPECT_GT(engine.Trace().size(), 100u);
  EXPECT_EQ(engine.Phases().front().name, "pump");
  for (const auto& span : engine.Phases()) EXPECT_LE(span.fromMs, span.toMs);
}

TEST(ChecksEngine, LeakRateIsTheLeastSquaresSlope) {
  struct Case {
    std::vector<checks::TracePoint> readings;
    double rate;
  };
  const std::vector<Case> cases = {
      {{{0, 250}, {60'000, 244}}, 6.0},
      {{{0, 250}, {15'000, 248}, {30'000, 247}, {45'000, 246}, {60'000, 245}}, 4.8},
      {{{0, 250}, {30'000, 250}}, 0.0},
      {{{0, 240}, {30'000, 241}}, -2.0},  // rising: a negative leak
      {{{0, 250}}, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(checks::OneDecimal(checks::LeakRateMmHgMin(c.readings)), c.rate);
  }
}

TEST(ChecksEngine, ProgressTexts) {
  checks::Params params;
  params.leak.holdS = 20;
  Bench bench({});
  Logs logs;
  checks::Engine engine({CheckKind::kLeak}, params, bench, nullptr, &logs);
  bench.Run(engine);
  for (const char* text :
       {"Pumping to 250 mmHg", "Settling: 3 s left", "Holding: 12 s left", "Releasing"}) {
    EXPECT_NE(std::find(logs.phases.begin(), logs.phases.end(), text), logs.phases.end()) << text;
  }
}

TEST(ChecksGauge, LinesAndUnits) {
  struct Case {
    const char* line;
    checks::Unit unit;
    std::optional<double> mmHg;
  };
  const std::vector<Case> cases = {
      {"123.4 mmHg", checks::Unit::kMmHg, 123.4},      {"  P= -0.5", checks::Unit::kMmHg, -0.5},
      {"ST,+016.00,kPa", checks::Unit::kKPa, 120.009}, {"100 cmH2O", checks::Unit::kCmH2O, 73.556},
      {"ERR", checks::Unit::kMmHg, std::nullopt},      {"", checks::Unit::kMmHg, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto v = checks::ParseGaugeLine(c.line, c.unit);
    ASSERT_EQ(v.has_value(), c.mmHg.has_value()) << c.line;
    if (v) {
      EXPECT_NEAR(*v, *c.mmHg, 0.001) << c.line;
    }
  }
  EXPECT_EQ(checks::ParseUnit("kPa"), checks::Unit::kKPa);
  EXPECT_EQ(checks::ParseUnit("psi"), std::nullopt);
}

TEST(ChecksGauge, ReferenceIsTheFreshestLine) {
  checks::GaugeReference gauge(checks::Unit::kKPa);
  using State = checks::ReferenceAnswer::State;
  struct Step {
    const char* line;  // fed at `ms` before the read; nullptr for none
    int64_t ms;
    State state;
    double mmHg;
  };
  const std::vector<Step> steps = {
      {nullptr, 0, State::kPending, 0},          // nothing heard yet
      {"13.33 kPa", 100, State::kValue, 99.98},  // fresh
      {"garbage", 900, State::kValue, 99.98},    // a line without a number changes nothing
      {nullptr, 1200, State::kPending, 0},       // stale: 1.1 s old
      {nullptr, 6300, State::kFailed, 0},        // waited 5 s since it went stale
      {"20.00 kPa", 7000, State::kValue, 150.01},
  };
  for (const Step& s : steps) {
    if (s.line) gauge.OnLine(s.line, s.ms);
    const checks::ReferenceAnswer a = gauge.Read(0, 100, s.ms);
    EXPECT_EQ(a.state, s.state) << s.ms;
    if (a.state == State::kValue) {
      EXPECT_NEAR(a.mmHg, s.mmHg, 0.01) << s.ms;
    }
  }
}

TEST(ChecksEngine, RefusedParameters) {
  const std::vector<CheckKind> leak = {CheckKind::kLeak};
  checks::Params p;
  p.safety.ceilingMmHg = 331;
  EXPECT_TRUE(checks::Validate(leak, p));
  p.safety.ceilingMmHg = 240;  // below the leak's target
  EXPECT_TRUE(checks::Validate(leak, p));
  EXPECT_EQ(checks::PreconditionFailure(false, false), "the port is not open");
  EXPECT_EQ(checks::PreconditionFailure(true, true), "a measurement is running");
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(ChecksReport, JsonReadBackHoldsTheEnginesNumbers) {
  checks::Params params;
  params.leak.holdS = 20;
  params.statics.pointsMmHg = {0, 150};
  params.repeat.limits = *results::ParseExpect("sys=120:5").limits;
  Bench bench({.leakMmHgMin = 12, .offset = 2, .releaseAbove = 305});
  TrueGauge gauge(bench);
  checks::Engine engine(
      {CheckKind::kLeak, CheckKind::kStatic, CheckKind::kOverpressure, CheckKind::kRepeat}, params,
      bench, &gauge);
  bench.Run(engine);
  const checks::RunRecord run = checks::RecordOf(engine);
  const checks::ReportInfo info{.operatorName = "A. \"Tester\"",
                                .moduleId = "M-17",
                                .port = "COM1",
                                .device = "/dev/pts/9",
                                .referenceName = "Gauge 4",
                                .referenceDue = "2000-01-31"};
  testsupport::TempFolder dir;
  const std::string html = (dir.path / "report.html").string();
  ASSERT_EQ(checks::WriteReports(html, info, run), "");
  const auto json = testsupport::JsonReader::Parse(ReadAll(dir.path / "report.json"));
  ASSERT_TRUE(json);
  const auto& j = *json;
  EXPECT_EQ(j["verdict"].text, "FAIL");  // the leak
  EXPECT_EQ(j["started"].text, records::IsoLocal(run.startMs));
  EXPECT_FALSE(j["program_version"].text.empty());
  EXPECT_EQ(j["operator"].text, "A. \"Tester\"");
  EXPECT_EQ(j["module_id"].text, "M-17");
  EXPECT_EQ(j["port"].text, "COM1");
  EXPECT_EQ(j["device"].text, "/dev/pts/9");
  EXPECT_EQ(j["reference"]["name"].text, "Gauge 4");
  EXPECT_EQ(j["reference"]["due"].text, "2000-01-31");
  EXPECT_TRUE(j["reference"]["due_past"].boolean);
  ASSERT_EQ(j["checks"].items.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const auto& c = j["checks"][i];
    EXPECT_EQ(c["name"].text, checks::CheckName(run.results[i].kind));
    EXPECT_EQ(c["verdict"].text, checks::VerdictName(run.results[i].verdict));
    EXPECT_EQ(c["reason"].text, run.results[i].reason);
    for (const char* key : {"parameters", "limits", "results"}) EXPECT_TRUE(c.Has(key)) << key;
  }
  const auto& leak = std::get<checks::LeakResult>(run.results[0].findings);
  const auto& lr = j["checks"][0]["results"];
  EXPECT_DOUBLE_EQ(lr["leak_rate_mmHg_min"].number, leak.rateMmHgMin);
  EXPECT_EQ(lr["start_mmHg"].number, leak.startMmHg);
  EXPECT_EQ(lr["end_mmHg"].number, leak.endMmHg);
  EXPECT_EQ(lr["drop_mmHg"].number, leak.dropMmHg);
  EXPECT_EQ(j["checks"][0]["limits"]["leak_rate_mmHg_min"].number, 6.0);
  const auto& st = std::get<checks::StaticResult>(run.results[1].findings);
  const auto& points = j["checks"][1]["results"]["points"];
  ASSERT_EQ(points.items.size(), st.points.size());
  for (size_t i = 0; i < st.points.size(); ++i) {
    EXPECT_EQ(points[i]["target_mmHg"].number, st.points[i].targetMmHg);
    EXPECT_DOUBLE_EQ(points[i]["module_mmHg"].number, st.points[i].moduleMmHg);
    EXPECT_DOUBLE_EQ(points[i]["reference_mmHg"].number, st.points[i].referenceMmHg);
    EXPECT_DOUBLE_EQ(points[i]["error_mmHg"].number, st.points[i].errorMmHg);
  }
  const auto& op = std::get<checks::OverpressureResult>(run.results[2].findings);
  const auto& opr = j["checks"][2]["results"];
  EXPECT_EQ(opr["peak_mmHg"].number, op.peakMmHg);
  EXPECT_DOUBLE_EQ(opr["release_s"].number, op.releaseS);
  EXPECT_EQ(opr["after_2s_mmHg"].number, *op.after2sMmHg);
  const auto& rep = j["checks"][3]["results"];
  ASSERT_EQ(rep["rows"].items.size(), 1u);
  EXPECT_EQ(rep["rows"][0]["systolic"].number, 120);
  EXPECT_EQ(
      rep["rows"][0]["start"].text,
      records::IsoLocal(std::get<checks::RepeatResult>(run.results[3].findings).rows[0].startMs));
  EXPECT_EQ(rep["summary"]["n"].number, 1);
  ASSERT_EQ(j["trace"].items.size(), run.trace.size());
  EXPECT_EQ(j["trace"][5][1].number, run.trace[5].mmHg);
  EXPECT_NEAR(j["trace"][5][0].number, (run.trace[5].ms - run.startMs) / 1000.0, 0.0005);

  const std::string page = ReadAll(html);
  EXPECT_NE(page.find("<svg"), std::string::npos);
  EXPECT_NE(page.find("is in the past"), std::string::npos);
  char rate[32];
  std::snprintf(rate, sizeof rate, "<td>%.1f</td>", leak.rateMmHgMin);
  EXPECT_NE(page.find(rate), std::string::npos);
  for (const char* banned : {"<script", "src=", "href=", "@import", "url("}) {
    EXPECT_EQ(page.find(banned), std::string::npos) << banned;
  }
}

TEST(ChecksReport, DueDateWarning) {
  const int64_t start = 1'800'000'000'000;  // 2027-01-15
  const std::string today = records::IsoLocal(start).substr(0, 10);
  checks::ReportInfo info;
  EXPECT_EQ(checks::DueWarning(info, start), std::nullopt);
  info.referenceDue = today;
  EXPECT_EQ(checks::DueWarning(info, start), std::nullopt);
  info.referenceDue = "2020-06-30";
  EXPECT_EQ(checks::DueWarning(info, start), "the reference's due date 2020-06-30 is in the past");
  EXPECT_EQ(checks::JsonPathBeside("out/r-COM2.html"), "out/r-COM2.json");
  EXPECT_EQ(checks::JsonPathBeside("r"), "r.json");
  EXPECT_EQ(checks::ReportPathForPort("out/r.html", "COM2"), "out/r-COM2.html");
}

}  // namespace
