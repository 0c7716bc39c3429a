#include "console/HttpRequestReader.h"

#include <gtest/gtest.h>

namespace sv {
namespace {

using Status = HttpRequestReader::Status;

// Feeds the bytes in two pieces split at `at`, then (unless done) reports the close.
Status ReadSplit(HttpRequestReader& reader, const std::string& bytes, std::size_t at, bool close) {
  reader.Feed(std::string_view(bytes).substr(0, at));
  reader.Feed(std::string_view(bytes).substr(at));
  return close ? reader.Finish() : reader.status();
}

TEST(HttpRequestReader, SameRequestAtEverySplitOffset) {
  const std::string bytes =
      "POST /index.html?akcija=query HTTP/1.1\r\nHost: localhost:1976\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 22\r\n"
      " \r\n\r\nakcija=Sinhroniziraj&x";
  for (std::size_t at = 0; at <= bytes.size(); ++at) {
    HttpRequestReader reader;
    ASSERT_EQ(ReadSplit(reader, bytes, at, false), Status::kDone) << at;
    const ConsoleRequest& r = reader.Request();
    EXPECT_EQ(r.command, CommandType::kPost);
    EXPECT_EQ(r.document, "/index.html");
    EXPECT_EQ(r.body, "akcija=Sinhroniziraj&x");
    EXPECT_EQ(r.Param("akcija"), "Sinhroniziraj") << at;
    EXPECT_EQ(r.Header("host"), "localhost:1976");
    EXPECT_FALSE(reader.HasExtraBytes());
  }
}

TEST(HttpRequestReader, PostWithoutLengthReadsUntilCloseAtEverySplitOffset) {
  const std::string bytes = "post /x HTTP/1.0\nHost: 127.0.0.1\n\nakcija=Postavi&port=2000";
  for (std::size_t at = 0; at <= bytes.size(); ++at) {
    HttpRequestReader reader;
    ASSERT_EQ(ReadSplit(reader, bytes, at, true), Status::kDone) << at;
    EXPECT_EQ(reader.Request().body, "akcija=Postavi&port=2000");
    EXPECT_EQ(reader.Request().Param("port"), "");  // no form type: the query alone counts
  }
}

TEST(HttpRequestReader, RequestLineSplitsAtItsLastSpace) {
  HttpRequestReader a;
  ASSERT_EQ(a.Feed("GET /a b?x=1 HTTP/1.1\r\n\r\n"), Status::kDone);
  EXPECT_EQ(a.Request().method, "GET");
  EXPECT_EQ(a.Request().target, "/a b?x=1");
  EXPECT_EQ(a.Request().version, "HTTP/1.1");
  EXPECT_EQ(a.Request().document, "/a b");

  HttpRequestReader b;
  ASSERT_EQ(b.Feed("FETCH HTTP/1.1\r\n\r\n"), Status::kDone);
  EXPECT_EQ(b.Request().command, CommandType::kUnknown);
  EXPECT_EQ(b.Request().target, "");

  for (const char* line : {"GET\r\n", "\r\n", "\n"}) {
    HttpRequestReader c;
    EXPECT_EQ(c.Feed(line), Status::kDropped) << line;
  }
}

TEST(HttpRequestReader, BodyFollowsTheLengthAndOnlyPostReadsToClose) {
  HttpRequestReader get;  // GET without a length has no body
  ASSERT_EQ(get.Feed("GET / HTTP/1.1\r\n\r\nGET /second HTTP/1.1\r\n\r\n"), Status::kDone);
  EXPECT_EQ(get.Request().body, "");
  EXPECT_TRUE(get.HasExtraBytes());

  HttpRequestReader zero;  // a POST that says 0 has no body and does not wait
  EXPECT_EQ(zero.Feed("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), Status::kDone);

  HttpRequestReader invalid;  // an invalid length counts as none: a POST reads to close
  EXPECT_EQ(invalid.Feed("POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\nab"), Status::kNeedMore);
  EXPECT_EQ(invalid.Finish(), Status::kDone);
  EXPECT_EQ(invalid.Request().body, "ab");
  EXPECT_FALSE(invalid.Request().contentLength.has_value());

  HttpRequestReader exact;
  EXPECT_EQ(exact.Feed("PUT / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcdef"), Status::kDone);
  EXPECT_EQ(exact.Request().body, "abc");
  EXPECT_TRUE(exact.HasExtraBytes());

  HttpRequestReader cut;  // closed before the body is whole
  EXPECT_EQ(cut.Feed("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc"), Status::kNeedMore);
  EXPECT_EQ(cut.Finish(), Status::kDropped);

  HttpRequestReader early;  // closed within the headers
  early.Feed("GET / HTTP/1.1\r\nHost: x");
  EXPECT_EQ(early.Finish(), Status::kDropped);
}

TEST(HttpRequestReader, OversizeHeadOrBodyIsTooLarge) {
  const std::size_t head = HttpRequestReader::kMaxHeadBytes;
  HttpRequestReader line;  // a request line without end, over the limit
  EXPECT_EQ(line.Feed("GET /" + std::string(head, 'a')), Status::kTooLarge);

  HttpRequestReader headers;
  std::string many = "GET / HTTP/1.1\r\n";
  while (many.size() < head + 100) many += "X-A: b\r\n";
  EXPECT_EQ(headers.Feed(many + "\r\n"), Status::kTooLarge);

  HttpRequestReader fits;  // just within the limit
  std::string some = "GET / HTTP/1.1\r\nX: " + std::string(head - 200, 'v') + "\r\n\r\n";
  EXPECT_EQ(fits.Feed(some), Status::kDone);

  HttpRequestReader declared;  // refused before any body byte arrives
  EXPECT_EQ(declared.Feed("POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n"), Status::kTooLarge);
  HttpRequestReader largest;
  EXPECT_EQ(largest.Feed("POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n"), Status::kNeedMore);
  EXPECT_EQ(largest.Feed(std::string(1048576, 'x')), Status::kDone);

  HttpRequestReader streamed;  // a POST without length that goes on and on
  streamed.Feed("POST / HTTP/1.1\r\n\r\n");
  Status s = Status::kNeedMore;
  for (int i = 0; i < 20 && s == Status::kNeedMore; ++i) s = streamed.Feed(std::string(64 * 1024, 'x'));
  EXPECT_EQ(s, Status::kTooLarge);
}

TEST(HttpRequestReader, ManyShortHeaderLinesFedByteByByte) {
  // Quadratic buffering would make this crawl; the answer must stay the same.
  std::string bytes = "GET /?page=2 HTTP/1.1\r\n";
  for (int i = 0; i < 3000; ++i) bytes += "A:\r\n";
  bytes += "Host: localhost\r\n\r\n";
  HttpRequestReader reader;
  Status s = Status::kNeedMore;
  for (char c : bytes) s = reader.Feed(std::string_view(&c, 1));
  ASSERT_EQ(s, Status::kDone);
  EXPECT_EQ(reader.Request().headers.size(), 3001u);
  EXPECT_EQ(reader.Request().Header("HOST"), "localhost");
  EXPECT_EQ(reader.Request().Param("page"), "2");
}

}  // namespace
}  // namespace sv
