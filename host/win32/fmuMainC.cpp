#include "host/fmuMainC.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "base/Messages.h"
#include "host/ErrorBox.h"
#include "host/win32/HostApplication.h"
#include "host/win32/TrayWindow.h"
#include "platform/ProgramPaths.h"
#include "platform/SessionInstance.h"
#include "platform/win32/WinText.h"

namespace sv {
namespace {

const wchar_t kCaption[] = L"Sorvana Client 9x";
constexpr UINT kIconMessage = WM_APP + 1;  // the icon's notifications
constexpr UINT kCloseTray = WM_APP + 2;    // the form's end: the tray thread closes its window
constexpr UINT kShowState = WM_APP + 3;    // wParam: the TTrayState to show
constexpr UINT kShowNotice = WM_APP + 4;   // the notice waiting in the form
constexpr UINT kIconId = 1;
constexpr int kIconSize = 32;

NOTIFYICONDATAW IconData(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = kIconId;
  return data;
}

// The program's picture with a round mark of `colour` in its lower right corner, drawn at
// run time so that each state has its own icon from the one picture. Null when the
// picture cannot be read as 32-bit pixels; the caller then shows the plain picture.
HICON MarkedIcon(HICON picture, COLORREF colour) {
  ICONINFO info{};
  if (!picture || !::GetIconInfo(picture, &info)) return nullptr;
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = kIconSize;
  format.bmiHeader.biHeight = -kIconSize;  // top row first
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  std::uint32_t pixels[kIconSize * kIconSize] = {};
  HDC screen = ::GetDC(nullptr);
  const bool read = info.hbmColor &&
                    ::GetDIBits(screen, info.hbmColor, 0, kIconSize, pixels, &format, DIB_RGB_COLORS) == kIconSize;
  // A picture without an alpha channel takes its transparency from its mask (set bits:
  // transparent), read the same way.
  bool alpha = false;
  for (std::uint32_t pixel : pixels) alpha = alpha || (pixel >> 24) != 0;
  std::uint32_t maskPixels[kIconSize * kIconSize] = {};
  if (read && !alpha && info.hbmMask &&
      ::GetDIBits(screen, info.hbmMask, 0, kIconSize, maskPixels, &format, DIB_RGB_COLORS) == kIconSize) {
    for (int i = 0; i < kIconSize * kIconSize; ++i)
      pixels[i] = (maskPixels[i] & 0xFFFFFFu) ? 0 : (pixels[i] | 0xFF000000u);
  }
  ::ReleaseDC(nullptr, screen);
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  if (!read) return nullptr;

  // A disc of radius 7 with a dark rim, opaque, in the corner.
  const std::uint32_t fill = 0xFF000000u | (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
  constexpr int kCentre = kIconSize - 8, kRadius = 7;
  for (int y = 0; y < kIconSize; ++y) {
    for (int x = 0; x < kIconSize; ++x) {
      const int d2 = (x - kCentre) * (x - kCentre) + (y - kCentre) * (y - kCentre);
      if (d2 <= (kRadius - 1) * (kRadius - 1)) pixels[y * kIconSize + x] = fill;
      else if (d2 <= kRadius * kRadius + kRadius) pixels[y * kIconSize + x] = 0xFF202020u;
    }
  }
  void* bits = nullptr;
  HBITMAP colourBitmap = ::CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  HBITMAP mask = ::CreateBitmap(kIconSize, kIconSize, 1, 1, nullptr);
  HICON marked = nullptr;
  if (colourBitmap && mask && bits) {
    std::memcpy(bits, pixels, sizeof pixels);
    ICONINFO made{TRUE, 0, 0, mask, colourBitmap};
    marked = ::CreateIconIndirect(&made);
  }
  if (colourBitmap) ::DeleteObject(colourBitmap);
  if (mask) ::DeleteObject(mask);
  return marked;
}

}  // namespace

// The notification-area icon with its menu, on a thread of its own: the hidden window,
// the icon and the menu live there, so that they answer while a synchronisation runs on
// the main thread.
struct TfmMain::Tray {
  // Starts the tray thread, which creates the hidden window and adds the icon, and waits
  // until it has.
  Tray(TfmMain& form, THostApplication& application);
  // Removes the icon and the window and ends the tray thread.
  ~Tray();

  // The icon shows the state: the program's picture, marked for every state but idle;
  // the hint stays. Any thread.
  void ShowState(TTrayState state);
  // A balloon from the icon with the title and text (Windows-1250); a click on it opens
  // the console as "Configure" does. Any thread.
  void ShowNotice(const std::string& title, const std::string& text);

