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
}

TfmMain::~TfmMain() {
  controller_.reset();
  NOTIFYICONDATAW data = IconData(window_);
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  if (menu_) ::DestroyMenu(menu_);
  if (icon_) ::DestroyIcon(icon_);
  if (window_) ::DestroyWindow(window_);
}

bool TfmMain::AddIcon() {
  NOTIFYICONDATAW data = IconData(window_);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kIconMessage;
  data.hIcon = icon_;
  const std::wstring hint = win::Wide(msg::kTrayHint);
  hint.copy(data.szTip, std::size(data.szTip) - 1);
  return ::Shell_NotifyIconW(NIM_ADD, &data);
}

void TfmMain::StartController() {
  if (!controller_) controller_ = createController_();
  bool proceed = true;
  controller_->Start(nullptr, proceed);
  if (proceed) controller_->Run(nullptr);
}

void TfmMain::Configure1Click() {
  if (controller_) controller_->Configure();
}

void TfmMain::Exit1Click() { ::PostMessageW(window_, WM_CLOSE, 0, 0); }

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
      OnIconMessage(static_cast<UINT>(lParam));
      return 0;
    case WM_COMMAND:
      RunMenuItem(LOWORD(wParam));
      return 0;
    case WM_CLOSE:
    case WM_ENDSESSION:
      // Closing the main form ends the program.
      application_.Terminate();
      return 0;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

void TfmMain::OnIconMessage(UINT mouseMessage) {
  switch (mouseMessage) {
    case WM_RBUTTONUP:
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
  try {
    if (id == kConfigureCommand) Configure1Click();
    if (id == kQuitCommand) Exit1Click();
  } catch (const Exception& e) {
    // A failing menu choice is shown; the program goes on.
    application_.ShowError(e.Message());
  } catch (const std::exception& e) {
    // Nothing may pass through the system's frames of the window procedure.
    application_.ShowError(e.what());
  }
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
