#pragma once
// What the console's handlers read of one HTTP request, and the decoding rules that
// produce it from the bytes on the wire. Nothing here touches a socket.
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sv {

// The request method, matched without regard to case; a method matching none is kUnknown.
enum class CommandType { kUnknown = 0, kHead, kGet, kPost, kDelete, kPut, kTrace, kOptions };
CommandType ParseCommandType(std::string_view method);

struct ConsoleRequest {
  std::string method;        // as sent
  CommandType command = CommandType::kUnknown;
  std::string target;        // the request target as sent
  std::string version;       // the protocol version as sent
  std::vector<std::pair<std::string, std::string>> headers;  // name, trimmed value; in order
  std::string contentType;   // the whole "Content-Type" value
  std::optional<std::uint64_t> contentLength;  // a valid "Content-Length", else none
  std::string body;
  std::string document;      // the target up to its first '?', '\' as '/', percent-decoded
  std::string query;         // the target after its first '?', as sent
  std::vector<std::string> params;  // decoded "name=value" lines, form fields first
  // Set by the listener: the port the request arrived at (0: not known), and a token
  // that is stopped when the listener stops or drops the connection, so that a long
  // handler can give up.
  std::uint16_t localPort = 0;
  std::stop_token stop;

  // The value of the first header of that name (any case); empty text when none.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  // The value of the first parameter of that name (any case); empty text when none.
  std::string Param(std::string_view name) const { return ParamValue(params, name); }

  static std::string ParamValue(const std::vector<std::string>& params, std::string_view name);
};

// Decodes every '%' followed by two hexadecimal digits into that byte; a '%' without two
// hexadecimal digits after it is dropped together with (at most) the two bytes after it.
// '+' stays '+'.
std::string PercentDecode(std::string_view text);
// The document of a target's path part: backslashes become slashes, then percent-decoded.
std::string DecodeDocument(std::string_view path);
// The parameter lines of a source: split at every '&', in each piece '+' becomes a blank,
// then percent-decoded. An empty source gives no lines.
std::vector<std::string> DecodeParams(std::string_view source);
// Where the parameters come from: with the content type exactly
// "application/x-www-form-urlencoded" (any case, no parameters), the body, '&' and the
// query (only the non-empty one when the other is empty); otherwise the query alone.
std::string ParamSource(std::string_view contentType, std::string_view body, std::string_view query);

// Fills document, query and params from target, content type and body.
void DecodeTarget(ConsoleRequest& request);

}  // namespace sv
