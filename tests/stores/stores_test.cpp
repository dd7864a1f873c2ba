// The stores behind the chart and results windows, fed as the console feeds them: event-log
// lines in, points, markers, rows, summaries and CSV texts out.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "chart/pressure_series.h"
#include "feed/event_feed.h"
#include "files/folders.h"
#include "records/record_format.h"
#include "results/bp_results.h"
#include "settings/key_value.h"
#include "settings/window_place.h"

namespace {

using Labels = std::vector<std::string>;
constexpr int64_t kT0 = 1'796'000'000'000;  // a wall-clock ms

Labels MarkerLabels(const chart::PressureSeries& s) {
  Labels out;
  for (const auto& m : s.Markers()) out.push_back(m.label);
  return out;
}

modlink::Event Sent(commands::Request r, bool sent = true) {
  modlink::Event e;
  e.kind = sent ? modlink::EventKind::kSent : modlink::EventKind::kNotSent;
  e.request = r;
  e.reason = sent ? SendResult::kSent : SendResult::kClosed;
  return e;
}
modlink::Event Cuff(uint16_t mmHg) {
  modlink::Event e;
  e.kind = modlink::EventKind::kCuffPressure;
  e.mmHg = mmHg;
  return e;
}
modlink::Event Bp(protocol::BpData bp) {
  modlink::Event e;
  e.kind = modlink::EventKind::kBpData;
  e.bp = bp;
  return e;
}
modlink::Event Other(modlink::EventKind kind) {
  modlink::Event e;
  e.kind = kind;
  return e;
}

TEST(EventFeed, EventsBecomePointsMarkersAndRows) {
  using commands::Command;
  using commands::Simple;
  using modlink::EventKind;
  const protocol::BpData bp{.systolic = 120, .diastolic = 80, .heartRate = 72, .map = 93};
  const struct {
    const char* name;
    std::vector<modlink::Event> events;
    std::vector<int> points;
    Labels markers;
    size_t rows;
  } cases[] = {
      {"pressures", {Cuff(143), Cuff(0), Cuff(312)}, {143, 0, 312}, {}, 0},
      {"commands",
       {Sent(commands::SetPressure(180)), Sent(Simple(Command::kStartAdult)),
        Sent(Simple(Command::kStartNeonate)), Sent(Simple(Command::kStartPediatric)),
        Sent(Simple(Command::kAbortBp)),
        Sent(commands::Pneumatics(true, false, false, Command::kPump)),
        Sent(commands::Pneumatics(false, false, false, Command::kPump)),
        Sent(commands::Pneumatics(false, true, false, Command::kControlValve)),
        Sent(commands::Pneumatics(false, false, false, Command::kControlValve)),
        Sent(commands::Pneumatics(false, false, true, Command::kDumpValve)),
        Sent(commands::Pneumatics(false, false, false, Command::kDumpValve)),
        Sent(commands::Pneumatics(true, false, true))},
       {},
       {"Set 180", "Start Adult BP", "Start Neonate BP", "Start Pediatric BP", "Abort BP",
        "Start Pump", "Stop Pump", "Closed Control Valve", "open Control Valve",
        "Closed Dump Valve", "open Dump Valve", "Pneumatics 1,0,1"},
       0},
      // Commands that only read make no marker, nor one that was never sent.
      {"reads",
       {Sent(Simple(Command::kGetPressure)), Sent(Simple(Command::kGetBpData)),
        Other(EventKind::kCharReply)},
       {},
       {},
       0},
      {"not sent",
       {Sent(Simple(Command::kStartAdult), false), Sent(Simple(Command::kAbortBp), false),
        Sent(commands::Pneumatics(true, false, false, Command::kPump)), Cuff(5),
        Other(EventKind::kPortLost)},
       {5},
       {"Start Pump"},
       0},
      {"a result", {Bp(bp)}, {}, {"120/80"}, 1},
      {"frames that are no result",
       {Other(EventKind::kShortReply), Other(EventKind::kBadFrame), Other(EventKind::kDropped)},
       {},
       {},
       0},
  };
  for (const auto& c : cases) {
    feed::EventFeed f;
    int64_t t = kT0;
    for (modlink::Event e : c.events) {
      e.ms = t += 125;
      f.OnEvent(e);
    }
    std::vector<int> points;
    for (size_t i = 0; i < f.Series().Count(); ++i) points.push_back(f.Series().PointValue(i));
    EXPECT_EQ(points, c.points) << c.name;
    EXPECT_EQ(MarkerLabels(f.Series()), c.markers) << c.name;
    EXPECT_EQ(f.Results().Rows().size(), c.rows) << c.name;
  }
}

TEST(EventFeed, ResultRowKeepsEveryField) {
  feed::EventFeed f;
  modlink::Event e = Bp({.systolic = 121,
                         .diastolic = 79,
                         .heartRate = 65,
                         .map = 92,
                         .sq = 3,
                         .err = 0,
                         .status = 255,
                         .tc = {0x0a, 0xff, 0x00, 0x10, 0x20, 0x30, 0x40, 0x5b}});
  e.ms = kT0;
  f.OnEvent(e);
  ASSERT_EQ(f.Results().Rows().size(), 1u);
  const results::BpRow& r = f.Results().Rows()[0];
  EXPECT_EQ(r.ms, kT0);
  EXPECT_EQ((std::vector<int>{r.systolic, r.diastolic, r.heartRate, r.map, r.sq, r.err, r.status}),
            (std::vector<int>{121, 79, 65, 92, 3, 0, 255}));
  EXPECT_EQ(results::CellText(r, results::Column::kTc), "0a ff 00 10 20 30 40 5b ");
  // No start went out before it: the mode is unknown and its column empty.
  EXPECT_EQ(f.Results().Csv(), "time,systolic,diastolic,heart_rate,map,sq,err,status,tc,mode\n" +
                                   records::IsoLocal(kT0) +
                                   ",121,79,65,92,3,0,255,\"0a ff 00 10 20 30 40 5b\",\n");
  // A result takes the mode of the start sent before it; raw bytes are no start.
  modlink::Event start;
  start.request = commands::Simple(commands::Command::kStartNeonate);
  f.OnEvent(start);
  modlink::Event raw;
  raw.raw = true;
  raw.request = commands::Simple(commands::Command::kStartAdult);
  f.OnEvent(raw);
  f.OnEvent(Bp({.systolic = 90, .tc = {1}}));
  ASSERT_EQ(f.Results().Rows().size(), 2u);
  EXPECT_EQ(f.Results().Rows()[1].mode, commands::Mode::kNeonate);
}

TEST(PressureSeries, VisibleSpanIsReducedPerColumnWithTheNeighboursOutside) {
  chart::PressureSeries s;
  // One point a second: 10, 20, ..., 100.
  for (int i = 0; i < 10; ++i) s.AddPoint(kT0 + i * 1000, (i + 1) * 10);
  using Pts = std::vector<std::pair<double, int>>;
  const struct {
    double from, to;
    int columns;
    Pts expected;
    int max;
  } cases[] = {
      {0,
       9,
       100,
       {{0, 10}, {1, 20}, {2, 30}, {3, 40}, {4, 50}, {5, 60}, {6, 70}, {7, 80}, {8, 90}, {9, 100}},
       100},
      {2.5, 5.5, 100, {{2, 30}, {3, 40}, {4, 50}, {5, 60}, {6, 70}}, 60},
      // One column: its first, lowest, highest and last, without repeats.
      {0, 9.5, 1, {{0, 10}, {9, 100}}, 100},
      {20, 30, 10, {{9, 100}}, 0},
      {5, 5, 10, {}, 0},
  };
  for (const auto& c : cases) {
    std::vector<chart::Sample> out;
    int max = -1;
    s.Visible(c.from, c.to, c.columns, out, max);
    Pts got;
    for (const auto& p : out) got.emplace_back(p.seconds, p.mmHg);
    EXPECT_EQ(got, c.expected) << c.from << ".." << c.to;
    EXPECT_EQ(max, c.max) << c.from << ".." << c.to;
  }
}

TEST(PressureSeries, TheLineBreaksAfterTwoSecondsWithoutAPointWhereverTheSlicesFall) {
  chart::PressureSeries s;
  // 0, 1, 2 s; nothing for 3 s; 5, 6, 6.5 s; then 8.5 s, exactly 2 s later.
  const std::pair<int, int> points[] = {{0, 10},    {1000, 20}, {2000, 30}, {5000, 40},
                                        {6000, 50}, {6500, 60}, {8500, 70}};
  for (const auto& [ms, v] : points) s.AddPoint(kT0 + ms, v);
  using Pts = std::vector<std::tuple<double, int, bool>>;  // seconds, mmHg, a break before
  const struct {
    double from, to;
    int columns;
    Pts expected;
  } cases[] = {
      {0,
       9,
       100,
       {{0, 10, false},
        {1, 20, false},
        {2, 30, false},
        {5, 40, true},
        {6, 50, false},
        {6.5, 60, false},
        {8.5, 70, true}}},
      // One column for everything: a slice ends at each gap, so each run keeps its ends.
      {0, 9, 1, {{0, 10, false}, {2, 30, false}, {5, 40, true}, {6.5, 60, false}, {8.5, 70, true}}},
      // Nothing inside: the two neighbours, the gap between them kept.
      {3, 4, 10, {{2, 30, false}, {5, 40, true}}},
      // The neighbour before the span starts the line, whatever came before it.
      {5.5, 6.6, 10, {{5, 40, false}, {6, 50, false}, {6.5, 60, false}, {8.5, 70, true}}},
  };
  for (const auto& c : cases) {
    std::vector<chart::Sample> out;
    int max = 0;
    s.Visible(c.from, c.to, c.columns, out, max);
    Pts got;
    for (const auto& p : out) got.emplace_back(p.seconds, p.mmHg, p.gapBefore);
    EXPECT_EQ(got, c.expected) << c.from << ".." << c.to << " in " << c.columns;
  }
}

TEST(PressureSeries, ADenseSpanKeepsItsExtremesInTimeOrderAndStaysCompact) {
  chart::PressureSeries s;
  // 190 points a second for a minute: a saw between 0 and 299, with one spike.
  for (int i = 0; i < 190 * 60; ++i) s.AddPoint(kT0 + i * 1000 / 190, i == 5000 ? 777 : i % 300);
  std::vector<chart::Sample> out;
  int max = 0;
  s.Visible(0, 60, 300, out, max);
  EXPECT_LE(out.size(), 4u * 300 + 2);
  EXPECT_EQ(max, 777);
  for (size_t i = 1; i < out.size(); ++i) ASSERT_LE(out[i - 1].seconds, out[i].seconds);
  EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](const auto& p) { return p.mmHg == 777; }));
  EXPECT_LE(s.BytesPerPoint(), 32.0);
  // A clock that steps back does not put a point before its predecessor.
  s.AddPoint(kT0 - 5000, 1);
  EXPECT_EQ(s.PointMs(s.Count() - 1), s.PointMs(s.Count() - 2));
}

