#pragma once
// The one base class of every failure the program raises and catches. It carries the
// message text (Windows-1250 bytes) that reaches the event log, a page or stderr.
#include <exception>
#include <string>

namespace sv {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A text that is not a number or date-time ("'%s' is not a valid integer value").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An index outside a list ("List index out of bounds (%d)").
class EListError : public Exception {
 public:
  explicit EListError(long long index);
};

}  // namespace sv
