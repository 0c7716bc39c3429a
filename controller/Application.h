#pragma once
// What the controller needs of the program that hosts it: the termination request that
// ends the poll loop, the tick's sleep, the pumping of the host's pending events between
// ticks, opening an address in the browser, and the error box.
#include <string>

namespace sv {

// What the tray icon shows besides the program's own picture for all is well.
enum class TTrayState { kIdle, kSynchronising, kFailed, kPaused };

class TApplication {
 public:
  virtual ~TApplication() = default;

  // True once the program has been asked to end. Any thread.
  virtual bool Terminated() = 0;
  // Handles the host's pending events (menu choices). Main thread.
  virtual void ProcessMessages() = 0;
  // Sleeps for the time given, or less when termination is requested. Main thread.
  virtual void Sleep(int milliseconds) = 0;
  // Hands the address to the default browser without waiting for it. Main thread.
  virtual void OpenUrl(const std::string& url) = 0;
  // Shows a failure to the user as the error box does (message in Windows-1250).
  virtual void ShowError(const std::string& message) = 0;
  // Shows the state on the tray icon; a host without an icon ignores it. Any thread.
  virtual void ShowState(TTrayState /*state*/) {}
  // A desktop notice beside the tray (title and text in Windows-1250); a click on it
  // opens the console as "Configure" does. A host without notices ignores it. Main thread.
  virtual void ShowNotice(const std::string& /*title*/, const std::string& /*text*/) {}
};

}  // namespace sv
