#include "views/save_hooks.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <string>

namespace views {

SaveHooks DefaultSaveHooks() {
  SaveHooks h;
  h.askPath = [](QWidget* parent, const QString& title, const QString& suggested,
                 const QString& filter) {
    return QFileDialog::getSaveFileName(parent, title, suggested, filter);
  };
  h.warn = [](QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::warning(parent, title, text);
  };
  return h;
}

bool WriteFile(const SaveHooks& hooks, QWidget* parent, const QString& title, const QString& path,
               const std::string& bytes) {
  // Written beside and renamed over: a failed save leaves an older file whole.
  QSaveFile file(path);
  const bool ok = file.open(QIODevice::WriteOnly) &&
                  file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                      static_cast<qint64>(bytes.size()) &&
                  file.commit();
  if (!ok && hooks.warn) {
    hooks.warn(parent, title, QStringLiteral("Cannot save %1:\n%2").arg(path, file.errorString()));
  }
  return ok;
}

}  // namespace views
