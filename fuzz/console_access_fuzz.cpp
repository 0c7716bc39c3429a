// fuzz-link: sv_console
// Reads arbitrary bytes as one console request and puts it before the key check. Nothing
// may crash, hang or leak, and no request may reach the console's pages without the key:
// only a GET or HEAD of the style sheet or an image passes without it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/ConsoleAccess.h"
#include "console/ConsoleRouter.h"
#include "console/HttpRequestReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sv::HttpRequestReader reader;
  reader.Feed(std::string_view(reinterpret_cast<const char*>(data), size));
  if (reader.Finish() != sv::HttpRequestReader::Status::kDone) return 0;
  const sv::ConsoleRequest& request = reader.Request();
  // The key of the seeds, so that the fuzzer can reach the accepting paths.
  static const std::string kKey(64, 'a');
  bool reached = false;
  const sv::RequestHandler guarded =
      sv::RequireKey(kKey, [&reached](const sv::ConsoleRequest&, sv::ConsoleResponse&) { reached = true; });
  sv::ConsoleResponse response;
  guarded(request, response);
  const bool open = (request.command == sv::CommandType::kGet || request.command == sv::CommandType::kHead) &&
                    sv::IsPublicDocument(request.document);
  if (reached && !open && !sv::CarriesKey(request, kKey)) std::abort();
  sv::SerializeResponse(response, true);
  return 0;
}
