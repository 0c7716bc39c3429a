#pragma once
// What the console's handlers fill for one request, and its form on the wire.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sv {

struct ConsoleResponse {
  int code = 200;
  std::string reason = "OK";
  std::string contentType = "text/html";
  std::optional<std::uint64_t> contentLength;  // computed at sending when not set
  std::string contentText;                     // wins over the stream when both are set
  // Bytes sent when there is no content text; they must outlive the response (the
  // embedded resources do).
  std::optional<std::string_view> contentStream;
  std::string location;                        // sent as "Location" when not empty
  std::string setCookie;                       // sent as "Set-Cookie" when not empty
  bool closeConnection = true;                 // always: one request per connection

  // Status 302 "Moved Temporarily" with the location set to path; no body.
  void Redirect(std::string path);
};

// The status line, the headers (Connection, Content-Type, Content-Length when known,
// Location and Set-Cookie when set, Server, and on every answer the two that forbid any
// page to show it in a frame: X-Frame-Options and the frame-ancestors policy) and, when withBody, the body: the content text, or else the
// stream. The length, when not set, is that of the text, or else of the stream.
std::string SerializeResponse(const ConsoleResponse& response, bool withBody);

// A response of a status and a body text: a failed request's message (500), or a page.
ConsoleResponse TextResponse(int code, std::string reason, std::string text);

}  // namespace sv
