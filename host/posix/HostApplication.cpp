#include "host/posix/HostApplication.h"

#include <chrono>

#include "base/Exception.h"
#include "base/Text.h"
#include "host/ErrorBox.h"
#include "platform/Shell.h"

namespace sv {

THostApplication::THostApplication(std::string title, std::ostream& out, std::ostream& err)
    : title_(std::move(title)), out_(out), err_(err), opener_([](const std::string& url) {
        return ShellOpen(url);
      }) {}

void THostApplication::Terminate() {
  {
    // Under the sleeper's mutex, so that a Sleep about to wait cannot miss the wake.
    std::scoped_lock lock(sleepMutex_);
    terminated_ = true;
  }
  wake_.notify_all();
}

void THostApplication::Sleep(int milliseconds) {
  std::unique_lock lock(sleepMutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return terminated_.load(); });
}

void THostApplication::ProcessMessages() {
  notices_.Poll();
  if (!configureRequested_.exchange(false) || !configure_) return;
  try {
    configure_();
  } catch (const Exception& e) {
    ShowError(e.Message());
  }
}

void THostApplication::RunMessageLoop() {
  while (!Terminated()) {
    Sleep(200);
    ProcessMessages();
  }
}

void THostApplication::OpenUrl(const std::string& url) {
  ShowText(url);
  opener_(url);
}

void THostApplication::ShowError(const std::string& message) {
  PrintLine(err_, ErrorBoxLine(title_, message));
}

void THostApplication::ShowNotice(const std::string& title, const std::string& text) {
  notices_.Show(Cp1250ToUtf8(title), Cp1250ToUtf8(text));
}

void THostApplication::ShowText(const std::string& line) { PrintLine(out_, line); }

void THostApplication::PrintLine(std::ostream& stream, const std::string& line) {
  std::scoped_lock lock(outputMutex_);
  // Flushed at once: a reader at the other end of a pipe sees each line as it comes.
  stream << Cp1250ToUtf8(line) << '\n' << std::flush;
}

}  // namespace sv
