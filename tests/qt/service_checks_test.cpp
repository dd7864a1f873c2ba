// The "Service Checks" window's wiring, offscreen, on a console stand-in that keeps what is sent.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTableWidget>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "console/checks_run.h"
#include "views/service_checks_window.h"

namespace {

struct FakeConsole final : console::ChecksHost {
  bool open = true;
  bool measuring = false;
  int64_t now = 1'796'000'000'000;
  modlink::EventSink* sink = nullptr;
  std::vector<commands::Request> sent;
  std::vector<std::string> markers;
  bool ChecksPortOpen() const override { return open; }
  bool ChecksMeasuring() const override { return measuring; }
  std::string ChecksPort() const override { return "COM1"; }
  std::string ChecksDevice() const override { return "/dev/pts/9"; }
  int64_t ChecksNowMs() const override { return now; }
  SendResult ChecksSend(const commands::Request& r) override {
    sent.push_back(r);
    if (sink != nullptr) {
      modlink::Event e;
      e.ms = now;
      e.kind = modlink::EventKind::kSent;
      e.request = r;
      sink->OnEvent(e);
    }
    return SendResult::kSent;
  }
  void SetChecksSink(modlink::EventSink* s) override { sink = s; }
  void ChecksMarker(int64_t, const std::string& label) override { markers.push_back(label); }
  std::vector<std::string> logs;
  bool ventWhenBack = false;
  void ChecksLog(const std::string& line) override { logs.push_back(line); }
  void ChecksVentWhenBack() override { ventWhenBack = true; }
  void Cuff(int mmHg) {
    modlink::Event e;
    e.ms = now;
    e.kind = modlink::EventKind::kCuffPressure;
    e.mmHg = mmHg;
    if (sink != nullptr) sink->OnEvent(e);
  }
};

struct Scratch {
  std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "nibp_checks_window";
  Scratch() {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    // A port whose device is gone: the link wins over the host's own devices.
    const auto ports = dir / "config" / "quirab_nibp" / "ports";
    std::filesystem::create_directories(ports);
    std::filesystem::create_symlink(dir / "no-such-device", ports / "COM200");
  }
  ~Scratch() { std::filesystem::remove_all(dir); }
  [[nodiscard]] QString Path(const char* name) const {
    return QString::fromStdString((dir / name).string());
  }
};

std::string ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("(unreadable)");
}

struct Window {
  FakeConsole console;
  views::ServiceChecksWindow w{console};
  QStringList warnings;
  Window() {
    w.hooks.warn = [this](QWidget*, const QString&, const QString& text) { warnings << text; };
    w.hooks.askPath = [](QWidget*, const QString&, const QString&, const QString&) {
      return QString();
    };
    // Only the leak check.
    for (int r = 1; r < 4; ++r) w.Table()->item(r, 0)->setCheckState(Qt::Unchecked);
  }
};

TEST(ServiceChecksWindow, RefusesToStartWithReasonAndSendsNothing) {
  Scratch scratch;
  struct Row {
    bool open;
    bool measuring;
    int row;
    const char* cell;  // text put in column 1 (params) or 2 (limit) of `row`, or none
    int column;
    const char* warning;          // the whole text, or its start when it ends in ": "
    const char* gauge = nullptr;  // the reference read from a gauge on this port
  };
  const Row rows[] = {
      {false, false, 0, nullptr, 0, "Cannot start: The port is not open."},
      {true, true, 0, nullptr, 0, "Cannot start: A measurement is running."},
      {true, false, 0, "target=400", 1, "leak target must be 20 to 320."},
      {true, false, 0, "120", 2, "The leak limit must be 0 to 100 mmHg/min."},
      {true, false, 1, "points=0,400", 1, "static points must be 0 to 330 mmHg."},
      {true, false, 0, "colour=3", 1, "leak: unknown parameter \"colour\"."},
      {true, false, 1, nullptr, 0, "Give the gauge's port, COM1 to COM255.", "COM0"},
      {true, false, 1, nullptr, 0, "The gauge needs a port of its own.", "com1"},
      {true, false, 1, nullptr, 0, "Cannot open the gauge: COM200 -> ", "COM200"},
  };
  for (const Row& r : rows) {
    Window t;
    t.console.open = r.open;
    t.console.measuring = r.measuring;
    if (r.cell != nullptr) t.w.Table()->item(r.row, r.column)->setText(r.cell);
    t.w.Table()->item(r.row, 0)->setCheckState(Qt::Checked);
    if (r.gauge != nullptr) {
      for (QComboBox* c : t.w.findChildren<QComboBox*>())
        if (c->findText("Gauge on port") >= 0) c->setCurrentText("Gauge on port");
      for (QLineEdit* e : t.w.findChildren<QLineEdit*>())
        if (e->accessibleName() == "Gauge port") e->setText(r.gauge);
    }
    t.w.Start();
    ASSERT_EQ(t.warnings.size(), 1) << r.warning;
    const QString want = r.warning;
    if (want.endsWith(' ')) {
      EXPECT_TRUE(t.warnings[0].startsWith(want) && t.warnings[0].size() > want.size())
          << t.warnings[0].toStdString();
    } else {
      EXPECT_EQ(t.warnings[0], want);
    }
    EXPECT_TRUE(t.console.sent.empty());
    EXPECT_FALSE(t.w.Running());
  }
  // The ceiling: never above 330 mmHg.
  Window t;
  QLineEdit* ceiling = nullptr;
  for (QLineEdit* e : t.w.findChildren<QLineEdit*>())
    if (e->accessibleName() == "Ceiling") ceiling = e;
  ASSERT_NE(ceiling, nullptr);
  ceiling->setText("331");
  t.w.Start();
  EXPECT_EQ(t.warnings, QStringList{"The ceiling must be 50 to 330 mmHg."});
}

