// fuzz-link: sv_console
// Decodes arbitrary bytes as a console target and as form fields. Decoding may drop bad
// escapes but never grows the text, and what the pages percent-encode into their links
// comes back unchanged through the decoder, whatever bytes the value holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/HttpRequest.h"
#include "eventlog/PageTemplate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (sv::PercentDecode(text).size() > text.size()) std::abort();
  if (sv::DecodeDocument(text).size() > text.size()) std::abort();

  sv::ConsoleRequest request;
  request.target = "/eventlog.html?" + text;
  request.contentType = "application/x-www-form-urlencoded";
  request.body = text;
  sv::DecodeTarget(request);
  if (request.document != "/eventlog.html") std::abort();
  request.Param("filter");

  // A filter taken from a link the page wrote is the filter the user typed.
  const auto lines = sv::DecodeParams("page=1&filter=" + sv::PercentEncode(text));
  if (sv::ConsoleRequest::ParamValue(lines, "filter") != text) std::abort();
  return 0;
}
