#include "host/win32/fmuMainC.h"

#include <windows.h>
#include <shellapi.h>

#include "base/Messages.h"
#include "controller/dmuDefaultSorvanaC.h"
#include "host/ErrorBox.h"
#include "host/win32/WinApplication.h"
#include "platform/ProgramPaths.h"
#include "platform/win32/WinText.h"

namespace sv {
namespace {

const wchar_t kCaption[] = L"Sorvana Client 9x";
constexpr UINT kIconMessage = WM_APP + 1;  // the icon's notifications
constexpr UINT kCloseTray = WM_APP + 2;    // the form's end: the tray thread closes its window
constexpr UINT kIconId = 1;

NOTIFYICONDATAW IconData(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = kIconId;
  return data;
}

}  // namespace

TfmMain::TfmMain(TWinApplication& application, ControllerFactory createController)
    : application_(application), createController_(std::move(createController)) {
  application_.SetConfigureHandler([this] { Configure1Click(); });
  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  tray_ = std::thread([this, ready] { RunTray(ready); });
  ::WaitForSingleObject(ready, INFINITE);
  ::CloseHandle(ready);
}

TfmMain::~TfmMain() {
  application_.SetConfigureHandler(nullptr);
  std::unique_ptr<TdmCustomSorvanaC> controller;
  {
    std::scoped_lock lock(controllerMutex_);
    controller = std::move(controller_);
  }
  // Destroyed outside the lock, so that a "Quit" meanwhile does not wait for it: its
  // listener joins request threads that may take time.
  controller.reset();
  // A window is destroyed by its own thread: closing it there ends the tray thread.
  if (window_) ::PostMessageW(window_, kCloseTray, 0, 0);
  if (tray_.joinable()) tray_.join();
}

void TfmMain::RunTray(HANDLE ready) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  ::RegisterClassExW(&windowClass);
  // Never shown: the program has no window and no taskbar button, only the icon.
  window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, kCaption, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              instance, this);
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  menu_ = ::CreatePopupMenu();
  ::AppendMenuW(menu_, MF_STRING, kQuitCommand, L"Quit");
  ::AppendMenuW(menu_, MF_STRING, kConfigureCommand, L"Configure");
  ::SetMenuDefaultItem(menu_, kConfigureCommand, FALSE);
  icon_ = static_cast<HICON>(::LoadImageW(instance, L"MAINICON", IMAGE_ICON, 32, 32, 0));
  AddIcon();
  ::SetEvent(ready);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  NOTIFYICONDATAW data = IconData(window_);
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  if (menu_) ::DestroyMenu(menu_);
  if (icon_) ::DestroyIcon(icon_);
}

bool TfmMain::AddIcon() {
  NOTIFYICONDATAW data = IconData(window_);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kIconMessage;
  data.hIcon = icon_;
  const std::wstring hint = win::Wide(msg::kTrayHint);
  hint.copy(data.szTip, std::size(data.szTip) - 1);
  if (!::Shell_NotifyIconW(NIM_ADD, &data)) return false;
  // The current way of notifying: the keyboard's menu key and Shift+F10 on the icon then
  // arrive as WM_CONTEXTMENU, as a right click does. A shell that declines keeps the old way.
  data.uVersion = NOTIFYICON_VERSION_4;
  contextMenuMessages_ = ::Shell_NotifyIconW(NIM_SETVERSION, &data);
  return true;
}

void TfmMain::StartController() {
  if (!controller_) {
    std::unique_ptr<TdmCustomSorvanaC> created = createController_();
    std::scoped_lock lock(controllerMutex_);
    controller_ = std::move(created);
  }
  bool proceed = true;
  controller_->Start(nullptr, proceed);
  if (proceed) controller_->Run(nullptr);
}

void TfmMain::Configure1Click() {
  if (controller_) controller_->Configure();
}

void TfmMain::Exit1Click() {
  application_.Terminate();
  std::scoped_lock lock(controllerMutex_);
  if (controller_) controller_->Cancel();
}

LRESULT CALLBACK TfmMain::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<TfmMain*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form && form->window_ == window) return form->Handle(message, wParam, lParam);
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TfmMain::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreated_) {
    // The shell started again: show the icon again. An add that fails because the icon
    // is still there is fine.
    AddIcon();
    return 0;
  }
  switch (message) {
    case kIconMessage:
      // The event is the low word in either way of notifying.
      OnIconMessage(LOWORD(lParam));
      return 0;
    case WM_COMMAND:
      RunMenuItem(LOWORD(wParam));
      return 0;
    case WM_CLOSE:
      // Closing the main form ends the program.
      Exit1Click();
      return 0;
    case WM_ENDSESSION:
      // The session ends only when wParam says so; a shutdown that was cancelled leaves
      // the program running.
      if (wParam) Exit1Click();
      return 0;
    case kCloseTray:
      ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

void TfmMain::OnIconMessage(UINT event) {
  switch (event) {
    case WM_RBUTTONUP:
      // With WM_CONTEXTMENU the shell follows a right click with that message too.
      if (!contextMenuMessages_) ShowMenu();
      break;
    case WM_CONTEXTMENU:
    case NIN_KEYSELECT:
      ShowMenu();
      break;
    case WM_LBUTTONDBLCLK:
      // The menu's default item, as if it were chosen: "Configure".
      RunMenuItem(::GetMenuDefaultItem(menu_, FALSE, 0));
      break;
  }
}

void TfmMain::ShowMenu() {
  POINT at;
  ::GetCursorPos(&at);
  // The menu closes when the user clicks elsewhere only if its window is the foreground
  // one while it is open and gets a message after it closed.
  ::SetForegroundWindow(window_);
  ::TrackPopupMenu(menu_, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
  ::PostMessageW(window_, WM_NULL, 0, 0);
}

void TfmMain::RunMenuItem(UINT id) {
  // "Configure" runs on the main thread at its next tick, where a failure is shown.
  if (id == kConfigureCommand) application_.RequestConfigure();
  if (id == kQuitCommand) Exit1Click();
}

int RunProgram(TWinApplication& application, TfmMain::ControllerFactory createController) {
  TfmMain form(application, std::move(createController));
  if (!StartShowingFailures(application, [&form] { form.StartController(); })) return 1;
  application.RunMessageLoop();
  return 0;
}

TfmMain::ControllerFactory DefaultController(TWinApplication& application) {
  return [&application] { return std::make_unique<TdmDefaultSorvanaC>(application, ProgramFolder()); };
}

}  // namespace sv
