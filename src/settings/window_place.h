#pragma once
// A window's size and place as read back from a settings file, fitted to the screens that exist
// now: a garbage size cannot make a window larger than a screen (nor its buffers huge), and a
// place on a screen since gone does not hide the window.

#include <vector>

namespace settings {

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const Rect&) const = default;
};

inline constexpr int kMinWindowSide = 100;

// The screen holding `wanted`'s top-left corner (else the one it overlaps most, else the first)
// takes it: the size is cut to that screen's and the place moved until the window lies on it.
// Without screens, a 1024x768 one at 0,0 stands in.
[[nodiscard]] Rect FitToScreens(const Rect& wanted, const std::vector<Rect>& screens);

}  // namespace settings
