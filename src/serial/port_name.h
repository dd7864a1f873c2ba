#pragma once
// Port names as the user types them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace serial {

// "COM" and a number 1..255, any case, blanks around ignored ("com3", " COM12 "); no sign, no
// leading zero, nothing else.
[[nodiscard]] std::optional<uint8_t> ParsePortName(std::string_view text);

}  // namespace serial
