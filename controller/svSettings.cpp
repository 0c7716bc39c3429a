#include "controller/svSettings.h"

#include "base/IntText.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "eventlog/drLogger.h"
#include "markup/svXMLParser.h"
#include "platform/FileSystem.h"
#include "platform/ProgramPaths.h"
#include "platform/UserFile.h"

namespace sv {
namespace {

const char kDefaultProjectName[] = "drumel";

// The value of the first child so named, created empty when missing.
const std::string& ChildValue(TsvXMLNode& parent, std::string_view name) {
  return parent.FindOrAddChild(name, true)->Value();
}

void SetChildValue(TsvXMLNode& parent, std::string_view name, std::string_view value) {
  parent.FindOrAddChild(name, true)->SetValue(value);
}

}  // namespace

SystemPath SettingsFilePath(const SystemPath& programFolder) {
  SystemPath besideProgram = programFolder / "svClient.xml";
  if (!programFolder.empty() && fs::FileExists(besideProgram)) return besideProgram;
  return ConfigFolder() / "drumel/sorvana/svClient.xml";
}

std::string NormaliseLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    out.append(text.substr(start, end - start)).append("\r\n");
    // CR LF is one break; a CR or LF alone is one too.
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return out;
}

void LoadSettings(const SystemPath& programFolder, const std::string& defaultProjectPath,
                  TsvSettings& settings, TdrEventLog& log) {
  log.Add(msg::kLocatingSettings);
  TsvXMLNode root;
  const SystemPath path = SettingsFilePath(programFolder);
  if (fs::FileExists(path)) {
    log.Add(Format(msg::kLoadingSettingsFrom, path.Text()));
    root.Parse(NormaliseLineBreaks(fs::ReadFile(path)));
  }
  LoadConnectionSettings(root, settings, log);
  LoadProjects(root, defaultProjectPath, settings.projects, log);
}

void LoadConnectionSettings(TsvXMLNode& root, TsvSettings& settings, TdrEventLog& log) {
  log.Add(msg::kLoadingConnection);
  TsvXMLNode& server = *root.FindOrAddChild("serversettings", true);
  settings.serverAddress = ChildValue(server, "serveradress");
  const std::string portText = ChildValue(server, "defaultport");
  settings.serverPort = StrToIntDef(portText, kDefaultServerPort);
  // A port whose console port would not be a port could never be reached to mend it.
  if (settings.serverPort < kLowestServerPort || settings.serverPort > kHighestServerPort) {
    log.Add(Format(msg::kBadPort, portText));
    settings.serverPort = kDefaultServerPort;
  }
  settings.pollInterval = StrToIntDef(ChildValue(server, "defaultpollinterval"), kDefaultPollInterval);
}

void LoadProjects(TsvXMLNode& root, const std::string& defaultProjectPath,
                  TsvProjectList& projects, TdrEventLog& log) {
  log.Add(msg::kLoadingProjects);
  projects.Clear();
  TsvXMLNode& list = *root.FindOrAddChild("projects", true);
  for (int i = list.IndexOfChild("project", 0); i != -1; i = list.IndexOfChild("project", i + 1)) {
    TsvXMLNode& element = *list.Child(i);
    std::string name = Trim(ChildValue(element, "name"));
    std::string path = Trim(ChildValue(element, "path"));
    if (name.empty() || path.empty()) continue;
    log.Add(Format(msg::kLoadingProject, name));
    projects.Add() = TsvProject{name, path};
  }
  if (projects.Count() == 0) {
    log.Add(Format(msg::kNoProjects, kDefaultProjectName));
    projects.Add() = TsvProject{kDefaultProjectName, defaultProjectPath};
  }
}

std::string SettingsText(const TsvSettings& settings, TdrEventLog& log) {
  TsvXMLNode root;
  root.SetName("xml");
  log.Add(msg::kSavingConnection);
  TsvXMLNode& server = *root.FindOrAddChild("serversettings", true);
  SetChildValue(server, "serveradress", settings.serverAddress);
  SetChildValue(server, "defaultport", std::to_string(settings.serverPort));
  SetChildValue(server, "defaultpollinterval", std::to_string(settings.pollInterval));
  log.Add(msg::kSavingProjects);
  for (int i = 0; i < settings.projects.Count(); ++i) {
    // Owned by the tree from here on.
    auto* element = new TsvXMLNode(root.FindOrAddChild("projects", true));
    element->SetName("project");
    SetChildValue(*element, "name", settings.projects.Project(i).Name);
    SetChildValue(*element, "path", settings.projects.Project(i).Path);
  }
  return NormaliseLineBreaks(root.AsText());
}

void SaveSettings(const SystemPath& programFolder, const TsvSettings& settings, TdrEventLog& log) {
  log.Add(msg::kSavingSettings);
  std::string text = SettingsText(settings, log);
  const SystemPath path = SettingsFilePath(programFolder);
  // A failure here shows as the file's creation error below.
  fs::ForceFolders(path.Folder());
  fs::RewriteUserFile(path, text);
}

}  // namespace sv
