#include "protocol/frames.h"

#include <algorithm>
#include <initializer_list>

namespace protocol {
namespace {

constexpr char kHexLower[] = "0123456789abcdef";
constexpr char kHexUpper[] = "0123456789ABCDEF";

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
  Put(tx, {kCommandStart, 0x17, static_cast<uint8_t>(inflate & 0xFF), static_cast<uint8_t>((inflate >> 8) & 0xFF), 0});
  return Seal(tx, 5);
}

size_t BuildStartAdult(TxBuf& tx) { return Put(tx, {kCommandStart, 0x20, 0xA6}); }
size_t BuildStartNeonate(TxBuf& tx) { return Put(tx, {kCommandStart, 0x28, 0x9E}); }
size_t BuildStartPediatric(TxBuf& tx) { return Put(tx, {kCommandStart, 0x87, 0x3F}); }
size_t BuildAbortBp(TxBuf& tx) { return Put(tx, {kCommandStart, 0x79, 0x01, 0x00, 0x4C}); }
size_t BuildGetPressure(TxBuf& tx) { return Put(tx, {kCommandStart, 0x79, 0x05, 0x00, 0x48}); }
size_t BuildGetBpData(TxBuf& tx) { return Put(tx, {kCommandStart, 0x79, 0x03, 0x00, 0x4A}); }

size_t BuildPneumatics(TxBuf& tx, bool pump, bool controlValveClosed, bool dumpValveClosed) {
  Put(tx, {kCommandStart, 0x0C, static_cast<uint8_t>(pump ? 1 : 0), static_cast<uint8_t>(controlValveClosed ? 1 : 0),
           static_cast<uint8_t>(dumpValveClosed ? 1 : 0), 0});
  return Seal(tx, 6);
}

std::string RenderRaw(std::string_view prefix, std::span<const uint8_t> frame) {
  // The whole line upper-cased: the prefix by ASCII rules, never by the process locale (which the
  // window system sets from the environment), and the digits written upper case at once, as this
  // runs for every frame shown.
  std::string line(prefix.size() + frame.size() * 4, '\0');
  char* out = line.data();
  for (char c : prefix) *out++ = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  for (uint8_t b : frame) {
    *out++ = '<';
    *out++ = kHexUpper[b >> 4];
    *out++ = kHexUpper[b & 0xF];
    *out++ = '>';
  }
  return line;
}

void AppendHexSpaced(std::string& out, std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) {
    out.push_back(kHexLower[b >> 4]);
    out.push_back(kHexLower[b & 0xF]);
    out.push_back(' ');
  }
}

}  // namespace protocol
