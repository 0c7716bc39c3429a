// The parts of the main form that every host shares.
#include "host/fmuMainC.h"

#include "controller/dmuDefaultSorvanaC.h"
#include "platform/ProgramPaths.h"

namespace sv {

void TfmMain::StartController() {
  if (!controller_) {
    std::unique_ptr<TdmCustomSorvanaC> created = createController_();
    std::scoped_lock lock(controllerMutex_);
    controller_ = std::move(created);
  }
  bool proceed = true;
  controller_->Start(nullptr, proceed);
  std::string address = controller_->ConsoleAddress();
  if (!address.empty()) ShowConsoleAddress(address);
  if (proceed) controller_->Run(nullptr);
}

void TfmMain::Configure1Click() {
  if (controller_) controller_->Configure();
}

void TfmMain::CancelSynchronisation() {
  std::scoped_lock lock(controllerMutex_);
  if (controller_) controller_->Cancel();
}

TfmMain::ControllerFactory DefaultController(TApplication& application) {
  return [&application] { return std::make_unique<TdmDefaultSorvanaC>(application, ProgramFolder()); };
}

}  // namespace sv
