// The "Pressure Chart" and "Results" windows over their stores, offscreen.

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QBrush>
#include <QChartView>
#include <QCheckBox>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "chart/pressure_series.h"
#include "results/bp_results.h"
#include "settings/key_value.h"
#include "views/pressure_chart_window.h"
#include "views/results_window.h"
#include "views/send_bytes_dialog.h"

namespace {

constexpr int64_t kT0 = 1'796'000'000'000;
constexpr int kWaitMs = 5000;

// A private configuration folder and a scratch folder for saved files.
struct Scratch {
  std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "nibp_views_test";
  std::string oldXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  Scratch() {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  }
  ~Scratch() {
    if (oldXdg.empty()) {
      unsetenv("XDG_CONFIG_HOME");
    } else {
      setenv("XDG_CONFIG_HOME", oldXdg.c_str(), 1);
    }
    std::filesystem::remove_all(dir);
  }
  [[nodiscard]] QString Path(const char* name) const {
    return QString::fromStdString((dir / name).string());
  }
};

// Answers every file dialog with `path` and keeps the warnings.
struct Hooks {
  QString path;
  QStringList warnings;
  views::SaveHooks Make() {
    return {[this](QWidget*, const QString&, const QString&, const QString&) { return path; },
            [this](QWidget*, const QString&, const QString& text) { warnings << text; }};
  }
};

std::string ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("(unreadable)");
}

TEST(PressureChartWindow, FollowsZoomsPansDescribesAndSaves) {
  Scratch scratch;
  chart::PressureSeries series;
  for (int i = 0; i <= 400; ++i) series.AddPoint(kT0 + i * 250, 100 + i % 50);
  series.AddMarker(kT0 + 90'000, "Start Adult BP");
  views::PressureChartWindow w(series);
  Hooks hooks;
  w.hooks = hooks.Make();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, kWaitMs));
  QWidget* plot = w.Plot();
  EXPECT_EQ(plot->accessibleDescription(), "Latest: 100 mmHg; 401 points");
  // Following: 60 s that end at the newest point, moved on in steps of a tenth of that.
  EXPECT_TRUE(w.Following());
  EXPECT_DOUBLE_EQ(w.From(), 42.0);
  EXPECT_DOUBLE_EQ(w.Span(), 60.0);

  series.AddPoint(kT0 + 103'000, 260);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return plot->accessibleDescription() == "Latest: 260 mmHg; 402 points"; }, kWaitMs));
  EXPECT_DOUBLE_EQ(w.From(), 48.0);

  // The wheel zooms time, a drag pans and stops following, End follows again.
  // The mouse reaches the plot through its viewport, as on screen.
  QWidget* port = static_cast<QAbstractScrollArea*>(plot)->viewport();
  const QPoint mid = port->rect().center();
  QWheelEvent wheel(mid, port->mapToGlobal(mid), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(port, &wheel);
  EXPECT_NEAR(w.Span(), 48.0, 1e-9);
  QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, mid);
  QTest::mouseMove(port, mid + QPoint(200, 0));
  QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, mid + QPoint(200, 0));
  EXPECT_FALSE(w.Following());
  EXPECT_LT(w.From(), 56.0);
  QTest::keyClick(plot, Qt::Key_End);  // from the plot, which has the focus after a click
  EXPECT_TRUE(w.Following());

  // Nothing is drawn while hidden; showing again catches up.
  w.hide();
  const int frames = w.FramesDrawn();
  series.AddPoint(kT0 + 102'000, 7);
  QTest::qWait(200);
  EXPECT_EQ(w.FramesDrawn(), frames);
  w.show();
  EXPECT_GT(w.FramesDrawn(), frames);

  hooks.path = scratch.Path("p.png");
  for (auto* b : w.findChildren<QPushButton*>()) {
    if (b->accessibleName() == "Save Image...") b->click();
  }
  EXPECT_FALSE(QImage(hooks.path).isNull());
  hooks.path = scratch.Path("p.csv");
  w.SaveData();
  EXPECT_EQ(ReadAll(hooks.path), series.Csv());
  hooks.path = scratch.Path("missing/p.csv");
  w.SaveData();
  w.SaveImage();
  EXPECT_EQ(hooks.warnings.size(), 2);
  hooks.path.clear();  // cancelled
  w.SaveData();
  EXPECT_EQ(hooks.warnings.size(), 2);
}

