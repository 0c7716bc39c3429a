#pragma once
// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
#include <cstdint>
#include <filesystem>
#include <string>

namespace sv::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path, without a trailing '/'.
  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes and reads whole files in binary (test set-up only).
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// Creates the folder and every missing parent.
void MakeDirs(const std::string& path);

// Paths in the tests are UTF-8 text on every system: as std::filesystem takes them, and
// back (with '/' between names).
std::filesystem::path FsPath(const std::string& utf8);
std::string PathText(const std::filesystem::path& path);
// The last write time of a file, in seconds since the epoch.
std::int64_t ModificationTime(const std::string& path);
// Takes every write permission from a file, as a user makes it read-only.
void MakeReadOnly(const std::string& path);

}  // namespace sv::test
