#pragma once
// What other programs know of the tray's hidden window (fmuMainC.h): its class, and the
// menu items' identifiers as WM_COMMAND carries them when an item is chosen.
#include <windows.h>

namespace sv {

struct TrayWindow {
  static constexpr const wchar_t* kClass = L"TfmMain";
  static constexpr UINT kQuitCommand = 1, kConfigureCommand = 2;
};

// A second start in the user's session: asks the running program's tray to open the
// console, as "Configure" does, and returns true; the caller then ends with status 0.
// False for the first start, which goes on.
bool HandToRunningInstance();

}  // namespace sv
