#include "server/ServerCommand.h"

#include "base/Text.h"
#include "sync/uServerCommands.h"

namespace sv {
namespace {

// The project whose name is the whole text; -1 when none.
int WholeName(std::string_view text, const std::vector<std::string>& projects) {
  for (std::size_t i = 0; i < projects.size(); ++i)
    if (SameText(projects[i], text)) return static_cast<int>(i);
  return -1;
}

// The longest project name that text begins with, followed by a blank; -1 when none.
int LeadingName(std::string_view text, const std::vector<std::string>& projects) {
  int best = -1;
  for (std::size_t i = 0; i < projects.size(); ++i) {
    const std::string& name = projects[i];
    if (text.size() <= name.size() || text[name.size()] != ' ') continue;
    if (!SameText(text.substr(0, name.size()), name)) continue;
    if (best < 0 || name.size() > projects[static_cast<std::size_t>(best)].size()) best = static_cast<int>(i);
  }
  return best;
}

}  // namespace

TServerCommand ParseServerCommand(std::string_view line, const std::vector<std::string>& projects) {
  TServerCommand command;
  const std::size_t blank = line.find(' ');
  const std::string_view word = line.substr(0, blank);
  const std::string_view rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
  if (SameText(word, kProtocolWords[pwHello])) {
    command.request = TServerRequest::kHello;
  } else if (SameText(word, kProtocolWords[pwSync])) {
    command.request = TServerRequest::kSync;
    command.project = WholeName(rest, projects);
  } else if (SameText(word, kProtocolWords[pwGetFile])) {
    command.request = TServerRequest::kGetFile;
    command.project = LeadingName(rest, projects);
    if (command.project >= 0) command.path = rest.substr(projects[static_cast<std::size_t>(command.project)].size() + 1);
  }
  return command;
}

}  // namespace sv
