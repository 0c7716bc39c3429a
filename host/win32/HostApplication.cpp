#include "host/win32/HostApplication.h"

#include "base/Exception.h"
#include "host/ErrorBox.h"
#include "platform/Shell.h"
#include "platform/win32/WinText.h"

namespace sv {

THostApplication::THostApplication(std::string title)
    : title_(std::move(title)), wake_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

THostApplication::~THostApplication() { ::CloseHandle(wake_); }

void THostApplication::Terminate() {
  terminated_ = true;
  ::SetEvent(wake_);
}

void THostApplication::ProcessMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      Terminate();
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (!configureRequested_.exchange(false) || !configure_) return;
  try {
    configure_();
  } catch (const Exception& e) {
    ShowError(e.Message());
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void THostApplication::Sleep(int milliseconds) {
  ::WaitForSingleObject(wake_, static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds));
}

void THostApplication::RunMessageLoop() {
  while (!Terminated()) {
    // Waits for a message, the termination or the next look at a "Configure" request.
    ::MsgWaitForMultipleObjects(1, &wake_, FALSE, 200, QS_ALLINPUT);
    ProcessMessages();
  }
}

void THostApplication::OpenUrl(const std::string& url) { ShellOpen(url); }

void THostApplication::ShowError(const std::string& message) {
  const std::wstring text = win::Wide(ErrorBoxText(message)), caption = win::Wide(title_);
  ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace sv
