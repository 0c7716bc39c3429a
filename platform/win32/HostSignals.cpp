// The console's control events as the host's signals: Ctrl+C, Ctrl+Break and closing
// the console ask the program to quit. Windows has no event that asks for "Configure".
#include "platform/HostSignals.h"

#include <windows.h>

#include <atomic>

namespace sv {
namespace {

std::atomic<int> gPending{0};  // quit requests not yet reported
HANDLE gArrived = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);

// Runs on a thread of the system's own; the waiter reports the request.
BOOL WINAPI OnControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      ++gPending;
      ::SetEvent(gArrived);
      return TRUE;
  }
  return FALSE;
}

// Takes one pending request; false when there is none.
bool TakePending() {
  for (int pending = gPending.load(); pending > 0;)
    if (gPending.compare_exchange_weak(pending, pending - 1)) return true;
  return false;
}

}  // namespace

void BlockHostSignals() { ::SetConsoleCtrlHandler(OnControl, TRUE); }

HostSignal WaitHostSignal(int timeoutMs) {
  if (!TakePending()) ::WaitForSingleObject(gArrived, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
  return TakePending() ? HostSignal::kQuit : HostSignal::kNone;
}

}  // namespace sv
