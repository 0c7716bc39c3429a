#include "sync/Reply.h"

#include <limits>

#include "base/Messages.h"
#include "base/Text.h"

namespace sv {

namespace {

// A line ends the reply unless its fourth byte exists and is not a blank.
bool EndsReply(const std::string& line) { return line.size() < 4 || line[3] == ' '; }

// The code text as a number, or -1 when it is not one of 100-999 (0 for empty text).
int CodeValue(const std::string& code) {
  if (code.empty()) return 0;
  int value = 0;
  for (char c : code) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value >= 100 && value <= 999 ? value : -1;
}

std::string TextOf(const std::string& line) { return line.size() > 4 ? line.substr(4) : std::string(); }

}  // namespace

TReply ReadReply(const std::function<std::string()>& nextLine) {
  // A peer that never ends its reply must not make us hold it all: past kMaxReplyBytes
  // (blank lines counted) the reply fails as an overlong line does.
  std::size_t bytes = 0;
  const auto next = [&]() {
    std::string l = nextLine();
    bytes += l.size() + 2;
    if (bytes > kMaxReplyBytes) throw Exception(msg::kMaxLineLength);
    return l;
  };
  std::string line;
  do {
    line = Trim(next());
  } while (line.empty());

  TReply reply;
  reply.code = Trim(std::string_view(line).substr(0, 3));
  reply.text.push_back(TextOf(line));
  // Continuation lines are taken as they come, untrimmed; only the first one's code counts.
  while (!EndsReply(line)) {
    line = next();
    reply.text.push_back(TextOf(line));
  }
  reply.numericCode = CodeValue(reply.code);
  if (reply.numericCode < 0) throw Exception(Format(msg::kReplyCodeInvalid, reply.code));
  return reply;
}

int CheckReply(const TReply& reply, int expected) {
  if (reply.numericCode == expected) return reply.numericCode;
  std::string message;
  for (const std::string& t : reply.text) message += t + "\r\n";
  throw EReplyError(reply.numericCode, std::move(message));
}

std::int64_t ParseFrameLength(std::string_view line, std::int64_t limit) {
  const auto fail = [&]() { return EConvertError(Format(msg::kNotInteger, line)); };
  std::size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '-' || line[i] == '+')) negative = line[i++] == '-';
  if (i == line.size()) throw fail();
  std::int64_t value = 0;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (c < '0' || c > '9') throw fail();
    // Any count above the limit fails, so the value never overflows.
    if (value > (limit - (c - '0')) / 10) throw fail();
    value = value * 10 + (c - '0');
  }
  if (negative && value != 0) throw fail();
  return value;
}

}  // namespace sv
