// Pictures of the console, its About box and its Ports window, as the user first sees them.
// Usage: nibp_screenshot OUTPUT_DIR

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "console/nibp_dlg.h"
#include "framework/qt/qt_backend.h"
#include "framework/qt/qt_window.h"
#include "res/resource.h"

namespace {

bool Save(QWidget* w, const QString& path) {
  if (!w->grab().save(path)) {
    std::fprintf(stderr, "nibp_screenshot: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
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

  CNibpDlg dlg(ui);
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
  dlg.EndDialog(IDCANCEL);
  return ok ? 0 : 1;
}