TEST(PressureSeries, CsvHasARowPerPoint) {
  chart::PressureSeries s;
  EXPECT_EQ(s.Csv(), "time,pressure_mmHg\n");
  s.AddPoint(kT0, 143);
  s.AddPoint(kT0 + 250, 139);
  EXPECT_EQ(s.Csv(), "time,pressure_mmHg\n" + records::IsoLocal(kT0) + ",143\n" +
                         records::IsoLocal(kT0 + 250) + ",139\n");
}

TEST(BpResults, SummaryOfAKnownTableWithOneDecimal) {
  results::BpResults r;
  // Systolic, diastolic, heart rate, MAP.
  const int table[][4] = {{120, 80, 60, 93},
                          {122, 81, 62, 95},
                          {118, 79, 61, 92},
                          {121, 80, 60, 94},
                          {119, 78, 64, 91}};
  for (const auto& t : table) EXPECT_TRUE(r.Add({kT0, t[0], t[1], t[2], t[3]}));
  // An aborted measurement's result (row 5) stays a row but out of every summary; the same
  // result fetched again (same TC and values, later) is no new row.
  const results::BpRow aborted{kT0, 0, 0, 0, 0, 0, 1, 0x20, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_TRUE(r.Add(aborted));
  results::BpRow again = aborted;
  again.ms += 5000;
  EXPECT_FALSE(r.Add(again));
  again.tc[7] = 9;  // another measurement with the same figures is a row of its own
  EXPECT_TRUE(r.Add(again));
  EXPECT_FALSE(r.Add({kT0 + 1, 122, 81, 62, 95}));
  ASSERT_EQ(r.Rows().size(), 7u);
  const struct {
    std::vector<size_t> picked;
    std::string text;
  } cases[] = {
      {{},
       "n=5   Systolic: mean 120.0, SD 1.6, min 118.0, max 122.0   Diastolic: mean 79.6, SD 1.1, "
       "min 78.0, max 81.0   Heart rate: mean 61.4, SD 1.7, min 60.0, max 64.0   MAP: mean 93.0, "
       "SD 1.6, min 91.0, max 95.0"},
      {{1},
       "n=1   Systolic: mean 122.0, SD 0.0, min 122.0, max 122.0   Diastolic: mean 81.0, SD 0.0, "
       "min 81.0, max 81.0   Heart rate: mean 62.0, SD 0.0, min 62.0, max 62.0   MAP: mean 95.0, "
       "SD 0.0, min 95.0, max 95.0"},
      {{0, 5, 2, 6},
       "n=2   Systolic: mean 119.0, SD 1.4, min 118.0, max 120.0   Diastolic: mean 79.5, SD 0.7, "
       "min 79.0, max 80.0   Heart rate: mean 60.5, SD 0.7, min 60.0, max 61.0   MAP: mean 92.5, "
       "SD 0.7, min 92.0, max 93.0"},
      {{5}, "n=0"},
  };
  for (const auto& c : cases) EXPECT_EQ(results::SummaryText(r.Summarize(c.picked)), c.text);
  r.Clear();
  EXPECT_EQ(results::SummaryText(r.Summarize({})), "n=0");
  EXPECT_EQ(r.Csv(), "time,systolic,diastolic,heart_rate,map,sq,err,status,tc,mode\n");
  results::BpRow neonate = aborted;
  neonate.mode = commands::Mode::kNeonate;
  EXPECT_TRUE(r.Add(neonate));
  EXPECT_EQ(results::CellText(neonate, results::Column::kMode), "neonate");
  EXPECT_EQ(r.Csv(), "time,systolic,diastolic,heart_rate,map,sq,err,status,tc,mode\n" +
                         records::IsoLocal(kT0) +
                         ",0,0,0,0,0,1,32,\"01 02 03 04 05 06 07 08\",neonate\n");
}

TEST(Settings, KeyValuesSurviveARoundTripAndAMissingFileIsEmpty) {
  const auto dir = std::filesystem::path(::testing::TempDir()) / "nibp_settings_test";
  std::filesystem::remove_all(dir);
  const std::string path = (dir / "sub" / "windows.conf").string();
  EXPECT_TRUE(settings::Load(path).empty());
  const settings::Values v = {{"chart.x", "-12"}, {"chart.w", "900"}, {"odd", "a=b"}};
  ASSERT_TRUE(settings::Save(path, v));
  EXPECT_EQ(settings::Load(path), v);
  ASSERT_TRUE(settings::Save(path, {{"chart.w", "800"}}));  // replaced whole, nothing left beside
  EXPECT_EQ(settings::Load(path), (settings::Values{{"chart.w", "800"}}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), {}), 1);
  EXPECT_EQ(std::filesystem::status(dir / "sub").permissions(), std::filesystem::perms::owner_all);
  std::filesystem::remove_all(dir);
}

