#pragma once
// TDesktopNotices: short notices beside the tray that the user may click. On Linux they
// go to the desktop's notification service over the session bus; a machine without a
// session bus (or without the service) shows none. On Windows the tray icon's own
// balloons show them (host/win32), and this object shows none.
//
// Threads: all calls on the thread that created the object.
#include <functional>
#include <memory>
#include <string>

namespace sv {

class TDesktopNotices {
 public:
  // onClick runs from Poll when the user has clicked a notice this object showed.
  explicit TDesktopNotices(std::function<void()> onClick);
  ~TDesktopNotices();
  TDesktopNotices(const TDesktopNotices&) = delete;
  TDesktopNotices& operator=(const TDesktopNotices&) = delete;

  // Shows a notice (title and text in UTF-8), replacing the one shown before. The
  // session bus is reached at the first notice, never before. False when it was not shown.
  bool Show(const std::string& title, const std::string& text);
  // Runs onClick for the clicks that have arrived; never waits.
  void Poll();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace sv
