#pragma once
// The stand-in for the tray menu: a thread that turns the host's signals into requests
// to the application. SIGINT and SIGTERM ("Quit") terminate the application and cancel
// a running synchronisation; SIGUSR1 ("Configure") is handed to the main thread, which
// runs it between ticks of the poll loop.
#include <atomic>
#include <functional>
#include <thread>

#include "host/fmuMainC.h"
#include "platform/HostSignals.h"

namespace sv {

class THostApplication;

class TSignalWatcher {
 public:
  // How long one wait for a signal lasts; also the period at which a cancellation is
  // repeated while the program ends.
  static constexpr int kWaitMilliseconds = 100;
  using Waiter = std::function<HostSignal(int timeoutMs)>;

  // Starts watching. cancel ends a running synchronisation (any thread); after a quit it
  // is called again after every wait until the watcher stops, so a synchronisation that
  // was just opening its connection when the signal came is cancelled too.
  TSignalWatcher(THostApplication& application, std::function<void()> cancel,
                 Waiter wait = WaitHostSignal);
  // Stops watching and joins the thread (within one wait).
  ~TSignalWatcher();
  TSignalWatcher(const TSignalWatcher&) = delete;
  TSignalWatcher& operator=(const TSignalWatcher&) = delete;

 private:
  void Watch();

  THostApplication& application_;
  std::function<void()> cancel_;
  Waiter wait_;
  std::atomic<bool> stop_{false};
  std::thread thread_;  // last: starts once everything it uses exists
};

// RunProgram (fmuMainC.h) with the host's signals read by `waitForSignal` (tests).
int RunProgram(THostApplication& application, TfmMain::ControllerFactory createController,
               std::function<HostSignal(int)> waitForSignal);

}  // namespace sv