  // The tray thread: creates the window, menu and icon, reports that they exist, and
  // dispatches their messages until the window is destroyed.
  void RunTray(HANDLE ready);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnIconMessage(UINT event);
  void ShowMenu();
  void RunMenuItem(UINT id);
  bool AddIcon();
  HICON StateIcon() const;
  void ShowWaitingNotice();

  TfmMain& form_;
  THostApplication& application_;
  // Set on the tray thread before the constructor returns; read-only afterwards.
  HWND window_ = nullptr;
  HMENU menu_ = nullptr;
  HICON icon_ = nullptr;
  HICON stateIcons_[4] = {};  // by TTrayState; null for idle, which shows icon_
  TTrayState state_ = TTrayState::kIdle;  // tray thread
  std::mutex noticeMutex_;  // guards the notice waiting to be shown
  std::wstring noticeTitle_, noticeText_;
  bool noticeWarns_ = false;
  UINT taskbarCreated_ = 0;
  bool contextMenuMessages_ = false;  // the shell sends WM_CONTEXTMENU for the icon
  std::thread tray_;
};

TfmMain::TfmMain(THostApplication& application, ControllerFactory createController)
    : application_(application), createController_(std::move(createController)) {
  application_.SetConfigureHandler([this] { Configure1Click(); });
  tray_ = std::make_unique<Tray>(*this, application_);
  application_.SetTray([this](TTrayState state) { tray_->ShowState(state); },
                       [this](const std::string& title, const std::string& text) { tray_->ShowNotice(title, text); });
}

TfmMain::~TfmMain() {
  application_.SetConfigureHandler(nullptr);
  application_.SetTray(nullptr, nullptr);
  std::unique_ptr<TdmCustomSorvanaC> controller;
  {
    std::scoped_lock lock(controllerMutex_);
    controller = std::move(controller_);
  }
  // Destroyed outside the lock, so that a "Quit" meanwhile does not wait for it: its
  // listener joins request threads that may take time.
  controller.reset();
  tray_.reset();
}

// The console's address is opened by "Configure"; the icon shows none.
void TfmMain::ShowConsoleAddress(const std::string&) {}

void TfmMain::Exit1Click() {
  application_.Terminate();
  CancelSynchronisation();
}

TfmMain::Tray::Tray(TfmMain& form, THostApplication& application) : form_(form), application_(application) {
  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  tray_ = std::thread([this, ready] { RunTray(ready); });
  ::WaitForSingleObject(ready, INFINITE);
  ::CloseHandle(ready);
}

TfmMain::Tray::~Tray() {
  // A window is destroyed by its own thread: closing it there ends the tray thread.
  if (window_) ::PostMessageW(window_, kCloseTray, 0, 0);
  if (tray_.joinable()) tray_.join();
}

void TfmMain::Tray::RunTray(HANDLE ready) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = TrayWindow::kClass;
  ::RegisterClassExW(&windowClass);
  // Never shown: the program has no window and no taskbar button, only the icon.
  window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, TrayWindow::kClass, kCaption, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              instance, this);
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  menu_ = ::CreatePopupMenu();
  ::AppendMenuW(menu_, MF_STRING, TrayWindow::kQuitCommand, L"Quit");
  ::AppendMenuW(menu_, MF_STRING, TrayWindow::kConfigureCommand, L"Configure");
  ::SetMenuDefaultItem(menu_, TrayWindow::kConfigureCommand, FALSE);
  icon_ = static_cast<HICON>(::LoadImageW(instance, L"MAINICON", IMAGE_ICON, kIconSize, kIconSize, 0));
  // Synchronising: blue; failed: red; paused: grey.
  stateIcons_[static_cast<int>(TTrayState::kSynchronising)] = MarkedIcon(icon_, RGB(0x1E, 0x78, 0xDC));
  stateIcons_[static_cast<int>(TTrayState::kFailed)] = MarkedIcon(icon_, RGB(0xDC, 0x14, 0x14));
  stateIcons_[static_cast<int>(TTrayState::kPaused)] = MarkedIcon(icon_, RGB(0x90, 0x90, 0x90));
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
  for (HICON marked : stateIcons_)
    if (marked) ::DestroyIcon(marked);
}

HICON TfmMain::Tray::StateIcon() const {
  const HICON marked = stateIcons_[static_cast<int>(state_)];
  return marked ? marked : icon_;
}

void TfmMain::Tray::ShowState(TTrayState state) {
  if (window_) ::PostMessageW(window_, kShowState, static_cast<WPARAM>(state), 0);
}

