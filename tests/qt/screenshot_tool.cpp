// Pictures of the console, its About box and its Ports window, as the user first sees them, then
// of the "Pressure Chart" and "Results" windows after a measurement on the simulated module.
// Usage: nibp_screenshot OUTPUT_DIR

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/qt_views.h"
#include "console/nibp_dlg.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/qt_window.h"
#include "res/resource.h"
#include "support/sim_process.h"
#include "views/service_checks_window.h"

namespace {

bool Save(QWidget* w, const QString& path) {
  if (!w->grab().save(path)) {
    std::fprintf(stderr, "nibp_screenshot: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

QWidget* TopLevel(const char* title) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->windowTitle() == QLatin1String(title)) return w;
  }
  return nullptr;
}

// A measurement on the simulator, driven through the console's buttons; false when it fails.
// A module in the console's place for the service checks: pumped up, it leaks 4 mmHg a second.
struct LeakyModule final : console::ChecksHost {
  int64_t now = 1'796'000'000'000;
  modlink::EventSink* sink = nullptr;
  bool ChecksPortOpen() const override { return true; }
  bool ChecksMeasuring() const override { return false; }
  std::string ChecksPort() const override { return "COM1"; }
  std::string ChecksDevice() const override { return "/dev/pts/3"; }
  int64_t ChecksNowMs() const override { return now; }
  SendResult ChecksSend(const commands::Request& r) override {
    Event(modlink::EventKind::kSent, 0, r);
    return SendResult::kSent;
  }
  void SetChecksSink(modlink::EventSink* s) override { sink = s; }
  void ChecksMarker(int64_t, const std::string&) override {}
  void ChecksLog(const std::string&) override {}
  void ChecksVentWhenBack() override {}
  void Event(modlink::EventKind kind, int mmHg, const commands::Request& r = {}) {
    modlink::Event e;
    e.ms = now;
    e.kind = kind;
    e.mmHg = mmHg;
    e.request = r;
    if (sink != nullptr) sink->OnEvent(e);
  }
};

// The window during a leak check's hold, and the report's first page once it is done.
bool ServiceChecksShots(const QString& dir) {
  LeakyModule module;
  views::ServiceChecksWindow w(module);
  w.hooks.warn = [](QWidget*, const QString&, const QString& text) {
    std::fprintf(stderr, "nibp_screenshot: %s\n", qPrintable(text));
  };
  for (int r = 1; r < 4; ++r) w.Table()->item(r, 0)->setCheckState(Qt::Unchecked);
  w.Table()->item(0, 1)->setText("target=250 settle=5 hold=20");
  for (QLineEdit* e : w.findChildren<QLineEdit*>()) {
    if (e->accessibleName() == "Operator") e->setText("J. Bench");
    if (e->accessibleName() == "Module ID") e->setText("NIBP-0042");
    if (e->accessibleName() == "Reference instrument") e->setText("Gauge DG-7");
    if (e->accessibleName() == "Reference due date") e->setText("2027-06-30");
  }
  w.resize(760, 560);
  w.show();
  if (!QTest::qWaitForWindowExposed(&w)) return false;
  w.Start();
  double p = 0;
  bool shot = false;
  bool ok = true;
  for (int step = 0; step < 400 && w.Running(); ++step) {
    module.now += 250;
    const auto& phase = w.Run()->Engine().CurrentProgress().phase;
    if (phase.rfind("Pumping", 0) == 0)
      p = std::min(p + 25, 252.0);
    else if (phase.rfind("Releasing", 0) == 0)
      p = std::max(p - 40, 0.0);
    else
      p = std::max(p - 1, 0.0);
    module.Event(modlink::EventKind::kCuffPressure, int(p));
    QTest::qWait(55);
    if (!shot && phase.rfind("Holding", 0) == 0 && p < 225) {
      ok = Save(&w, dir + "/service-checks.png") && ok;
      shot = true;
    }
  }
  if (!shot || w.Running()) {
    std::fprintf(stderr, "nibp_screenshot: the leak check did not run its course\n");
    return false;
  }
  QTest::qWait(100);
  return w.ReportPage(0, 794).save(dir + "/service-checks-report.png") && ok;
}

bool Measure(CNibpDlg& dlg, fw::qt::QtWindow& window) {
  const auto click = [&window](int id) {
    if (auto* b = dynamic_cast<QAbstractButton*>(window.Control(id))) b->click();
  };
  click(IDC_PORT_OPEN);
  if (dlg.m_strStatus != "COM1 OPEN") return false;
  window.SetText(IDC_INFLATE, "180");
  dlg.OnKillfocusInflate();
  click(IDC_SET_PRESSURE);
  click(IDC_AUTO_PRESSURE);
  QTest::qWait(1500);  // a little flat line before the start
  click(IDC_START_ADULT);
  const auto& series = dlg.m_feed.Series();
  int peak = 0;
  const bool done = QTest::qWaitFor(
      [&] {
        peak = std::max(peak, series.Latest());
        return peak >= 120 && series.Latest() < 20;
      },
      120'000);
  QTest::qWait(1500);
  click(IDC_AUTO_PRESSURE);
  for (int i = 0; i < 50 && done; ++i) {
    click(IDC_GET_BP_DATA);
    QTest::qWait(300);
    const auto& rows = dlg.m_feed.Results().Rows();
    if (!rows.empty() && rows.back().systolic == 120) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: nibp_screenshot OUTPUT_DIR\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  fw::qt::QtBackend ui(argc, argv);
  if (!QDir().mkpath(dir)) {
    std::fprintf(stderr, "nibp_screenshot: cannot create %s\n", argv[1]);
    return 1;
  }

  QtViews views;
  CNibpDlg dlg(ui);
  dlg.m_views = &views;
  if (!dlg.Create()) return 1;
  auto* window = dynamic_cast<fw::qt::QtWindow*>(dlg.GetWindow());
  QDialog* console = window->Dialog();
  console->show();
  console->activateWindow();
  if (!QTest::qWaitForWindowExposed(console)) return 1;
  QTest::qWait(200);
  bool ok = Save(console, dir + "/console.png");

  // The About box runs its own modal loop: picture it from inside that loop, then close it
  // with its button.
  bool aboutSeen = false;
  QTimer::singleShot(300, [&] {
    QWidget* about = QApplication::activeModalWidget();
    if (about == nullptr || about == console) return;
    aboutSeen = true;
    ok = Save(about, dir + "/about.png") && ok;
    if (auto* button = about->findChild<QPushButton*>()) button->click();
  });
  QTimer::singleShot(0, [&] { dlg.OnSysCommand(IDM_ABOUTBOX, 0); });
  QTest::qWait(1000);
  if (!aboutSeen) {
    std::fprintf(stderr, "nibp_screenshot: the About box did not open\n");
    ok = false;
  }

  // The Ports window, with the devices of the machine it runs on.
  bool portsSeen = false;
  QTimer::singleShot(300, [&] {
    QWidget* ports = QApplication::activeModalWidget();
    if (ports == nullptr || ports == console) return;
    portsSeen = true;
    ok = Save(ports, dir + "/ports.png") && ok;
    QTest::keyClick(ports, Qt::Key_Escape);
  });
  QTimer::singleShot(0, [&] { dlg.OnSysCommand(IDM_PORTS, 0); });
  QTest::qWait(1000);
  if (!portsSeen) {
    std::fprintf(stderr, "nibp_screenshot: the Ports window did not open\n");
    ok = false;
  }

  // A private configuration folder: the simulator's port link and the chart's place go there.
  testsupport::TempConfigHome home;
  testsupport::SimProcess sim(NIBP_SIM_PATH, {"--port", "COM1", "--speed", "3", "--systolic", "120",
                                              "--diastolic", "80", "--heart-rate", "72"});
  if (!sim.Running() ||
      !testsupport::SimProcess::WaitForPath(home.PortLink("COM1"), std::chrono::seconds(20)) ||
      !Measure(dlg, *window)) {
    std::fprintf(stderr, "nibp_screenshot: no measurement on the simulator\n");
    ok = false;
  }
  dlg.OnPortClose();
  ok = Save(console, dir + "/console-measured.png") && ok;
  dlg.OnSysCommand(IDM_PRESSURE_CHART, 0);
  dlg.OnSysCommand(IDM_RESULTS, 0);
  QWidget* chart = TopLevel("Pressure Chart");
  QWidget* results = TopLevel("Results");
  if (chart == nullptr || results == nullptr || !QTest::qWaitForWindowExposed(chart) ||
      !QTest::qWaitForWindowExposed(results)) {
    std::fprintf(stderr, "nibp_screenshot: the chart or results window did not open\n");
    return 1;
  }
  chart->resize(900, 500);
  results->resize(900, 300);
  QTest::qWait(500);
  ok = Save(chart, dir + "/pressure-chart.png") && ok;
  ok = Save(results, dir + "/results.png") && ok;
  ok = ServiceChecksShots(dir) && ok;
  dlg.EndDialog(IDCANCEL);
  return ok ? 0 : 1;
}
