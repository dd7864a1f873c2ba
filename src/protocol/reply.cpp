#include "protocol/reply.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "protocol/frames.h"

namespace protocol {
namespace {

// Reply lengths with a layout of their own; 22 and longer carry BP data, the rest is short.
constexpr uint32_t kCharReplyLen = 4;
constexpr uint32_t kCuffPressureLen = 5;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// "%d" of an unsigned field, without the cost of a format parser on every reply.
std::string& operator<<(std::string& out, unsigned value) {
  char digits[10];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
  return out;
}

std::string& operator<<(std::string& out, std::string_view text) {
  return out.append(text);
}

void DecodeBpData(const uint8_t* frame, BpData& bp, EventLines& lines) {
  bp.systolic = Le16(frame + 2);
  bp.diastolic = Le16(frame + 4);
  bp.sq = frame[6];
  bp.status = frame[7];
  std::memcpy(bp.tc.data(), frame + 8, bp.tc.size());
  bp.heartRate = Le16(frame + 16);
  bp.map = Le16(frame + 18);
  bp.err = frame[20];
  lines.Add() << "BP Data: " << bp.systolic << " / " << bp.diastolic
              << " mmHg Heart: " << bp.heartRate << "  MAP: " << bp.map;
  std::string& tc = lines.Add();
  tc += "TC: ";
  AppendHexSpaced(tc, bp.tc);
  lines.Add() << "SQ: " << bp.sq << "  Err: " << bp.err << "  Status: " << bp.status;
}

uint32_t ReadLength(const uint8_t* p) {
  uint32_t n;
  std::memcpy(&n, p, sizeof n);
  return n;
}

}  // namespace

ShownEntry& TickOutput::Add() {
  if (count_ == entries_.size()) entries_.emplace_back();
  return entries_[count_++];
}

void ReplyReceiver::ResetFrameState() {
  replyCount_ = 0;
  replyWrite_ = 0;
  replyRead_ = 0;
  framePos_ = 0;
  frameLen_ = 0;
  queue_.clear();
  waitingEntries_ = 0;
  waitingGood_ = 0;
  openRun_ = kNoRun;
  rxHex_.clear();
  rxCheck_.clear();
}

void ReplyReceiver::StartRingAt(uint32_t pos) {
  replyWrite_ = replyRead_ = pos;
  replyCount_ = 0;
}

ReceiverView ReplyReceiver::View() const {
  return {replyCount_,     replyWrite_,  replyRead_,    framePos_, frameLen_,
          waitingEntries_, waitingGood_, queue_.size(), rxHex_,    rxCheck_};
}

// Takes the next unread byte; 0 and no change when the ring is empty, where the count would
// otherwise wrap to 2^32 - 1 and keep a draining loop busy for hours.
uint8_t ReplyReceiver::PopReplyByte() {
  if (replyCount_ == 0) return 0;
  const uint32_t pos = RingIndex(replyRead_);
  const uint8_t b = replyRing_[pos];
  replyRead_ = pos + 1;
  --replyCount_;
  return b;
}

bool ReplyReceiver::Assemble() {
  const bool wasEmpty = waitingEntries_ == 0;
  while (replyCount_ > 0) Step(PopReplyByte());
  EndDroppedRun();
  return wasEmpty && waitingEntries_ != 0;
}

bool ReplyReceiver::AbandonFrame() {
  const bool wasEmpty = waitingEntries_ == 0;
  for (uint32_t i = 0; i < framePos_; ++i) Drop(frameBuf_[i]);
  EndDroppedRun();
  framePos_ = 0;
  frameLen_ = 0;
  return wasEmpty && waitingEntries_ != 0;
}

// Inline: it runs for every byte received.
inline void ReplyReceiver::AppendRxHex(uint8_t b) {
  if (rxHex_.size() + 3 > kRxHexMaxChars) [[unlikely]] {
    // Drop the older half in one move, so a line without start bytes costs O(1) per byte.
    rxHex_.erase(0, rxHex_.size() - kRxHexKeepBytes * 3);
  }
  AppendHexSpaced(rxHex_, b);
}

void ReplyReceiver::Step(uint8_t b) {
  const uint32_t p = framePos_;
  if (p == 0) {
    if (b == kReplyStart) {
      frameBuf_[0] = b;
      framePos_ = 1;
      rxHex_.clear();
      EndDroppedRun();
    } else {
      Drop(b);
    }
  } else if (p == 1) {
    if (b < kMinFrameLen) {
      // No frame is that short: end it here, so the next byte may be a start byte.
      Drop(frameBuf_[0]);
      Drop(b);
      framePos_ = 0;
    } else {
      frameBuf_[1] = b;
      framePos_ = 2;
      frameLen_ = b;
    }
  } else {
    frameBuf_[p] = b;
    if (p + 1 == frameLen_) {
      framePos_ = 0;
      frameLen_ = 0;
      AppendRxHex(b);
      CheckFrame(p + 1);
      return;
    }
    framePos_ = p + 1;
  }
  // Every byte shows, in or outside a frame; the verdict then copies the frame's text from here.
  AppendRxHex(b);
}

void ReplyReceiver::CheckFrame(uint32_t n) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i + 1 < n; ++i) sum = static_cast<uint8_t>(sum + frameBuf_[i]);
  const uint8_t expected = static_cast<uint8_t>(-sum);
  const bool good = expected == frameBuf_[n - 1];

  // The hex text began at this frame's start byte and holds its bytes unless it was cut.
  if (rxHex_.size() == 3 * size_t{n}) {
    rxCheck_.assign(rxHex_);
  } else {
    rxCheck_.clear();
    AppendHexSpaced(rxCheck_, std::span(frameBuf_.data(), n));
  }
  if (good) {
    Queue(EntryKind::kGood, frameBuf_.data(), std::min<size_t>(n, kSlotSize));
    rxCheck_ += "checksum good ";
    AppendHexSpaced(rxCheck_, expected);
  } else {
    Queue(EntryKind::kBad, frameBuf_.data(), n);
    // The received checksum already ends the byte text just before; the value it should have
    // been is what the engineer cannot read off the line, so that is the second field.
    rxCheck_ += "checksum error sparesum=";
    AppendHexSpaced(rxCheck_, sum);
    rxCheck_ += "checksum=";
    AppendHexSpaced(rxCheck_, expected);
  }
}

