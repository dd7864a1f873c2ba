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

// One message as the console handles it; 1 when it started the dispatch timer.
int Feed(ReplyReceiver& rx, const Bytes& batch) {
  for (uint8_t b : batch) rx.PushReplyByte(b);
  return rx.Assemble() ? 1 : 0;
}

// What one tick shows: a kind letter (G good, B bad checksum, D dropped) and the raw line.
Lines TickEntries(ReplyReceiver& rx) {
  protocol::TickOutput out;
  rx.DispatchTick(out);
  Lines lines;
  for (const auto& e : out) {
    const char kind = e.kind == protocol::EntryKind::kGood  ? 'G'
                      : e.kind == protocol::EntryKind::kBad ? 'B'
                                                            : 'D';
    lines.push_back(std::string(1, kind) + " " + e.rawLine);
  }
  return lines;
}

std::string Entry(char kind, const Bytes& bytes) {
  return std::string(1, kind) + " " + protocol::RenderRaw(protocol::kPrefixReceived, bytes);
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
  Lines waiting;  // what the next tick shows
  uint32_t framePos = 0;
};

TEST(ReplyAssembler, BatchesGiveTextsWaitingEntriesAndTimerStarts) {
  const Bytes oversize = GoodFrame(60);
  const Bytes longest = GoodFrame(255);
  std::string oversizeHex, longestHex;
  protocol::AppendHexSpaced(oversizeHex, oversize);
  protocol::AppendHexSpaced(longestHex, longest);
  const Bytes cut60(oversize.begin(), oversize.begin() + protocol::kSlotSize);
  const Bytes cut255(longest.begin(), longest.begin() + protocol::kSlotSize);

  const std::vector<AssemblyCase> cases = {
      {"cuff pressure in one message",
       {kCuff160},
       {1},
       "3e 05 a0 00 1d ",
       "3e 05 a0 00 1d checksum good 1d ",
       {Entry('G', kCuff160)}},
      {"cuff pressure split across messages",
       {{0x3E, 0x05}, {0xA0, 0x00, 0x1D}},
       {0, 1},
       "3e 05 a0 00 1d ",
       "3e 05 a0 00 1d checksum good 1d ",
       {Entry('G', kCuff160)}},
      // A run of dropped bytes ends with its message.
      {"noise before the start byte is cleared by it",
       {{0x01, 0x02}, {0xFF, 0x3E, 0x05, 0xA0, 0x00, 0x1D}},
       {1, 0},
       "3e 05 a0 00 1d ",
       "3e 05 a0 00 1d checksum good 1d ",
       {Entry('D', {0x01, 0x02}), Entry('D', {0xFF}), Entry('G', kCuff160)}},
      {"noise alone", {{0x01, 0x02, 0x3F}}, {1}, "01 02 3f ", "", {Entry('D', {1, 2, 0x3F})}},
      {"trailing bytes after a frame stay in the hex text",
       {Concat({kCuff160, {0x07, 0x08}})},
       {1},
       "3e 05 a0 00 1d 07 08 ",
       "3e 05 a0 00 1d checksum good 1d ",
       {Entry('G', kCuff160), Entry('D', {0x07, 0x08})}},
      {"three-byte frame",
       {kEmpty},
       {1},
       "3e 03 bf ",
       "3e 03 bf checksum good bf ",
       {Entry('G', kEmpty)}},
      {"start byte inside a frame is data",
       {{0x3E, 0x05, 0x3E, 0x00, 0x7F}},
       {1},
       "3e 05 3e 00 7f ",
       "3e 05 3e 00 7f checksum good 7f ",
       {Entry('G', {0x3E, 0x05, 0x3E, 0x00, 0x7F})}},
      {"length 0 ends the header at once",
       {{0x3E, 0x00, 0x41}},
       {1},
       "3e 00 41 ",
       "",
       {Entry('D', {0x3E, 0x00, 0x41})}},
      {"length 0 then a good frame",
       {{0x3E, 0x00, 0x41}, kCuff160},
       {1, 0},
       "3e 05 a0 00 1d ",
       "3e 05 a0 00 1d checksum good 1d ",
       {Entry('D', {0x3E, 0x00, 0x41}), Entry('G', kCuff160)}},
      // The byte after a length below 3 is looked at as a start byte.
      {"length 2, a frame right after",
       {{0x3E, 0x02, 0x3E, 0x03, 0xBF}},
       {1},
       "3e 03 bf ",
       "3e 03 bf checksum good bf ",
       {Entry('D', {0x3E, 0x02}), Entry('G', kEmpty)}},
      // The third byte starts a frame whose length byte is the fourth (3E: 62 bytes).
      {"length 1, two start bytes after it",
       {{0x3E, 0x01, 0x3E, 0x3E, 0x03, 0xBF}},
       {1},
       "3e 3e 03 bf ",
       "",
       {Entry('D', {0x3E, 0x01})},
       4},
      {"length 2 then noise",
       {{0x3E, 0x02, 0x00, 0x10}},
       {1},
       "3e 02 00 10 ",
       "",
       {Entry('D', {0x3E, 0x02, 0x00, 0x10})}},
      {"bad checksum",
       {{0x3E, 0x05, 0xA0, 0x00, 0x1E}},
       {1},
       "3e 05 a0 00 1e ",
       "3e 05 a0 00 1e checksum error sparesum=e3 checksum=1d ",
       {Entry('B', {0x3E, 0x05, 0xA0, 0x00, 0x1E})}},
      {"bad checksum keeps what waits",
       {kCuff160, kReplyK, {0x3E, 0x04, 0x00, 0x00}},
       {1, 0, 0},
       "3e 04 00 00 ",
       "3e 04 00 00 checksum error sparesum=42 checksum=be ",
       {Entry('G', kCuff160), Entry('G', kReplyK), Entry('B', {0x3E, 0x04, 0x00, 0x00})}},
      // A lost byte: the next frame's start byte completes this one, the rest waits for a 3E.
      {"lost byte swallows the next start byte",
       {{0x3E, 0x05, 0xA0, 0x1D}, kCuff160},
       {0, 1},
       "3e 05 a0 1d 3e 05 a0 00 1d ",
       "3e 05 a0 1d 3e checksum error sparesum=00 checksum=00 ",
       {Entry('B', {0x3E, 0x05, 0xA0, 0x1D, 0x3E}), Entry('D', {0x05, 0xA0, 0x00, 0x1D})}},
      {"half a frame waits", {{0x3E, 0x05, 0xA0}}, {0}, "3e 05 a0 ", "", {}, 3},
      {"three frames in one message",
       {Concat({kCuff160, kReplyK, kEmpty})},
       {1},
       "3e 03 bf ",
       "3e 03 bf checksum good bf ",
       {Entry('G', kCuff160), Entry('G', kReplyK), Entry('G', kEmpty)}},
      {"oversize frame waits cut to the slot",
       {oversize},
       {1},
       oversizeHex,
       oversizeHex + "checksum good " + oversizeHex.substr(oversizeHex.size() - 3),
       {Entry('G', cut60)}},
      {"longest frame",
       {longest},
       {1},
       longestHex,
       longestHex + "checksum good " + longestHex.substr(longestHex.size() - 3),
       {Entry('G', cut255)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReplyReceiver rx;
    std::vector<int> starts;
    for (const auto& batch : c.batches) starts.push_back(Feed(rx, batch));
    EXPECT_EQ(starts, c.starts);
    EXPECT_EQ(rx.RxHex(), c.rxHex);
    EXPECT_EQ(rx.RxCheck(), c.rxCheck);
    EXPECT_EQ(rx.View().framePos, c.framePos);
    EXPECT_EQ(rx.View().replyCount, 0u);
    EXPECT_EQ(TickEntries(rx), c.waiting);
    EXPECT_EQ(rx.View().waitingEntries, 0u);
  }
}

TEST(ReplyRing, PositionsAreReducedBeforeUseAndStoredUnreduced) {
  struct Case {
    uint32_t start;
    std::vector<uint32_t> after;  // the position after each of the bytes
  };
  const std::vector<Case> cases = {
      {0, {1, 2, 3}},         {39998, {39999, 40000, 1}},
      {39999, {40000, 1, 2}}, {40000, {1, 2, 3}},  // a stored 40000 serves index 0
      {80005, {6, 7, 8}},                          // any value is reduced first
  };
  const Bytes bytes = {0x11, 0x22, 0x33};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    ReplyReceiver rx;
    rx.StartRingAt(c.start);
    std::vector<uint32_t> writes;
    for (uint8_t b : bytes) {
      rx.PushReplyByte(b);
      writes.push_back(rx.View().replyWrite);
    }
    EXPECT_EQ(writes, c.after);
    EXPECT_EQ(rx.View().replyCount, 3u);
    EXPECT_TRUE(rx.Assemble());
    EXPECT_EQ(rx.View().replyRead, c.after.back());
    EXPECT_EQ(rx.View().replyCount, 0u);
    EXPECT_EQ(TickEntries(rx), Lines{Entry('D', bytes)});  // read back in the order written
  }
}

TEST(ReplyRing, FrameAcrossTheRingEndIsAssembled) {
  ReplyReceiver rx;
  rx.StartRingAt(39997);
  EXPECT_EQ(Feed(rx, kCuff160), 1);
  EXPECT_EQ(rx.View().replyWrite, 2u);
  EXPECT_EQ(TickEntries(rx), Lines{Entry('G', kCuff160)});
}

TEST(ReplyRing, AssemblingAnEmptyRingChangesNothing) {
  ReplyReceiver rx;
  EXPECT_FALSE(rx.Assemble());
  EXPECT_EQ(rx.View().replyCount, 0u);
  EXPECT_EQ(rx.View().replyRead, 0u);
  EXPECT_EQ(rx.View().waitingEntries, 0u);
}

TEST(ReplyAssembler, HexTextOfANoisyLineKeepsTheMostRecentBytesInBoundedSpace) {
  ReplyReceiver rx;
  std::string all;
  size_t maxCapacity = 0;
  Bytes batch;
  for (int i = 0; i < 100000; ++i) {
    const auto b = static_cast<uint8_t>(i % 61);  // never 3E
    batch.push_back(b);
    protocol::AppendHexSpaced(all, Bytes{b});
    if (batch.size() < 100) continue;
    Feed(rx, batch);
    batch.clear();
    ASSERT_LE(rx.RxHex().size(), protocol::kRxHexMaxChars);
    maxCapacity = std::max(maxCapacity, rx.RxHex().capacity());
    ASSERT_EQ(TickEntries(rx).size(), 1u);  // one dropped run a message
  }
  const size_t keep = protocol::kRxHexKeepBytes * 3;
  EXPECT_GE(rx.RxHex().size(), keep);
  EXPECT_EQ(rx.RxHex().size() % 3, 0u);  // cut at a byte's text
  EXPECT_EQ(rx.RxHex(), all.substr(all.size() - rx.RxHex().size()));
  EXPECT_LE(maxCapacity, 2 * protocol::kRxHexMaxChars);

  // A start byte still clears it; a whole frame of the longest length stays visible.
  const Bytes longest = GoodFrame(255);
  EXPECT_EQ(Feed(rx, longest), 1);
  std::string longestHex;
  protocol::AppendHexSpaced(longestHex, longest);
  EXPECT_EQ(rx.RxHex(), longestHex);
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
    rx.DispatchTick(t);
    if (t.stopTimer) out.push_back("stop");
    for (const auto& e : t) {
      if (e.kind == protocol::EntryKind::kGood) {
        out.push_back(e.rawLine);
      } else {
        out.push_back((e.kind == protocol::EntryKind::kBad ? "bad " : "dropped ") + e.rawLine);
      }
      out.insert(out.end(), e.eventLines.begin(), e.eventLines.end());
    }
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
      // Bytes keep their value: the text is 8-bit.
      {"character above 0x7F",
       Sealed({0x3E, 0x04, 0xE9}),
       {"PC <-- MODULE <3E><04><E9><D5>", "Reply: \xE9"}},
      // Too short for BP data: only its length, never bytes of earlier replies.
      {"three-byte frame", kEmpty, {"PC <-- MODULE <3E><03><BF>", "Short reply: 3 bytes"}},
      {"six-byte frame",
       GoodFrame(6),
       {Entry('G', GoodFrame(6)).substr(2), "Short reply: 6 bytes"}},
      {"21-byte frame",
       GoodFrame(21),
       {Entry('G', GoodFrame(21)).substr(2), "Short reply: 21 bytes"}},
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

// The fields a BP data entry carries are the numbers its lines show; other frames carry none.
TEST(ReplyDispatch, BpDataEntryCarriesItsFields) {
  ReplyReceiver rx;
  EXPECT_EQ(Feed(rx, kBpData), 1);
  EXPECT_EQ(Feed(rx, kCuff160), 0);
  protocol::TickOutput t;
  rx.DispatchTick(t);
  ASSERT_EQ(t.size(), 2u);
  ASSERT_TRUE(t[0].isBpData);
  const protocol::BpData& bp = t[0].bpData;
  EXPECT_EQ(
      (std::vector<int>{bp.systolic, bp.diastolic, bp.heartRate, bp.map, bp.sq, bp.err, bp.status}),
      (std::vector<int>{120, 80, 72, 93, 5, 1, 2}));
  EXPECT_EQ(bp.tc, (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_FALSE(t[1].isBpData);
}

TEST(ReplyDispatch, ShortFrameAfterBpDataShowsNoStaleResult) {
  ReplyReceiver rx;
  const Lines got = Record(rx, {{Op::Feed, kBpData}, {Op::Tick}, {Op::Feed, kEmpty}, {Op::Tick}});
  EXPECT_EQ(Lines(got.end() - 2, got.end()),
            (Lines{"PC <-- MODULE <3E><03><BF>", "Short reply: 3 bytes"}));
}

TEST(ReplyDispatch, EachTickShowsEverythingWaitingInArrivalOrder) {
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
      {"nothing waiting", {{Op::Tick}}, {"stop"}},
      {"two frames, one tick",
       {{Op::Feed, Concat({kCuff160, kReplyK})}, {Op::Tick}, {Op::Tick}},
       {"+1", a, "Cuff pressure: 160", b, "Reply: K", "stop"}},
      // Only the first frame into an empty queue starts the timer; later ones do not restart it.
      {"three frames before a tick",
       {{Op::Feed, kCuff160}, {Op::Feed, kBpData}, {Op::Feed, kReplyK}, {Op::Tick}, {Op::Tick}},
       {"+1", "+0", "+0", a, "Cuff pressure: 160", bp, "BP Data: 120 / 80 mmHg Heart: 72  MAP: 93",
        "TC: 01 02 03 04 05 06 07 08 ", "SQ: 5  Err: 1  Status: 2", b, "Reply: K", "stop"}},
      {"a frame after a tick starts the timer again",
       {{Op::Feed, kCuff160},
        {Op::Feed, kReplyK},
        {Op::Tick},
        {Op::Feed, kCuff5},
        {Op::Tick},
        {Op::Tick}},
       {"+1", "+0", a, "Cuff pressure: 160", b, "Reply: K", "+1", c, "Cuff pressure: 5", "stop"}},
      {"bad frame and noise between good ones keep their places",
       {{Op::Feed, Concat({kCuff160, {0x3E, 0x03, 0x00}, {0x55}, kReplyK})}, {Op::Tick}},
       {"+1", a, "Cuff pressure: 160", "bad PC <-- MODULE <3E><03><00>",
        "dropped PC <-- MODULE <55>", b, "Reply: K"}},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    ReplyReceiver rx;
    EXPECT_EQ(Record(rx, cs.steps), cs.record);
  }
}

// A burst far beyond any fixed queue: every frame is shown once, in order, by one tick, and the
// queue costs the frames' bytes and their headers only.
TEST(ReplyDispatch, BurstIsShownWholeInOrder) {
  auto rx = std::make_unique<ReplyReceiver>();
  constexpr size_t kFrames = 50000;
  size_t peakBytes = 0;
  for (size_t i = 0; i < kFrames; i += 200) {
    Bytes batch;
    for (size_t k = i; k < i + 200; ++k) {
      const Bytes f = Sealed({0x3E, 0x05, static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8)});
      batch.insert(batch.end(), f.begin(), f.end());
    }
    ASSERT_EQ(Feed(*rx, batch), i == 0 ? 1 : 0);
    peakBytes = std::max(peakBytes, rx->View().waitingBytes);
  }
  EXPECT_EQ(rx->View().waitingGood, kFrames);
  EXPECT_LE(peakBytes, kFrames * 10);
  protocol::TickOutput t;
  rx->DispatchTick(t);
  ASSERT_EQ(t.size(), kFrames);
  for (size_t i = 0; i < kFrames; ++i) {
    ASSERT_TRUE(t[i].isCuffPressure);
    ASSERT_EQ(t[i].cuffPressure, static_cast<uint16_t>(i));
  }
  rx->DispatchTick(t);
  EXPECT_TRUE(t.stopTimer);
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
