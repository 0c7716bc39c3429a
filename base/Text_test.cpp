#include "base/Text.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace sv {

TEST(Text, TrimRemovesBytesUpToSpace) {
  EXPECT_EQ(Trim(std::string("\x01 \t a b \r\n\0", 11)), "a b");
  EXPECT_EQ(Trim(" \t\r\n"), "");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
}

TEST(Text, SameTextFoldsNationalLetters) {
  EXPECT_TRUE(SameText("README.TXT", "readme.txt"));
  EXPECT_TRUE(SameText(Cp("ČĆŽŠĐ"), Cp("čćžšđ")));
  EXPECT_FALSE(SameText("a", "a "));
  EXPECT_FALSE(SameText(Cp("č"), "c"));
  EXPECT_EQ(FindText("xx{%port%}", "{%PORT%}"), 2u);
}

TEST(Text, Cp1250RoundTrip) {
  EXPECT_EQ(Cp("č.txt"), "\xE8.txt");
  EXPECT_EQ(Cp1250ToUtf8("\xE8\x9A\x9E"), "čšž");
  std::string out;
  EXPECT_FALSE(Utf8ToCp1250("日本.txt", out));
  EXPECT_EQ(out, "??.txt");
  EXPECT_FALSE(Utf8ToCp1250("\xFF", out));
}

TEST(Text, MalformedUtf8NeverBecomesAnAsciiByte) {
  std::string out;
  EXPECT_FALSE(Utf8ToCp1250("a\xC0\xAF" "b", out));  // overlong '/'
  EXPECT_EQ(out, "a?b");
  EXPECT_FALSE(Utf8ToCp1250("\xC1\x9C", out));  // overlong '\\'
  EXPECT_EQ(out, "?");
  EXPECT_FALSE(Utf8ToCp1250("\xE0\x80\xAE\xED\xA0\x80\xF4\x90\x80\x80", out));
  EXPECT_EQ(out, "???");
  EXPECT_FALSE(Utf8ToCp1250("\xC4", out));  // cut short
  EXPECT_EQ(out, "?");
  EXPECT_TRUE(Utf8ToCp1250("\xC2\xA0\xE2\x82\xAC", out));  // shortest forms still pass
  EXPECT_EQ(out, "\xA0\x80");
}

TEST(Text, FormatFillsInOnePass) {
  EXPECT_EQ(Format("Tag %s završava na tag %s", "b", "/a"), "Tag b završava na tag /a");
  EXPECT_EQ(Format("%s and %d", "%d", 5), "%d and 5");
  EXPECT_EQ(Format("100%% %s", "x"), "100% x");
  EXPECT_EQ(Format("%s %s", "only"), "only %s");
  EXPECT_EQ(EListError(-3).Message(), "List index out of bounds (-3)");
}

}  // namespace sv