// Places read back from a settings file, on the screens of now.
TEST(WindowPlace, SizesAndPlacesAreFittedToTheScreenThatHoldsThem) {
  using settings::Rect;
  const std::vector<Rect> two = {{0, 0, 1280, 1024}, {1280, 0, 1920, 1080}};
  struct Row {
    Rect wanted;
    std::vector<Rect> screens;
    Rect fitted;
  };
  const std::vector<Row> rows = {
      {{70, 80, 640, 360}, two, {70, 80, 640, 360}},                         // fits: kept
      {{1400, 50, 800, 600}, two, {1400, 50, 800, 600}},                     // on the second screen
      {{0, 0, 60000, 60000}, two, {0, 0, 1280, 1024}},                       // garbage size
      {{-70000, 99999, 900, 500}, two, {0, 524, 900, 500}},                  // off every screen
      {{3000, 0, 900, 500}, two, {2300, 0, 900, 500}},                       // overlaps the second
      {{2147483000, 2147483000, 2147483647, 10}, two, {0, 924, 1280, 100}},  // no overflow
      {{5000, 5000, 60000, 60000}, {}, {0, 0, 1024, 768}},                   // no screen known
  };
  for (const Row& r : rows) {
    const Rect f = settings::FitToScreens(r.wanted, r.screens);
    EXPECT_EQ(f, r.fitted) << r.wanted.x << "," << r.wanted.y << " " << f.x << "," << f.y << " "
                           << f.w << "x" << f.h;
  }
}