TEST(PressureChartWindow, TheLineBreaksAcrossAGapAndALonePointStillShows) {
  Scratch scratch;
  chart::PressureSeries series;
  // 20 s at 4 points a second, 20 s of nothing (a lost port), 15 s more, then a lone point.
  for (int i = 0; i < 80; ++i) series.AddPoint(kT0 + i * 250, 150);
  for (int i = 0; i < 60; ++i) series.AddPoint(kT0 + 40'000 + i * 250, 150);
  series.AddPoint(kT0 + 58'000, 150);
  views::PressureChartWindow w(series);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, kWaitMs));
  w.Refresh();
  EXPECT_EQ(w.RunCount(), 3);
  ASSERT_DOUBLE_EQ(w.From(), 0.0);

  // On screen: the line at 150 mmHg is there at 10 s, 50 s and 58 s, and not at 30 s.
  QWidget* plot = w.Plot();
  const QImage image = plot->grab().toImage();
  const QRectF area = static_cast<QChartView*>(plot)->chart()->plotArea();
  const auto drawnAt = [&](double seconds) {
    const int x = static_cast<int>(area.left() + seconds / w.Span() * area.width());
    for (int y = static_cast<int>(area.top()); y < static_cast<int>(area.bottom()); ++y) {
      const QColor c = image.pixelColor(x, y);
      if (c.blue() > 200 && c.red() < 80) return true;
    }
    return false;
  };
  EXPECT_TRUE(drawnAt(10));
  EXPECT_FALSE(drawnAt(30));
  EXPECT_TRUE(drawnAt(50));
  EXPECT_TRUE(drawnAt(58));
}

TEST(PressureChartWindow, KeepsItsSizeAndPlaceAcrossStarts) {
  Scratch scratch;
  chart::PressureSeries series;
  const QRect placed(70, 80, 640, 360);
  {
    views::PressureChartWindow w(series);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, kWaitMs));
    w.setGeometry(placed);
  }
  views::PressureChartWindow again(series);
  again.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&again, kWaitMs));
  EXPECT_EQ(again.geometry(), placed);
}

TEST(PressureChartWindow, AGarbageSizeOrPlaceIsFittedToTheScreenAndNotWrittenBack) {
  Scratch scratch;
  chart::PressureSeries series;
  const std::string conf = settings::ConfigPath("windows.conf");
  ASSERT_TRUE(settings::Save(
      conf,
      {{"chart.w", "60000"}, {"chart.h", "60000"}, {"chart.x", "-70000"}, {"chart.y", "99999"}}));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  {
    views::PressureChartWindow w(series);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, kWaitMs));
    EXPECT_LE(w.width(), screen.width());
    EXPECT_LE(w.height(), screen.height());
    EXPECT_GE(w.x(), screen.x());
    EXPECT_LE(w.y() + w.height(), screen.y() + screen.height());
  }
  const settings::Values back = settings::Load(conf);
  EXPECT_LE(std::stoi(back.at("chart.w")), screen.width());
  EXPECT_LE(std::stoi(back.at("chart.h")), screen.height());
  EXPECT_GE(std::stoi(back.at("chart.x")), screen.x());
}

