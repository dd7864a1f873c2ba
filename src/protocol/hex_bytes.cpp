#include "protocol/hex_bytes.h"

#include <span>

#include "protocol/frames.h"

namespace protocol {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

HexBytes ParseHexBytes(std::string_view text, bool addChecksum) {
  HexBytes out;
  int high = -1;  // the first digit of a byte begun
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t') continue;
    const int v = DigitValue(c);
    if (v < 0) {
      out.bytes.clear();
      out.error =
          "Not a hex digit: '" + std::string(1, c) + "' at position " + std::to_string(i + 1);
      return out;
    }
    if (high < 0) {
      high = v;
    } else {
      out.bytes.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) {
    out.bytes.clear();
    out.error = "The last byte has only one hex digit";
  } else if (out.bytes.empty()) {
    out.error = "No bytes to send";
  } else if (addChecksum) {
    out.bytes.push_back(Checksum(out.bytes));
  }
  return out;
}

}  // namespace protocol
