#pragma once
// The application object of the headless host: what the tray, its menu and the error
// box are on a desktop become a termination flag, a pending "Configure" request and
// lines on stdout and stderr (converted from Windows-1250 to UTF-8).
//
// Threads: Terminate and RequestConfigure from any thread (the signal watcher); the
// rest on the main thread.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

#include "controller/Application.h"
#include "platform/DesktopNotices.h"

namespace sv {

class THostApplication : public TApplication {
 public:
  // title: the caption of error lines (see ErrorBox.h). out and err outlive the object.
  THostApplication(std::string title, std::ostream& out, std::ostream& err);

  bool Terminated() override { return terminated_; }
  // Asks the program to end; wakes a Sleep at once. Any thread.
  void Terminate();

  // Runs the "Configure" handler when a request is pending. A failure of the handler is
  // shown in the error box and the program goes on, as for a failing menu choice.
  void ProcessMessages() override;
  void Sleep(int milliseconds) override;
  // Prints the address on stdout and opens it with the desktop's opener: on a machine
  // without a browser the opener may start and show nothing, so the user always has the
  // address to open by hand.
  void OpenUrl(const std::string& url) override;
  void ShowError(const std::string& message) override;
  // Through the desktop's notification service, when there is a session bus; a click on
  // the notice is a "Configure" request.
  void ShowNotice(const std::string& title, const std::string& text) override;

  // Prints one line on stdout.
  void ShowText(const std::string& line);
  // Marks "Configure" as chosen; ProcessMessages runs it. Any thread.
  void RequestConfigure() { configureRequested_ = true; }
  void SetConfigureHandler(std::function<void()> handler) { configure_ = std::move(handler); }
  // The message loop of a program without a running poll loop: pumps every tick until
  // termination is requested.
  void RunMessageLoop();

  // Test hook: replaces the desktop's opener.
  void SetOpener(std::function<bool(const std::string&)> opener) { opener_ = std::move(opener); }

 private:
  void PrintLine(std::ostream& stream, const std::string& line);

  const std::string title_;
  std::ostream& out_;
  std::ostream& err_;
  std::mutex outputMutex_;  // keeps lines whole

  std::atomic<bool> terminated_{false};
  std::mutex sleepMutex_;
  std::condition_variable wake_;

  std::atomic<bool> configureRequested_{false};
  std::function<void()> configure_;
  std::function<bool(const std::string&)> opener_;
  TDesktopNotices notices_{[this] { RequestConfigure(); }};  // main thread
};

}  // namespace sv