// Every program finds its folders by one rule: absolute values only, then HOME, then the
// password database.
TEST(Settings, FoldersOfEveryProgram) {
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  const std::string db = std::string(pw->pw_dir) + "/";
  const struct {
    const char* config;
    const char* state;
    const char* home;
    std::string configFolder;
    std::string stateFolder;
  } cases[] = {
      {"/x/config", "/x/state", "/h", "/x/config/quirab_nibp", "/x/state/quirab_nibp"},
      {nullptr, nullptr, "/h", "/h/.config/quirab_nibp", "/h/.local/state/quirab_nibp"},
      {"rel", "", "/h", "/h/.config/quirab_nibp", "/h/.local/state/quirab_nibp"},
      {nullptr, nullptr, nullptr, db + ".config/quirab_nibp", db + ".local/state/quirab_nibp"},
      {nullptr, "/s", "home", db + ".config/quirab_nibp", "/s/quirab_nibp"},
  };
  const char* names[] = {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "HOME"};
  std::vector<std::optional<std::string>> saved;
  for (const char* n : names)
    saved.push_back(std::getenv(n) ? std::optional<std::string>(std::getenv(n)) : std::nullopt);
  for (const auto& c : cases) {
    const char* values[] = {c.config, c.state, c.home};
    for (int i = 0; i < 3; ++i) {
      if (values[i] != nullptr) {
        ::setenv(names[i], values[i], 1);
      } else {
        ::unsetenv(names[i]);
      }
    }
    EXPECT_EQ(files::ProgramFolder(files::Xdg::kConfig).string(), c.configFolder);
    EXPECT_EQ(files::ProgramFolder(files::Xdg::kState).string(), c.stateFolder);
    EXPECT_EQ(settings::ConfigPath("windows.conf"), c.configFolder + "/windows.conf");
  }
  for (int i = 0; i < 3; ++i) {
    if (saved[i]) {
      ::setenv(names[i], saved[i]->c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
}

}  // namespace