TEST(ServiceChecksWindow, AbortStopsThroughTheSafetyPathAndTheReportIsSaved) {
  Scratch scratch;
  Window t;
  for (QLineEdit* e : t.w.findChildren<QLineEdit*>())
    if (e->accessibleName() == "Module ID") e->setText("NIBP-0042");
  t.w.Start();
  ASSERT_TRUE(t.w.Running());
  ASSERT_FALSE(t.console.sent.empty());
  EXPECT_NE(t.console.sink, nullptr);  // the console's commands are off while it runs
  for (int mmHg = 0; mmHg <= 120; mmHg += 20) {
    t.console.now += 250;
    t.console.Cuff(mmHg);
    QTest::qWait(60);
  }
  const size_t before = t.console.sent.size();
  t.w.Abort();
  ASSERT_GT(t.console.sent.size(), before);
  const commands::Request last = t.console.sent.back();
  EXPECT_EQ(last.command, commands::Command::kPneumatics);
  EXPECT_FALSE(last.pump);
  EXPECT_FALSE(last.controlClosed);
  EXPECT_FALSE(last.dumpClosed);
  EXPECT_EQ(t.console.sink, nullptr);
  EXPECT_FALSE(t.w.Running());
  EXPECT_EQ(t.w.Table()->item(0, 3)->text().left(7), "ABORTED");
  const auto label = [&](const char* name) -> QLabel* {
    for (QLabel* l : t.w.findChildren<QLabel*>())
      if (l->accessibleName() == name) return l;
    return nullptr;
  };
  ASSERT_TRUE(label("Phase") != nullptr && label("Cuff pressure") != nullptr);
  EXPECT_EQ(label("Phase")->text(), "Stopped");       // not "Done"
  EXPECT_FALSE(label("Cuff pressure")->isEnabled());  // no longer live
  EXPECT_EQ(t.console.logs.front(), "Service checks: leak");
  EXPECT_EQ(t.console.logs.back(), "leak: ABORTED: aborted by the operator");
  EXPECT_FALSE(t.console.ventWhenBack);  // the vent went out
  EXPECT_FALSE(t.console.markers.empty());

  const QString json = scratch.Path("r.json");
  const QString pdf = scratch.Path("r.pdf");
  ASSERT_TRUE(t.w.SaveReport(json));
  ASSERT_TRUE(t.w.SaveReport(pdf));
  EXPECT_NE(ReadAll(json).find("NIBP-0042"), std::string::npos);
  EXPECT_EQ(ReadAll(pdf).substr(0, 5), "%PDF-");
  // The HTML's chart draws by itself, without the page's style, as the PDF and the printout take
  // it: the pump's shading and the blue trace are in its picture.
  const QString html = scratch.Path("r.html");
  ASSERT_TRUE(t.w.SaveReport(html));
  const std::string saved = ReadAll(html);
  const size_t from = saved.find("<svg");
  ASSERT_NE(from, std::string::npos);
  QSvgRenderer chart(
      QByteArray::fromStdString(saved.substr(from, saved.find("</svg>") + 6 - from)));
  ASSERT_TRUE(chart.isValid());
  // At three times its size, as the PDF takes it: the thin trace has whole pixels of its colour.
  QImage picture(chart.defaultSize() * 3, QImage::Format_RGB32);
  picture.fill(Qt::white);
  {
    QPainter painter(&picture);
    chart.render(&painter);
  }
  const auto near = [](QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue()) <=
           12;
  };
  for (const QColor want : {QColor("#f6c87e"), QColor("#1f4fb0")}) {
    bool seen = false;
    for (int y = 0; y < picture.height() && !seen; ++y)
      for (int x = 0; x < picture.width() && !seen; ++x)
        seen = near(picture.pixelColor(x, y), want);
    EXPECT_TRUE(seen) << want.name().toStdString();
  }
  EXPECT_TRUE(t.warnings.isEmpty());
  // The page says what the file says, as text a reader can find.
  const QString reader = QStandardPaths::findExecutable("pdftotext");
  if (reader.isEmpty()) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
  QProcess text;
  text.start(reader, {"-layout", pdf, "-"});
  ASSERT_TRUE(text.waitForFinished(20000) && text.exitCode() == 0) << "pdftotext failed";
  const QString page = QString::fromUtf8(text.readAllStandardOutput());
  for (const char* seen : {"NIBP-0042", "ABORTED"}) EXPECT_TRUE(page.contains(seen)) << seen;
}

