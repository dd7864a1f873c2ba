#pragma once
// An icon decoded from its resource: one ARGB image per size, largest first.

#include <cstdint>
#include <vector>

#include "framework/afx.h"

namespace fw {

struct IconImage {
  int size = 0;
  std::vector<uint32_t> argb;  // size * size pixels, rows top to bottom
};

struct Icon {
  int id = 0;
  std::vector<IconImage> images;
  // The image closest to `size` (the larger one on a tie).
  [[nodiscard]] const IconImage& Best(int size) const;
};

// Null when no icon resource has this id. Icons live as long as the process.
[[nodiscard]] HICON LoadIcon(int id);

}  // namespace fw
