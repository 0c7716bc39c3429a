// fuzz-link: sv_controller
// Reads arbitrary bytes as a settings file, as the client does at start, and writes the
// settings back. Whatever the file holds, the client must come up with a port whose
// console port is a port, at least one project with a name and a path, and a file it
// writes must read back as the same settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/Exception.h"
#include "controller/svSettings.h"
#include "eventlog/drLogger.h"
#include "markup/svXMLParser.h"

namespace {

// Loads settings from document text; false when the text is not a document.
bool Load(std::string_view text, sv::TsvSettings& settings, sv::TdrEventLog& log) {
  sv::TsvXMLNode root;
  try {
    root.Parse(sv::NormaliseLineBreaks(text));
  } catch (const sv::Exception&) {
    return false;
  }
  sv::LoadConnectionSettings(root, settings, log);
  sv::LoadProjects(root, "/home/fuzz/drumel", settings.projects, log);
  return true;
}

bool Same(const sv::TsvSettings& a, const sv::TsvSettings& b) {
  if (a.serverAddress != b.serverAddress || a.serverPort != b.serverPort ||
      a.pollInterval != b.pollInterval || a.projects.Count() != b.projects.Count())
    return false;
  for (int i = 0; i < a.projects.Count(); ++i)
    if (a.projects.Project(i).Name != b.projects.Project(i).Name ||
        a.projects.Project(i).Path != b.projects.Project(i).Path)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sv::TdrEventLog log;
  sv::TsvSettings loaded;
  if (!Load(std::string_view(reinterpret_cast<const char*>(data), size), loaded, log)) return 0;
  if (loaded.serverPort < 1 || loaded.serverPort > 65533) std::abort();
  if (loaded.projects.Count() < 1) std::abort();
  for (int i = 0; i < loaded.projects.Count(); ++i)
    if (loaded.projects.Project(i).Name.empty() || loaded.projects.Project(i).Path.empty()) std::abort();

  sv::TsvSettings again;
  if (!Load(sv::SettingsText(loaded, log), again, log) || !Same(loaded, again)) std::abort();
  return 0;
}
