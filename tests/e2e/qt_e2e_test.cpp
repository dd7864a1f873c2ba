// The real window, offscreen, against the simulated module: a measurement driven with mouse
// clicks and keys only, read back from the labels and the event log as the user sees them.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_views.h"
#include "console/nibp_dlg.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/qt_window.h"
#include "res/resource.h"
#include "support/qt_main.h"
#include "support/sim_process.h"

namespace {

using testsupport::SimProcess;
using testsupport::TempConfigHome;

fw::qt::QtBackend* g_ui = nullptr;

// Generous: the suite also runs under the sanitizers on a busy machine.
constexpr int kStepMs = 20'000;
constexpr int kMeasurementMs = 90'000;

struct QtEndToEnd : ::testing::Test {
  TempConfigHome home;
  std::unique_ptr<SimProcess> sim;
  QtViews views;
  std::unique_ptr<CNibpDlg> dlg;
  QDialog* d = nullptr;

  void SetUp() override {
    sim = std::make_unique<SimProcess>(
        NIBP_SIM_PATH, std::vector<std::string>{"--port", "COM1", "--speed", "20", "--systolic",
                                                "120", "--diastolic", "80", "--heart-rate", "72"});
    ASSERT_TRUE(sim->Running());
    ASSERT_TRUE(SimProcess::WaitForPath(home.PortLink("COM1"), std::chrono::milliseconds(kStepMs)));

    dlg = std::make_unique<CNibpDlg>(*g_ui);
    dlg->m_views = &views;
    ASSERT_TRUE(dlg->Create());
    auto* w = dynamic_cast<fw::qt::QtWindow*>(dlg->GetWindow());
    ASSERT_NE(w, nullptr);
    d = w->Dialog();
    d->show();
    d->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(d, kStepMs));
  }
  void TearDown() override {
    dlg.reset();  // closes the port before the simulator goes
    if (sim) sim->Stop();
  }

  // The one control of the window with this accessible name, as a screen reader finds it.
  template <typename T>
  T* Named(const char* name) const {
    T* found = nullptr;
    for (T* w : d->findChildren<T*>()) {
      if (w->accessibleName() != QLatin1String(name)) continue;
      if (found != nullptr) return nullptr;
      found = w;
    }
    return found;
  }

  [[nodiscard]] std::vector<std::string> EventLog() const {
    std::vector<std::string> out;
    const QAbstractItemModel* m = Named<QListView>("Event log")->model();
    for (int i = 0; i < m->rowCount(); ++i)
      out.push_back(m->data(m->index(i, 0)).toString().toStdString());
    return out;
  }
  [[nodiscard]] size_t CountStartingWith(const std::string& prefix) const {
    const auto lines = EventLog();
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }

  static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
  static QWidget* TopLevel(const char* title) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->windowTitle() == QLatin1String(title)) return w;
    }
    return nullptr;
  }
};

