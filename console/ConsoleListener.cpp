#include "console/ConsoleListener.h"

#include "platform/ListenAddress.h"

namespace sv {
namespace {

constexpr int kBacklog = 15;

}  // namespace

ConsoleListener::~ConsoleListener() {
  if (thread_.joinable()) {
    Interrupt();
    Join();
  }
}

bool ConsoleListener::Bind(const asio::ip::tcp::endpoint& at, bool optional) {
  std::error_code ec;
  acceptor_.open(at.protocol(), ec);
  if (ec) return optional && ec == std::errc::address_family_not_supported;
  if (at.address().is_v6()) acceptor_.set_option(asio::ip::v6_only(true), ec);
  ClaimListenAddress(static_cast<std::uintptr_t>(acceptor_.native_handle()));
  acceptor_.bind(at, ec);
  if (!ec) acceptor_.listen(kBacklog, ec);
  if (!ec) acceptor_.non_blocking(true, ec);
  if (!ec) {
    handle_ = static_cast<NativeSocket>(acceptor_.native_handle());
    protocol_ = at.protocol();
    try {
      wait_ = std::make_unique<ConnectionWait>(handle_);
      return true;
    } catch (const std::system_error& e) {
      ec = e.code();
    }
  }
  const bool missing = ec == std::errc::address_not_available;
  std::error_code ignored;
  acceptor_.close(ignored);
  handle_ = kNoSocket;
  return optional && missing;
}

std::uint16_t ConsoleListener::Port() const {
  std::error_code ec;
  const auto at = acceptor_.local_endpoint(ec);
  return ec ? 0 : at.port();
}

void ConsoleListener::Start(std::function<void(ConsoleListener&)> loop) {
  thread_ = std::thread([this, loop = std::move(loop)] { loop(*this); });
}

void ConsoleListener::Interrupt() {
  if (wait_) wait_->Interrupt();
}

void ConsoleListener::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace sv