TEST(ResultsWindow, RowsSortSummariseSaveAndClear) {
  Scratch scratch;
  results::BpResults rows;
  const int table[][4] = {{120, 80, 60, 93}, {131, 85, 70, 100}, {118, 79, 61, 92}};
  for (int i = 0; i < 3; ++i) {
    rows.Add({kT0 + i * 60'000,
              table[i][0],
              table[i][1],
              table[i][2],
              table[i][3],
              5,
              0,
              2,
              {1, 2, 3, 4, 5, 6, 7, 0xab}});
  }
  views::ResultsWindow w(rows);
  Hooks hooks;
  w.hooks = hooks.Make();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, kWaitMs));
  QTableView* t = w.Table();
  const auto cell = [t](int row, int col) { return t->model()->index(row, col).data().toString(); };
  ASSERT_EQ(t->model()->rowCount(), 3);
  EXPECT_EQ(t->model()->headerData(3, Qt::Horizontal).toString(), "Heart rate");
  EXPECT_EQ(cell(2, 1), "118");  // arrival order: the newest at the bottom
  EXPECT_EQ(cell(0, 8), "01 02 03 04 05 06 07 ab ");
  EXPECT_EQ(w.SummaryLabel()->text().toStdString(), results::SummaryText(rows.Summarize({})));

  // A new result shows without being asked.
  rows.Add({kT0 + 240'000, 125, 82, 66, 96});
  ASSERT_TRUE(QTest::qWaitFor([&] { return t->model()->rowCount() == 4; }, kWaitMs));
  EXPECT_EQ(cell(3, 1), "125");
  EXPECT_EQ(cell(3, 9), "");  // no mode known

  // An aborted measurement: a red row, "error" for screen readers, out of the summary; fetched
  // twice, it is one row.
  const QString summary = w.SummaryLabel()->text();
  const results::BpRow aborted{
      kT0 + 300'000, 0, 0, 0, 0, 0, 1, 0x21, {9, 9, 9, 9, 9, 9, 9, 9}, commands::Mode::kNeonate};
  rows.Add(aborted);
  rows.Add(aborted);
  ASSERT_TRUE(QTest::qWaitFor([&] { return t->model()->rowCount() == 5; }, kWaitMs));
  EXPECT_EQ(t->model()->headerData(9, Qt::Horizontal).toString(), "Mode");
  EXPECT_EQ(cell(4, 9), "neonate");
  const QModelIndex status = t->model()->index(4, 7);
  EXPECT_EQ(status.data(Qt::AccessibleTextRole).toString(), "33, error");
  EXPECT_EQ(t->model()->index(3, 7).data(Qt::AccessibleTextRole).toString(), "0");
  EXPECT_EQ(status.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(0xc0, 0x20, 0x20));
  EXPECT_FALSE(t->model()->index(3, 1).data(Qt::ForegroundRole).isValid());
  EXPECT_EQ(w.SummaryLabel()->text(), summary);

  t->sortByColumn(1, Qt::DescendingOrder);
  EXPECT_EQ(cell(0, 1), "131");
  // The summary follows the selection, mapped through the sort.
  t->selectRow(0);
  EXPECT_EQ(w.SummaryLabel()->text().toStdString(), results::SummaryText(rows.Summarize({1})));
  EXPECT_TRUE(w.SummaryLabel()->text().startsWith("n=1   Systolic: mean 131.0, SD 0.0"));

  hooks.path = scratch.Path("r.csv");
  w.SaveCsv();
  EXPECT_EQ(ReadAll(hooks.path), rows.Csv());
  w.ClearRows();
  EXPECT_EQ(t->model()->rowCount(), 0);
  EXPECT_TRUE(rows.Rows().empty());
  EXPECT_EQ(w.SummaryLabel()->text(), "n=0");
  EXPECT_TRUE(hooks.warnings.isEmpty());
}

// Esc and Ctrl+W close the chart and the results, from the window or from its table.
TEST(ConsoleWindows, EscAndCtrlWClose) {
  Scratch scratch;
  chart::PressureSeries series;
  results::BpResults rows;
  views::PressureChartWindow chart(series);
  views::ResultsWindow table(rows);
  struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
  };
  for (const Key k : {Key{Qt::Key_Escape, Qt::NoModifier}, Key{Qt::Key_W, Qt::ControlModifier}}) {
    for (QWidget* w : {static_cast<QWidget*>(&chart), static_cast<QWidget*>(&table)}) {
      w->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(w, kWaitMs));
      QWidget* target = w == &table ? static_cast<QWidget*>(table.Table()) : w;
      QTest::keyClick(target, k.key, k.modifiers);
      EXPECT_FALSE(w->isVisible()) << w->windowTitle().toStdString() << " " << k.key;
    }
  }
}

}  // namespace

namespace {

// Typed hex with the checksum box as the user leaves it; a good text closes the box with the
// bytes (a typo's message is the parser's, tested with it).
TEST(SendBytesDialog, SendGivesTheTypedBytesWithOrWithoutTheChecksum) {
  const struct {
    const char* text;
    bool checksum;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"3A 79 05 00", true, {0x3A, 0x79, 0x05, 0x00, 0x48}},
      {"3a7905 0047", false, {0x3A, 0x79, 0x05, 0x00, 0x47}},
  };
  for (const auto& c : cases) {
    views::SendBytesDialog dialog(nullptr);
    dialog.show();
    auto* hex = dialog.findChild<QLineEdit*>();
    auto* checksum = dialog.findChild<QCheckBox*>();
    ASSERT_NE(hex, nullptr);
    ASSERT_NE(checksum, nullptr);
    EXPECT_TRUE(checksum->isChecked());  // checked by default
    QTest::keyClicks(hex, c.text);
    if (!c.checksum) QTest::keyClick(checksum, Qt::Key_Space);
    QPushButton* send = nullptr;
    for (auto* b : dialog.findChildren<QPushButton*>()) {
      if (b->text() == "Send") send = b;
    }
    ASSERT_NE(send, nullptr);
    QTest::mouseClick(send, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.text;
    EXPECT_EQ(dialog.Bytes(), c.bytes) << c.text;
  }
}

}  // namespace
