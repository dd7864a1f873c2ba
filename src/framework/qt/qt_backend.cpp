#include "framework/qt/qt_backend.h"

#include <QApplication>
#include <QStyleFactory>
#include <filesystem>

#include "framework/qt/message_box.h"
#include "framework/qt/qt_window.h"

namespace fw::qt {

namespace {

std::string BaseName(int argc, char** argv) {
  if (argc < 1 || argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0') return "QUIRAB_NIBP";
  return std::filesystem::path(argv[0]).filename().string();
}

}  // namespace

QtBackend::QtBackend(int& argc, char** argv) : appName_(BaseName(argc, argv)) {
  app_ = std::make_unique<QApplication>(argc, argv);
  // One look on every desktop.
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setApplicationName(QString::fromStdString(appName_));
  // The program ends with its dialog, never because a window happened to close.
  QApplication::setQuitOnLastWindowClosed(false);
}

QtBackend::~QtBackend() = default;

std::unique_ptr<Window> QtBackend::CreateWindow(const res::DialogTemplate& tmpl,
                                                WindowEvents& events, Window* parent) {
  return std::make_unique<QtWindow>(tmpl, events, dynamic_cast<QtWindow*>(parent));
}

int QtBackend::MessageBox(std::string_view text, std::string_view title, UINT type) {
  return ShowMessageBox(nullptr, text, title, type);
}

int QtBackend::GetSystemMetrics(int index) const {
  constexpr int kIconSize = 32;
  return (index == SM_CXICON || index == SM_CYICON) ? kIconSize : 0;
}

}  // namespace fw::qt
