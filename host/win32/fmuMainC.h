#pragma once
// TfmMain: the hidden main form of the tray program. It owns the notification-area icon
// (hint "Sorvana Client 9X") with its popup menu "Quit" / "Configure" and the client
// controller, and starts the controller.
//
// Threads: the hidden window, the icon and the menu live on a tray thread of their own,
// so that they answer while a synchronisation runs on the main thread. "Quit" (and the
// end of the session) asks the application to terminate and cancels a running
// synchronisation at once; "Configure" is marked on the application and runs on the main
// thread at its next tick, as the controller expects. The rest is main thread only.
#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "controller/Application.h"
#include "controller/dmuCustomSorvanaC.h"

namespace sv {

class TWinApplication;

class TfmMain {
 public:
  using ControllerFactory = std::function<std::unique_ptr<TdmCustomSorvanaC>()>;
  // The class of the hidden window, and the menu items' identifiers as WM_COMMAND
  // carries them when an item is chosen.
  static constexpr const wchar_t* kWindowClass = L"TfmMain";
  static constexpr UINT kQuitCommand = 1, kConfigureCommand = 2;

  // Starts the tray thread, which creates the hidden window and adds the icon, and waits
  // until it has. createController makes the controller when StartController needs one.
  // The application outlives the form.
  TfmMain(TWinApplication& application, ControllerFactory createController);
  // Destroys the controller, then removes the icon and the window and ends the tray thread.
  ~TfmMain();
  TfmMain(const TfmMain&) = delete;
  TfmMain& operator=(const TfmMain&) = delete;

  // Creates the controller when there is none, starts it and, unless Start cleared the
  // continue flag, runs it; Run returns when the application terminates. Failures pass
  // on to the caller.
  void StartController();
  // The menu: "Configure" opens the web console (main thread); "Quit" asks the
  // application to terminate and cancels a running synchronisation (any thread).
  void Configure1Click();
  void Exit1Click();

  // The hidden window that receives the icon's notifications.
  HWND Window() const { return window_; }

  // The icon shows the state: the program's picture, marked for every state but idle;
  // the hint stays. Any thread.
  void ShowState(TTrayState state);
  // A balloon from the icon with the title and text (Windows-1250); a click on it opens
  // the console as "Configure" does. Any thread.
  void ShowNotice(const std::string& title, const std::string& text);

 private:
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

  TWinApplication& application_;
  ControllerFactory createController_;
  std::mutex controllerMutex_;  // guards controller_ against a cancel from the tray thread
  std::unique_ptr<TdmCustomSorvanaC> controller_;
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

// The program around the form: starts the controller and runs the message loop until
// termination. A failure that leaves StartController is shown in the error box and ends
// the program. Returns the exit status: 0 after a requested end, 1 after such a failure.
int RunProgram(TWinApplication& application, TfmMain::ControllerFactory createController);

// A second start in the user's session: asks the running program's tray to open the
// console, as "Configure" does, and returns true; the caller then ends with status 0.
// False for the first start, which goes on.
bool HandToRunningInstance();

// The program's controller: TdmDefaultSorvanaC, finding a settings file beside the
// program file before the one in the common application-data folder.
TfmMain::ControllerFactory DefaultController(TWinApplication& application);

}  // namespace sv
