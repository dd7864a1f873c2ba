#pragma once
// The receive side: reply ring, frame assembler with checksum test, the queue of what waits to be
// shown, and the dispatch tick that turns everything waiting into log lines. Bytes in, text out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace protocol {

inline constexpr uint8_t kReplyStart = 0x3E;
inline constexpr size_t kReplyRingSize = 40000;
// A good frame is kept and shown cut to this many bytes; its length byte tells the real size, and
// no field of any layout lies past it.
inline constexpr size_t kSlotSize = 50;
// The shortest length a frame can have: start byte, length byte, checksum.
inline constexpr uint32_t kMinFrameLen = 3;
// A reply this long or longer carries BP data.
inline constexpr uint32_t kBpDataLen = 22;
// m_strRxHex keeps at least the texts of this many most recent bytes and at most twice as many,
// so a line that never sends a start byte costs bounded memory.
inline constexpr size_t kRxHexKeepBytes = 256;
inline constexpr size_t kRxHexMaxChars = 2 * kRxHexKeepBytes * 3;

// What waits to be shown, in arrival order.
enum class EntryKind : uint8_t {
  kGood,     // a frame whose checksum is right
  kBad,      // a complete frame whose checksum is wrong
  kDropped,  // bytes outside any frame (noise, an abandoned header or unfinished frame)
};

// The receiver's state, read-only, for tests and the fuzz target.
struct ReceiverView {
  uint32_t replyCount;
  uint32_t replyWrite;
  uint32_t replyRead;
  uint32_t framePos;
  uint32_t frameLen;
  size_t waitingEntries;
  size_t waitingGood;
  size_t waitingBytes;  // storage the queue uses now
  const std::string& rxHex;
  const std::string& rxCheck;
};

// The event lines of one frame, at most three. Their strings keep their storage from one tick to
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

// The fields of a BP data reply, as its event lines show them.
struct BpData {
  uint16_t systolic = 0;
  uint16_t diastolic = 0;
  uint16_t heartRate = 0;
  uint16_t map = 0;
  uint8_t sq = 0;
  uint8_t err = 0;
  uint8_t status = 0;
  std::array<uint8_t, 8> tc{};
};

// One entry shown by a tick.
struct ShownEntry {
  EntryKind kind = EntryKind::kGood;
  std::string rawLine;          // "PC <-- MODULE <..>..." of its bytes, for every kind
  EventLines eventLines;        // good frames only
  bool isCuffPressure = false;  // a 5-byte frame: the caller updates the pressure line first
  uint16_t cuffPressure = 0;
  bool isBpData = false;  // a frame of kBpDataLen bytes or more
  BpData bpData;
  uint32_t length = 0;       // good frames: the length byte
  bool isCharReply = false;  // a one-character reply
  char character = 0;
};

// What one tick of the dispatch timer produced: every entry that was waiting, oldest first.
class TickOutput {
 public:
  bool stopTimer = false;  // nothing was waiting: the caller kills the timer
  [[nodiscard]] size_t size() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }
  [[nodiscard]] const ShownEntry* begin() const { return entries_.data(); }
  [[nodiscard]] const ShownEntry* end() const { return entries_.data() + count_; }
  [[nodiscard]] const ShownEntry& operator[](size_t i) const { return entries_[i]; }

 private:
  friend class ReplyReceiver;
  ShownEntry& Add();
  void Clear() {
    stopTimer = false;
    count_ = 0;
  }
  // Entries keep their strings' storage; only `count_` of them are this tick's.
  std::vector<ShownEntry> entries_;
  size_t count_ = 0;
};

class ReplyReceiver {
 public:
  // The console's start-up reset: counters, assembler, queue and both texts.
  void ResetFrameState();
  // Starts both ring positions at `pos` as stored values (a ring that has run a while).
  void StartRingAt(uint32_t pos);

  // Stores one byte taken from the serial ring in the reply ring. Positions are reduced modulo
  // the ring size before use and stored unreduced after the increment (39999 is followed by 40000).
  void PushReplyByte(uint8_t b) {
    const uint32_t pos = RingIndex(replyWrite_);
    replyRing_[pos] = b;
    replyWrite_ = pos + 1;
    ++replyCount_;
  }
  // Runs every byte of the reply ring through the assembler; a run of dropped bytes ends with the
  // batch. True when something now waits to be shown and nothing did before: the caller then
  // starts the dispatch timer. Frames after it do not restart it.
  [[nodiscard]] bool Assemble();
  // Lets go of a frame still being collected (its bytes are dropped); what waits stays. True as
  // for Assemble.
  [[nodiscard]] bool AbandonFrame();

  // Shows every entry waiting, oldest first, and empties the queue; stopTimer when none waited.
  void DispatchTick(TickOutput& out);

  [[nodiscard]] const std::string& RxHex() const { return rxHex_; }      // hidden static 1026
  [[nodiscard]] const std::string& RxCheck() const { return rxCheck_; }  // hidden static 1027
  [[nodiscard]] ReceiverView View() const;

 private:
  // Stored positions never exceed the ring size, so the division is almost never needed.
  static uint32_t RingIndex(uint32_t pos) {
    return pos < kReplyRingSize ? pos : pos % kReplyRingSize;
  }
  [[nodiscard]] uint8_t PopReplyByte();
  void Step(uint8_t b);
  // Tests the complete frame of n bytes in frameBuf_ and queues it as good or bad.
  void CheckFrame(uint32_t n);
  void AppendRxHex(uint8_t b);
  void Drop(uint8_t b);
  void EndDroppedRun() { openRun_ = kNoRun; }
  void Queue(EntryKind kind, const uint8_t* bytes, size_t n);
  void Show(EntryKind kind, const uint8_t* bytes, size_t n, ShownEntry& out);

  static constexpr size_t kNoRun = static_cast<size_t>(-1);
  static constexpr size_t kEntryHeader = 5;  // kind, then the length as 32 bits

  uint32_t replyCount_ = 0;
  uint32_t replyWrite_ = 0;
  uint32_t replyRead_ = 0;
  std::array<uint8_t, kReplyRingSize> replyRing_{};
  uint32_t framePos_ = 0;
  uint32_t frameLen_ = 0;
  std::array<uint8_t, 256> frameBuf_{};  // a length byte counts at most 255
  // Entries waiting to be shown, back to back: kind, 32-bit length, bytes. Emptied by every tick,
  // so a burst costs its bytes once and the storage is reused.
  std::vector<uint8_t> queue_;
  size_t waitingEntries_ = 0;
  size_t waitingGood_ = 0;
  size_t openRun_ = kNoRun;  // offset of the dropped run the next dropped byte extends
  std::string rxHex_;
  std::string rxCheck_;
};

// "%3d mmHg".
[[nodiscard]] std::string FormatPressure(int mmHg);

}  // namespace protocol
