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

// Reply lengths with a layout of their own; every other length carries BP data.
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

void DecodeBpData(const uint8_t* slot, EventLines& lines) {
  lines.Add() << "BP Data: " << Le16(slot + 2) << " / " << Le16(slot + 4)
              << " mmHg Heart: " << Le16(slot + 16) << "  MAP: " << Le16(slot + 18);
  std::string& tc = lines.Add();
  tc += "TC: ";
  AppendHexSpaced(tc, std::span(slot + 8, 8));
  lines.Add() << "SQ: " << slot[6] << "  Err: " << slot[20] << "  Status: " << slot[7];
}

}  // namespace

void ReplyReceiver::ResetFrameState() {
  m_nReplyCount = 0;
  m_nFramePos = 0;
  m_nReplyWrite = 0;
  m_nReplyRead = 0;
  m_nFrameLen = 0;
  m_bFramePending = 0;
  std::memset(m_parkedFrame, 0, sizeof m_parkedFrame);
  m_parkedLen[0] = m_parkedLen[1] = 0;
  m_nWaitingFirst = 0;
  m_nWaitingCount = 0;
  m_nDroppedFrames = 0;
  m_strRxHex.clear();
  m_strRxCheck.clear();
}

// Inline: it runs for every byte received.
inline void ReplyReceiver::AppendRxHex(uint8_t b) {
  if (m_strRxHex.size() + 3 > kRxHexMaxChars) [[unlikely]] {
    // Drop the older half in one move, so a line without start bytes costs O(1) per byte.
    m_strRxHex.erase(0, m_strRxHex.size() - kRxHexKeepBytes * 3);
  }
  AppendHexSpaced(m_strRxHex, b);
}

bool ReplyReceiver::Step(uint8_t b) {
  const uint32_t p = m_nFramePos;
  uint32_t completed = 0;  // the frame's length once its last byte is in
  if (p == 0) {
    if (b == kReplyStart) {
      m_frameBuf[0] = b;
      m_nFramePos = 1;
      m_strRxHex.clear();
    }
  } else if (p == 1) {
    m_frameBuf[1] = b;
    m_nFramePos = 2;
    m_nFrameLen = b;
  } else {
    m_frameBuf[p] = b;
    // A length of 0 wraps to 2^32 - 1 here and never completes; 1 and 2 are abandoned below.
    if (p == m_nFrameLen - 1u) {
      completed = p + 1;
      m_nFramePos = 0;
      m_nFrameLen = 0;
    } else if (p + 1 > m_nFrameLen) {
      m_nFramePos = 0;
      m_nFrameLen = 0;
    } else {
      m_nFramePos = p + 1;
    }
  }
  // Every byte shows, in or outside a frame; the verdict then copies the frame's text from here.
  AppendRxHex(b);
  return completed != 0 && CheckFrame(completed);
}

bool ReplyReceiver::CheckFrame(uint32_t n) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i + 1 < n; ++i) sum = static_cast<uint8_t>(sum + m_frameBuf[i]);
  const uint8_t expected = static_cast<uint8_t>(-sum);
  const bool good = expected == m_frameBuf[n - 1];

  // The hex text began at this frame's start byte and holds its bytes unless it was cut.
  if (m_strRxHex.size() == 3 * size_t{n}) {
    m_strRxCheck.assign(m_strRxHex);
  } else {
    m_strRxCheck.clear();
    AppendHexSpaced(m_strRxCheck, std::span(m_frameBuf.data(), n));
  }
  if (good) {
    Park(n);
    m_strRxCheck += "checksum good ";
    AppendHexSpaced(m_strRxCheck, expected);
  } else {
    // The received checksum already ends the byte text just before; the value it should have
    // been is what the engineer cannot read off the line, so that is the second field.
    m_strRxCheck += "checksum error sparesum=";
    AppendHexSpaced(m_strRxCheck, sum);
    m_strRxCheck += "checksum=";
    AppendHexSpaced(m_strRxCheck, expected);
  }
  return good;
}

void ReplyReceiver::Park(uint32_t n) {
  // A good frame longer than a slot is kept cut to the slot: it still reaches the raw log (the
  // console's only record of traffic, its length byte telling the real size) and decodes the same,
  // as no field lies past offset 20.
  const auto len = static_cast<uint8_t>(std::min<uint32_t>(n, kSlotSize));
  // A frame never overtakes one that waits: slot 1 takes it only when nothing else is queued.
  if (m_bFramePending == 0 && m_parkedLen[1] == 0) {
    std::memcpy(m_parkedFrame[0], m_frameBuf.data(), len);
    m_parkedLen[0] = len;
    m_bFramePending = 1;
  } else if (m_parkedLen[1] == 0) {
    std::memcpy(m_parkedFrame[1], m_frameBuf.data(), len);
    m_parkedLen[1] = len;
  } else if (m_nWaitingCount < kWaitingFrames) {
    const uint32_t at = (m_nWaitingFirst + m_nWaitingCount) % kWaitingFrames;
    std::memcpy(m_waitingFrame[at], m_frameBuf.data(), len);
    m_waitingLen[at] = len;
    ++m_nWaitingCount;
  } else {
    ++m_nDroppedFrames;
  }
}

void ReplyReceiver::RefillSlotTwo() {
  m_parkedLen[1] = 0;
  if (m_nWaitingCount == 0) return;
  const uint8_t len = m_waitingLen[m_nWaitingFirst];
  std::memcpy(m_parkedFrame[1], m_waitingFrame[m_nWaitingFirst], len);
  m_parkedLen[1] = len;
  m_nWaitingFirst = (m_nWaitingFirst + 1) % kWaitingFrames;
  --m_nWaitingCount;
}

void DispatchTick(ReplyReceiver& rx, TickOutput& out) {
  out.stopTimer = false;
  out.shown = false;
  out.rawLine.clear();
  out.eventLines.clear();
  out.isCuffPressure = false;
  out.cuffPressure = 0;
  if (rx.m_bFramePending == 0) {
    const size_t waiting = std::min<size_t>(rx.m_parkedLen[1], kSlotSize);
    if (waiting == 0) {
      out.stopTimer = true;
      return;
    }
    std::memcpy(rx.m_parkedFrame[0], rx.m_parkedFrame[1], waiting);
    rx.m_parkedLen[0] = static_cast<uint8_t>(waiting);
    rx.RefillSlotTwo();
    rx.m_bFramePending = 1;
  }
  if (rx.m_bFramePending != 1) return;

  const uint8_t* slot = rx.m_parkedFrame[0];
  const size_t len = std::min<size_t>(rx.m_parkedLen[0], kSlotSize);
  out.shown = true;
  RenderRawTo(out.rawLine, kPrefixReceived, std::span(slot, len));
  if (len == kCharReplyLen) {
    std::string& reply = out.eventLines.Add();
    reply += "Reply: ";
    // "%c" into a C string: a NUL character shows as nothing.
    if (slot[2] != 0) reply.push_back(static_cast<char>(slot[2]));
  } else if (len == kCuffPressureLen) {
    out.isCuffPressure = true;
    out.cuffPressure = Le16(slot + 2);
    out.eventLines.Add() << "Cuff pressure: " << out.cuffPressure;
  } else {
    DecodeBpData(slot, out.eventLines);
  }
  rx.m_bFramePending = 0;
}

TickOutput DispatchTick(ReplyReceiver& rx) {
  TickOutput out;
  DispatchTick(rx, out);
  return out;
}

std::string FormatPressure(int mmHg) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%3d mmHg", mmHg);
  return buf;
}

}  // namespace protocol
