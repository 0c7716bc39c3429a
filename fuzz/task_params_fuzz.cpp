// fuzz-link: sv_sync
// Splits the input as a file command's parameter. The items, written back quoted (each
// quote doubled) and comma-separated, must split into the same items again. Each item,
// and the whole input as a folder command takes it, that passes the task-path check must
// come back as a plain path: starting with '\', no ".." component, no '/' or 0x00, and
// passing the check again unchanged.
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
  std::vector<std::string_view> paths(items.begin(), items.end());
  paths.push_back(text);
  for (const std::string_view path : paths) {
    std::string plain;
    try {
      plain = sv::CheckTaskPath("/root", path);
    } catch (const sv::Exception&) {
      continue;
    }
    if (plain.empty() || plain[0] != '\\' || HasDotDot(plain)) std::abort();
    if (plain.find_first_of(std::string_view("/\0", 2)) != std::string::npos) std::abort();
    if (sv::CheckTaskPath("/root", plain) != plain) std::abort();
  }
  return 0;
}
