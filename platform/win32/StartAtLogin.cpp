#include "platform/StartAtLogin.h"

#include <windows.h>

#include <string>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"

namespace sv {
namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"Sorvana Client";

[[noreturn]] void Fail(LSTATUS status) {
  throw Exception(Format(msg::kCannotCreateFile, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                         fs::ErrorText(static_cast<int>(status))));
}

// The quoted path of the running program file.
std::wstring QuotedProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return L"\"" + path + L"\"";
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

bool StartsAtLogin() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  const bool found = ::RegQueryValueExW(key, kValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  return found;
}

void SetStartsAtLogin(bool on) {
  HKEY key = nullptr;
  LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                     nullptr);
  if (status != ERROR_SUCCESS) Fail(status);
  if (on) {
    const std::wstring data = QuotedProgramPath();
    status = ::RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  } else {
    status = ::RegDeleteValueW(key, kValueName);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  }
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) Fail(status);
}

}  // namespace sv
