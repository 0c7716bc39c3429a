#pragma once
// The application object of the tray host: the termination request, the poll loop's
// sleep, a pending "Configure" from the tray, the shell open of the console and the error
// message box. The tray lives on a thread of its own (see fmuMainC.h), so that "Quit" is
// answered while a synchronisation runs on the main thread.
// Threads: Terminated, Terminate and RequestConfigure from any thread; the rest on the
// main thread.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "controller/Application.h"

namespace sv {

class THostApplication : public TApplication {
 public:
  // title: the caption of the error box (see host/ErrorBox.h).
  explicit THostApplication(std::string title);
  ~THostApplication() override;
  THostApplication(const THostApplication&) = delete;
  THostApplication& operator=(const THostApplication&) = delete;

  bool Terminated() override { return terminated_; }
  // Asks the program to end: the poll loop and the message loop return at their next check.
  void Terminate();
  // Dispatches every pending message of the main thread (a quit message terminates) and
  // runs the "Configure" handler when a request is pending. A failure of the handler is
  // shown in the error box and the program goes on, as for a failing menu choice.
  void ProcessMessages() override;
  // Sleeps the whole tick, so that ticks keep their length; a termination wakes it.
  void Sleep(int milliseconds) override;
  // The shell's open of the address: the default browser shows it.
  void OpenUrl(const std::string& url) override;
  // A modal box with the error icon and an OK button.
  void ShowError(const std::string& message) override;
  // The message loop of a program without a running poll loop, until termination.
  void RunMessageLoop();
  // Marks "Configure" as chosen; ProcessMessages runs it. Any thread.
  void RequestConfigure() { configureRequested_ = true; }
  void SetConfigureHandler(std::function<void()> handler) { configure_ = std::move(handler); }
  // The tray's state and notices go to the form that owns the icon. Set before the
  // controller exists and cleared after it has gone.
  void SetTray(std::function<void(TTrayState)> showState,
               std::function<void(const std::string&, const std::string&)> showNotice) {
    showState_ = std::move(showState);
    showNotice_ = std::move(showNotice);
  }
  void ShowState(TTrayState state) override {
    if (showState_) showState_(state);
  }
  void ShowNotice(const std::string& title, const std::string& text) override {
    if (showNotice_) showNotice_(title, text);
  }

 private:
  const std::string title_;
  std::atomic<bool> terminated_{false};
  HANDLE wake_;  // set by Terminate
  std::atomic<bool> configureRequested_{false};
  std::function<void()> configure_;
  std::function<void(TTrayState)> showState_;
  std::function<void(const std::string&, const std::string&)> showNotice_;
};

}  // namespace sv
