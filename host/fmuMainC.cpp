#include "host/fmuMainC.h"

#include "base/Messages.h"
#include "base/Text.h"
#include "controller/dmuDefaultSorvanaC.h"
#include "host/ErrorBox.h"
#include "host/LinuxApplication.h"
#include "host/SignalWatcher.h"
#include "platform/ProgramPaths.h"

namespace sv {

TfmMain::TfmMain(TLinuxApplication& application, ControllerFactory createController)
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

void TfmMain::StartController() {
  if (!controller_) {
    std::unique_ptr<TdmCustomSorvanaC> created = createController_();
    std::scoped_lock lock(controllerMutex_);
    controller_ = std::move(created);
  }
  bool proceed = true;
  controller_->Start(nullptr, proceed);
  std::string address = controller_->ConsoleAddress();
  if (!address.empty()) application_.ShowText(Format(msg::kConfigureLine, address));
  if (proceed) controller_->Run(nullptr);
}

void TfmMain::Configure1Click() {
  if (controller_) controller_->Configure();
}

void TfmMain::Exit1Click() { application_.Terminate(); }

void TfmMain::CancelSynchronisation() {
  std::scoped_lock lock(controllerMutex_);
  if (controller_) controller_->Cancel();
}

int RunProgram(TLinuxApplication& application, TfmMain::ControllerFactory createController,
               std::function<HostSignal(int)> waitForSignal) {
  TfmMain form(application, std::move(createController));
  // Declared after the form, so it stops before the form goes.
  TSignalWatcher watcher(application, [&form] { form.CancelSynchronisation(); },
                         std::move(waitForSignal));
  if (!StartShowingFailures(application, [&form] { form.StartController(); })) return 1;
  application.RunMessageLoop();
  return 0;
}

TfmMain::ControllerFactory DefaultController(TLinuxApplication& application) {
  return [&application] {
    return std::make_unique<TdmDefaultSorvanaC>(application, ProgramFolder());
  };
}

}  // namespace sv
