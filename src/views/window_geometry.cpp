#include "views/window_geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <vector>

#include "settings/key_value.h"
#include "settings/window_place.h"

namespace views {

namespace {
constexpr char kWindowsFile[] = "windows.conf";
constexpr int kSmallest = 100;  // a saved size below this is taken for garbage
}  // namespace

void RestoreGeometry(QWidget& window, const std::string& prefix, QSize fallback) {
  const settings::Values v = settings::Load(settings::ConfigPath(kWindowsFile));
  const auto get = [&](const char* key, int& out) {
    const auto it = v.find(prefix + "." + key);
    if (it == v.end()) return false;
    bool ok = false;
    out = QString::fromStdString(it->second).toInt(&ok);
    return ok;
  };
  settings::Rect place{0, 0, fallback.width(), fallback.height()};
  int w = 0, h = 0;
  if (get("w", w) && get("h", h) && w > kSmallest && h > kSmallest) place.w = w, place.h = h;
  const bool placed = get("x", place.x) && get("y", place.y);
  std::vector<settings::Rect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect a = screen->availableGeometry();
    screens.push_back({a.x(), a.y(), a.width(), a.height()});
  }
  place = settings::FitToScreens(place, screens);
  window.resize(place.w, place.h);
  if (placed) window.move(place.x, place.y);
}

void SaveGeometry(const QWidget& window, const std::string& prefix) {
  const std::string path = settings::ConfigPath(kWindowsFile);
  settings::Values v = settings::Load(path);
  v[prefix + ".x"] = std::to_string(window.pos().x());
  v[prefix + ".y"] = std::to_string(window.pos().y());
  v[prefix + ".w"] = std::to_string(window.width());
  v[prefix + ".h"] = std::to_string(window.height());
  (void)settings::Save(path, v);  // a lost place is no reason to bother the user
}

}  // namespace views
