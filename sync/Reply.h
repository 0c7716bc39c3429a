#pragma once
// Reading the server's replies and frame lengths from lines: pure functions, so the
// same rules serve the wire, the tests and the fuzzers.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"

namespace sv {

// One reply as read from the channel.
struct TReply {
  std::string code;                // first three bytes of the first line, trimmed
  int numericCode = 0;             // code as a number; 0 for an empty code
  std::vector<std::string> text;   // each reply line from its fifth byte on
};

// A reply whose code differs from the expected one. The message is the reply's text
// lines, each followed by CR LF.
class EReplyError : public Exception {
 public:
  EReplyError(int code, std::string message) : Exception(std::move(message)), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// Reads one reply through nextLine (which raises when no line can be had). Blank lines
// before the reply are skipped and the first line is trimmed; a line shorter than four
// bytes or with a blank as its fourth byte ends the reply, any other fourth byte
// continues it. A code that is neither empty nor a number 100-999 raises
// "Reply Code is not valid: %s".
// A reply longer than kMaxReplyBytes in all raises "Max line length exceeded.".
TReply ReadReply(const std::function<std::string()>& nextLine);
constexpr std::size_t kMaxReplyBytes = std::size_t{1} << 20;

// Returns the reply's numeric code when it is `expected`; raises EReplyError otherwise.
int CheckReply(const TReply& reply, int expected);

// The longest framed document held in memory (listing, task list): 256 MiB.
constexpr std::int64_t kMaxDocumentLength = std::int64_t{256} << 20;

// The byte count of a length line: leading blanks, an optional sign, decimal digits and
// nothing else. Anything else, a negative count and a count above `limit` raise
// EConvertError "'%s' is not a valid integer value" with the line.
std::int64_t ParseFrameLength(std::string_view line, std::int64_t limit);

}  // namespace sv
