#pragma once
// Command frames to the module, the checksum both directions share, and the raw-log rendering.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace protocol {

inline constexpr uint8_t kCommandStart = 0x3A;
inline constexpr size_t kTxBufSize = 10;
using TxBuf = std::array<uint8_t, kTxBufSize>;

inline constexpr std::string_view kPrefixSent = "PC --> MODULE ";
inline constexpr std::string_view kPrefixReceived = "PC <-- MODULE ";

// The byte that makes the 8-bit sum of `body` and itself 0.
[[nodiscard]] uint8_t Checksum(std::span<const uint8_t> body);
// True when all bytes of the frame, its checksum included, sum to 0 modulo 256.
[[nodiscard]] bool SumsToZero(std::span<const uint8_t> frame);

// Each builder writes its frame at the start of `tx` and returns its length.
[[nodiscard]] size_t BuildSetPressure(TxBuf& tx, uint32_t inflate);  // low 16 bits are sent
[[nodiscard]] size_t BuildStartAdult(TxBuf& tx);
[[nodiscard]] size_t BuildStartNeonate(TxBuf& tx);
[[nodiscard]] size_t BuildStartPediatric(TxBuf& tx);
[[nodiscard]] size_t BuildAbortBp(TxBuf& tx);
[[nodiscard]] size_t BuildGetPressure(TxBuf& tx);
[[nodiscard]] size_t BuildGetBpData(TxBuf& tx);
[[nodiscard]] size_t BuildPneumatics(TxBuf& tx, bool pump, bool controlValveClosed,
                                     bool dumpValveClosed);

// "<%.2x>" per byte after the prefix, the whole line upper-cased.
[[nodiscard]] std::string RenderRaw(std::string_view prefix, std::span<const uint8_t> frame);
// The same into `line`, replacing its text but keeping its storage.
void RenderRawTo(std::string& line, std::string_view prefix, std::span<const uint8_t> frame);
// Appends "%.2x " per byte (lower case, one blank after each).
void AppendHexSpaced(std::string& out, std::span<const uint8_t> bytes);
// The same for one byte.
void AppendHexSpaced(std::string& out, uint8_t b);

}  // namespace protocol
