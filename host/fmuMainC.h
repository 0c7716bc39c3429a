#pragma once
// TfmMain: the hidden main form of the client. It owns the tray (on Linux: the start
// lines and the signal menu, see SignalWatcher.h) and the client controller, and starts
// the controller. Main thread, except CancelSynchronisation.
#include <functional>
#include <memory>
#include <mutex>

#include "controller/dmuCustomSorvanaC.h"
#include "platform/HostSignals.h"

namespace sv {

class TLinuxApplication;

class TfmMain {
 public:
  using ControllerFactory = std::function<std::unique_ptr<TdmCustomSorvanaC>()>;

  // Loading the form activates the tray: its hint "Sorvana Client 9X" is printed, and
  // "Configure" requests reach Configure1Click. createController makes the controller
  // when StartController needs one. The application outlives the form.
  TfmMain(TLinuxApplication& application, ControllerFactory createController);
  // Destroys the controller and takes the menu away.
  ~TfmMain();
  TfmMain(const TfmMain&) = delete;
  TfmMain& operator=(const TfmMain&) = delete;

  // Creates the controller when there is none, starts it (printing the console's
  // address once it listens) and, unless Start cleared the continue flag, runs it; Run
  // returns when the application terminates. Failures pass on to the caller.
  void StartController();
  // The menu: "Configure" opens the web console; "Quit" closes the form, which asks the
  // application to terminate.
  void Configure1Click();
  void Exit1Click();
  // Ends a running synchronisation at once. Any thread.
  void CancelSynchronisation();

 private:
  TLinuxApplication& application_;
  ControllerFactory createController_;
  std::mutex controllerMutex_;  // the controller pointer, against CancelSynchronisation
  std::unique_ptr<TdmCustomSorvanaC> controller_;
};

// The program around the form: prints the start lines, watches the host's signals,
// starts the controller and runs the message loop until termination. A failure that
// leaves StartController is shown in the error box and ends the program. Returns the
// exit status: 0 after a requested end, 1 after such a failure.
int RunProgram(TLinuxApplication& application, TfmMain::ControllerFactory createController,
               std::function<HostSignal(int)> waitForSignal = WaitHostSignal);

// The program's controller: TdmDefaultSorvanaC, finding a settings file beside the
// program file before the one in the configuration folder.
TfmMain::ControllerFactory DefaultController(TLinuxApplication& application);

}  // namespace sv
