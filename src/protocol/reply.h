#pragma once
// The receive side: reply ring, frame assembler with checksum test, the two-slot parked-frame
// store, and the dispatch tick that turns one parked frame into log lines. Bytes in, text out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace protocol {

inline constexpr uint8_t kReplyStart = 0x3E;
inline constexpr size_t kReplyRingSize = 40000;
inline constexpr size_t kSlotSize = 50;
// Good frames that wait behind slot 2. A whole 1024-byte block of the shortest frames fits;
// only a line that floods faster than the ticks show frames, for seconds, fills it.
inline constexpr size_t kWaitingFrames = 512;
// m_strRxHex keeps at least the texts of this many most recent bytes and at most twice as many,
// so a line that never sends a start byte costs bounded memory.
inline constexpr size_t kRxHexKeepBytes = 256;
inline constexpr size_t kRxHexMaxChars = 2 * kRxHexKeepBytes * 3;

struct TickOutput;

class ReplyReceiver {
 public:
  // Receive state, named as the console window keeps it.
  uint32_t m_nReplyCount = 0;
  uint32_t m_nFramePos = 0;
  uint32_t m_nReplyWrite = 0;
  uint32_t m_nReplyRead = 0;
  std::array<uint8_t, kReplyRingSize> m_replyRing{};
  std::array<uint8_t, kReplyRingSize> m_frameBuf{};
  uint32_t m_nFrameLen = 0;
  uint8_t m_bFramePending = 0;
  uint8_t m_parkedFrame[2][kSlotSize] = {};
  uint8_t m_parkedLen[2] = {};
  // Frames that came while slot 2 was taken, oldest first: slot 2 is refilled from here, so
  // frames are shown in the order they arrived and none is overwritten. When it is full, a
  // further frame is dropped and counted.
  uint8_t m_waitingFrame[kWaitingFrames][kSlotSize] = {};
  uint8_t m_waitingLen[kWaitingFrames] = {};
  uint32_t m_nWaitingFirst = 0;
  uint32_t m_nWaitingCount = 0;
  uint32_t m_nDroppedFrames = 0;
  std::string m_strRxHex;    // shown in hidden static 1026
  std::string m_strRxCheck;  // shown in hidden static 1027

  // The console's start-up reset: counters, assembler, parked store and both texts.
  void ResetFrameState();
  // Forgets a frame still being collected; what was parked stays.
  void AbandonFrame() {
    m_nFramePos = 0;
    m_nFrameLen = 0;
  }
  // Stores one byte taken from the serial ring in the reply ring. Positions are reduced modulo
  // the ring size before use and stored unreduced after the increment (39999 is followed by 40000).
  void PushReplyByte(uint8_t b) {
    const uint32_t pos = RingIndex(m_nReplyWrite);
    m_replyRing[pos] = b;
    m_nReplyWrite = pos + 1;
    ++m_nReplyCount;
  }
  // Takes the next unread byte; 0 and no change when the ring is empty, where the count would
  // otherwise wrap to 2^32 - 1 and keep a draining loop busy for hours.
  [[nodiscard]] uint8_t PopReplyByte() {
    if (m_nReplyCount == 0) return 0;
    const uint32_t pos = RingIndex(m_nReplyRead);
    const uint8_t b = m_replyRing[pos];
    m_nReplyRead = pos + 1;
    --m_nReplyCount;
    return b;
  }
  // One assembler step. True when `b` completed a good frame that is now parked: the caller
  // then (re)starts the 20 ms dispatch timer.
  [[nodiscard]] bool Step(uint8_t b);

 private:
  // Stored positions never exceed the ring size, so the division is almost never needed.
  static uint32_t RingIndex(uint32_t pos) {
    return pos < kReplyRingSize ? pos : pos % kReplyRingSize;
  }
  // Checks the complete frame of n bytes in m_frameBuf; true when it was good and is parked.
  bool CheckFrame(uint32_t n);
  void Park(uint32_t n);
  friend void DispatchTick(ReplyReceiver& rx, TickOutput& out);
  // Moves the oldest waiting frame into slot 2.
  void RefillSlotTwo();
  void AppendRxHex(uint8_t b);
};

// The event lines of one tick, at most three. Their strings keep their storage from one tick to
// the next, so a caller that reuses its TickOutput shows frames without allocating.
class EventLines {
 public:
  static constexpr size_t kMax = 3;
  [[nodiscard]] size_t size() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }
  [[nodiscard]] const std::string* begin() const { return lines_.data(); }
  [[nodiscard]] const std::string* end() const { return lines_.data() + count_; }
  [[nodiscard]] const std::string& operator[](size_t i) const { return lines_[i]; }
  void clear() { count_ = 0; }
  // The next line, empty.
  [[nodiscard]] std::string& Add() {
    std::string& line = lines_[count_++];
    line.clear();
    return line;
  }

 private:
  std::array<std::string, kMax> lines_;
  size_t count_ = 0;
};

// What one tick of the dispatch timer produced.
struct TickOutput {
  bool stopTimer = false;  // nothing was parked: the caller kills the timer
  bool shown = false;      // a frame was shown: rawLine and eventLines are set
  std::string rawLine;
  EventLines eventLines;
  bool isCuffPressure = false;  // a 5-byte frame: the caller updates the pressure line first
  uint16_t cuffPressure = 0;
};

// Promotes slot 2 when slot 1 is idle (refilling slot 2 from the waiting frames), then shows
// slot 1 if it is pending. Every field of `out` is set; its strings' storage is reused.
void DispatchTick(ReplyReceiver& rx, TickOutput& out);
[[nodiscard]] TickOutput DispatchTick(ReplyReceiver& rx);

// "%3d mmHg".
[[nodiscard]] std::string FormatPressure(int mmHg);

}  // namespace protocol
