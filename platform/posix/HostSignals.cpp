#include "platform/HostSignals.h"

#include <signal.h>
#include <time.h>

namespace sv {
namespace {

sigset_t HostSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

void BlockHostSignals() {
  sigset_t set = HostSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

HostSignal WaitHostSignal(int timeoutMs) {
  sigset_t set = HostSet();
  struct timespec limit {};
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
  // An interruption by some other signal counts as no signal; the caller waits again.
  switch (sigtimedwait(&set, nullptr, &limit)) {
    case SIGINT:
    case SIGTERM:
      return HostSignal::kQuit;
    case SIGUSR1:
      return HostSignal::kConfigure;
    default:
      return HostSignal::kNone;
  }
}

}  // namespace sv
