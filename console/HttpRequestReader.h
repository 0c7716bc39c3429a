#pragma once
// Reads one HTTP request from bytes, apart from any socket: the connection feeds what it
// receives, and the reader says when the request is whole, when the connection is to be
// dropped without an answer, and when the request is too large to be taken.
#include <cstddef>
#include <string>
#include <string_view>

#include "console/HttpRequest.h"

namespace sv {

class HttpRequestReader {
 public:
  // Limits: the request line and the header section 64 KiB each, the body 1 MiB.
  static constexpr std::size_t kMaxHeadBytes = 64 * 1024;
  static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

  enum class Status {
    kNeedMore,  // feed more bytes, or Finish when the peer has closed its side
    kDone,      // Request() is whole and decoded
    kDropped,   // close without an answer (no space in the request line, cut short)
    kTooLarge,  // answer 413; nothing of the request is used
  };

  // Takes the next bytes of the connection. Once the status is not kNeedMore, further
  // bytes are only counted as extra (a second request is never read).
  Status Feed(std::string_view bytes);
  // The peer closed its side: a POST without a length ends here, anything else unfinished
  // is dropped.
  Status Finish();

  Status status() const { return status_; }
  // Valid when the status is kDone.
  const ConsoleRequest& Request() const { return request_; }
  // The request moved out, once, when the status is kDone.
  ConsoleRequest TakeRequest() { return std::move(request_); }
  // True when bytes arrived after the end of the request.
  bool HasExtraBytes() const { return extra_; }

 private:
  enum class Part { kRequestLine, kHeaders, kBody, kBodyToClose, kEnd };

  Status Step();
  Status TakeLine(std::string_view line);
  Status TakeRequestLine(std::string_view line);
  Status TakeHeaderLine(std::string_view line);
  Status EndOfHeaders();
  Status TakeBody();
  Status Complete();
  Status End(Status status);

  Part part_ = Part::kRequestLine;
  Status status_ = Status::kNeedMore;
  std::string buffer_;        // bytes received; those before pos_ are consumed
  std::size_t pos_ = 0;
  std::size_t scanned_ = 0;   // bytes of buffer_ already searched for a line end
  std::size_t headBytes_ = 0; // size of the header section so far
  bool extra_ = false;
  ConsoleRequest request_;
};

}  // namespace sv
