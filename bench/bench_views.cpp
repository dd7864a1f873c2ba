// What the chart and results windows cost, offscreen with the window shown:
//   bench_views [SECONDS]   CPU at 4 and at 190 points a second (SECONDS each, default 20),
//                           memory per point over a simulated day, a full day drawn zoomed out,
//                           and a result added with the summary recomputed over 10,000 rows.
// Prints table rows.

#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "chart/pressure_series.h"
#include "results/bp_results.h"
#include "views/pressure_chart_window.h"

namespace {

constexpr int64_t kT0 = 1'796'000'000'000;
constexpr int kDayAt4 = 4 * 24 * 3600;

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 12, '\n');
  }
  return 0;
}

// A cuff-like wave: inflation to 180, a stepped deflation, a pause.
int Wave(int64_t i, int perSecond) {
  const int64_t t = i * 1000 / perSecond % 40'000;
  if (t < 8'000) return static_cast<int>(t * 180 / 8'000);
  if (t < 32'000) return static_cast<int>(180 - (t - 8'000) / 1'500 * 10);
  return 0;
}

void Fill(chart::PressureSeries& s, int64_t count, int perSecond) {
  for (int64_t i = 0; i < count; ++i) s.AddPoint(kT0 + i * 1000 / perSecond, Wave(i, perSecond));
}

// Feeds `perSecond` points for `seconds` with the window shown; returns the share of a core.
double CpuWhileFeeding(int perSecond, int64_t prefill, int seconds) {
  chart::PressureSeries series;
  Fill(series, prefill, perSecond);
  views::PressureChartWindow w(series);
  w.resize(900, 500);
  w.show();
  (void)QTest::qWaitForWindowExposed(&w, 10'000);
  QTest::qWait(500);
  int64_t next = prefill;
  QElapsedTimer clock;
  QTimer feed;
  // Points come in bursts, as the console's 20 ms dispatch delivers them; slower ones one by one.
  feed.setInterval(std::max(20, 1000 / perSecond));
  QObject::connect(&feed, &QTimer::timeout, [&] {
    const int64_t due = prefill + clock.elapsed() * perSecond / 1000;
    while (next < due) {
      series.AddPoint(kT0 + next * 1000 / perSecond, Wave(next, perSecond));
      ++next;
    }
  });
  const int framesBefore = w.FramesDrawn();
  const double cpu0 = CpuSeconds();
  clock.start();
  feed.start();
  // An event loop of its own: QTest::qWait would wake every 10 ms and count its own polling.
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
  const double cpu = CpuSeconds() - cpu0;
  const double wall = static_cast<double>(clock.elapsed()) / 1000.0;
  std::fprintf(stderr, "%d/s: %d frames in %.1f s\n", perSecond, w.FramesDrawn() - framesBefore,
               wall);
  return cpu / wall * 100.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  // The chart keeps its place in the configuration folder: not the user's.
  char config[] = "/tmp/nibp-bench-XXXXXX";
  if (mkdtemp(config) != nullptr) setenv("XDG_CONFIG_HOME", config, 1);
  QApplication app(argc, argv);

  {
    const long before = RssKb();
    chart::PressureSeries day;
    Fill(day, kDayAt4, 4);
    const double rssPerPoint = static_cast<double>(RssKb() - before) * 1024.0 / kDayAt4;
    std::printf(
        "| chart: memory per point, a day at 4/s | %.1f B (held %.1f B) | <= 32 B | %d points |\n",
        rssPerPoint, day.BytesPerPoint(), kDayAt4);

    views::PressureChartWindow w(day);
    w.resize(900, 500);
    w.show();
    (void)QTest::qWaitForWindowExposed(&w, 10'000);
    w.SetSpan(24 * 3600.0);
    constexpr int kDraws = 20;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kDraws; ++i) {
      w.SetSpan(i % 2 ? 24 * 3600.0 : 24 * 3600.0 + 1);  // a change forces a new frame
      (void)w.Plot()->grab();
    }
    std::printf(
        "| chart: a full day drawn zoomed out (reduce, replace, paint) | %.1f ms | < 33 ms (one "
        "frame) | %d points, 900x500, mean of %d |\n",
        static_cast<double>(t.nsecsElapsed()) / 1e6 / kDraws, kDayAt4, kDraws);
  }

  std::printf("| chart: CPU at 4 points/s, window shown | %.2f %% | < 1 %% | a day held, %d s |\n",
              CpuWhileFeeding(4, kDayAt4, seconds), seconds);
  std::printf(
      "| chart: CPU at 190 points/s, window shown | %.2f %% | < 5 %% | an hour held, %d s |\n",
      CpuWhileFeeding(190, 190 * 3600, seconds), seconds);

  {
    results::BpResults rows;
    for (int i = 0; i < 10'000; ++i)
      rows.Add({kT0 + i * 60'000, 110 + i % 20, 70 + i % 15, 60 + i % 30, 90 + i % 10});
    constexpr int kRounds = 200;
    QElapsedTimer t;
    t.start();
    size_t sink = 0;
    for (int i = 0; i < kRounds; ++i) {
      rows.Add({kT0, 120, 80, 72, 93});
      sink += results::SummaryText(rows.Summarize({})).size();
    }
    std::printf(
        "| results: add a row and recompute the summary | %.3f ms | < 5 ms | 10,000 rows, mean of "
        "%d (%zu) |\n",
        static_cast<double>(t.nsecsElapsed()) / 1e6 / kRounds, kRounds, sink % 10);
  }
  std::filesystem::remove_all(config);
  return 0;
}
