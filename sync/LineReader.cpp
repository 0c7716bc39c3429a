#include "sync/LineReader.h"

#include <algorithm>
#include <cstring>

#include "base/Messages.h"

namespace sv {

EClosedGracefully::EClosedGracefully() : Exception(msg::kClosedGracefully) {}
ELineTooLong::ELineTooLong() : Exception(msg::kMaxLineLength) {}

void PlaceBytes(TByteTarget& target, const char* data, std::size_t size) {
  while (size > 0) {
    std::size_t room = 0;
    char* to = target.Room(1, room);
    const std::size_t piece = std::min(size, room);
    std::memcpy(to, data, piece);
    target.Placed(piece);
    data += piece;
    size -= piece;
  }
}

TLineReader::TLineReader(Fill fill, Fill fillContent)
    : fill_(std::move(fill)), fillContent_(fillContent ? std::move(fillContent) : fill_) {}

void TLineReader::Clear() {
  start_ = end_ = scanned_ = 0;
}

void TLineReader::FillMore() {
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kCapacity);
  // Move what is left to the front, so that the fill has a whole chunk of room. What is
  // left is at most a partial line (reads of content take every buffered byte first).
  if (start_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + start_, Buffered());
    end_ -= start_;
    start_ = 0;
  }
  const std::size_t got = fill_(buffer_.get() + end_, kCapacity - end_);
  if (got == 0) throw EClosedGracefully();
  end_ += std::min(got, kCapacity - end_);
}

std::string TLineReader::ReadLine() {
  for (;;) {
    const char* begin = buffer_.get() + start_;
    const std::size_t available = Buffered();
    const void* lf = available > scanned_ ? std::memchr(begin + scanned_, '\n', available - scanned_) : nullptr;
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
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>({count, Buffered(), kChunkSize}));
    const char* data = buffer_.get() + start_;
    start_ += piece;
    scanned_ = 0;
    count -= piece;
    sink(data, piece);
  }
}

void TLineReader::ReadExactly(std::uint64_t count, TByteTarget& target) {
  const std::size_t buffered = static_cast<std::size_t>(std::min<std::uint64_t>(count, Buffered()));
  PlaceBytes(target, buffer_.get() + start_, buffered);
  start_ += buffered;
  scanned_ = 0;
  count -= buffered;
  while (count > 0) {
    std::size_t size = 0;
    char* room = target.Room(static_cast<std::size_t>(std::min<std::uint64_t>(count, kChunkSize)), size);
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, size));
    const std::size_t got = std::min(fillContent_(room, want), want);
    if (got == 0) throw EClosedGracefully();
    count -= got;
    target.Placed(got);
  }
}

}  // namespace sv
