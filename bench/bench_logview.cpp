// The logs over a working day and more: a million raw-log lines, each with its time, appended
// one at a time to the real list view, and the time a button click takes with a million lines in
// each log and the times shown.
// Prints its figures as table rows; offscreen unless a platform is chosen.

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "console/nibp_dlg.h"
#include "framework/qt/log_view.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/qt_window.h"
#include "records/record_format.h"
#include "res/resource.h"

namespace {

constexpr int kLines = 1'000'000;
constexpr int kWindow = 10'000;  // lines timed at each end
constexpr int kPass = 1'000;     // lines between passes of the event loop
constexpr int kClicks = 21;

long RssBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Appends `count` lines to list `id` as the console logs them; returns the nanoseconds spent on
// the first and on the last kWindow lines, the event loop's passes included.
std::pair<qint64, qint64> Fill(fw::Window& w, int id, const std::string& line, int count) {
  QElapsedTimer t;
  qint64 first = 0, last = 0, start = 0;
  t.start();
  for (int i = 0; i < count; ++i) {
    if (i == count - kWindow) start = t.nsecsElapsed();
    w.ListAdd(id, line, records::NowMs());
    w.ListSetCurSel(id, w.ListCount(id) - 1);
    if ((i + 1) % kPass == 0) QCoreApplication::processEvents();
    if (i + 1 == kWindow) first = t.nsecsElapsed();
  }
  last = t.nsecsElapsed() - start;
  return {first, last};
}

// Nanoseconds per line when the event loop runs after every line (and repaints the window).
double PassPerLine(fw::Window& w, int id, const std::string& line) {
  constexpr int kCount = 1'000;
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < kCount; ++i) {
    w.ListAdd(id, line, records::NowMs());
    w.ListSetCurSel(id, w.ListCount(id) - 1);
    QCoreApplication::processEvents();
  }
  return static_cast<double>(t.nsecsElapsed()) / kCount;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  fw::qt::QtBackend ui(argc, argv);
  CNibpDlg dlg(ui);
  if (!dlg.Create()) return 1;
  auto& window = dynamic_cast<fw::qt::QtWindow&>(*dlg.GetWindow());
  QDialog* d = window.Dialog();
  d->show();
  if (!QTest::qWaitForWindowExposed(d)) return 1;
  QCoreApplication::processEvents();

  const std::string raw = "PC --> MODULE <3A><79><05><00><48>";  // 34 characters
  // As the console runs: a pass of the event loop after every line, in an empty log.
  const double emptyPassNs = PassPerLine(window, IDC_LIST_EVENT, raw);
  window.ListReset(IDC_LIST_EVENT);
  QCoreApplication::processEvents();
  const long rss0 = RssBytes();
  const auto [first, last] = Fill(window, IDC_LIST_RAW, raw, kLines);
  QCoreApplication::processEvents();
  const long rss1 = RssBytes();
  const double firstNs = static_cast<double>(first) / kWindow;
  const double lastNs = static_cast<double>(last) / kWindow;
  const double perLine = static_cast<double>(rss1 - rss0) / kLines;
  std::printf(
      "| log view: append a line, first %d of %d (%zu characters) | %.0f ns/line | - | event loop "
      "every %d lines |\n",
      kWindow, kLines, raw.size(), firstNs, kPass);
  std::printf(
      "| log view: append a line, last %d of %d | %.0f ns/line (%.2fx the first) | <= 1.5x the "
      "first | event loop every %d lines |\n",
      kWindow, kLines, lastNs, lastNs / firstNs, kPass);
  std::printf(
      "| log view: memory per line with its time | %.1f bytes | <= 64 | RSS growth over %d lines "
      "of %zu characters (+%.1f MB) |\n",
      perLine, kLines, raw.size(), (rss1 - rss0) / 1e6);

  const double fullPassNs = PassPerLine(window, IDC_LIST_RAW, raw);
  std::printf(
      "| log view: append with an event-loop pass and repaint per line | %.1f us/line empty, %.1f "
      "us/line at %d lines (%.2fx) | - | 1000 lines each |\n",
      emptyPassNs / 1e3, fullPassNs / 1e3, kLines, fullPassNs / emptyPassNs);

  Fill(window, IDC_LIST_EVENT, "-- Get Pressure --", kLines);
  QCoreApplication::processEvents();

  // A click with a million lines in each log and their times shown: the handler, the coalesced
  // scrolls and a full repaint of the window.
  for (const int id : {IDC_LIST_RAW, IDC_LIST_EVENT}) {
    for (QAction* a : window.ListMenu(id)->actions()) {
      if (a->text() == "Show Times") a->setChecked(true);
    }
  }
  auto* button = dynamic_cast<QPushButton*>(window.Control(IDC_GET_PRESSURE));
  std::vector<double> ms;
  QElapsedTimer t;
  for (int i = 0; i < kClicks; ++i) {
    t.start();
    QTest::mouseClick(button, Qt::LeftButton);
    QCoreApplication::processEvents();
    d->repaint();
    ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  const auto* view = window.ListView(IDC_LIST_RAW);
  const bool newestInView = view->viewport()->rect().contains(
      view->visualRect(window.ListModel(IDC_LIST_RAW)->index(window.ListCount(IDC_LIST_RAW) - 1)));
  std::printf(
      "| click \"Get Pressure\" with %d lines in each log, times shown, full repaint included | "
      "median %.2f ms, worst %.2f ms | < 20 ms | %d clicks; newest raw line in view: %s |\n",
      window.ListCount(IDC_LIST_RAW), ms[ms.size() / 2], ms.back(), kClicks,
      newestInView ? "yes" : "no");
  dlg.EndDialog(IDCANCEL);
  return 0;
}
