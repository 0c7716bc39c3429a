// fuzz-link: sv_sync
// Reads the input as a length line, with the document bound and without one, and
// compares each answer with a plainly written reading of the same rule: leading
// blanks, an optional sign, at least one decimal digit and nothing else; no negative
// count; nothing above the bound. Any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "base/Exception.h"
#include "sync/Reply.h"

namespace {

// The expected count, or -1 when the line must be refused.
std::int64_t Expected(std::string_view line, std::int64_t limit) {
  std::size_t i = line.find_first_not_of(' ');
  if (i == std::string_view::npos) return -1;
  bool negative = false;
  if (line[i] == '+' || line[i] == '-') negative = line[i++] == '-';
  if (i == line.size()) return -1;
  __int128 value = 0;
  for (; i < line.size(); ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    value = value * 10 + (line[i] - '0');
    if (value > limit) value = static_cast<__int128>(limit) + 1;  // stays above, never overflows
  }
  if (value > limit || (negative && value != 0)) return -1;
  return static_cast<std::int64_t>(value);
}

void Check(std::string_view line, std::int64_t limit) {
  std::int64_t got = -1;
  try {
    got = sv::ParseFrameLength(line, limit);
    if (got < 0) std::abort();
  } catch (const sv::EConvertError&) {
  }
  if (got != Expected(line, limit)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  Check(line, sv::kMaxDocumentLength);
  Check(line, std::numeric_limits<std::int64_t>::max());
  return 0;
}
