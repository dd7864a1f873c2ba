#pragma once

#include <QKeyEvent>
#include <QKeySequence>

namespace views {

// Esc, or the desktop's Close (Ctrl+W, Ctrl+F4): the keys that close a window of the console's.
[[nodiscard]] inline bool IsCloseKey(const QKeyEvent& e) {
  return (e.key() == Qt::Key_Escape && e.modifiers() == Qt::NoModifier) ||
         e.matches(QKeySequence::Close);
}

}  // namespace views
