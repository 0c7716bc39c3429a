#include "console/HttpRequestReader.h"

#include <algorithm>

#include "base/Text.h"

namespace sv {
namespace {

// A Content-Length value: decimal digits only; anything else counts as not given.
bool ParseLength(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

HttpRequestReader::Status HttpRequestReader::Feed(std::string_view bytes) {
  if (status_ != Status::kNeedMore) {
    extra_ = extra_ || !bytes.empty();
    return status_;
  }
  buffer_.append(bytes);
  return Step();
}

HttpRequestReader::Status HttpRequestReader::Finish() {
  if (status_ != Status::kNeedMore) return status_;
  if (part_ == Part::kBodyToClose) {
    request_.body = std::move(buffer_);
    return Complete();
  }
  return End(Status::kDropped);
}

// Consumes whole lines and body bytes from the buffer as far as they go. Lines are taken
// by moving an offset, and the buffer is compacted once per call, so that many short lines
// cost linear time.
HttpRequestReader::Status HttpRequestReader::Step() {
  while (part_ == Part::kRequestLine || part_ == Part::kHeaders) {
    const std::size_t eol = buffer_.find('\n', std::max(pos_, scanned_));
    if (eol == std::string::npos) {
      buffer_.erase(0, pos_);
      pos_ = 0;
      scanned_ = buffer_.size();
      const std::size_t pending = part_ == Part::kHeaders ? headBytes_ + buffer_.size() : buffer_.size();
      return pending > kMaxHeadBytes ? End(Status::kTooLarge) : Status::kNeedMore;
    }
    std::string_view line(buffer_.data() + pos_, eol - pos_);
    pos_ = eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const Status s = TakeLine(line);
    if (s != Status::kNeedMore) return s;
  }
  buffer_.erase(0, pos_);
  pos_ = 0;
  scanned_ = 0;
  return TakeBody();
}

HttpRequestReader::Status HttpRequestReader::TakeLine(std::string_view line) {
  if (part_ == Part::kRequestLine) {
    if (line.size() > kMaxHeadBytes) return End(Status::kTooLarge);
    return TakeRequestLine(line);
  }
  headBytes_ += line.size() + 2;
  if (headBytes_ > kMaxHeadBytes) return End(Status::kTooLarge);
  if (line.empty()) return EndOfHeaders();
  return TakeHeaderLine(line);
}

// The version follows the last space; of the rest, the method runs to the first space.
HttpRequestReader::Status HttpRequestReader::TakeRequestLine(std::string_view line) {
  const std::size_t last = line.rfind(' ');
  if (last == std::string_view::npos) return End(Status::kDropped);
  request_.version = line.substr(last + 1);
  const std::string_view rest = line.substr(0, last);
  const std::size_t first = rest.find(' ');
  request_.method = rest.substr(0, first);
  request_.target = first == std::string_view::npos ? std::string() : std::string(rest.substr(first + 1));
  request_.command = ParseCommandType(request_.method);
  part_ = Part::kHeaders;
  return Status::kNeedMore;
}

HttpRequestReader::Status HttpRequestReader::TakeHeaderLine(std::string_view line) {
  // A line that starts with a blank continues the previous header's value.
  if ((line[0] == ' ' || line[0] == '\t') && !request_.headers.empty()) {
    const std::string piece = Trim(line);
    std::string& value = request_.headers.back().second;
    if (!piece.empty()) value += (value.empty() ? "" : " ") + piece;
    return Status::kNeedMore;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return Status::kNeedMore;  // not a header: ignored
  request_.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  return Status::kNeedMore;
}

HttpRequestReader::Status HttpRequestReader::EndOfHeaders() {
  request_.contentType = request_.Header("Content-Type");
  std::uint64_t length = 0;
  if (request_.HasHeader("Content-Length") && ParseLength(request_.Header("Content-Length"), length))
    request_.contentLength = length;
  if (request_.contentLength && *request_.contentLength > 0) {
    if (*request_.contentLength > kMaxBodyBytes) return End(Status::kTooLarge);
    part_ = Part::kBody;
  } else if (!request_.contentLength && request_.command == CommandType::kPost) {
    part_ = Part::kBodyToClose;
  } else {
    part_ = Part::kEnd;
  }
  return Status::kNeedMore;
}

HttpRequestReader::Status HttpRequestReader::TakeBody() {
  if (part_ == Part::kBodyToClose) {
    return buffer_.size() > kMaxBodyBytes ? End(Status::kTooLarge) : Status::kNeedMore;
  }
  if (part_ == Part::kBody) {
    const std::size_t length = static_cast<std::size_t>(*request_.contentLength);
    if (buffer_.size() < length) return Status::kNeedMore;
    request_.body = buffer_.substr(0, length);
    buffer_.erase(0, length);
  }
  extra_ = !buffer_.empty();
  buffer_.clear();
  return Complete();
}

HttpRequestReader::Status HttpRequestReader::Complete() {
  DecodeTarget(request_);
  return End(Status::kDone);
}

HttpRequestReader::Status HttpRequestReader::End(Status status) {
  part_ = Part::kEnd;
  status_ = status;
  if (status != Status::kDone) buffer_.clear();
  return status_;
}

}  // namespace sv
