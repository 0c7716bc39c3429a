// The main form of the headless host: its tray is the start lines on stdout and the
// signal menu (SignalWatcher.h).
#include "host/fmuMainC.h"

#include "base/Messages.h"
#include "base/Text.h"
#include "host/ErrorBox.h"
#include "host/posix/HostApplication.h"
#include "host/posix/SignalWatcher.h"

namespace sv {

// Nothing to keep: the tray's lines go out through the application.
struct TfmMain::Tray {};

TfmMain::TfmMain(THostApplication& application, ControllerFactory createController)
    : application_(application), createController_(std::move(createController)) {
  application_.ShowText(msg::kTrayHint);
  application_.SetConfigureHandler([this] { Configure1Click(); });
}

TfmMain::~TfmMain() {
  application_.SetConfigureHandler(nullptr);
  std::unique_ptr<TdmCustomSorvanaC> controller;
  {
    std::scoped_lock lock(controllerMutex_);
    controller = std::move(controller_);
  }
  // Destroyed outside the lock: its listener joins request threads that may take time.
}

void TfmMain::ShowConsoleAddress(const std::string& address) {
  application_.ShowText(Format(msg::kConfigureLine, address));
}

// The signal watcher cancels a running synchronisation itself.
void TfmMain::Exit1Click() { application_.Terminate(); }

int RunProgram(THostApplication& application, TfmMain::ControllerFactory createController,
               std::function<HostSignal(int)> waitForSignal) {
  TfmMain form(application, std::move(createController));
  // Declared after the form, so it stops before the form goes.
  TSignalWatcher watcher(application, [&form] { form.CancelSynchronisation(); },
                         std::move(waitForSignal));
  if (!StartShowingFailures(application, [&form] { form.StartController(); })) return 1;
  application.RunMessageLoop();
  return 0;
}

int RunProgram(THostApplication& application, TfmMain::ControllerFactory createController) {
  return RunProgram(application, std::move(createController), WaitHostSignal);
}

}  // namespace sv
