#include "protocol/frames.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "protocol/hex_bytes.h"

namespace {

using protocol::TxBuf;
using Bytes = std::vector<uint8_t>;

struct FrameCase {
  const char* name;
  std::function<size_t(TxBuf&)> build;
  Bytes expected;
};

Bytes Built(const FrameCase& c) {
  TxBuf tx;
  tx.fill(0xEE);
  const size_t n = c.build(tx);
  return Bytes(tx.begin(), tx.begin() + static_cast<long>(n));
}

TEST(CommandFrames, EveryFrameHasItsBytesAndSumsToZero) {
  const std::vector<FrameCase> cases = {
      {"set pressure 160",
       [](TxBuf& t) { return protocol::BuildSetPressure(t, 160); },
       {0x3A, 0x17, 0xA0, 0x00, 0x0F}},
      {"set pressure 300",
       [](TxBuf& t) { return protocol::BuildSetPressure(t, 300); },
       {0x3A, 0x17, 0x2C, 0x01, 0x82}},
      {"set pressure 30",
       [](TxBuf& t) { return protocol::BuildSetPressure(t, 30); },
       {0x3A, 0x17, 0x1E, 0x00, 0x91}},
      {"set pressure 1000",
       [](TxBuf& t) { return protocol::BuildSetPressure(t, 1000); },
       {0x3A, 0x17, 0xE8, 0x03, 0xC4}},
      {"set pressure 0",
       [](TxBuf& t) { return protocol::BuildSetPressure(t, 0); },
       {0x3A, 0x17, 0x00, 0x00, 0xAF}},
      // Only the low 16 bits travel: -5 as unsigned is FFFFFFFB.
      {"set pressure -5",
       [](TxBuf& t) { return protocol::BuildSetPressure(t, static_cast<uint32_t>(-5)); },
       {0x3A, 0x17, 0xFB, 0xFF, 0xB5}},
      {"set pressure 0x12345",
       [](TxBuf& t) { return protocol::BuildSetPressure(t, 0x12345); },
       {0x3A, 0x17, 0x45, 0x23, 0x47}},
      {"start adult", protocol::BuildStartAdult, {0x3A, 0x20, 0xA6}},
      {"start neonate", protocol::BuildStartNeonate, {0x3A, 0x28, 0x9E}},
      {"start pediatric", protocol::BuildStartPediatric, {0x3A, 0x87, 0x3F}},
      {"abort", protocol::BuildAbortBp, {0x3A, 0x79, 0x01, 0x00, 0x4C}},
      {"get pressure", protocol::BuildGetPressure, {0x3A, 0x79, 0x05, 0x00, 0x48}},
      {"get bp data", protocol::BuildGetBpData, {0x3A, 0x79, 0x03, 0x00, 0x4A}},
      {"pneumatics none",
       [](TxBuf& t) { return protocol::BuildPneumatics(t, false, false, false); },
       {0x3A, 0x0C, 0x00, 0x00, 0x00, 0xBA}},
      {"pneumatics pump",
       [](TxBuf& t) { return protocol::BuildPneumatics(t, true, false, false); },
       {0x3A, 0x0C, 0x01, 0x00, 0x00, 0xB9}},
      {"pneumatics pump+cv",
       [](TxBuf& t) { return protocol::BuildPneumatics(t, true, true, false); },
       {0x3A, 0x0C, 0x01, 0x01, 0x00, 0xB8}},
      {"pneumatics dump",
       [](TxBuf& t) { return protocol::BuildPneumatics(t, false, false, true); },
       {0x3A, 0x0C, 0x00, 0x00, 0x01, 0xB9}},
      {"pneumatics all",
       [](TxBuf& t) { return protocol::BuildPneumatics(t, true, true, true); },
       {0x3A, 0x0C, 0x01, 0x01, 0x01, 0xB7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes got = Built(c);
    EXPECT_EQ(got, c.expected);
    EXPECT_TRUE(protocol::SumsToZero(got));
    EXPECT_LE(got.size(), 6u);
  }
}

TEST(CommandFrames, BuildingOverwritesThePreviousCommand) {
  TxBuf tx;
  (void)protocol::BuildPneumatics(tx, true, true, true);
  const size_t n = protocol::BuildStartAdult(tx);
  EXPECT_EQ(Bytes(tx.begin(), tx.begin() + static_cast<long>(n)), (Bytes{0x3A, 0x20, 0xA6}));
}

TEST(Checksum, IsTheNegatedEightBitSum) {
  EXPECT_EQ(protocol::Checksum({}), 0x00);
  const Bytes wraps = {0xFF, 0xFF, 0x03};  // sums to 0x201
  EXPECT_EQ(protocol::Checksum(wraps), 0xFF);
  const Bytes reply = {0x3E, 0x05, 0xA0, 0x00};
  EXPECT_EQ(protocol::Checksum(reply), 0x1D);
  EXPECT_FALSE(protocol::SumsToZero(Bytes{0x3E, 0x05, 0xA0, 0x00, 0x1E}));
}

TEST(HexBytes, TypedBytesWithOrWithoutChecksumAndTheFirstBadCharacter) {
  const struct {
    const char* text;
    bool checksum;
    Bytes bytes;
    const char* error;
  } cases[] = {
      {"3A 79 05 00", true, {0x3A, 0x79, 0x05, 0x00, 0x48}, ""},
      {"3a790500", true, {0x3A, 0x79, 0x05, 0x00, 0x48}, ""},
      {" 3A 79 05 00 47 ", false, {0x3A, 0x79, 0x05, 0x00, 0x47}, ""},
      {"3 A", false, {0x3A}, ""},  // spaces anywhere
      {"3A 7G 05", true, {}, "Not a hex digit: 'G' at position 5"},
      {"3A,79", true, {}, "Not a hex digit: ',' at position 3"},
      {"3A 7", true, {}, "The last byte has only one hex digit"},
      {"   ", true, {}, "No bytes to send"},
  };
  for (const auto& c : cases) {
    const protocol::HexBytes got = protocol::ParseHexBytes(c.text, c.checksum);
    EXPECT_EQ(got.bytes, c.bytes) << c.text;
    EXPECT_EQ(got.error, c.error) << c.text;
  }
}

TEST(RawLog, RendersBothDirectionsUpperCased) {
  struct Case {
    std::string_view prefix;
    Bytes frame;
    std::string line;
  };
  const std::vector<Case> cases = {
      {protocol::kPrefixSent, {0x3A, 0x20, 0xA6}, "PC --> MODULE <3A><20><A6>"},
      {protocol::kPrefixSent, {0x3A, 0x79, 0x05, 0x00, 0x48}, "PC --> MODULE <3A><79><05><00><48>"},
      {protocol::kPrefixReceived,
       {0x3E, 0x05, 0xA0, 0x00, 0x1D},
       "PC <-- MODULE <3E><05><A0><00><1D>"},
      {protocol::kPrefixReceived, {0xab, 0xcd, 0xef}, "PC <-- MODULE <AB><CD><EF>"},
      {protocol::kPrefixSent, {}, "PC --> MODULE "},
  };
  for (const auto& c : cases) EXPECT_EQ(protocol::RenderRaw(c.prefix, c.frame), c.line);
}

TEST(HexSpaced, TwoLowerCaseDigitsAndABlankPerByte) {
  std::string s = "x";
  protocol::AppendHexSpaced(s, Bytes{0x3E, 0x0A, 0xFF});
  EXPECT_EQ(s, "x3e 0a ff ");
}

}  // namespace
