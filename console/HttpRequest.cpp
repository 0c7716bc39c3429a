#include "console/HttpRequest.h"

#include "base/IntText.h"
#include "base/Text.h"

namespace sv {

CommandType ParseCommandType(std::string_view method) {
  static const char* const kMethods[] = {"UNKNOWN", "HEAD", "GET", "POST",
                                         "DELETE", "PUT", "TRACE", "OPTIONS"};
  for (int i = 0; i < 8; ++i) {
    if (SameText(method, kMethods[i])) return static_cast<CommandType>(i);
  }
  return CommandType::kUnknown;
}

std::string ConsoleRequest::Header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (SameText(n, name)) return v;
  }
  return {};
}

bool ConsoleRequest::HasHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (SameText(header.first, name)) return true;
  }
  return false;
}

std::string ConsoleRequest::ParamValue(const std::vector<std::string>& params, std::string_view name) {
  for (const std::string& line : params) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos && SameText(std::string_view(line).substr(0, eq), name))
      return line.substr(eq + 1);
  }
  return {};
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int hi = i + 1 < text.size() ? HexDigitValue(text[i + 1]) : -1;
    const int lo = i + 2 < text.size() ? HexDigitValue(text[i + 2]) : -1;
    if (hi >= 0 && lo >= 0) out += static_cast<char>(hi * 16 + lo);
    i += 2;  // the two bytes after '%' are used or dropped with it
  }
  return out;
}

std::string DecodeDocument(std::string_view path) {
  std::string slashed(path);
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  return PercentDecode(slashed);
}

std::vector<std::string> DecodeParams(std::string_view source) {
  std::vector<std::string> lines;
  if (source.empty()) return lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t amp = source.find('&', start);
    std::string piece(source.substr(start, amp == std::string_view::npos ? amp : amp - start));
    for (char& c : piece) {
      if (c == '+') c = ' ';
    }
    lines.push_back(PercentDecode(piece));
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return lines;
}

std::string ParamSource(std::string_view contentType, std::string_view body, std::string_view query) {
  if (!SameText(contentType, "application/x-www-form-urlencoded")) return std::string(query);
  if (body.empty()) return std::string(query);
  if (query.empty()) return std::string(body);
  std::string source(body);
  source += '&';
  source += query;
  return source;
}

void DecodeTarget(ConsoleRequest& request) {
  const std::size_t mark = request.target.find('?');
  request.document = DecodeDocument(std::string_view(request.target).substr(0, mark));
  request.query = mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
  request.params = DecodeParams(ParamSource(request.contentType, request.body, request.query));
}

}  // namespace sv
