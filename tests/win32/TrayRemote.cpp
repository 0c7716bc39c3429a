// tray-remote.exe: drives a running sorvana-client.exe for the end-to-end tests under
// Wine, as a user at the desktop would, and reports what it shows.
//   tray-remote quit PROGRAM       chooses "Quit" in the tray menu
//   tray-remote configure PROGRAM  chooses "Configure"
//   tray-remote box PROGRAM        waits for the error box, prints "Caption: text" in
//                                  UTF-8 and presses its OK button
//   tray-remote tips               prints the text of every tooltip window, one a line
//                                  (the shell's tooltip of a tray icon shows its hint)
//   tray-remote taskbar-created    tells every program, as a restarted shell does, that
//                                  the taskbar was made anew
// PROGRAM is the path of the program file of the running client (one client may run per
// program file). The exit status is 0 when done, 1 when the window did not appear within
// a minute, 2 for a wrong command line.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "host/win32/TrayWindow.h"

namespace {

struct Search {
  std::wstring program;  // full path, as the system names the client's image
  const wchar_t* windowClass;
  HWND found = nullptr;
};

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return n && n < MAX_PATH ? std::wstring(full, n) : path;
}

bool SameProgram(DWORD processId, const std::wstring& program) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return false;
  wchar_t image[MAX_PATH];
  DWORD size = MAX_PATH;
  const bool named = ::QueryFullProcessImageNameW(process, 0, image, &size);
  ::CloseHandle(process);
  return named && ::CompareStringOrdinal(image, static_cast<int>(size), program.c_str(),
                                         static_cast<int>(program.size()), TRUE) == CSTR_EQUAL;
}

BOOL CALLBACK Visit(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  wchar_t name[64];
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  if (::GetClassNameW(window, name, 64) && std::wstring(name) == search->windowClass &&
      SameProgram(processId, search->program)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The client's top-level window of the class, waiting up to a minute for it.
HWND Await(const std::wstring& program, const wchar_t* windowClass) {
  Search search{FullPath(program), windowClass};
  for (int i = 0; i < 600 && !search.found; ++i) {
    ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    if (!search.found) ::Sleep(100);
  }
  return search.found;
}

std::string Utf8(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The text of a window of another process (WM_GETTEXT crosses processes).
std::wstring TextOf(HWND window) {
  wchar_t text[1024] = L"";
  ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
  return text;
}

// The message of a message box: its static text control.
BOOL CALLBACK FindMessage(HWND child, LPARAM data) {
  wchar_t name[32];
  if (::GetClassNameW(child, name, 32) && ::lstrcmpiW(name, L"Static") == 0 && !TextOf(child).empty()) {
    *reinterpret_cast<std::wstring*>(data) = TextOf(child);
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK PrintTooltip(HWND window, LPARAM) {
  wchar_t name[64];
  if (::GetClassNameW(window, name, 64) && ::lstrcmpiW(name, TOOLTIPS_CLASSW) == 0)
    std::printf("%s\n", Utf8(TextOf(window)).c_str());
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"tips") {
    ::EnumWindows(PrintTooltip, 0);
    return 0;
  }
  if (argc == 2 && std::wstring(argv[1]) == L"taskbar-created") {
    ::PostMessageW(HWND_BROADCAST, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    return 0;
  }
  if (argc != 3) return 2;
  const std::wstring command = argv[1], program = argv[2];
  if (command == L"quit" || command == L"configure") {
    HWND form = Await(program, sv::TrayWindow::kClass);
    if (!form) return 1;
    const UINT item = command == L"quit" ? sv::TrayWindow::kQuitCommand : sv::TrayWindow::kConfigureCommand;
    ::PostMessageW(form, WM_COMMAND, item, 0);
    return 0;
  }
  if (command == L"box") {
    HWND box = Await(program, L"#32770");  // the class of dialog boxes
    if (!box) return 1;
    // The box can be found before its message is in place: wait for that too.
    std::wstring message;
    for (int i = 0; i < 600 && message.empty(); ++i) {
      ::EnumChildWindows(box, FindMessage, reinterpret_cast<LPARAM>(&message));
      if (message.empty()) ::Sleep(100);
    }
    std::printf("%s: %s\n", Utf8(TextOf(box)).c_str(), Utf8(message).c_str());
    std::fflush(stdout);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  return 2;
}