TEST(ServiceChecksWindow, TheTypedReadingIsAskedForAndAnsweredOrAborted) {
  Scratch scratch;
  struct Row {
    const char* typed;  // the reading typed, or none to press Abort
    const char* verdict;
  };
  for (const Row& r : {Row{"1.5", "PASS"}, Row{"9.0", "FAIL"}, Row{nullptr, "ABORTED"}}) {
    Window t;
    t.w.Table()->item(0, 0)->setCheckState(Qt::Unchecked);
    t.w.Table()->item(1, 0)->setCheckState(Qt::Checked);
    t.w.Table()->item(1, 1)->setText("points=0 settle=2");
    t.w.Start();
    ASSERT_TRUE(t.w.Running()) << t.warnings.join(' ').toStdString();
    // The cuff stays down while the point settles; then the operator is asked.
    QDialog* dlg = nullptr;
    for (int i = 0; i < 400 && dlg == nullptr; ++i) {
      t.console.now += 50;
      t.console.Cuff(0);
      QTest::qWait(10);
      dlg = t.w.findChild<QDialog*>();
    }
    ASSERT_NE(dlg, nullptr) << "no reference dialog";
    EXPECT_EQ(dlg->windowTitle(), "Reference Reading");
    ASSERT_NE(dlg->findChild<QLabel*>(), nullptr);
    EXPECT_EQ(dlg->findChild<QLabel*>()->text(), "Reference reading at 0 mmHg");
    QPushButton* ok = nullptr;
    QPushButton* abort = nullptr;
    for (QPushButton* b : dlg->findChildren<QPushButton*>())
      (b->accessibleName() == "OK" ? ok : abort) = b;
    ASSERT_TRUE(ok != nullptr && abort != nullptr);
    ok->click();  // nothing typed: it stays open
    EXPECT_TRUE(dlg->isVisible());
    if (r.typed != nullptr) {
      ASSERT_NE(dlg->findChild<QLineEdit*>(), nullptr);
      dlg->findChild<QLineEdit*>()->setText(r.typed);
      ok->click();
    } else {
      abort->click();
    }
    for (int i = 0; i < 400 && t.w.Running(); ++i) {
      t.console.now += 50;
      t.console.Cuff(0);
      QTest::qWait(10);
    }
    EXPECT_FALSE(t.w.Running()) << r.verdict;
    const QString verdict = t.w.Table()->item(1, 3)->text();
    EXPECT_TRUE(verdict.startsWith(r.verdict)) << verdict.toStdString();
    ASSERT_FALSE(t.console.sent.empty());
    const commands::Request last = t.console.sent.back();
    EXPECT_EQ(last.command, commands::Command::kPneumatics) << r.verdict;
    EXPECT_FALSE(last.pump || last.controlClosed || last.dumpClosed) << r.verdict;
  }
}

}  // namespace
