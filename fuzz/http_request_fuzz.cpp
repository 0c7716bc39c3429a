// fuzz-link: sv_console
// Reads arbitrary bytes as one console request, whole and again in pieces, and answers it.
// The first byte chooses where the bytes are cut and whether the peer closes after them.
// Reading in pieces must give exactly what reading at once gives; nothing may crash, hang
// or leak whatever a browser or a hostile local program sends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "console/HttpExchange.h"
#include "console/HttpRequestReader.h"

namespace {

using sv::HttpRequestReader;

HttpRequestReader::Status ReadAll(HttpRequestReader& reader, std::string_view bytes, std::size_t piece,
                                  bool close) {
  for (std::size_t at = 0; at < bytes.size(); at += piece) reader.Feed(bytes.substr(at, piece));
  return close ? reader.Finish() : reader.status();
}

bool SameRequest(const sv::ConsoleRequest& a, const sv::ConsoleRequest& b) {
  return a.method == b.method && a.command == b.command && a.target == b.target && a.version == b.version &&
         a.headers == b.headers && a.contentType == b.contentType && a.contentLength == b.contentLength &&
         a.body == b.body && a.document == b.document && a.query == b.query && a.params == b.params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + (data[0] & 0x3F);
  const bool close = data[0] & 0x80;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  HttpRequestReader whole, pieces;
  const auto a = ReadAll(whole, bytes, bytes.size() + 1, close);
  const auto b = ReadAll(pieces, bytes, piece, close);
  if (a != b) std::abort();
  if (a != HttpRequestReader::Status::kDone) return 0;
  if (!SameRequest(whole.Request(), pieces.Request())) std::abort();
  if (whole.Request().body.size() > HttpRequestReader::kMaxBodyBytes) std::abort();

  const sv::ConsoleResponse response =
      sv::Dispatch(whole.Request(), [](const sv::ConsoleRequest& r, sv::ConsoleResponse& out) {
        out.contentText = r.Param("akcija") + r.document;
      });
  sv::SerializeResponse(response, true);
  return 0;
}
