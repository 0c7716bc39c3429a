#include "platform/ProgramPaths.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "platform/TestHooks.h"
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

SystemPath& ConfigFolderOverride() {
  static SystemPath folder;
  return folder;
}

// A shell folder, or an empty path when the shell has none.
SystemPath ShellFolder(int csidl) {
  wchar_t path[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  std::wstring folder = path;
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return SystemPath(win::Utf8(folder));
}

}  // namespace

SystemPath ProgramFolder() { return SystemPath(win::Utf8(ProgramFilePath())).Folder(); }

std::string ProgramFileName() {
  const std::wstring path = ProgramFilePath();
  return win::Narrow(path.substr(path.rfind(L'\\') + 1));
}

SystemPath HomeFolder() { return ShellFolder(CSIDL_PROFILE); }

std::string HomeFolderText() {
  std::string text;
  return HomeFolder().ExactText(text) ? text : "~";
}

SystemPath ConfigFolder() {
  if (!ConfigFolderOverride().empty()) return ConfigFolderOverride();
  // The shell's folder for application data shared by all users; without one, the
  // place it had in the Windows folder.
  SystemPath folder = ShellFolder(CSIDL_COMMON_APPDATA);
  if (!folder.empty()) return folder;
  wchar_t windows[MAX_PATH];
  const UINT n = ::GetWindowsDirectoryW(windows, MAX_PATH);
  return SystemPath(win::Utf8(std::wstring(windows, n < MAX_PATH ? n : 0))) / "All Users/Application Data";
}

std::string DefaultProjectRoot() { return "c:\\program files\\drumel"; }

void SetConfigFolderForTesting(const SystemPath& folder) { ConfigFolderOverride() = folder; }

}  // namespace sv
