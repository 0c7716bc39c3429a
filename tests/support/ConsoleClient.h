#pragma once
// Helpers of the console listener's tests: a blocking loopback client and a handler
// that holds requests until it is told to answer them.
#include <asio.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "console/HttpExchange.h"

namespace sv::test {

using asio::ip::tcp;

// A blocking client connection to the listener, on loopback only.
class Client {
 public:
  explicit Client(int port, bool v6 = false) { Connect(port, v6); }
  // A client that reads slowly: its small receive buffer fills at once.
  struct SmallBuffer {};
  Client(int port, SmallBuffer) {
    socket_.open(tcp::v4());
    socket_.set_option(asio::socket_base::receive_buffer_size(4096));
    Connect(port, false);
  }
  void Connect(int port, bool v6) {
    socket_.connect({v6 ? asio::ip::address(asio::ip::address_v6::loopback())
                        : asio::ip::address(asio::ip::address_v4::loopback()),
                     static_cast<unsigned short>(port)});
  }
  void Send(const std::string& bytes) { asio::write(socket_, asio::buffer(bytes)); }
  void CloseSending() { socket_.shutdown(tcp::socket::shutdown_send); }
  // Everything until the server closes (a reset ends it too).
  std::string ReadAll() {
    std::string all;
    char chunk[8192];
    std::error_code ec;
    while (std::size_t n = socket_.read_some(asio::buffer(chunk), ec)) all.append(chunk, n);
    return all;
  }

 private:
  asio::io_context context_;
  tcp::socket socket_{context_};
};

inline std::string Exchange(int port, const std::string& request, bool v6 = false) {
  Client c(port, v6);
  c.Send(request);
  return c.ReadAll();
}

// The headers that end every answer.
inline const std::string kTail = "Server: Sorvana Client\r\nX-Frame-Options: DENY\r\n"
                                 "Content-Security-Policy: frame-ancestors 'none'\r\n\r\n";

inline std::string Body(const std::string& response) { return response.substr(response.find("\r\n\r\n") + 4); }
inline std::string Head(const std::string& response) { return response.substr(0, response.find("\r\n\r\n") + 4); }

// A handler that answers "ok", holds a request for "/hold" until Release or until its
// token is stopped, and answers "/big" with kBig bytes.
inline constexpr std::size_t kBig = 6 << 20;  // more than the socket buffers of a slow reader hold

class Holder {
 public:
  RequestHandler Handler() {
    return [this](const ConsoleRequest& request, ConsoleResponse& r) {
      if (request.document == "/hold") {
        std::unique_lock lock(m_);
        ++holding_;
        cv_.notify_all();
        cv_.wait(lock, request.stop, [this] { return release_; });
        if (request.stop.stop_requested()) ++stopped_;
      }
      r.contentText = request.document == "/big" ? std::string(kBig, 'b') : "ok";
      if (request.document == "/big") {
        std::scoped_lock lock(m_);
        ++holding_;
        cv_.notify_all();
      }
    };
  }
  int Stopped() {
    std::scoped_lock lock(m_);
    return stopped_;
  }
  // True when `count` requests are held within a minute (only a fault takes longer).
  bool AwaitHolding(int count) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, std::chrono::seconds(60), [&] { return holding_ == count; });
  }
  void Release() {
    {
      std::scoped_lock lock(m_);
      release_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable_any cv_;
  int holding_ = 0;
  int stopped_ = 0;
  bool release_ = false;
};

}  // namespace sv::test
