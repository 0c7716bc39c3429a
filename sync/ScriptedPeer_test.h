#pragma once
// Test support: a scripted server on 127.0.0.1 (port chosen by the system) that plays
// one script per accepted connection, in order, on a thread of its own, and records
// every byte the client sends. Header-only, for the sync tests.
#include <asio.hpp>

#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sync/LineReader.h"

namespace sv::test {

// One accepted connection as a script sees it.
class PeerLink {
 public:
  explicit PeerLink(asio::ip::tcp::socket socket)
      : socket_(std::move(socket)), reader_([this](char* b, std::size_t n) { return Fill(b, n); }) {}

  void Send(std::string_view bytes) { asio::write(socket_, asio::buffer(bytes.data(), bytes.size())); }
  std::string ReadLine() { return reader_.ReadLine(); }
  std::string ReadBytes(std::size_t count) {
    std::string out;
    reader_.ReadExactly(count, [&](const char* d, std::size_t n) { out.append(d, n); });
    return out;
  }
  // Reads a framed document the way the server does.
  std::string ReadFramed() { return ReadBytes(std::stoul(ReadLine())); }
  // Bytes received beyond what was read: anything the client sent with the last line.
  std::size_t Pending() const { return reader_.Buffered(); }
  // Waits until the client closes, keeping what it still sends.
  void DrainUntilClosed() {
    try {
      for (;;) ReadBytes(1);
    } catch (const EClosedGracefully&) {
    }
  }
  void Close() {
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }
  const std::string& Received() const { return received_; }

 private:
  std::size_t Fill(char* buffer, std::size_t capacity) {
    asio::error_code ec;
    const std::size_t n = socket_.read_some(asio::buffer(buffer, capacity), ec);
    if (ec) return 0;
    received_.append(buffer, n);
    return n;
  }

  asio::ip::tcp::socket socket_;
  TLineReader reader_;
  std::string received_;
};

// The server's side of an opening: greeting, "Hello", welcome.
inline void Greet(PeerLink& p) {
  p.Send("200 ready\r\n");
  if (p.ReadLine() != "Hello") throw std::runtime_error("expected Hello");
  p.Send("201 welcome\r\n");
}

class ScriptedPeer {
 public:
  using Script = std::function<void(PeerLink&)>;

  explicit ScriptedPeer(std::vector<Script> scripts)
      : acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
        scripts_(std::move(scripts)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedPeer() { Join(); }

  int Port() const { return acceptor_.local_endpoint().port(); }

  // Waits for every script to end (each drains its connection until the client closes).
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  // After Join: the bytes received on each connection, and the first failure of a script.
  const std::vector<std::string>& Received() const { return received_; }
  const std::string& Error() const { return error_; }

 private:
  void Serve() {
    for (Script& script : scripts_) {
      asio::ip::tcp::socket socket(io_);
      acceptor_.accept(socket);
      PeerLink link(std::move(socket));
      try {
        script(link);
        link.DrainUntilClosed();
      } catch (const std::exception& e) {
        if (error_.empty()) error_ = e.what();
      }
      received_.push_back(link.Received());
    }
  }

  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  std::vector<Script> scripts_;
  std::vector<std::string> received_;
  std::string error_;
  std::thread thread_;
};

}  // namespace sv::test
