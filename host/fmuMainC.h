#pragma once
// TfmMain: the hidden main form of the client. It owns the tray and the client
// controller, and starts the controller. The tray is the host's: on Windows the
// notification-area icon (hint "Sorvana Client 9X") with its popup menu "Quit" /
// "Configure" (host/win32), on Linux the start lines and the signal menu (host/posix,
// see SignalWatcher.h). Main thread, except Exit1Click and CancelSynchronisation.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "controller/dmuCustomSorvanaC.h"

namespace sv {

class TApplication;
class THostApplication;  // the host's application: host/posix or host/win32 HostApplication.h

class TfmMain {
 public:
  using ControllerFactory = std::function<std::unique_ptr<TdmCustomSorvanaC>()>;

  // Loading the form activates the tray, and "Configure" requests reach Configure1Click.
  // createController makes the controller when StartController needs one. The
  // application outlives the form.
  TfmMain(THostApplication& application, ControllerFactory createController);
  // Destroys the controller, then takes the tray away.
  ~TfmMain();
  TfmMain(const TfmMain&) = delete;
  TfmMain& operator=(const TfmMain&) = delete;

  // Creates the controller when there is none, starts it (the tray then shows the
  // console's address where it shows one) and, unless Start cleared the continue flag,
  // runs it; Run returns when the application terminates. Failures pass on to the caller.
  void StartController();
  // The menu: "Configure" opens the web console (main thread); "Quit" asks the
  // application to terminate and, where the tray can be used while a synchronisation
  // runs, cancels it (any thread).
  void Configure1Click();
  void Exit1Click();
  // Ends a running synchronisation at once. Any thread.
  void CancelSynchronisation();

  // The host's tray, defined by each host.
  struct Tray;

 private:
  // Shows, where the host's tray shows it, the address that opens the console.
  void ShowConsoleAddress(const std::string& address);

  THostApplication& application_;
  ControllerFactory createController_;
  std::mutex controllerMutex_;  // the controller pointer, against CancelSynchronisation
  std::unique_ptr<TdmCustomSorvanaC> controller_;
  std::unique_ptr<Tray> tray_;
};

// The program around the form: starts the controller and runs the message loop until
// termination (on Linux watching the host's signals meanwhile). A failure that leaves
// StartController is shown in the error box and ends the program. Returns the exit
// status: 0 after a requested end, 1 after such a failure.
int RunProgram(THostApplication& application, TfmMain::ControllerFactory createController);

// The program's controller: TdmDefaultSorvanaC, finding a settings file beside the
// program file before the one in the user's configuration folder.
TfmMain::ControllerFactory DefaultController(TApplication& application);

}  // namespace sv
