#include "base/KeyPin.h"

#include <gtest/gtest.h>

namespace sv {
namespace {

constexpr const char* kPin = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

TEST(KeyPin, FormatsADigestAsLowercaseHex) {
  EXPECT_EQ(FormatKeyPin(std::string("\x00\x0f\xa5\xff", 4)), "000fa5ff");
}

TEST(KeyPin, ReadsWhatAUserPastesAndRefusesTheRest) {
  const std::string upper = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
  std::string colons;
  for (std::size_t i = 0; i < 64; i += 2) colons += (i ? ":" : "") + upper.substr(i, 2);
  const struct {
    std::string text;
    bool pin;
  } cases[] = {
      {kPin, true},
      {upper, true},
      {colons, true},
      {"SHA256:" + colons, true},
      {"sha256/" + std::string(kPin), true},
      {" \t" + std::string(kPin) + "\r\n", true},
      {std::string(kPin).substr(0, 62), false},       // 31 bytes
      {std::string(kPin) + "00", false},              // 33 bytes
      {std::string(kPin).substr(1) + "g", false},     // not a digit
      {colons + ":", false},                          // a separator with no byte after
      {"1" + colons.substr(0, colons.size() - 1), false},  // pairs out of step
      {"sha1:" + std::string(kPin), false},
      {"", false},
      {std::string(kPin, 32) + std::string(1, '\0') + std::string(kPin + 32), false},
  };
  for (const auto& c : cases) {
    const auto got = ParseKeyPin(c.text);
    EXPECT_EQ(got.has_value(), c.pin) << c.text;
    if (got) {
      EXPECT_EQ(*got, kPin) << c.text;
    }
  }
}

}  // namespace
}  // namespace sv
