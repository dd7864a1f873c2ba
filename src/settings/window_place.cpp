#include "settings/window_place.h"

#include <algorithm>
#include <cstdint>

namespace settings {

namespace {

int64_t Overlap(const Rect& a, const Rect& b) {
  const int64_t w = std::min<int64_t>(int64_t{a.x} + a.w, int64_t{b.x} + b.w) - std::max(a.x, b.x);
  const int64_t h = std::min<int64_t>(int64_t{a.y} + a.h, int64_t{b.y} + b.h) - std::max(a.y, b.y);
  return w > 0 && h > 0 ? w * h : 0;
}

bool Holds(const Rect& s, int x, int y) {
  return x >= s.x && y >= s.y && int64_t{x} < int64_t{s.x} + s.w && int64_t{y} < int64_t{s.y} + s.h;
}

}  // namespace

Rect FitToScreens(const Rect& wanted, const std::vector<Rect>& screens) {
  static constexpr Rect kStandIn{0, 0, 1024, 768};
  const Rect* screen = screens.empty() ? &kStandIn : &screens.front();
  int64_t best = 0;
  for (const Rect& s : screens) {
    if (Holds(s, wanted.x, wanted.y)) {
      screen = &s;
      break;
    }
    if (const int64_t o = Overlap(s, wanted); o > best) {
      best = o;
      screen = &s;
    }
  }
  const Rect& s = *screen;
  Rect out;
  out.w = std::clamp(wanted.w, std::min(kMinWindowSide, s.w), std::max(s.w, 1));
  out.h = std::clamp(wanted.h, std::min(kMinWindowSide, s.h), std::max(s.h, 1));
  out.x = static_cast<int>(std::clamp<int64_t>(wanted.x, s.x, int64_t{s.x} + s.w - out.w));
  out.y = static_cast<int>(std::clamp<int64_t>(wanted.y, s.y, int64_t{s.y} + s.h - out.h));
  return out;
}

}  // namespace settings
