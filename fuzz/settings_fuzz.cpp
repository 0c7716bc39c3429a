// fuzz-link: sv_controller
// Reads arbitrary bytes as a settings file, as the client does at start, and writes the
// settings back. Whatever the file holds, the client must come up with a port whose
// console port is a port, at least one project with a name and a path, and a file it
// writes must read back as the same settings. An input of up to 64 KiB must give the
// settings that the markup tree holds for it (the client reads without a tree).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Exception.h"
#include "base/IntText.h"
#include "base/KeyPin.h"
#include "controller/svSettings.h"
#include "eventlog/drLogger.h"
#include "markup/svXMLParser.h"

namespace {

// Loads settings from document text; false when the text is not a document.
bool Load(std::string_view text, sv::TsvSettings& settings, sv::TdrEventLog& log) {
  try {
    sv::ReadSettingsDocument(sv::NormaliseLineBreaks(text), "/home/fuzz/drumel", settings, log);
  } catch (const sv::Exception&) {
    return false;
  }
  return true;
}

// The settings as the markup tree holds them: the first element of each name, every
// project with a name and a path; false for a document that is not well formed.
bool TreeSettings(std::string_view text, sv::TsvSettings& s) {
  sv::TsvXMLNode root;
  try {
    root.Parse(sv::NormaliseLineBreaks(text));
  } catch (const sv::Exception&) {
    return false;
  }
  const auto value = [](sv::TsvXMLNode* parent, std::string_view name) {
    sv::TsvXMLNode* child = parent ? parent->FindOrAddChild(name, false) : nullptr;
    return child ? child->Value() : std::string();
  };
  sv::TsvXMLNode* server = root.FindOrAddChild("serversettings", false);
  s.serverAddress = value(server, "serveradress");
  s.serverPort = sv::StrToIntDef(value(server, "defaultport"), 1974);
  if (s.serverPort < 1 || s.serverPort > 65533) s.serverPort = 1974;
  s.pollInterval = sv::StrToIntDef(value(server, "defaultpollinterval"), 60);
  s.tlsRequired = sv::StrToIntDef(value(server, "tls"), 0) != 0;
  s.tlsPin = sv::ParseKeyPin(value(server, "tlspin")).value_or("");
  sv::TsvXMLNode* list = root.FindOrAddChild("projects", false);
  for (int i = list ? list->IndexOfChild("project", 0) : -1; i >= 0; i = list->IndexOfChild("project", i + 1)) {
    std::string name = value(list->Child(i), "name"), path = value(list->Child(i), "path");
    if (!name.empty() && !path.empty()) s.projects.Add() = {name, path};
  }
  if (s.projects.Count() == 0) s.projects.Add() = {"drumel", "/home/fuzz/drumel"};
  return true;
}

bool Same(const sv::TsvSettings& a, const sv::TsvSettings& b) {
  if (a.serverAddress != b.serverAddress || a.serverPort != b.serverPort ||
      a.pollInterval != b.pollInterval || a.tlsRequired != b.tlsRequired || a.tlsPin != b.tlsPin ||
      a.projects.Count() != b.projects.Count())
    return false;
  for (int i = 0; i < a.projects.Count(); ++i)
    if (a.projects.Project(i).Name != b.projects.Project(i).Name ||
        a.projects.Project(i).Path != b.projects.Project(i).Path)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sv::TdrEventLog log;
  sv::TsvSettings loaded, expected;
  const bool read = Load(text, loaded, log);
  if (size <= 64 * 1024 && (TreeSettings(text, expected) != read || (read && !Same(loaded, expected)))) std::abort();
  if (!read) return 0;
  if (loaded.serverPort < 1 || loaded.serverPort > 65533) std::abort();
  if (loaded.projects.Count() < 1) std::abort();
  for (int i = 0; i < loaded.projects.Count(); ++i)
    if (loaded.projects.Project(i).Name.empty() || loaded.projects.Project(i).Path.empty()) std::abort();

  sv::TsvSettings again;
  if (!Load(sv::SettingsText(loaded, log), again, log) || !Same(loaded, again)) std::abort();
  return 0;
}
