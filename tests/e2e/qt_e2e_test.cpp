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
#include <QTest>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "console/nibp_dlg.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/qt_window.h"
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
  std::unique_ptr<CNibpDlg> dlg;
  QDialog* d = nullptr;

  void SetUp() override {
    sim = std::make_unique<SimProcess>(
        NIBP_SIM_PATH, std::vector<std::string>{"--port", "COM1", "--speed", "20", "--systolic",
                                                "120", "--diastolic", "80", "--heart-rate", "72"});
    ASSERT_TRUE(sim->Running());
    ASSERT_TRUE(SimProcess::WaitForPath(home.PortLink("COM1"), std::chrono::milliseconds(kStepMs)));

    dlg = std::make_unique<CNibpDlg>(*g_ui);
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
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  fw::qt::QtBackend ui(argc, argv);
  g_ui = &ui;
  return RUN_ALL_TESTS();
}
