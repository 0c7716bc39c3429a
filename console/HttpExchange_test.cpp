#include "console/HttpExchange.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/Exception.h"
#include "base/Messages.h"
#include "console/HttpRequestReader.h"

namespace sv {
namespace {

ConsoleRequest Parse(const std::string& bytes) {
  HttpRequestReader reader;
  reader.Feed(bytes);
  EXPECT_EQ(reader.Finish(), HttpRequestReader::Status::kDone) << bytes;
  return reader.Request();
}

TEST(HttpResponse, HeadersInOrderWithLengthOfTextOrStream) {
  ConsoleResponse page;
  page.contentText = "abc";
  EXPECT_EQ(SerializeResponse(page, true),
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
            "Content-Length: 3\r\nServer: Sorvana Client\r\n\r\nabc");
  EXPECT_EQ(SerializeResponse(page, false),
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n"
            "Content-Length: 3\r\nServer: Sorvana Client\r\n\r\n");

  ConsoleResponse stream;  // a stream is sent when there is no text; the text wins over it
  stream.contentStream = std::string_view("\xFF\xD8\0x", 4);
  EXPECT_EQ(SerializeResponse(stream, true).substr(SerializeResponse(stream, false).size()),
            std::string("\xFF\xD8\0x", 4));
  EXPECT_NE(SerializeResponse(stream, true).find("Content-Length: 4\r\n"), std::string::npos);
  stream.contentText = "t";
  EXPECT_EQ(SerializeResponse(stream, true).substr(SerializeResponse(stream, false).size()), "t");
}

TEST(HttpResponse, RedirectHasLocationAndNoLengthNorBody) {
  ConsoleResponse r;
  r.Redirect("/postavke.html");
  EXPECT_EQ(SerializeResponse(r, true),
            "HTTP/1.1 302 Moved Temporarily\r\nConnection: close\r\nContent-Type: text/html\r\n"
            "Location: /postavke.html\r\nServer: Sorvana Client\r\n\r\n");
}

TEST(HttpExchange, HostMustNameThisMachine) {
  for (const char* host : {"localhost", "LOCALHOST:1976", "127.0.0.1", "127.0.0.1:80", "[::1]", "[::1]:1976"}) {
    EXPECT_EQ(RefusalReason(Parse(std::string("GET / HTTP/1.1\r\nHost: ") + host + "\r\n\r\n")), "") << host;
  }
  for (const char* host : {"evil.example", "localhost.evil.example", "127.0.0.1.nip.io", "localhost:",
                           "localhost:abc", "[::1]x", "127.0.0.2", ""}) {
    EXPECT_EQ(RefusalReason(Parse(std::string("GET / HTTP/1.1\r\nHost: ") + host + "\r\n\r\n")),
              msg::kForbiddenHost)
        << host;
  }
  EXPECT_EQ(RefusalReason(Parse("GET / HTTP/1.0\r\n\r\n")), msg::kForbiddenHost);
}

TEST(HttpExchange, PostFromAnotherSiteIsRefused) {
  const std::string post = "POST / HTTP/1.1\r\nHost: localhost:1976\r\nContent-Length: 0\r\n";
  EXPECT_EQ(RefusalReason(Parse(post + "\r\n")), "");  // no Origin: not a browser's cross-site form
  EXPECT_EQ(RefusalReason(Parse(post + "Origin: http://localhost:1976\r\n\r\n")), "");
  EXPECT_EQ(RefusalReason(Parse(post + "Origin: HTTP://LOCALHOST:1976\r\n\r\n")), "");
  for (const char* origin : {"http://evil.example", "null", "http://localhost:8080", "https://localhost:1976",
                             "http://127.0.0.1:1976"}) {
    EXPECT_EQ(RefusalReason(Parse(post + "Origin: " + origin + "\r\n\r\n")), msg::kForbiddenOrigin) << origin;
  }
  // A GET is not held to its Origin.
  EXPECT_EQ(RefusalReason(Parse("GET / HTTP/1.1\r\nHost: localhost\r\nOrigin: null\r\n\r\n")), "");
}

TEST(HttpExchange, OnlyHeadGetAndPostReachTheHandlerAndItsErrorsGive500) {
  int calls = 0;
  RequestHandler count = [&](const ConsoleRequest&, ConsoleResponse& r) {
    ++calls;
    r.contentText = "page";
  };
  for (const char* m : {"PUT", "DELETE", "OPTIONS", "TRACE", "BREW"}) {
    const ConsoleResponse r = Dispatch(Parse(std::string(m) + " / HTTP/1.1\r\nHost: localhost\r\n\r\n"), count);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(SerializeResponse(r, true).find("Content-Length"), std::string::npos) << m;
  }
  EXPECT_EQ(calls, 0);
  for (const char* m : {"HEAD", "get", "POST"}) {
    Dispatch(Parse(std::string(m) + " / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n"), count);
  }
  EXPECT_EQ(calls, 3);

  const ConsoleRequest get = Parse("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
  ConsoleResponse failed = Dispatch(get, [](const ConsoleRequest&, ConsoleResponse& r) {
    r.contentText = "half";
    throw Exception("Resource x not found");
  });
  EXPECT_EQ(failed.code, 500);
  EXPECT_EQ(failed.reason, "Internal Server Error");
  EXPECT_EQ(failed.contentText, "Resource x not found");
  failed = Dispatch(get, [](const ConsoleRequest&, ConsoleResponse&) { throw std::runtime_error("other"); });
  EXPECT_EQ(failed.code, 500);
  EXPECT_EQ(failed.contentText, "other");

  const ConsoleResponse refused = Dispatch(Parse("GET / HTTP/1.1\r\nHost: a.example\r\n\r\n"), count);
  EXPECT_EQ(refused.code, 403);
  EXPECT_EQ(refused.contentText, msg::kForbiddenHost);
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace sv
