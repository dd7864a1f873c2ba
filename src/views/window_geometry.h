#pragma once
// A capability window's place and size across runs, kept in the settings file windows.conf
// under a prefix of its own ("chart.x", "chart.y", "chart.w", "chart.h").

#include <QSize>
#include <string>

class QWidget;

namespace views {

// Sizes the window as it was left (else `fallback`) and moves it where it was, both fitted to
// the screens there are now: a garbage size is neither drawn nor written back.
void RestoreGeometry(QWidget& window, const std::string& prefix, QSize fallback);
// The frame's place and the inside's size: what move() and resize() take back.
void SaveGeometry(const QWidget& window, const std::string& prefix);

}  // namespace views
