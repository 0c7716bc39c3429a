#include "tests/support/TempDir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/TestPlatform.h"

namespace sv::test {

std::filesystem::path FsPath(const std::string& utf8) { return std::filesystem::u8path(utf8); }

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

std::int64_t ModificationTime(const std::string& path) {
  const auto time = std::filesystem::last_write_time(FsPath(path));
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::file_clock::to_sys(time).time_since_epoch()).count();
}

void MakeReadOnly(const std::string& path) {
  namespace stdfs = std::filesystem;
  stdfs::permissions(FsPath(path), stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
                     stdfs::perm_options::remove);
}

TempDir::TempDir() : path_(MakeTempFolder("sorvana-test")) {}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make them writable so they can go.
  for (auto it = std::filesystem::recursive_directory_iterator(FsPath(path_), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add |
                                     std::filesystem::perm_options::nofollow, ec);
  }
  std::filesystem::remove_all(FsPath(path_), ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void MakeDirs(const std::string& path) { std::filesystem::create_directories(FsPath(path)); }

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : name_(name) {
  if (const char* old = std::getenv(name.c_str())) old_ = old;
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, old_); }

}  // namespace sv::test
