// Arbitrary byte batches and dispatch ticks through the receive path, checking its invariants.
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

using Frame = std::vector<uint8_t>;

void CheckState(const protocol::ReplyReceiver& rx, bool timerRunning,
                const std::deque<Frame>& parked) {
  Require(rx.m_bFramePending <= 1, "pending flag is 0 or 1");
  Require(rx.m_parkedLen[0] <= protocol::kSlotSize && rx.m_parkedLen[1] <= protocol::kSlotSize,
          "parked length within the slot");
  Require(rx.m_bFramePending == 0 || rx.m_parkedLen[0] >= 3, "a pending slot holds a frame");
  Require(rx.m_nWaitingCount <= protocol::kWaitingFrames, "waiting frames bounded");
  Require(rx.m_parkedLen[1] != 0 || rx.m_nWaitingCount == 0, "slot 2 is taken before the queue");
  Require(
      parked.size() == rx.m_bFramePending + (rx.m_parkedLen[1] != 0 ? 1u : 0u) + rx.m_nWaitingCount,
      "every parked frame waits exactly once");
  Require(timerRunning || parked.empty(), "no frame waits without the timer");
  Require(rx.m_nFrameLen <= 255, "length from one byte");
  // Position 2 may follow a length below 3: the third byte is then taken and the frame dropped.
  Require(rx.m_nFramePos <= 2 || rx.m_nFramePos < rx.m_nFrameLen,
          "collecting only an incomplete frame");
  Require(rx.m_strRxHex.size() <= protocol::kRxHexMaxChars, "hex text bounded");
  Require(rx.m_strRxHex.size() % 3 == 0, "hex text holds whole byte texts");
  Require(rx.m_strRxCheck.size() <= 255 * 3 + 64, "verdict text bounded");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // About 100 KB of rings and slots: on the heap, as one run's state.
  auto rx = std::make_unique<protocol::ReplyReceiver>();
  protocol::TickOutput out;  // reused across ticks, as the console does
  bool timerRunning = false;
  // What the store must show, in this order: every good frame that was not dropped.
  std::deque<Frame> parked;
  size_t i = 0;
  while (i < size) {
    const uint8_t control = data[i++];
    if (control < 0x80) {
      const size_t n = std::min<size_t>(control, size - i);
      for (size_t k = 0; k < n; ++k) rx->PushReplyByte(data[i + k]);
      i += n;
      Require(rx->m_nReplyCount == n, "every byte of the message is in the ring");
      while (rx->m_nReplyCount > 0) {
        const uint32_t pos = rx->m_nFramePos;
        const bool completes = pos >= 2 && pos == rx->m_nFrameLen - 1u;
        const uint32_t dropped = rx->m_nDroppedFrames;
        const bool full = rx->m_nWaitingCount == protocol::kWaitingFrames;
        const bool good = rx->Step(rx->PopReplyByte());
        Require(!good || completes, "only a complete frame is parked");
        if (completes) {
          Require(rx->m_nFramePos == 0 && rx->m_nFrameLen == 0, "back to waiting after a frame");
          std::string hex;
          protocol::AppendHexSpaced(hex, std::span(rx->m_frameBuf.data(), pos + 1));
          Require(rx->m_strRxCheck.compare(0, hex.size(), hex) == 0, "verdict shows the frame");
        }
        if (good) {
          timerRunning = true;
          const std::span frame(rx->m_frameBuf.data(),
                                std::min<size_t>(pos + 1, protocol::kSlotSize));
          Require(pos + 1 > protocol::kSlotSize || protocol::SumsToZero(frame),
                  "a parked frame sums to zero");
          Require(rx->m_nDroppedFrames == dropped + (full ? 1u : 0u),
                  "dropped only when the queue is full");
          if (!full) parked.emplace_back(frame.begin(), frame.end());
        }
        CheckState(*rx, timerRunning, parked);
      }
      Require(rx->m_nReplyCount == 0, "drained");
    } else {
      for (int t = 0; t <= (control & 7) && timerRunning; ++t) {
        protocol::DispatchTick(*rx, out);
        Require(out.stopTimer != out.shown, "a tick either shows a frame or stops the timer");
        Require(out.shown == !parked.empty(), "a tick shows a frame while one waits");
        if (out.stopTimer) timerRunning = false;
        if (out.shown) {
          const Frame expected = std::move(parked.front());
          parked.pop_front();
          const size_t len = expected.size();
          Require(out.rawLine == protocol::RenderRaw(protocol::kPrefixReceived, expected),
                  "frames shown once each, in the order they arrived, cut to the slot");
          Require(out.eventLines.size() == (len == 4 || len == 5 ? 1u : 3u), "lines by length");
          Require(out.isCuffPressure == (len == 5), "cuff pressure only for five bytes");
          Require(rx->m_bFramePending == 0, "shown frame is no longer pending");
        }
        CheckState(*rx, timerRunning, parked);
      }
    }
  }
  return 0;
}
