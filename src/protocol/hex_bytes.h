#pragma once
// Bytes typed as hex ("02 5A 0C", spaces optional), for sending bytes of one's own.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

struct HexBytes {
  std::vector<uint8_t> bytes;
  std::string error;  // empty when the text was good; else names the first bad character
};

// Two hex digits a byte; spaces anywhere. With `addChecksum` the byte that makes the sum 0 follows.
[[nodiscard]] HexBytes ParseHexBytes(std::string_view text, bool addChecksum);

}  // namespace protocol
