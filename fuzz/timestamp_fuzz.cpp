// fuzz-link: sv_comparer
// Listing timestamps arrive from the server inside task parameters. The first byte picks
// the locale facts; the rest is the text. Whatever parses must print and parse back to
// the same second.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Comparer/source/StructStreamer.h"
#include "platform/Locale.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  sv::TimeStyle style;
  style.leadingZero = data[0] & 1;
  style.twentyFourHour = data[0] & 2;
  style.designatorFirst = data[0] & 4;
  if (data[0] & 8) {
    style.am = "AM";
    style.pm = "PM";
  }
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  sv::TDateTime value = 0;
  if (!sv::TLoader::TryParseTimestamp(text, style, value)) return 0;
  const sv::DateParts d = sv::DecodeDate(value);
  if (d.year < 1 || d.year > 9999) return 0;  // outside the calendar: nothing to print
  std::string printed;
  sv::TLoader::AppendTimestamp(printed, value, style);
  sv::TDateTime again = 0;
  if (!sv::TLoader::TryParseTimestamp(printed, style, again)) std::abort();
  if (std::fabs(again - value) > 1.0 / 86400) std::abort();
  return 0;
}
