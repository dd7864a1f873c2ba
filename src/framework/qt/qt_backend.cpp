#include "framework/qt/qt_backend.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QStyleFactory>
#include <QStyleHints>
#include <QTimer>
#include <QUrl>
#include <filesystem>

#include "framework/qt/message_box.h"
#include "framework/qt/qt_window.h"
#include "framework/qt/signal_close.h"

namespace fw::qt {

namespace {

std::string BaseName(int argc, char** argv) {
  if (argc < 1 || argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0') return "QUIRAB_NIBP";
  return std::filesystem::path(argv[0]).filename().string();
}

}  // namespace

// Stops the text cursor's blinking after kCaretBlinkTimeout without input and restarts it with
// the next key, click, wheel turn, focus change or window activation. Text widgets follow the
// application's flash time as it changes.
class CaretBlinkTimeout final : public QObject {
 public:
  CaretBlinkTimeout() : flashMs_(QGuiApplication::styleHints()->cursorFlashTime()) {
    timer_.setSingleShot(true);
    timer_.setInterval(kCaretBlinkTimeout);
    QObject::connect(&timer_, &QTimer::timeout, this,
                     [] { QGuiApplication::styleHints()->setCursorFlashTime(0); });
    QCoreApplication::instance()->installEventFilter(this);
    timer_.start();
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::MouseButtonPress:
      case QEvent::Wheel:
      case QEvent::FocusIn:
      case QEvent::WindowActivate:
        Restart();
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void Restart() {
    if (QGuiApplication::styleHints()->cursorFlashTime() != flashMs_) {
      QGuiApplication::styleHints()->setCursorFlashTime(flashMs_);
    }
    timer_.start();
  }

  const int flashMs_;  // the platform's
  QTimer timer_;
};

QtBackend::QtBackend(int& argc, char** argv) : appName_(BaseName(argc, argv)) {
  app_ = std::make_unique<QApplication>(argc, argv);
  // One look on every desktop.
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setApplicationName(QString::fromStdString(appName_));
  // The program ends with its dialog, never because a window happened to close.
  QApplication::setQuitOnLastWindowClosed(false);
  caretBlink_ = std::make_unique<CaretBlinkTimeout>();
  signalClose_ = std::make_unique<SignalClose>();
}

QtBackend::~QtBackend() = default;

std::unique_ptr<Window> QtBackend::CreateWindow(const res::DialogTemplate& tmpl,
                                                WindowEvents& events, Window* parent) {
  return std::make_unique<QtWindow>(tmpl, events, dynamic_cast<QtWindow*>(parent));
}

bool QtBackend::OpenFolder(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

int QtBackend::MessageBox(std::string_view text, std::string_view title, UINT type) {
  return ShowMessageBox(nullptr, text, title, type);
}

int QtBackend::GetSystemMetrics(int index) const {
  constexpr int kIconSize = 32;
  return (index == SM_CXICON || index == SM_CYICON) ? kIconSize : 0;
}

}  // namespace fw::qt
