#include "base/IntText.h"

namespace sv {
namespace {

// Length of the hexadecimal prefix at the start of text, 0 when there is none.
std::size_t HexPrefix(std::string_view text) {
  if (!text.empty() && (text[0] == '$' || text[0] == 'x' || text[0] == 'X')) return 1;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return 2;
  return 0;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string_view digits = text.substr(i);

  if (std::size_t prefix = HexPrefix(digits)) {
    digits.remove_prefix(prefix);
    if (digits.empty()) return false;
    std::uint64_t v = 0;
    for (char c : digits) {
      int h = HexDigitValue(c);
      if (h < 0) return false;
      v = v * 16 + h;
      if (v > 0xFFFFFFFFu) return false;
    }
    std::uint32_t pattern = static_cast<std::uint32_t>(v);
    if (negative) pattern = 0u - pattern;
    value = static_cast<std::int32_t>(pattern);
    return true;
  }

  if (digits.empty()) return false;
  std::int64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  std::int32_t v = 0;
  return TryStrToInt(text, v) ? v : fallback;
}

}  // namespace sv
