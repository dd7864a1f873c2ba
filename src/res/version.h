#pragma once
// The product's version. The version resource, every program's --version and the package take it
// from here; CMake reads this line too, so keep its form.

#include <cstdint>

namespace res {

inline constexpr uint16_t kVersionNumbers[4] = {1, 0, 0, 1};

}  // namespace res