void TfmMain::Tray::ShowNotice(const std::string& title, const std::string& text) {
  {
    std::scoped_lock lock(noticeMutex_);
    noticeTitle_ = win::Wide(title);
    noticeText_ = win::Wide(text);
    noticeWarns_ = title == msg::kNoticeFailedTitle;
  }
  if (window_) ::PostMessageW(window_, kShowNotice, 0, 0);
}

void TfmMain::Tray::ShowWaitingNotice() {
  NOTIFYICONDATAW data = IconData(window_);
  data.uFlags = NIF_INFO;
  {
    std::scoped_lock lock(noticeMutex_);
    noticeTitle_.copy(data.szInfoTitle, std::size(data.szInfoTitle) - 1);
    noticeText_.copy(data.szInfo, std::size(data.szInfo) - 1);
    data.dwInfoFlags = noticeWarns_ ? NIIF_WARNING : NIIF_INFO;
  }
  ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

bool TfmMain::Tray::AddIcon() {
  NOTIFYICONDATAW data = IconData(window_);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kIconMessage;
  data.hIcon = StateIcon();
  const std::wstring hint = win::Wide(msg::kTrayHint);
  hint.copy(data.szTip, std::size(data.szTip) - 1);
  if (!::Shell_NotifyIconW(NIM_ADD, &data)) return false;
  // The current way of notifying: the keyboard's menu key and Shift+F10 on the icon then
  // arrive as WM_CONTEXTMENU, as a right click does. A shell that declines keeps the old way.
  data.uVersion = NOTIFYICON_VERSION_4;
  contextMenuMessages_ = ::Shell_NotifyIconW(NIM_SETVERSION, &data);
  return true;
}

LRESULT CALLBACK TfmMain::Tray::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<TfmMain::Tray*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form && form->window_ == window) return form->Handle(message, wParam, lParam);
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TfmMain::Tray::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
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
      form_.Exit1Click();
      return 0;
    case WM_ENDSESSION:
      // The session ends only when wParam says so; a shutdown that was cancelled leaves
      // the program running.
      if (wParam) form_.Exit1Click();
      return 0;
    case kCloseTray:
      ::DestroyWindow(window_);
      return 0;
    case kShowState: {
      state_ = static_cast<TTrayState>(wParam);
      NOTIFYICONDATAW data = IconData(window_);
      data.uFlags = NIF_ICON;
      data.hIcon = StateIcon();
      ::Shell_NotifyIconW(NIM_MODIFY, &data);
      return 0;
    }
    case kShowNotice:
      ShowWaitingNotice();
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

void TfmMain::Tray::OnIconMessage(UINT event) {
  switch (event) {
    case WM_RBUTTONUP:
      // With WM_CONTEXTMENU the shell follows a right click with that message too.
      if (!contextMenuMessages_) ShowMenu();
      break;
    case WM_CONTEXTMENU:
    case NIN_KEYSELECT:
      ShowMenu();
      break;
    case NIN_BALLOONUSERCLICK:
      // A click on a notice opens the console, as "Configure" does.
      application_.RequestConfigure();
      break;
    case WM_LBUTTONDBLCLK:
      // The menu's default item, as if it were chosen: "Configure".
      RunMenuItem(::GetMenuDefaultItem(menu_, FALSE, 0));
      break;
  }
}

void TfmMain::Tray::ShowMenu() {
  POINT at;
  ::GetCursorPos(&at);
  // The menu closes when the user clicks elsewhere only if its window is the foreground
  // one while it is open and gets a message after it closed.
  ::SetForegroundWindow(window_);
  ::TrackPopupMenu(menu_, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
  ::PostMessageW(window_, WM_NULL, 0, 0);
}

void TfmMain::Tray::RunMenuItem(UINT id) {
  // "Configure" runs on the main thread at its next tick, where a failure is shown.
  if (id == TrayWindow::kConfigureCommand) application_.RequestConfigure();
  if (id == TrayWindow::kQuitCommand) form_.Exit1Click();
}

bool HandToRunningInstance() {
  if (ClaimSessionInstance()) return false;
  // The first start may still be creating its window: looked for up to 10 s.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (HWND first = ::FindWindowW(TrayWindow::kClass, kCaption)) {
      ::PostMessageW(first, WM_COMMAND, TrayWindow::kConfigureCommand, 0);
      return true;
    }
    ::Sleep(100);
  }
  return true;
}

int RunProgram(THostApplication& application, TfmMain::ControllerFactory createController) {
  TfmMain form(application, std::move(createController));
  if (!StartShowingFailures(application, [&form] { form.StartController(); })) return 1;
  application.RunMessageLoop();
  return 0;
}


}  // namespace sv
