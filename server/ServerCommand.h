#pragma once
// Reading one request line of a client of the reference server. A pure function, so the
// same rules serve the wire, the tests and the fuzzer.
#include <string>
#include <string_view>
#include <vector>

namespace sv {

enum class TServerRequest { kHello, kSync, kGetFile, kUnknown };

struct TServerCommand {
  TServerRequest request = TServerRequest::kUnknown;
  int project = -1;  // Sync and GetFile: index into the served projects; -1 when unknown
  std::string path;  // GetFile: the relative path as sent (begins with '\')
};

// The keyword is the text before the first blank, compared without regard to case.
// "Sync NAME": the rest of the line is the project name. "GetFile NAME PATH": the name is
// the longest served project name that the rest begins with, followed by one blank; the
// path is everything after that blank. Names travel unquoted and may hold blanks, which
// is why they are matched against the served names. Names compare without regard to case.
TServerCommand ParseServerCommand(std::string_view line, const std::vector<std::string>& projects);

}  // namespace sv
