#pragma once
// The application object of the tray host: the termination request, the poll loop's
// sleep and message pump, the shell open of the console and the error message box.
// Main thread only, except Terminated.
#include <windows.h>

#include <atomic>
#include <string>

#include "controller/Application.h"

namespace sv {

class TWinApplication : public TApplication {
 public:
  // title: the caption of the error box (see host/ErrorBox.h).
  explicit TWinApplication(std::string title);
  ~TWinApplication() override;
  TWinApplication(const TWinApplication&) = delete;
  TWinApplication& operator=(const TWinApplication&) = delete;

  bool Terminated() override { return terminated_; }
  // Asks the program to end: the poll loop and the message loop return at their next check.
  void Terminate();
  // Dispatches every pending message of the main thread (the tray icon and its menu);
  // a quit message terminates.
  void ProcessMessages() override;
  // Sleeps the whole tick, so that ticks keep their length; a termination wakes it.
  void Sleep(int milliseconds) override;
  // The shell's open of the address: the default browser shows it.
  void OpenUrl(const std::string& url) override;
  // A modal box with the error icon and an OK button.
  void ShowError(const std::string& message) override;
  // The message loop of a program without a running poll loop, until termination.
  void RunMessageLoop();

 private:
  const std::string title_;
  std::atomic<bool> terminated_{false};
  HANDLE wake_;  // set by Terminate
};

}  // namespace sv
