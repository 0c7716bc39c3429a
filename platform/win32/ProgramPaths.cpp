#include "platform/ProgramPaths.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/WinText.h"

namespace sv {
namespace {

std::wstring ProgramFilePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::string& ConfigFolderOverride() {
  static std::string folder;
  return folder;
}

// A shell folder, or empty text when the shell has none.
std::string ShellFolder(int csidl) {
  wchar_t path[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  std::wstring folder = path;
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return win::Narrow(folder);
}

}  // namespace

std::string ProgramFolder() {
  const std::wstring path = ProgramFilePath();
  const std::size_t slash = path.rfind(L'\\');
  return win::Narrow(path.substr(0, slash == std::wstring::npos ? 0 : slash));
}

std::string ProgramFileName() {
  const std::wstring path = ProgramFilePath();
  return win::Narrow(path.substr(path.rfind(L'\\') + 1));
}

std::string HomeFolder() { return ShellFolder(CSIDL_PROFILE); }

std::string ConfigFolder() {
  if (!ConfigFolderOverride().empty()) return ConfigFolderOverride();
  // The shell's folder for application data shared by all users; without one, the
  // place it had in the Windows folder.
  std::string folder = ShellFolder(CSIDL_COMMON_APPDATA);
  if (!folder.empty()) return folder;
  wchar_t windows[MAX_PATH];
  const UINT n = ::GetWindowsDirectoryW(windows, MAX_PATH);
  return win::Narrow(std::wstring(windows, n < MAX_PATH ? n : 0)) + "\\All Users\\Application Data";
}

std::string DefaultProjectRoot() { return "c:\\program files\\drumel"; }

void SetConfigFolderForTesting(const std::string& folder) { ConfigFolderOverride() = folder; }

}  // namespace sv
