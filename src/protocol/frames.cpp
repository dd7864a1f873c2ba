#include "protocol/frames.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

namespace protocol {
namespace {

constexpr char kHexLower[] = "0123456789abcdef";
constexpr char kHexUpper[] = "0123456789ABCDEF";

// "<%.2X>" and "%.2x " of every byte value, four characters each, so that a frame renders with
// one move per byte.
constexpr auto kRawTexts = [] {
  std::array<char, 256 * 4> t{};
  for (size_t b = 0; b < 256; ++b) {
    t[4 * b] = '<';
    t[4 * b + 1] = kHexUpper[b >> 4];
    t[4 * b + 2] = kHexUpper[b & 0xF];
    t[4 * b + 3] = '>';
  }
  return t;
}();
constexpr auto kSpacedTexts = [] {
  std::array<char, 256 * 4> t{};
  for (size_t b = 0; b < 256; ++b) {
    t[4 * b] = kHexLower[b >> 4];
    t[4 * b + 1] = kHexLower[b & 0xF];
    t[4 * b + 2] = ' ';
  }
  return t;
}();

// ASCII rules, never the process locale (which the window system sets from the environment).
char AsciiUpper(char c) {
  return static_cast<char>(static_cast<unsigned char>(c - 'a') < 26 ? c - ('a' - 'A') : c);
}

size_t Put(TxBuf& tx, std::initializer_list<uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), tx.begin());
  return bytes.size();
}

// Stores the checksum in the last of the n bytes.
size_t Seal(TxBuf& tx, size_t n) {
  tx[n - 1] = Checksum(std::span(tx.data(), n - 1));
  return n;
}

}  // namespace

uint8_t Checksum(std::span<const uint8_t> body) {
  uint8_t sum = 0;
  for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
  return static_cast<uint8_t>(-sum);
}

bool SumsToZero(std::span<const uint8_t> frame) {
  uint8_t sum = 0;
  for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
  return sum == 0;
}

size_t BuildSetPressure(TxBuf& tx, uint32_t inflate) {
  Put(tx, {kCommandStart, 0x17, static_cast<uint8_t>(inflate & 0xFF),
           static_cast<uint8_t>((inflate >> 8) & 0xFF), 0});
  return Seal(tx, 5);
}

size_t BuildStartAdult(TxBuf& tx) {
  return Put(tx, {kCommandStart, 0x20, 0xA6});
}
size_t BuildStartNeonate(TxBuf& tx) {
  return Put(tx, {kCommandStart, 0x28, 0x9E});
}
size_t BuildStartPediatric(TxBuf& tx) {
  return Put(tx, {kCommandStart, 0x87, 0x3F});
}
size_t BuildAbortBp(TxBuf& tx) {
  return Put(tx, {kCommandStart, 0x79, 0x01, 0x00, 0x4C});
}
size_t BuildGetPressure(TxBuf& tx) {
  return Put(tx, {kCommandStart, 0x79, 0x05, 0x00, 0x48});
}
size_t BuildGetBpData(TxBuf& tx) {
  return Put(tx, {kCommandStart, 0x79, 0x03, 0x00, 0x4A});
}

size_t BuildPneumatics(TxBuf& tx, bool pump, bool controlValveClosed, bool dumpValveClosed) {
  Put(tx, {kCommandStart, 0x0C, static_cast<uint8_t>(pump ? 1 : 0),
           static_cast<uint8_t>(controlValveClosed ? 1 : 0),
           static_cast<uint8_t>(dumpValveClosed ? 1 : 0), 0});
  return Seal(tx, 6);
}

std::string RenderRaw(std::string_view prefix, std::span<const uint8_t> frame) {
  std::string line;
  RenderRawTo(line, prefix, frame);
  return line;
}

void RenderRawTo(std::string& line, std::string_view prefix, std::span<const uint8_t> frame) {
  // The whole line upper-cased: the digits are written upper case at once, as this runs for
  // every frame shown.
  line.resize(prefix.size() + frame.size() * 4);
  char* out = line.data();
  for (char c : prefix) *out++ = AsciiUpper(c);
  for (uint8_t b : frame) {
    std::memcpy(out, &kRawTexts[4 * size_t{b}], 4);
    out += 4;
  }
}

void AppendHexSpaced(std::string& out, std::span<const uint8_t> bytes) {
  const size_t at = out.size();
  out.resize(at + 3 * bytes.size());
  char* p = out.data() + at;
  for (uint8_t b : bytes) {
    std::memcpy(p, &kSpacedTexts[4 * size_t{b}], 3);
    p += 3;
  }
}

void AppendHexSpaced(std::string& out, uint8_t b) {
  out.append(&kSpacedTexts[4 * size_t{b}], 3);
}

}  // namespace protocol
