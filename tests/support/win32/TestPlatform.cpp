#include "tests/support/TestPlatform.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace sv::test {
namespace {

std::wstring Wide(const std::string& utf8) { return std::filesystem::u8path(utf8).wstring(); }

}  // namespace

bool OnWindows() { return true; }

std::string MakeTempFolder(const std::string& prefix) {
  wchar_t base[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path = std::wstring(base, n) + Wide(prefix) + L"-" + std::to_wstring(random());
    if (::CreateDirectoryW(path.c_str(), nullptr)) {
      const std::u8string utf8 = path.u8string();
      return std::string(utf8.begin(), utf8.end());
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("cannot make a temporary folder");
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  // _wputenv_s changes both the C runtime's copy and the process environment; an empty
  // value removes the variable.
  ::_wputenv_s(Wide(name).c_str(), value ? Wide(*value).c_str() : L"");
}

std::optional<std::string> RunRestricted(const Restrictions&, const std::function<std::string()>&) {
  return std::nullopt;
}

}  // namespace sv::test
