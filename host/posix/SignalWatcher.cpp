#include "host/posix/SignalWatcher.h"

#include "host/posix/HostApplication.h"

namespace sv {

TSignalWatcher::TSignalWatcher(THostApplication& application, std::function<void()> cancel,
                               Waiter wait)
    : application_(application),
      cancel_(std::move(cancel)),
      wait_(std::move(wait)),
      thread_([this] { Watch(); }) {}

TSignalWatcher::~TSignalWatcher() {
  stop_ = true;
  thread_.join();
}

void TSignalWatcher::Watch() {
  while (!stop_) {
    switch (wait_(kWaitMilliseconds)) {
      case HostSignal::kQuit:
        application_.Terminate();
        break;
      case HostSignal::kConfigure:
        application_.RequestConfigure();
        break;
      case HostSignal::kNone:
        break;
    }
    if (application_.Terminated()) cancel_();
  }
}

}  // namespace sv
