#include "console/HttpResponse.h"

namespace sv {
namespace {

constexpr std::string_view kServerName = "Sorvana Client";

std::optional<std::uint64_t> BodyLength(const ConsoleResponse& r) {
  if (r.contentLength) return r.contentLength;
  if (!r.contentText.empty()) return r.contentText.size();
  if (r.contentStream) return r.contentStream->size();
  return std::nullopt;
}

void AddHeader(std::string& out, std::string_view name, std::string_view value) {
  out.append(name).append(": ").append(value).append("\r\n");
}

}  // namespace

void ConsoleResponse::Redirect(std::string path) {
  code = 302;
  reason = "Moved Temporarily";
  location = std::move(path);
}

std::string SerializeResponse(const ConsoleResponse& r, bool withBody) {
  std::string out = "HTTP/1.1 " + std::to_string(r.code) + " " + r.reason + "\r\n";
  AddHeader(out, "Connection", "close");
  AddHeader(out, "Content-Type", r.contentType);
  if (auto length = BodyLength(r)) AddHeader(out, "Content-Length", std::to_string(*length));
  if (!r.location.empty()) AddHeader(out, "Location", r.location);
  if (!r.setCookie.empty()) AddHeader(out, "Set-Cookie", r.setCookie);
  AddHeader(out, "Server", kServerName);
  // A page of another site must not lay the console under its own, where real clicks
  // meant for it would press the console's buttons.
  AddHeader(out, "X-Frame-Options", "DENY");
  AddHeader(out, "Content-Security-Policy", "frame-ancestors 'none'");
  out += "\r\n";
  if (!withBody) return out;
  if (!r.contentText.empty()) {
    out += r.contentText;
  } else if (r.contentStream) {
    out.append(*r.contentStream);
  }
  return out;
}

ConsoleResponse TextResponse(int code, std::string reason, std::string text) {
  ConsoleResponse r;
  r.code = code;
  r.reason = std::move(reason);
  r.contentText = std::move(text);
  return r;
}

}  // namespace sv
