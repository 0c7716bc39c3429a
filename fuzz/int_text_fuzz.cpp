// fuzz-link: sv_base
// Reads arbitrary bytes as integer text and checks the result against a second, plainly
// written reading of the same rule that works on exact wide values.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/IntText.h"

namespace {

// Wide value of a digit run in the base, or -1 when any byte is no digit or the value
// passes 2^40 (far beyond every accepted value, so no overflow is possible).
std::int64_t Wide(std::string_view digits, int base) {
  if (digits.empty()) return -1;
  std::int64_t v = 0;
  for (char c : digits) {
    int d = c >= '0' && c <= '9' ? c - '0'
            : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
    if (d < 0) return -1;
    v = v * base + d;
    if (v > (std::int64_t(1) << 40)) v = std::int64_t(1) << 40;  // saturate, keep checking
  }
  return v;
}

bool Reference(std::string_view s, std::int32_t& out) {
  s.remove_prefix(std::min(s.find_first_not_of(' '), s.size()));
  const bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  int base = 10;
  if (s.starts_with("0x") || s.starts_with("0X")) {
    base = 16, s.remove_prefix(2);
  } else if (s.starts_with("$") || s.starts_with("x") || s.starts_with("X")) {
    base = 16, s.remove_prefix(1);
  }
  const std::int64_t v = Wide(s, base);
  if (v < 0) return false;
  if (base == 16) {
    if (v > 0xFFFFFFFFLL) return false;
    const std::int64_t pattern = v >= 0x80000000LL ? v - 0x100000000LL : v;  // two's complement
    const std::int64_t signedValue = negative ? -pattern : pattern;
    // Negating the most negative pattern wraps back to itself.
    out = static_cast<std::int32_t>(signedValue == 0x80000000LL ? -0x80000000LL : signedValue);
    return true;
  }
  const std::int64_t signedValue = negative ? -v : v;
  if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
  out = static_cast<std::int32_t>(signedValue);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::int32_t got = 0, expected = 0;
  const bool ok = sv::TryStrToInt(text, got);
  if (ok != Reference(text, expected) || (ok && got != expected)) std::abort();
  return 0;
}
