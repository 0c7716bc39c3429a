#pragma once
// TLineReader: the byte-level reader of the command channel, apart from any socket. It
// takes its bytes from a fill callback, so the same code reads from the wire, from test
// buffers and from fuzz input, on the client and on the reference server.
//
// One reader belongs to one thread at a time.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Exception.h"

namespace sv {

// The peer closed the connection before the bytes asked for arrived
// ("Connection Closed Gracefully.").
class EClosedGracefully : public Exception {
 public:
  EClosedGracefully();
};

// A line grew beyond TLineReader::kMaxLineLength ("Max line length exceeded.").
class ELineTooLong : public Exception {
 public:
  ELineTooLong();
};

// Receives bytes handed on by the reader; the pointer is valid for the call only.
using ByteSink = std::function<void(const char* data, std::size_t size)>;

// A destination that lends its own memory, so that bytes can be read straight into the
// place where they stay (a file's write buffer) instead of being copied there.
class TByteTarget {
 public:
  virtual ~TByteTarget() = default;
  // Memory for the next bytes, at least `minimum` long; its length goes to `size`.
  virtual char* Room(std::size_t minimum, std::size_t& size) = 0;
  // The first `n` bytes of the last Room now hold content.
  virtual void Placed(std::size_t n) = 0;
};

// Copies bytes into a target's rooms.
void PlaceBytes(TByteTarget& target, const char* data, std::size_t size);

class TLineReader {
 public:
  // Longest line accepted, a trailing CR counted.
  static constexpr std::size_t kMaxLineLength = 16384;
  // Most bytes handed to a sink at once, and the least asked of the fill callback at
  // once: a stream of many small answers, or one large file, then costs few reads.
  static constexpr std::size_t kChunkSize = 256 * 1024;

  // Stores up to `capacity` bytes at `buffer` and returns how many; 0 means the end of
  // the stream. It may raise (a socket failure); the raise passes through the reader.
  using Fill = std::function<std::size_t(char* buffer, std::size_t capacity)>;

  // `fillContent`, when given, serves the reads of ReadExactly into a target instead:
  // every byte it is asked for is wanted, so it may wait until they are all there (or
  // many of them) rather than return with the first few.
  explicit TLineReader(Fill fill, Fill fillContent = {});

  // The bytes before the next LF, without one CR right before it. Raises ELineTooLong
  // when the line exceeds kMaxLineLength, also while still waiting for its LF, and
  // EClosedGracefully when the stream ends first (the partial line is dropped).
  std::string ReadLine();

  // Hands exactly `count` bytes to sink, bytes already buffered first, then in pieces of
  // at most kChunkSize as they arrive. Raises EClosedGracefully when the stream ends
  // first (the bytes before that have been handed on).
  void ReadExactly(std::uint64_t count, const ByteSink& sink);
  // The same into a target: buffered bytes are copied into its room, the rest is read
  // straight into it, asking the fill callback for at least kChunkSize bytes at a time
  // (never for more than `count` leaves).
  void ReadExactly(std::uint64_t count, TByteTarget& target);

  // Forgets buffered bytes (a fresh connection starts empty).
  void Clear();
  std::size_t Buffered() const { return end_ - start_; }

 private:
  // Appends one fill's worth to the buffer; raises EClosedGracefully at the end.
  void FillMore();

  Fill fill_;
  Fill fillContent_;
  // Room for a whole chunk after the longest partial line, so every fill asks for at
  // least kChunkSize bytes. Allocated at the first fill, never zero-filled.
  static constexpr std::size_t kCapacity = kChunkSize + kMaxLineLength + 1;
  std::unique_ptr<char[]> buffer_;
  std::size_t start_ = 0;    // first unconsumed byte
  std::size_t end_ = 0;      // after the last byte received
  std::size_t scanned_ = 0;  // bytes after start_ already known to hold no LF
};

}  // namespace sv
