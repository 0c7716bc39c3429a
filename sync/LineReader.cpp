#include "sync/LineReader.h"

#include <algorithm>
#include <cstring>

#include "base/Messages.h"

namespace sv {

EClosedGracefully::EClosedGracefully() : Exception(msg::kClosedGracefully) {}
ELineTooLong::ELineTooLong() : Exception(msg::kMaxLineLength) {}

TLineReader::TLineReader(Fill fill) : fill_(std::move(fill)) {}

void TLineReader::Clear() {
  buffer_.clear();
  start_ = 0;
  scanned_ = 0;
}

void TLineReader::FillMore() {
  // Drop consumed bytes first so the buffer does not grow with the stream.
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  const std::size_t old = buffer_.size();
  buffer_.resize(old + kChunkSize);
  std::size_t got = 0;
  try {
    got = fill_(buffer_.data() + old, kChunkSize);
  } catch (...) {
    buffer_.resize(old);
    throw;
  }
  buffer_.resize(old + std::min(got, kChunkSize));
  if (got == 0) throw EClosedGracefully();
}

std::string TLineReader::ReadLine() {
  for (;;) {
    const char* begin = buffer_.data() + start_;
    const std::size_t available = Buffered();
    const void* lf = std::memchr(begin + scanned_, '\n', available - scanned_);
    if (lf) {
      std::size_t length = static_cast<const char*>(lf) - begin;
      if (length > kMaxLineLength) throw ELineTooLong();
      std::string line(begin, length);
      start_ += length + 1;
      scanned_ = 0;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    scanned_ = available;
    // More than the limit buffered without an LF can never become a valid line.
    if (available > kMaxLineLength) throw ELineTooLong();
    FillMore();
  }
}

void TLineReader::ReadExactly(std::uint64_t count, const ByteSink& sink) {
  while (count > 0) {
    if (Buffered() == 0) FillMore();
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, Buffered()));
    const char* data = buffer_.data() + start_;
    start_ += piece;
    scanned_ = 0;
    count -= piece;
    sink(data, piece);
  }
}

}  // namespace sv
