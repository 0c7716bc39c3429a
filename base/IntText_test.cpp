#include "base/IntText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace sv {
namespace {

std::optional<std::int32_t> Read(const std::string& text) {
  std::int32_t v = 0;
  if (!TryStrToInt(text, v)) return std::nullopt;
  return v;
}

TEST(IntText, DecimalWithSignsAndLeadingSpaces) {
  EXPECT_EQ(Read("0"), 0);
  EXPECT_EQ(Read("1974"), 1974);
  EXPECT_EQ(Read("+7"), 7);
  EXPECT_EQ(Read("-7"), -7);
  EXPECT_EQ(Read("   42"), 42);
  EXPECT_EQ(Read("  -0042"), -42);
  EXPECT_EQ(Read("00000000000000000001"), 1);
}

TEST(IntText, DecimalKeepsTo32Bits) {
  EXPECT_EQ(Read("2147483647"), 2147483647);
  EXPECT_EQ(Read("-2147483648"), INT32_MIN);
  EXPECT_EQ(Read("2147483648"), std::nullopt);
  EXPECT_EQ(Read("+2147483648"), std::nullopt);
  EXPECT_EQ(Read("-2147483649"), std::nullopt);
  EXPECT_EQ(Read("4294967296"), std::nullopt);
  EXPECT_EQ(Read("99999999999999999999999999"), std::nullopt);
}

TEST(IntText, HexPrefixesTakeA32BitPattern) {
  EXPECT_EQ(Read("$3C"), 60);
  EXPECT_EQ(Read("xff"), 255);
  EXPECT_EQ(Read("XfF"), 255);
  EXPECT_EQ(Read("0x1F"), 31);
  EXPECT_EQ(Read("0X1f"), 31);
  EXPECT_EQ(Read("0x0"), 0);
  EXPECT_EQ(Read("  $7FFFFFFF"), INT32_MAX);
  EXPECT_EQ(Read("$FFFFFFFF"), -1);
  EXPECT_EQ(Read("$80000000"), INT32_MIN);
  EXPECT_EQ(Read("$0000000000FF"), 255);
  // The sign applies after the pattern is read.
  EXPECT_EQ(Read("-$10"), -16);
  EXPECT_EQ(Read("+0x10"), 16);
  EXPECT_EQ(Read("-$FFFFFFFF"), 1);
  EXPECT_EQ(Read("-$80000000"), INT32_MIN);
  EXPECT_EQ(Read("$100000000"), std::nullopt);
  EXPECT_EQ(Read("0x123456789"), std::nullopt);
}

TEST(IntText, AnythingElseIsNoInteger) {
  for (const char* text :
       {"", " ", "-", "+", "$", "x", "0x", "-$", "5 ", "\t5", "5a", "1.0", "1e3", "--5", "+-5",
        "- 5", "$-1", "$ 1", "0x$1", "$0x1", "00x1", "$G", "0xFFg", "1,000", "\xB9"}) {
    std::int32_t v = 99;
    EXPECT_FALSE(TryStrToInt(text, v)) << '"' << text << '"';
  }
  std::int32_t v = 0;
  EXPECT_FALSE(TryStrToInt(std::string("12\0", 3), v));
}

TEST(IntText, StrToIntDefFallsBack) {
  EXPECT_EQ(StrToIntDef("$3C", 1974), 60);
  EXPECT_EQ(StrToIntDef("port", 1974), 1974);
  EXPECT_EQ(StrToIntDef("", -1), -1);
}

}  // namespace
}  // namespace sv
