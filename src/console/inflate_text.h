#pragma once

#include <cstdint>
#include <string_view>

namespace console {

// The C library's atoi reading (leading blanks, an optional sign, digits up to the first other
// character, 0 without digits), except that a number beyond the 32-bit signed range saturates
// at its limit instead of being undefined.
[[nodiscard]] int32_t ParseInflate(std::string_view text);

}  // namespace console
