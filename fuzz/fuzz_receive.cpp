// Arbitrary byte batches and dispatch ticks through the receive path, checked against a small
// reference assembler written separately from it.
//
// Input: a sequence of records. A control byte below 0x80 is a message of that many bytes, taken
// from what follows; 0x80 and above runs (c & 7) + 1 timer ticks, each only while the timer runs.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "protocol/frames.h"
#include "protocol/reply.h"

namespace {

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

using Bytes = std::vector<uint8_t>;
using protocol::EntryKind;

struct Expected {
  EntryKind kind;
  Bytes bytes;
};

// What the receiver must queue, in order: good frames (cut to the slot), bad frames, and runs of
// dropped bytes that end with a message or where a frame starts.
class Reference {
 public:
  void Byte(uint8_t b) {
    if (frame_.empty()) {
      if (b == protocol::kReplyStart) {
        run_ = false;
        frame_.push_back(b);
      } else {
        Drop(b);
      }
      return;
    }
    if (frame_.size() == 1 && b < 3) {
      const uint8_t start = frame_[0];
      frame_.clear();
      Drop(start);
      Drop(b);
      return;
    }
    frame_.push_back(b);
    if (frame_.size() < 3 || frame_.size() != frame_[1]) return;
    run_ = false;
    if (protocol::SumsToZero(frame_)) {
      frame_.resize(std::min(frame_.size(), protocol::kSlotSize));
      waiting.push_back({EntryKind::kGood, frame_});
    } else {
      waiting.push_back({EntryKind::kBad, frame_});
    }
    frame_.clear();
  }
  void EndMessage() { run_ = false; }
  [[nodiscard]] size_t Collecting() const { return frame_.size(); }

  std::deque<Expected> waiting;

 private:
  void Drop(uint8_t b) {
    if (!run_) waiting.push_back({EntryKind::kDropped, {}});
    waiting.back().bytes.push_back(b);
    run_ = true;
  }
  Bytes frame_;
  bool run_ = false;
};

void CheckState(const protocol::ReplyReceiver& rx, const Reference& ref, bool timerRunning) {
  const protocol::ReceiverView v = rx.View();
  Require(v.replyCount == 0, "drained");
  Require(v.waitingEntries == ref.waiting.size(), "every entry waits exactly once");
  Require(timerRunning || v.waitingEntries == 0, "nothing waits without the timer");
  Require(v.framePos == ref.Collecting(), "collecting as the reference does");
  Require(v.framePos == 0 || v.framePos < 2 || v.framePos < v.frameLen,
          "collecting only an incomplete frame");
  Require(v.rxHex.size() <= protocol::kRxHexMaxChars, "hex text bounded");
  Require(v.rxHex.size() % 3 == 0, "hex text holds whole byte texts");
  Require(v.rxCheck.size() <= 255 * 3 + 64, "verdict text bounded");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // About 40 KB of ring: on the heap, as one run's state.
  auto rx = std::make_unique<protocol::ReplyReceiver>();
  protocol::TickOutput out;  // reused across ticks, as the console does
  Reference ref;
  bool timerRunning = false;
  size_t i = 0;
  while (i < size) {
    const uint8_t control = data[i++];
    if (control < 0x80) {
      const size_t n = std::min<size_t>(control, size - i);
      for (size_t k = 0; k < n; ++k) {
        rx->PushReplyByte(data[i + k]);
        ref.Byte(data[i + k]);
      }
      ref.EndMessage();
      i += n;
      const bool wasEmpty = rx->View().waitingEntries == 0;
      const bool start = rx->Assemble();
      Require(start == (wasEmpty && !ref.waiting.empty()), "timer starts on the first entry");
      timerRunning |= start;
      CheckState(*rx, ref, timerRunning);
      continue;
    }
    for (int t = 0; t <= (control & 7) && timerRunning; ++t) {
      rx->DispatchTick(out);
      Require(out.stopTimer == ref.waiting.empty(), "the timer stops only when nothing waits");
      if (out.stopTimer) timerRunning = false;
      Require(out.size() == ref.waiting.size(), "a tick shows everything waiting");
      for (const auto& e : out) {
        const Expected x = std::move(ref.waiting.front());
        ref.waiting.pop_front();
        Require(e.kind == x.kind, "entries in arrival order, of the right kind");
        Require(e.rawLine == protocol::RenderRaw(protocol::kPrefixReceived, x.bytes),
                "each entry's bytes shown once");
        if (e.kind != EntryKind::kGood) {
          Require(e.eventLines.empty(), "no event line for a bad frame or noise");
          continue;
        }
        const size_t len = x.bytes[1];
        Require(e.eventLines.size() == (len >= protocol::kBpDataLen ? 3u : 1u), "lines by length");
        Require(e.isCuffPressure == (len == 5), "cuff pressure only for five bytes");
      }
      CheckState(*rx, ref, timerRunning);
    }
  }
  return 0;
}
