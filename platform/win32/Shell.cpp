#include "platform/Shell.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "platform/win32/WinText.h"

namespace sv {
namespace {

// One argument quoted as the C runtime splits a command line: backslashes stand for
// themselves except before a double quote, where they are doubled.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

bool ShellOpen(std::string_view url) {
  // The shell may hand the address to a handler that is a COM object, so the calling
  // thread joins COM for the call (a thread that already has joined keeps its model).
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  // The default verb, no parameters or folder, and the show command 0 (hidden): the
  // shell hands the address to the default browser.
  const std::wstring target = win::Wide(url);
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, nullptr, target.c_str(), nullptr, nullptr, SW_HIDE));
  if (SUCCEEDED(com)) ::CoUninitialize();
  return result > 32;
}

bool StartDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  std::wstring line;
  for (const std::string& arg : argv) line += (line.empty() ? L"" : L" ") + Quoted(win::Wide(arg));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                        nullptr, nullptr, &startup, &process))
    return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

}  // namespace sv
