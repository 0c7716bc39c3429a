// fuzz-link: sv_server
// What a client sends the reference server. An input starting with an even byte is one
// request line for the command reader; an odd one is a whole conversation played to a
// session over a small project folder (requests, frame lengths, listings, paths).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <stdlib.h>

#include "server/ServerCommand.h"
#include "server/ServerSession.h"

namespace {

// The project folder of this run, removed when the fuzzer exits.
std::filesystem::path& ProjectRoot() {
  static std::filesystem::path root;
  return root;
}

void RemoveProjectRoot() {
  std::error_code ignored;
  std::filesystem::remove_all(ProjectRoot(), ignored);
}

// A project folder made once per run: two folders and two files.
const std::vector<sv::TServedProject>& Projects() {
  static const std::vector<sv::TServedProject> projects = [] {
    namespace stdfs = std::filesystem;
    char name[] = "/tmp/server_fuzz.XXXXXX";
    const stdfs::path root = ::mkdtemp(name) ? stdfs::path(name) : stdfs::temp_directory_path() / "server_fuzz";
    ProjectRoot() = root;
    std::atexit(RemoveProjectRoot);
    stdfs::create_directories(root / "docs" / "sub");
    std::ofstream(root / "docs" / "a.txt") << "abc\r\n";
    std::ofstream(root / "docs" / "sub" / "b b.txt") << "b";
    return std::vector<sv::TServedProject>{{"drumel", root.string()}, {"drumel two", root.string() + "/docs"}};
  }();
  return projects;
}

void CheckCommand(std::string_view line) {
  static const std::vector<std::string> names = {"drumel", "drumel two"};
  const sv::TServerCommand c = sv::ParseServerCommand(line, names);
  if (c.project >= static_cast<int>(names.size())) std::abort();
  // A path is what follows the project's name and one blank, to the end of the line.
  if (c.request == sv::TServerRequest::kGetFile && c.project >= 0) {
    const std::size_t tail = c.path.size();
    if (tail > line.size() || line.substr(line.size() - tail) != c.path) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 1) == 0) {
    CheckCommand(input);
    return 0;
  }
  std::size_t pos = 0;
  const std::size_t piece = 1 + data[0] / 2;  // also splits the input at odd places
  sv::TServerSession session(
      Projects(),
      [&](char* buffer, std::size_t capacity) {
        const std::size_t n = std::min({piece, capacity, input.size() - pos});
        input.copy(buffer, n, pos);
        pos += n;
        return n;
      },
      [](std::string_view) {}, [](const std::string&) {}, "fuzz");
  session.Serve();
  return 0;
}
