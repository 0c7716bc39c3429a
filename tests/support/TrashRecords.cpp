#include "tests/support/TrashRecords.h"

#include <filesystem>

#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

std::string Decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::map<std::string, std::string> TrashedFiles(const std::string& dataHome, const std::string& below) {
  namespace stdfs = std::filesystem;
  std::map<std::string, std::string> found;
  const std::string trash = dataHome + "/Trash";
  if (!stdfs::is_directory(FsPath(trash + "/info"))) return found;
  for (const auto& entry : stdfs::directory_iterator(FsPath(trash + "/info"))) {
    const std::string record = ReadFile(PathText(entry.path()));
    const std::size_t at = record.find("\nPath=");
    if (record.rfind("[Trash Info]\n", 0) != 0 || at == std::string::npos ||
        record.find("\nDeletionDate=") == std::string::npos)
      continue;
    const std::string origin = Decode(record.substr(at + 6, record.find('\n', at + 1) - at - 6));
    if (origin.rfind(below + "/", 0) != 0) continue;
    const std::string name = PathText(entry.path().filename());
    const std::string file = trash + "/files/" + name.substr(0, name.size() - std::string(".trashinfo").size());
    found[origin] = stdfs::exists(FsPath(file)) ? ReadFile(file) : "<missing>";
  }
  return found;
}

}  // namespace sv::test