TEST_F(QtEndToEnd, MeasurementDrivenByMouseAndKeys) {
  auto* open = Named<QPushButton>("OPEN");
  auto* close = Named<QPushButton>("CLOSE");
  auto* status = Named<QLabel>("Port status");
  auto* inflate = Named<QLineEdit>("Initial inflate");
  auto* setPressure = Named<QPushButton>("Set Pressure");
  auto* autoPressure = Named<QCheckBox>("Auto Pressure Display");
  auto* startAdult = Named<QPushButton>("Start Adult");
  auto* getBpData = Named<QPushButton>("Get BP Data");
  auto* pressure = Named<QLabel>("Cuff pressure");
  ASSERT_TRUE(open && close && status && inflate && setPressure && autoPressure && startAdult &&
              getBpData && pressure && Named<QListView>("Event log"));

  Click(open);
  ASSERT_EQ(status->text(), "COM1 OPEN");

  QTest::mouseClick(inflate, Qt::LeftButton);
  QTest::keyClick(inflate, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(inflate, "180");
  Click(setPressure);
  ASSERT_EQ(CountStartingWith("-- Set Initial Inflate to 180 --"), 1u);

  Click(autoPressure);
  ASSERT_TRUE(autoPressure->isChecked());
  Click(startAdult);

  // Sampled every 250 ms while the module runs 20 times faster, the label may miss the very top
  // of the cuff pressure; the result's TC reports it exactly below.
  int shownPeak = 0;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const int shown = pressure->text().trimmed().split(' ').value(0).toInt();
        shownPeak = std::max(shownPeak, shown);
        return shownPeak >= 120 && shown < 40;
      },
      kMeasurementMs))
      << "highest shown " << shownPeak << ", now " << pressure->text().toStdString();
  EXPECT_LE(shownPeak, 190);

  Click(autoPressure);
  ASSERT_FALSE(autoPressure->isChecked());

  // The dump may still be running: ask until the finished result comes.
  const std::string expected = "BP Data: 120 / 80 mmHg Heart: 72  MAP: 93";
  bool seen = false;
  for (int attempt = 0; attempt < 100 && !seen; ++attempt) {
    const size_t before = CountStartingWith("BP Data: ");
    Click(getBpData);
    ASSERT_TRUE(QTest::qWaitFor([&] { return CountStartingWith("BP Data: ") > before; }, kStepMs))
        << "no reply to Get BP Data";
    seen = CountStartingWith(expected) > 0;
  }
  ASSERT_TRUE(seen);

  // TC bytes 2-3: the highest cuff pressure, which is the inflate target that was set.
  const auto lines = EventLog();
  const auto bp = std::find(lines.begin(), lines.end(), expected);
  ASSERT_GE(lines.end() - bp, 3) << "the TC and SQ lines follow the result";
  const std::string& tc = *(bp + 1);
  ASSERT_EQ(tc.rfind("TC: ", 0), 0u) << tc;
  const int peak =
      std::stoi(tc.substr(10, 2), nullptr, 16) + 256 * std::stoi(tc.substr(13, 2), nullptr, 16);
  EXPECT_GE(peak, 178) << tc;
  EXPECT_LE(peak, 185) << tc;
  EXPECT_NE((bp + 2)->find("  Err: 0  "), std::string::npos) << *(bp + 2);

  Click(close);
  EXPECT_EQ(status->text(), "CLOSE");

  // The same measurement in the two windows of the background menu.
  dlg->OnSysCommand(IDM_PRESSURE_CHART, 0);
  dlg->OnSysCommand(IDM_RESULTS, 0);
  auto* chart = TopLevel("Pressure Chart");
  auto* results = TopLevel("Results");
  ASSERT_TRUE(chart && results && chart->isVisible() && results->isVisible());
  const auto* series = &dlg->m_feed.Series();
  const QString description = QStringLiteral("Latest: %1 mmHg; %2 points")
                                  .arg(series->Latest())
                                  .arg(static_cast<qulonglong>(series->Count()));
  EXPECT_GE(series->Count(), 3u);  // the module runs 20 times faster than the poll
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        auto* plot = chart->findChild<QWidget*>();
        for (QWidget* w : chart->findChildren<QWidget*>()) {
          if (w->accessibleName() == "Cuff pressure plot") plot = w;
        }
        return plot->accessibleDescription() == description;
      },
      kStepMs))
      << description.toStdString();
  std::vector<std::string> labels;
  for (const auto& m : series->Markers()) labels.push_back(m.label);
  for (const char* expectedLabel : {"Set 180", "Start Adult BP", "120/80"}) {
    EXPECT_NE(std::find(labels.begin(), labels.end(), expectedLabel), labels.end())
        << expectedLabel;
  }
  auto* table = results->findChild<QTableView*>();
  auto* summary = results->findChild<QLabel*>();
  ASSERT_TRUE(table && summary);
  const int rows = table->model()->rowCount();
  ASSERT_GE(rows, 1);
  const auto cell = [&](int col) { return table->model()->index(rows - 1, col).data().toString(); };
  EXPECT_EQ((QStringList{cell(1), cell(2), cell(3), cell(4)}),
            (QStringList{"120", "80", "72", "93"}));
  table->selectRow(rows - 1);
  EXPECT_TRUE(summary->text().startsWith("n=1   Systolic: mean 120.0, SD 0.0"))
      << summary->text().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  return testsupport::RunQtTests(argc, argv, g_ui);
}
