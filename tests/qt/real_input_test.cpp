// The console's windows driven by real mouse events from the X server (xdotool under Xvfb, no
// window manager), while the console runs modally as the program runs it. QTest events would
// reach a window that the console's modality blocks; these do not.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "app/qt_views.h"
#include "console/nibp_dlg.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/qt_window.h"
#include "res/resource.h"
#include "support/fake_device_source.h"
#include "support/qt_main.h"
#include "support/sim_process.h"
#include "views/pressure_chart_window.h"
#include "views/service_checks_window.h"

namespace {

constexpr int kWaitMs = 10'000;

// xdotool with `args`; the event loop runs meanwhile, so a click may open a modal window.
bool XDo(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral("xdotool"), args);
  if (!p.waitForStarted(kWaitMs)) return false;
  return QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, kWaitMs) &&
         p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString Wid(const QWidget* w) {
  return QString::number(w->window()->winId());
}

// Without a window manager nothing raises or focuses a window: do it, then click.
bool RealClick(QWidget* target, QPoint at = {}) {
  if (at.isNull()) at = target->rect().center();
  const QPoint g = target->mapToGlobal(at);
  return XDo({QStringLiteral("windowraise"), Wid(target), QStringLiteral("windowfocus"),
              Wid(target), QStringLiteral("mousemove"), QStringLiteral("--sync"),
              QString::number(g.x()), QString::number(g.y()), QStringLiteral("click"),
              QStringLiteral("1")});
}

bool RealClickRow(QTableView* t, int row) {
  return RealClick(t->viewport(), t->visualRect(t->model()->index(row, 0)).center());
}

QWidget* TopLevel(const QString& title) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->windowTitle() == title && w->isVisible()) return w;
  }
  return nullptr;
}

template <typename T = QPushButton>
T* Named(QWidget* parent, const QString& text) {
  for (T* b : parent->findChildren<T*>()) {
    if (b->accessibleName() == text) return b;
    if constexpr (requires { b->text(); }) {
      if (b->text().remove(QLatin1Char('&')) == text) return b;
    }
  }
  return nullptr;
}

QAccessibleInterface* A(QWidget* w) {
  return QAccessible::queryAccessibleInterface(w);
}

struct RealInput : ::testing::Test {
  testsupport::TempConfigHome home;  // the chart's place and the ports folder
  QtViews views;
  CNibpDlg dlg{*QtBackendOfTest()};
  ports_test::FakeDeviceSource devices;

  static fw::qt::QtBackend* QtBackendOfTest();

  void SetUp() override {
    dlg.m_views = &views;
    dlg.m_makeDeviceSource = [this] { return devices.Share(); };
  }
  // Runs the console modally, as the program does, and `steps` inside its loop.
  void WhileTheConsoleRuns(const std::function<void(QWidget* console)>& steps) {
    QTimer::singleShot(0, [&] {
      QWidget* console = QApplication::activeModalWidget();
      if (console != nullptr && QTest::qWaitForWindowExposed(console, kWaitMs)) {
        steps(console);
      } else {
        ADD_FAILURE() << "the console did not show";
      }
      dlg.EndDialog(IDCANCEL);
    });
    (void)dlg.DoModal();
  }
};

fw::qt::QtBackend* g_ui = nullptr;
fw::qt::QtBackend* RealInput::QtBackendOfTest() {
  return g_ui;
}

