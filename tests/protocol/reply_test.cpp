#include "protocol/reply.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/frames.h"

namespace {

using protocol::ReplyReceiver;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// The body with its checksum appended.
Bytes Sealed(Bytes body) {
  body.push_back(protocol::Checksum(body));
  return body;
}

// A good frame of `len` bytes whose payload counts up from 1.
Bytes GoodFrame(size_t len) {
  Bytes body = {protocol::kReplyStart, static_cast<uint8_t>(len)};
  while (body.size() < len - 1) body.push_back(static_cast<uint8_t>(body.size() - 1));
  return Sealed(body);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// One message as the console handles it; returns how often it (re)started the dispatch timer.
int Feed(ReplyReceiver& rx, const Bytes& batch) {
  for (uint8_t b : batch) rx.PushReplyByte(b);
  int starts = 0;
  while (rx.m_nReplyCount > 0) starts += rx.Step(rx.PopReplyByte()) ? 1 : 0;
  return starts;
}

Bytes Slot(const ReplyReceiver& rx, int slot) {
  return Bytes(rx.m_parkedFrame[slot], rx.m_parkedFrame[slot] + rx.m_parkedLen[slot]);
}

const Bytes kCuff160 = {0x3E, 0x05, 0xA0, 0x00, 0x1D};
const Bytes kCuff5 = {0x3E, 0x05, 0x05, 0x00, 0xB8};
const Bytes kCuffMax = {0x3E, 0x05, 0xFF, 0xFF, 0xBF};
const Bytes kReplyK = {0x3E, 0x04, 0x4B, 0x73};
const Bytes kEmpty = {0x3E, 0x03, 0xBF};
const Bytes kBpData = {0x3E, 0x16, 0x78, 0x00, 0x50, 0x00, 0x05, 0x02, 0x01, 0x02, 0x03,
                       0x04, 0x05, 0x06, 0x07, 0x08, 0x48, 0x00, 0x5D, 0x00, 0x01, 0x13};

struct AssemblyCase {
  const char* name;
  std::vector<Bytes> batches;
  std::vector<int> starts;  // timer starts per batch
  std::string rxHex;
  std::string rxCheck;
  Bytes slot1, slot2;
  uint32_t framePos = 0;
};

TEST(ReplyAssembler, BatchesGiveTextsParkedFramesAndTimerStarts) {
  const Bytes oversize = GoodFrame(60);
  const Bytes longest = GoodFrame(255);
  std::string oversizeHex, longestHex;
  protocol::AppendHexSpaced(oversizeHex, oversize);
  protocol::AppendHexSpaced(longestHex, longest);

  const std::vector<AssemblyCase> cases = {
      {"cuff pressure in one message",
       {kCuff160},
       {1},
       "3e 05 a0 00 1d ",
       "3e 05 a0 00 1d checksum good 1d ",
       kCuff160,
       {}},
      {"cuff pressure split across messages",
       {{0x3E, 0x05}, {0xA0, 0x00, 0x1D}},
       {0, 1},
       "3e 05 a0 00 1d ",
       "3e 05 a0 00 1d checksum good 1d ",
       kCuff160,
       {}},
      {"noise before the start byte is cleared by it",
       {{0x01, 0x02}, {0xFF, 0x3E, 0x05, 0xA0, 0x00, 0x1D}},
       {0, 1},
       "3e 05 a0 00 1d ",
       "3e 05 a0 00 1d checksum good 1d ",
       kCuff160,
       {}},
      {"noise alone shows but parks nothing", {{0x01, 0x02, 0x3F}}, {0}, "01 02 3f ", "", {}, {}},
      {"trailing bytes after a frame stay in the hex text",
       {Concat({kCuff160, {0x07, 0x08}})},
       {1},
       "3e 05 a0 00 1d 07 08 ",
       "3e 05 a0 00 1d checksum good 1d ",
       kCuff160,
       {}},
      {"three-byte frame", {kEmpty}, {1}, "3e 03 bf ", "3e 03 bf checksum good bf ", kEmpty, {}},
      {"start byte inside a frame is data",
       {{0x3E, 0x05, 0x3E, 0x00, 0x7F}},
       {1},
       "3e 05 3e 00 7f ",
       "3e 05 3e 00 7f checksum good 7f ",
       {0x3E, 0x05, 0x3E, 0x00, 0x7F},
       {}},
      {"length 0 abandoned after its third byte",
       {{0x3E, 0x00, 0x41}},
       {0},
       "3e 00 41 ",
       "",
       {},
       {}},
      {"length 0 then a good frame",
       {{0x3E, 0x00, 0x41}, kCuff160},
       {0, 1},
       "3e 05 a0 00 1d ",
       "3e 05 a0 00 1d checksum good 1d ",
       kCuff160,
       {}},
      // The third byte belongs to the abandoned frame even when it is 3E; the fourth starts anew.
      {"length 1, a start byte as third byte",
       {{0x3E, 0x01, 0x3E, 0x3E, 0x03, 0xBF}},
       {1},
       "3e 03 bf ",
       "3e 03 bf checksum good bf ",
       kEmpty,
       {}},
      {"length 2 abandoned", {{0x3E, 0x02, 0x00, 0x10}}, {0}, "3e 02 00 10 ", "", {}, {}},
      {"bad checksum",
       {{0x3E, 0x05, 0xA0, 0x00, 0x1E}},
       {0},
       "3e 05 a0 00 1e ",
       "3e 05 a0 00 1e checksum error sparesum=e3 checksum=1d ",
       {},
       {}},
      {"bad checksum keeps what was parked",
       {kCuff160, kReplyK, {0x3E, 0x04, 0x00, 0x00}},
       {1, 1, 0},
       "3e 04 00 00 ",
       "3e 04 00 00 checksum error sparesum=42 checksum=be ",
       kCuff160,
       kReplyK},
      // A lost byte: the next frame's start byte completes this one, the rest waits for a 3E.
      {"lost byte swallows the next start byte",
       {{0x3E, 0x05, 0xA0, 0x1D}, kCuff160},
       {0, 0},
       "3e 05 a0 1d 3e 05 a0 00 1d ",
       "3e 05 a0 1d 3e checksum error sparesum=00 checksum=00 ",
       {},
       {}},
      {"half a frame waits", {{0x3E, 0x05, 0xA0}}, {0}, "3e 05 a0 ", "", {}, {}, 3},
      // The third waits behind slot 2.
      {"three frames in one message",
       {Concat({kCuff160, kReplyK, kEmpty})},
       {3},
       "3e 03 bf ",
       "3e 03 bf checksum good bf ",
       kCuff160,
       kReplyK},
      {"oversize frame is parked cut to the slot",
       {oversize},
       {1},
       oversizeHex,
       oversizeHex + "checksum good " + oversizeHex.substr(oversizeHex.size() - 3),
       Bytes(oversize.begin(), oversize.begin() + protocol::kSlotSize),
       {}},
      {"longest frame",
       {longest},
       {1},
       longestHex,
       longestHex + "checksum good " + longestHex.substr(longestHex.size() - 3),
       Bytes(longest.begin(), longest.begin() + protocol::kSlotSize),
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReplyReceiver rx;
    std::vector<int> starts;
    for (const auto& batch : c.batches) starts.push_back(Feed(rx, batch));
    EXPECT_EQ(starts, c.starts);
    if (!c.rxHex.empty()) {
      EXPECT_EQ(rx.m_strRxHex, c.rxHex);
    }
    if (!c.rxCheck.empty() || c.slot1.empty()) {
      EXPECT_EQ(rx.m_strRxCheck, c.rxCheck);
    }
    EXPECT_EQ(Slot(rx, 0), c.slot1);
    EXPECT_EQ(Slot(rx, 1), c.slot2);
    EXPECT_EQ(rx.m_bFramePending, c.slot1.empty() ? 0 : 1);
    EXPECT_EQ(rx.m_nFramePos, c.framePos);
    EXPECT_EQ(rx.m_nReplyCount, 0u);
  }
}

TEST(ReplyRing, PositionsAreReducedBeforeUseAndStoredUnreduced) {
  struct Case {
    uint32_t start;
    std::vector<uint32_t> after;  // the position after each of the bytes
    uint32_t firstSlot;
  };
  const std::vector<Case> cases = {
      {0, {1, 2, 3}, 0},     {39998, {39999, 40000, 1}, 39998}, {39999, {40000, 1, 2}, 39999},
      {40000, {1, 2, 3}, 0},  // a stored 40000 serves index 0
      {80005, {6, 7, 8}, 5},  // any value is reduced first
  };
  const Bytes bytes = {0x11, 0x22, 0x33};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    ReplyReceiver rx;
    rx.m_nReplyWrite = rx.m_nReplyRead = c.start;
    std::vector<uint32_t> writes, reads;
    for (uint8_t b : bytes) {
      rx.PushReplyByte(b);
      writes.push_back(rx.m_nReplyWrite);
    }
    EXPECT_EQ(rx.m_nReplyCount, 3u);
    EXPECT_EQ(rx.m_replyRing[c.firstSlot], 0x11);
    Bytes popped;
    for (size_t i = 0; i < bytes.size(); ++i) {
      popped.push_back(rx.PopReplyByte());
      reads.push_back(rx.m_nReplyRead);
    }
    EXPECT_EQ(writes, c.after);
    EXPECT_EQ(reads, c.after);
    EXPECT_EQ(popped, bytes);
    EXPECT_EQ(rx.m_nReplyCount, 0u);
  }
}

TEST(ReplyRing, FrameAcrossTheRingEndIsAssembled) {
  ReplyReceiver rx;
  rx.m_nReplyWrite = rx.m_nReplyRead = 39997;
  EXPECT_EQ(Feed(rx, kCuff160), 1);
  EXPECT_EQ(rx.m_nReplyWrite, 2u);
  EXPECT_EQ(Slot(rx, 0), kCuff160);
}

TEST(ReplyRing, PopOnAnEmptyRingChangesNothing) {
  ReplyReceiver rx;
  EXPECT_EQ(rx.PopReplyByte(), 0);
  EXPECT_EQ(rx.m_nReplyCount, 0u);
  EXPECT_EQ(rx.m_nReplyRead, 0u);
}

TEST(ReplyAssembler, HexTextOfANoisyLineKeepsTheMostRecentBytesInBoundedSpace) {
  ReplyReceiver rx;
  std::string all;
  size_t maxCapacity = 0;
  for (int i = 0; i < 100000; ++i) {
    const auto b = static_cast<uint8_t>(i % 61);  // never 3E
    ASSERT_FALSE(rx.Step(b));
    protocol::AppendHexSpaced(all, Bytes{b});
    ASSERT_LE(rx.m_strRxHex.size(), protocol::kRxHexMaxChars);
    maxCapacity = std::max(maxCapacity, rx.m_strRxHex.capacity());
  }
  const size_t keep = protocol::kRxHexKeepBytes * 3;
  EXPECT_GE(rx.m_strRxHex.size(), keep);
  EXPECT_EQ(rx.m_strRxHex.size() % 3, 0u);  // cut at a byte's text
  EXPECT_EQ(rx.m_strRxHex, all.substr(all.size() - rx.m_strRxHex.size()));
  EXPECT_LE(maxCapacity, 2 * protocol::kRxHexMaxChars);

  // A start byte still clears it; a whole frame of the longest length stays visible.
  const Bytes longest = GoodFrame(255);
  EXPECT_EQ(Feed(rx, longest), 1);
  std::string longestHex;
  protocol::AppendHexSpaced(longestHex, longest);
  EXPECT_EQ(rx.m_strRxHex, longestHex);
}

// A readable record of ticks and messages: "stop", the raw line and event lines of a shown frame,
// or "+N" for a message that started the timer N times.
enum class Op { Feed, Tick };
struct Step {
  Op op;
  Bytes bytes = {};
};

Lines Record(ReplyReceiver& rx, const std::vector<Step>& steps) {
  Lines out;
  protocol::TickOutput t;  // reused, as the console does
  for (const auto& s : steps) {
    if (s.op == Op::Feed) {
      out.push_back("+" + std::to_string(Feed(rx, s.bytes)));
      continue;
    }
    protocol::DispatchTick(rx, t);
    if (t.stopTimer) out.push_back("stop");
    if (!t.shown) continue;
    out.push_back(t.rawLine);
    out.insert(out.end(), t.eventLines.begin(), t.eventLines.end());
  }
  return out;
}

TEST(ReplyDispatch, DecodesByLength) {
  struct Case {
    const char* name;
    Bytes frame;
    Lines lines;
  };
  const std::vector<Case> cases = {
      {"cuff pressure", kCuff160, {"PC <-- MODULE <3E><05><A0><00><1D>", "Cuff pressure: 160"}},
      {"small cuff pressure", kCuff5, {"PC <-- MODULE <3E><05><05><00><B8>", "Cuff pressure: 5"}},
      {"cuff pressure FF FF",
       kCuffMax,
       {"PC <-- MODULE <3E><05><FF><FF><BF>", "Cuff pressure: 65535"}},
      {"one character", kReplyK, {"PC <-- MODULE <3E><04><4B><73>", "Reply: K"}},
      {"NUL character", {0x3E, 0x04, 0x00, 0xBE}, {"PC <-- MODULE <3E><04><00><BE>", "Reply: "}},
      {"BP data",
       kBpData,
       {"PC <-- MODULE "
        "<3E><16><78><00><50><00><05><02><01><02><03><04><05><06><07><08><48><00><5D><00><01><13>",
        "BP Data: 120 / 80 mmHg Heart: 72  MAP: 93", "TC: 01 02 03 04 05 06 07 08 ",
        "SQ: 5  Err: 1  Status: 2"}},
      {"BP data fields of FF",
       Sealed({0x3E, 0x16, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD, 0xEF,
               0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
       {"PC <-- MODULE "
        "<3E><16><FF><FF><FF><FF><FF><FF><AB><CD><EF><00><00><00><00><00><FF><FF><FF><FF><FF><50>",
        "BP Data: 65535 / 65535 mmHg Heart: 65535  MAP: 65535", "TC: ab cd ef 00 00 00 00 00 ",
        "SQ: 255  Err: 255  Status: 255"}},
      // Past the frame's end the slot still holds zeros before the first longer frame.
      {"three-byte frame first",
       kEmpty,
       {"PC <-- MODULE <3E><03><BF>", "BP Data: 191 / 0 mmHg Heart: 0  MAP: 0",
        "TC: 00 00 00 00 00 00 00 00 ", "SQ: 0  Err: 0  Status: 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReplyReceiver rx;
    Lines expected = {"+1"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    expected.push_back("stop");
    EXPECT_EQ(Record(rx, {{Op::Feed, c.frame}, {Op::Tick}, {Op::Tick}}), expected);
  }
}

TEST(ReplyDispatch, ShortFrameDecodesStaleBytesOfEarlierFrames) {
  ReplyReceiver rx;
  const Lines got = Record(rx, {{Op::Feed, kBpData}, {Op::Tick}, {Op::Feed, kEmpty}, {Op::Tick}});
  ASSERT_EQ(got.size(), 10u);
  const Lines last(got.end() - 4, got.end());
  EXPECT_EQ(last, (Lines{"PC <-- MODULE <3E><03><BF>", "BP Data: 191 / 80 mmHg Heart: 72  MAP: 93",
                         "TC: 01 02 03 04 05 06 07 08 ", "SQ: 5  Err: 1  Status: 2"}));
}

TEST(ReplyDispatch, ShowsOneFramePerTickInTheOrderTheyArrived) {
  const std::string a = "PC <-- MODULE <3E><05><A0><00><1D>";
  const std::string b = "PC <-- MODULE <3E><04><4B><73>";
  const std::string c = "PC <-- MODULE <3E><05><05><00><B8>";
  const std::string bp =
      "PC <-- MODULE "
      "<3E><16><78><00><50><00><05><02><01><02><03><04><05><06><07><08><48><00><5D><00><01><13>";
  struct Case {
    const char* name;
    std::vector<Step> steps;
    Lines record;
  };
  const std::vector<Case> cases = {
      {"nothing parked", {{Op::Tick}}, {"stop"}},
      {"two frames",
       {{Op::Feed, Concat({kCuff160, kReplyK})}, {Op::Tick}, {Op::Tick}, {Op::Tick}},
       {"+2", a, "Cuff pressure: 160", b, "Reply: K", "stop"}},
      {"three frames before a tick: none is lost",
       {{Op::Feed, kCuff160},
        {Op::Feed, kBpData},
        {Op::Feed, kReplyK},
        {Op::Tick},
        {Op::Tick},
        {Op::Tick},
        {Op::Tick}},
       {"+1", "+1", "+1", a, "Cuff pressure: 160", bp, "BP Data: 120 / 80 mmHg Heart: 72  MAP: 93",
        "TC: 01 02 03 04 05 06 07 08 ", "SQ: 5  Err: 1  Status: 2", b, "Reply: K", "stop"}},
      // B waits in slot 2 while slot 1 is shown; C, coming later, waits behind B.
      {"C after B",
       {{Op::Feed, kCuff160},
        {Op::Feed, kReplyK},
        {Op::Tick},
        {Op::Feed, kCuff5},
        {Op::Tick},
        {Op::Tick},
        {Op::Tick}},
       {"+1", "+1", a, "Cuff pressure: 160", "+1", b, "Reply: K", c, "Cuff pressure: 5", "stop"}},
      {"bad frame between ticks shows nothing",
       {{Op::Feed, kCuff160}, {Op::Tick}, {Op::Feed, {0x3E, 0x03, 0x00}}, {Op::Tick}},
       {"+1", a, "Cuff pressure: 160", "+0", "stop"}},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    ReplyReceiver rx;
    EXPECT_EQ(Record(rx, cs.steps), cs.record);
  }
}

// More frames than can wait before a tick: the newest are dropped and counted, the rest are
// shown in order.
TEST(ReplyDispatch, FloodKeepsTheOldestFramesInOrder) {
  auto rx = std::make_unique<ReplyReceiver>();
  const size_t held = 2 + protocol::kWaitingFrames;
  for (size_t i = 0; i < held + 3; ++i) {
    const auto p = static_cast<uint8_t>(i);
    const auto hi = static_cast<uint8_t>(i >> 8);
    ASSERT_EQ(Feed(*rx, Sealed({0x3E, 0x05, p, hi})), 1);
  }
  EXPECT_EQ(rx->m_nDroppedFrames, 3u);
  std::vector<uint16_t> shown;
  for (protocol::TickOutput t = protocol::DispatchTick(*rx); !t.stopTimer;
       t = protocol::DispatchTick(*rx)) {
    ASSERT_TRUE(t.isCuffPressure);
    shown.push_back(t.cuffPressure);
  }
  ASSERT_EQ(shown.size(), held);
  for (size_t i = 0; i < held; ++i) ASSERT_EQ(shown[i], i);
}

TEST(ReplyDispatch, OversizeFrameIsShownCutToTheSlot) {
  ReplyReceiver rx;
  const Bytes frame = GoodFrame(60);
  const Lines got = Record(rx, {{Op::Feed, frame}, {Op::Tick}});
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[1], protocol::RenderRaw(protocol::kPrefixReceived,
                                        Bytes(frame.begin(), frame.begin() + 50)));
  EXPECT_EQ(got[2], "BP Data: 513 / 1027 mmHg Heart: 4111  MAP: 4625");
}

TEST(PressureText, IsPaddedToThreeColumns) {
  const std::pair<int, const char*> cases[] = {
      {160, "160 mmHg"}, {5, "  5 mmHg"}, {0, "  0 mmHg"}, {65535, "65535 mmHg"}};
  for (const auto& [mmHg, text] : cases) EXPECT_EQ(protocol::FormatPressure(mmHg), text);
}

}  // namespace
