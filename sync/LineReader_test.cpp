#include "sync/LineReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace sv {
namespace {

// A reader over fixed bytes, handing out at most `piece` bytes per fill.
TLineReader Over(const std::string& bytes, std::size_t piece, std::size_t* fills = nullptr) {
  auto pos = std::make_shared<std::size_t>(0);
  return TLineReader([bytes, piece, pos, fills](char* out, std::size_t cap) {
    if (fills) ++*fills;
    const std::size_t n = std::min({piece, cap, bytes.size() - *pos});
    std::memcpy(out, bytes.data() + *pos, n);
    *pos += n;
    return n;
  });
}

TEST(LineReader, SplitsLinesAtLfAndDropsOneCrAtEveryChunking) {
  const std::string wire = "200 ready\r\nplain\n\r\r\n\r\nx\r\ry\r\n";
  for (std::size_t piece = 1; piece <= wire.size(); ++piece) {
    TLineReader r = Over(wire, piece);
    EXPECT_EQ(r.ReadLine(), "200 ready");
    EXPECT_EQ(r.ReadLine(), "plain");
    EXPECT_EQ(r.ReadLine(), "\r");  // only the CR right before the LF goes
    EXPECT_EQ(r.ReadLine(), "");
    EXPECT_EQ(r.ReadLine(), "x\r\ry");
    EXPECT_THROW(r.ReadLine(), EClosedGracefully);
  }
}

TEST(LineReader, EndOfStreamDropsPartialLineWithExactMessage) {
  TLineReader r = Over("no line end", 4);
  try {
    r.ReadLine();
    FAIL();
  } catch (const EClosedGracefully& e) {
    EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
  }
}

TEST(LineReader, LineLimitCountsTrailingCr) {
  const std::string max(TLineReader::kMaxLineLength, 'a');
  EXPECT_EQ(Over(max + "\n", 1000).ReadLine(), max);
  // 16383 bytes and a CR make 16384: still accepted.
  EXPECT_EQ(Over(max.substr(1) + "\r\n", 1000).ReadLine(), max.substr(1));
  try {
    Over(max + "\r\n", 1000).ReadLine();
    FAIL();
  } catch (const ELineTooLong& e) {
    EXPECT_EQ(e.Message(), "Max line length exceeded.");
  }
}

TEST(LineReader, LimitFiresWhileWaitingWithoutReadingTheWholeStream) {
  // An endless stream without LF: the reader gives up once the limit is passed.
  std::size_t fills = 0;
  TLineReader r([&fills](char* out, std::size_t cap) {
    ++fills;
    std::memset(out, 'z', cap);
    return cap;
  });
  EXPECT_THROW(r.ReadLine(), ELineTooLong);
  EXPECT_EQ(fills, 1u);
}

TEST(LineReader, ReadExactlyUsesBufferedBytesFirstAndKeepsTheRest) {
  const std::string doc("ab\r\nc\xff\x00z", 8);
  const std::string wire = "7\r\n" + doc + "next\r\n";
  for (std::size_t piece = 1; piece <= wire.size(); ++piece) {
    TLineReader r = Over(wire, piece);
    EXPECT_EQ(r.ReadLine(), "7");
    std::string got;
    r.ReadExactly(7, [&](const char* d, std::size_t n) { got.append(d, n); });
    EXPECT_EQ(got, doc.substr(0, 7));
    std::string one;
    r.ReadExactly(1, [&](const char* d, std::size_t n) { one.append(d, n); });
    EXPECT_EQ(one, "z");
    EXPECT_EQ(r.ReadLine(), "next");
  }
}

TEST(LineReader, ReadExactlyHandsOnPiecesNoLargerThanAChunkAndFailsAtEnd) {
  const std::string big(100000, 'q');
  TLineReader r = Over(big, 1 << 20);
  std::size_t total = 0, largest = 0;
  r.ReadExactly(big.size(), [&](const char*, std::size_t n) {
    total += n;
    largest = std::max(largest, n);
  });
  EXPECT_EQ(total, big.size());
  EXPECT_LE(largest, TLineReader::kChunkSize);

  TLineReader shorter = Over("abc", 2);
  std::string got;
  EXPECT_THROW(shorter.ReadExactly(5, [&](const char* d, std::size_t n) { got.append(d, n); }),
               EClosedGracefully);
  EXPECT_EQ(got, "abc");
}

// Large content goes straight into the target's memory in reads of at least a chunk,
// never past the content: what follows stays for the next read.
TEST(LineReader, ReadIntoATargetAsksForWholeChunksAndStopsAtTheEnd) {
  struct Target : TByteTarget {
    char* Room(std::size_t minimum, std::size_t& size) override {
      EXPECT_GE(memory.size() - used, minimum);
      size = memory.size() - used;
      return memory.data() + used;
    }
    void Placed(std::size_t n) override { used += n; }
    std::string memory = std::string(4 << 20, '\0');
    std::size_t used = 0;
  };
  std::string content(3 << 20, 'c');
  content[12345] = 'x';
  const std::string wire = "head\r\n" + content + "next\r\n";
  const std::size_t contentEnd = wire.size() - 6;
  std::size_t pos = 0, directReads = 0;
  TLineReader r([&](char* out, std::size_t cap) {
    if (pos > 0 && pos < contentEnd) {  // reading the content
      ++directReads;
      EXPECT_GE(cap, std::min(TLineReader::kChunkSize, contentEnd - pos));
      EXPECT_LE(cap, contentEnd - pos);
    }
    const std::size_t n = std::min({cap, std::size_t{100000}, wire.size() - pos});
    std::memcpy(out, wire.data() + pos, n);
    pos += n;
    return n;
  });
  EXPECT_EQ(r.ReadLine(), "head");
  Target target;
  r.ReadExactly(content.size(), target);
  EXPECT_EQ(target.memory.substr(0, target.used), content);
  EXPECT_EQ(r.ReadLine(), "next");
  EXPECT_GT(directReads, 20u);
}

TEST(LineReader, ClearForgetsBufferedBytes) {
  TLineReader r = Over("one\r\nleft over\r\n", 100);
  EXPECT_EQ(r.ReadLine(), "one");
  EXPECT_GT(r.Buffered(), 0u);
  r.Clear();
  EXPECT_EQ(r.Buffered(), 0u);
  EXPECT_THROW(r.ReadLine(), EClosedGracefully);
}

}  // namespace
}  // namespace sv