TEST_F(RealInput, ChartAndResultsAreWindowsOfTheConsoleThatTakeClicksWhileItRunsModally) {
  results::BpRow row;
  row.systolic = 120;
  dlg.m_feed.Results().Add(row);
  WhileTheConsoleRuns([&](QWidget* console) {
    EXPECT_EQ(A(console)->role(), QAccessible::Window);

    dlg.OnSysCommand(IDM_PRESSURE_CHART, 0);
    QWidget* chart = TopLevel(QStringLiteral("Pressure Chart"));
    ASSERT_NE(chart, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(chart, kWaitMs));
    EXPECT_EQ(chart->parentWidget(), console);
    EXPECT_TRUE(chart->isWindow());
    EXPECT_EQ(chart->windowModality(), Qt::NonModal);
    EXPECT_EQ(A(chart)->role(), QAccessible::Window);

    // "Save Data..." opens the file dialog; it is cancelled once seen.
    QString asked;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* fd = qobject_cast<QFileDialog*>(w); fd && fd->isVisible()) {
          asked = fd->windowTitle();
          fd->reject();
        }
      }
    });
    watch.start(50);
    QPushButton* saveData = Named(chart, QStringLiteral("Save Data..."));
    ASSERT_NE(saveData, nullptr);
    ASSERT_TRUE(RealClick(saveData));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !asked.isEmpty(); }, kWaitMs));
    EXPECT_EQ(asked, QStringLiteral("Save Data"));
    watch.stop();

    // The window with the keyboard reports itself active; the other does not.
    ASSERT_TRUE(XDo({QStringLiteral("windowfocus"), Wid(chart)}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return chart->isActiveWindow(); }, kWaitMs));
    EXPECT_TRUE(A(chart)->state().active);
    EXPECT_FALSE(A(console)->state().active);
    // Keys reach it too: Alt+F is "Follow".
    auto* chartWindow = dynamic_cast<views::PressureChartWindow*>(chart);
    ASSERT_NE(chartWindow, nullptr);
    chartWindow->PanTo(0);
    ASSERT_FALSE(chartWindow->Following());
    ASSERT_TRUE(XDo({QStringLiteral("key"), QStringLiteral("alt+f")}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return chartWindow->Following(); }, kWaitMs));

    dlg.OnSysCommand(IDM_RESULTS, 0);
    QWidget* results = TopLevel(QStringLiteral("Results"));
    ASSERT_NE(results, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(results, kWaitMs));
    EXPECT_EQ(results->parentWidget(), console);
    EXPECT_EQ(A(results)->role(), QAccessible::Window);
    auto* table = results->findChild<QTableView*>();
    ASSERT_TRUE(table != nullptr && table->model()->rowCount() == 1);
    QPushButton* clear = Named(results, QStringLiteral("Clear"));
    ASSERT_NE(clear, nullptr);
    ASSERT_TRUE(RealClick(clear));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.m_feed.Results().Rows().empty(); }, kWaitMs));
    EXPECT_EQ(table->model()->rowCount(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return results->isActiveWindow(); }, kWaitMs));
    EXPECT_TRUE(A(results)->state().active);
    EXPECT_FALSE(A(chart)->state().active);

    // Esc closes the window with the keyboard, Ctrl+W the other; the console stays.
    ASSERT_TRUE(XDo({QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !results->isVisible(); }, kWaitMs));
    ASSERT_TRUE(XDo({QStringLiteral("windowfocus"), Wid(chart)}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return chart->isActiveWindow(); }, kWaitMs));
    ASSERT_TRUE(XDo({QStringLiteral("key"), QStringLiteral("ctrl+w")}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !chart->isVisible(); }, kWaitMs));
    EXPECT_TRUE(console->isVisible());
  });
}