void ReplyReceiver::Queue(EntryKind kind, const uint8_t* bytes, size_t n) {
  EndDroppedRun();
  const auto len = static_cast<uint32_t>(n);
  const size_t at = queue_.size();
  queue_.resize(at + kEntryHeader + n);
  queue_[at] = static_cast<uint8_t>(kind);
  std::memcpy(&queue_[at + 1], &len, sizeof len);
  std::memcpy(&queue_[at + kEntryHeader], bytes, n);
  ++waitingEntries_;
  if (kind == EntryKind::kGood) ++waitingGood_;
}

void ReplyReceiver::Drop(uint8_t b) {
  if (openRun_ == kNoRun) {
    Queue(EntryKind::kDropped, &b, 1);
    openRun_ = queue_.size() - kEntryHeader - 1;
    return;
  }
  queue_.push_back(b);
  const uint32_t len = ReadLength(&queue_[openRun_ + 1]) + 1;
  std::memcpy(&queue_[openRun_ + 1], &len, sizeof len);
}

void ReplyReceiver::DispatchTick(TickOutput& out) {
  out.Clear();
  if (waitingEntries_ == 0) {
    out.stopTimer = true;
    return;
  }
  EndDroppedRun();
  for (size_t at = 0; at < queue_.size();) {
    const auto kind = static_cast<EntryKind>(queue_[at]);
    const uint32_t len = ReadLength(&queue_[at + 1]);
    Show(kind, &queue_[at + kEntryHeader], len, out.Add());
    at += kEntryHeader + len;
  }
  queue_.clear();
  waitingEntries_ = 0;
  waitingGood_ = 0;
}

void ReplyReceiver::Show(EntryKind kind, const uint8_t* bytes, size_t n, ShownEntry& out) {
  out.kind = kind;
  out.rawLine.clear();
  out.eventLines.clear();
  out.isCuffPressure = false;
  out.cuffPressure = 0;
  out.isBpData = false;
  out.isCharReply = false;
  out.length = 0;
  RenderRawTo(out.rawLine, kPrefixReceived, std::span(bytes, n));
  if (kind != EntryKind::kGood) return;
  // The length byte, also of a frame cut to the slot.
  const uint32_t len = bytes[1];
  out.length = len;
  if (len == kCharReplyLen) {
    out.isCharReply = true;
    out.character = static_cast<char>(bytes[2]);
    std::string& reply = out.eventLines.Add();
    reply += "Reply: ";
    // "%c" into a C string: a NUL character shows as nothing.
    if (bytes[2] != 0) reply.push_back(static_cast<char>(bytes[2]));
  } else if (len == kCuffPressureLen) {
    out.isCuffPressure = true;
    out.cuffPressure = Le16(bytes + 2);
    out.eventLines.Add() << "Cuff pressure: " << out.cuffPressure;
  } else if (len >= kBpDataLen) {
    out.isBpData = true;
    DecodeBpData(bytes, out.bpData, out.eventLines);
  } else {
    // Too short for BP data: decoding it would show bytes of earlier replies as a new result.
    out.eventLines.Add() << "Short reply: " << len << " bytes";
  }
}

std::string FormatPressure(int mmHg) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%3d mmHg", mmHg);
  return buf;
}

}  // namespace protocol
