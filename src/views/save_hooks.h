#pragma once
// How a view asks for a file name and reports a failed save. Tests replace both, so that no
// modal dialog waits for a hand.

#include <QString>
#include <functional>

class QWidget;

namespace views {

struct SaveHooks {
  // The chosen path, or empty when the user cancelled.
  std::function<QString(QWidget* parent, const QString& title, const QString& suggested,
                        const QString& filter)>
      askPath;
  std::function<void(QWidget* parent, const QString& title, const QString& text)> warn;
};

// A file dialog and a warning box.
[[nodiscard]] SaveHooks DefaultSaveHooks();

// Writes `bytes` to `path`; on failure says why through `hooks.warn` and returns false.
bool WriteFile(const SaveHooks& hooks, QWidget* parent, const QString& title, const QString& path,
               const std::string& bytes);

}  // namespace views