TEST_F(RealInput, ALeakCheckRunsFromClicksAndAbortTurnsThePumpOff) {
  testsupport::SimProcess sim(NIBP_SIM_PATH, {"--port", "COM1", "--speed", "5", "--leak", "60"});
  ASSERT_TRUE(sim.Running());
  ASSERT_TRUE(
      testsupport::SimProcess::WaitForPath(home.PortLink("COM1"), std::chrono::seconds(20)));
  WhileTheConsoleRuns([&](QWidget*) {
    dlg.OnPortOpen();
    ASSERT_EQ(dlg.m_strStatus, "COM1 OPEN");
    dlg.OnSysCommand(IDM_SERVICE_CHECKS, 0);
    auto* w = dynamic_cast<views::ServiceChecksWindow*>(TopLevel(QStringLiteral("Service Checks")));
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w, kWaitMs));
    for (int r = 1; r < 4; ++r) w->Table()->item(r, 0)->setCheckState(Qt::Unchecked);
    w->Table()->item(0, 1)->setText("target=150 settle=1 hold=5");
    const auto phase = [w] { return w->Run()->Engine().CurrentProgress().phase; };

    // Abort mid-hold: pump off and valves open at once.
    ASSERT_TRUE(RealClick(Named(w, QStringLiteral("Start"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->Run() != nullptr && w->Running(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return phase().rfind("Holding", 0) == 0; }, 60'000));
    EXPECT_EQ(dlg.m_bControlValve, 1);  // the boxes follow the check
    ASSERT_TRUE(RealClick(Named(w, QStringLiteral("Abort"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->Running(); }, kWaitMs));
    EXPECT_EQ(dlg.m_bPump, 0);
    EXPECT_EQ(dlg.m_bControlValve, 0);
    EXPECT_EQ(dlg.m_bDumpValve, 0);
    EXPECT_EQ(w->Table()->item(0, 3)->text().left(7), "ABORTED");

    // Run to the end: the leak fails its limit.
    ASSERT_TRUE(RealClick(Named(w, QStringLiteral("Start"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->Running(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->Running(); }, 90'000));
    EXPECT_EQ(w->Table()->item(0, 3)->text().left(4), "FAIL");
    EXPECT_EQ(Named<QLabel>(w, QStringLiteral("Overall verdict"))->text(), "FAIL");
  });
}

TEST_F(RealInput, ThePortsTableMapsAndUnmapsTheRowsClicked) {
  devices.Plug(ports_test::UsbAdapter());
  const std::string byId = ports_test::UsbAdapter().byId;
  const std::filesystem::path com4 = home.PortLink("COM4");
  bool ran = false;
  WhileTheConsoleRuns([&](QWidget* console) {
    QTimer::singleShot(0, [&] {
      ran = true;
      QWidget* ports = QApplication::activeModalWidget();
      ASSERT_TRUE(ports != nullptr && ports != console);
      ASSERT_TRUE(QTest::qWaitForWindowExposed(ports, kWaitMs));
      EXPECT_EQ(ports->windowTitle(), QStringLiteral("Ports"));
      auto* portTable = Named<QTableView>(ports, QStringLiteral("Ports"));
      auto* devTable = Named<QTableView>(ports, QStringLiteral("Serial devices"));
      QPushButton* map = Named(ports, QStringLiteral("Map"));
      QPushButton* unmap = Named(ports, QStringLiteral("Unmap"));
      QPushButton* close = Named(ports, QStringLiteral("Close"));
      ASSERT_TRUE(portTable && devTable && map && unmap && close);
      ASSERT_TRUE(RealClickRow(portTable, 3));
      ASSERT_TRUE(RealClickRow(devTable, 0));
      ASSERT_TRUE(QTest::qWaitFor([&] { return map->isEnabled(); }, kWaitMs));
      ASSERT_TRUE(RealClick(map));
      std::error_code ec;
      EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::read_symlink(com4, ec) == byId; },
                                  kWaitMs));
      EXPECT_EQ(portTable->model()->index(3, 1).data().toString().toStdString(), byId);
      ASSERT_TRUE(QTest::qWaitFor([&] { return unmap->isEnabled(); }, kWaitMs));
      ASSERT_TRUE(RealClick(unmap));
      EXPECT_TRUE(QTest::qWaitFor(
          [&] { return !std::filesystem::exists(std::filesystem::symlink_status(com4, ec)); },
          kWaitMs));
      auto* result = Named<QLabel>(ports, QStringLiteral("Mapping result"));
      ASSERT_NE(result, nullptr);
      EXPECT_EQ(result->text(), QStringLiteral("COM4 opens /dev/ttyS3 again"));
      ASSERT_TRUE(RealClick(close));
    });
    dlg.OnSysCommand(IDM_PORTS, 0);  // modal: returns when Close was clicked
    EXPECT_TRUE(ran);
  });
}

}  // namespace

int main(int argc, char** argv) {
  return testsupport::RunQtTests(argc, argv, g_ui);
}
