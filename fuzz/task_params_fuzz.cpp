// fuzz-link: sv_sync
// Splits the input as a file command's parameter. The items, written back quoted (each
// quote doubled) and comma-separated, must split into the same items again; and any
// item that passes the task-path check must start with '\' and hold no ".." component.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "sync/usvBaseCommand.h"

namespace {

std::string Quoted(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    out += '"';
    for (char c : items[i]) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    out += '"';
  }
  return out;
}

bool HasDotDot(const std::string& path) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find_first_of("\\/", start);
    if (path.substr(start, end == std::string::npos ? std::string::npos : end - start) == "..") return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> items = sv::SplitParameter(text);
  if (items.size() > size + 1) std::abort();
  if (sv::SplitParameter(Quoted(items)) != items) std::abort();
  for (const std::string& item : items) {
    try {
      sv::CheckTaskPath("/root", item);
    } catch (const sv::Exception&) {
      continue;
    }
    if (item.empty() || item[0] != '\\' || HasDotDot(item)) std::abort();
  }
  return 0;
}
