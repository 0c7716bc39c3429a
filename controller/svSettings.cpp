#include "controller/svSettings.h"

#include "base/IntText.h"
#include "base/KeyPin.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "eventlog/drLogger.h"
#include "markup/svXMLParser.h"
#include "markup/svXMLReader.h"
#include "platform/FileSystem.h"
#include "platform/ProgramPaths.h"
#include "platform/UserFile.h"

namespace sv {
namespace {

const char kDefaultProjectName[] = "drumel";

void SetChildValue(TsvXMLNode& parent, std::string_view name, std::string_view value) {
  parent.FindOrAddChild(name, true)->SetValue(value);
}

// Reads a settings document keeping only what the settings take from it: the first
// "serversettings" child of the top element with the first child of each of its names, and every "project" child of the first "projects" child with the first "name"
// and "path" of each. What it keeps is what the settings hold afterwards.
class SettingsReader : public TsvXMLHandler {
 public:
  void StartElement(std::string_view name, bool top) override {
    depth_ = top ? 1 : depth_ + 1;
    if (depth_ == 2) {
      section_ = Section::kOther;
      if (FirstOf(name, "serversettings", seenServer_)) section_ = Section::kServer;
      if (FirstOf(name, "projects", seenProjects_)) section_ = Section::kProjects;
    } else if (depth_ == 3 && section_ == Section::kServer) {
      for (Field& f : fields_)
        if (FirstOf(name, f.name, f.seen)) Capture(f.value);
    } else if (depth_ == 3 && section_ == Section::kProjects && SameText(name, "project")) {
      inProject_ = true;
      project_ = TsvProject{};
      seenName_ = seenPath_ = false;
    } else if (depth_ == 4 && inProject_) {
      if (FirstOf(name, "name", seenName_)) Capture(project_.Name);
      if (FirstOf(name, "path", seenPath_)) Capture(project_.Path);
    }
  }

  void EndElement() override {
    if (value_ && depth_ == valueDepth_) value_ = nullptr;
    if (depth_ == 3) EndProject();
    if (depth_ == 2) section_ = Section::kOther;
    --depth_;
  }

  void Text(std::string_view raw) override {
    if (value_ && depth_ == valueDepth_) AppendValueText(*value_, 0, raw);
  }

  // Elements left open at the end of the document count as they stand.
  void EndDocument() { EndProject(); }

  const std::string& ServerValue(int field) const { return fields_[field].value; }
  TsvProjectList& Projects() { return projects_; }

 private:
  enum class Section { kOther, kServer, kProjects };
  struct Field {
    const char* name;
    std::string value;
    bool seen = false;
  };

  // True for the first element of that name; it is then seen.
  static bool FirstOf(std::string_view name, std::string_view wanted, bool& seen) {
    if (seen || !SameText(name, wanted)) return false;
    seen = true;
    return true;
  }
  void Capture(std::string& value) {
    value_ = &value;
    valueDepth_ = depth_;
  }
  // A project without a name or a path is skipped.
  void EndProject() {
    if (!inProject_) return;
    inProject_ = false;
    // Values come trimmed.
    if (!project_.Name.empty() && !project_.Path.empty()) projects_.Add() = std::move(project_);
  }

  std::size_t depth_ = 0;  // of the current element; the top element is 1
  Section section_ = Section::kOther;
  bool seenServer_ = false, seenProjects_ = false;
  Field fields_[9] = {{"serveradress", {}}, {"defaultport", {}},    {"defaultpollinterval", {}},
                      {"usetrash", {}},     {"maxdeletecount", {}}, {"maxdeletepercent", {}},
                      {"notices", {}},      {"tls", {}},            {"tlspin", {}}};
  bool inProject_ = false, seenName_ = false, seenPath_ = false;
  TsvProject project_;
  TsvProjectList projects_;
  std::string* value_ = nullptr;  // the value being read, of the element at valueDepth_
  std::size_t valueDepth_ = 0;
};

// A limit of the mass-deletion guard: a number of 0 or more, else the default (a limit
// mistyped must not turn the guard off).
std::int32_t Limit(const std::string& text, std::int32_t byDefault) {
  const std::int32_t value = StrToIntDef(text, byDefault);
  return value < 0 ? byDefault : value;
}

// The pin of the file's text, or none: a text that is no pin is logged and ignored, so
// the certificate is verified against the trust store rather than a pin half-read.
std::string ReadKeyPin(const std::string& text, TdrEventLog& log) {
  if (Trim(text).empty()) return std::string();
  std::optional<std::string> pin = ParseKeyPin(text);
  if (!pin) log.Add(Format(msg::kBadKeyPin, text));
  return pin.value_or(std::string());
}

// Calls `line` with each line of the text, without its end (CR LF, LF or CR); the last
// line may lack its end, and an empty text has no line.
template <typename Line>
void ForEachLine(std::string_view text, Line line) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    line(text.substr(start, end - start));
    // CR LF is one break; a CR or LF alone is one too.
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

}  // namespace

SystemPath SettingsFilePath(const SystemPath& programFolder) {
  SystemPath besideProgram = programFolder / "svClient.xml";
  if (!programFolder.empty() && fs::FileExists(besideProgram)) return besideProgram;
  return ConfigFolder() / "drumel/sorvana/svClient.xml";
}

std::string NormaliseLineBreaks(std::string_view text) {
  // Sized exactly first: a file of nothing but line feeds doubles, and growing by halves
  // would hold three times that for a moment.
  std::size_t size = 0;
  ForEachLine(text, [&size](std::string_view line) { size += line.size() + 2; });
  std::string out;
  out.reserve(size);
  ForEachLine(text, [&out](std::string_view line) { out.append(line).append("\r\n"); });
  return out;
}

void LoadSettings(const SystemPath& programFolder, const std::string& defaultProjectPath,
                  TsvSettings& settings, TdrEventLog& log) {
  log.Add(msg::kLocatingSettings);
  const SystemPath path = SettingsFilePath(programFolder);
  std::string document;
  if (fs::FileExists(path)) {
    log.Add(Format(msg::kLoadingSettingsFrom, path.Text()));
    document = NormaliseLineBreaks(fs::ReadFile(path));
  }
  ReadSettingsDocument(document, defaultProjectPath, settings, log);
}

void ReadSettingsDocument(std::string_view document, const std::string& defaultProjectPath,
                          TsvSettings& settings, TdrEventLog& log) {
  SettingsReader reader;
  ReadMarkup(document, reader);
  reader.EndDocument();

  log.Add(msg::kLoadingConnection);
  settings.serverAddress = reader.ServerValue(0);
  const std::string& portText = reader.ServerValue(1);
  settings.serverPort = StrToIntDef(portText, kDefaultServerPort);
  // A port whose console port would not be a port could never be reached to mend it.
  if (settings.serverPort < kLowestServerPort || settings.serverPort > kHighestServerPort) {
    log.Add(Format(msg::kBadPort, portText));
    settings.serverPort = kDefaultServerPort;
  }
  settings.pollInterval = StrToIntDef(reader.ServerValue(2), kDefaultPollInterval);
  settings.useTrash = StrToIntDef(reader.ServerValue(3), 1) != 0;
  settings.removalLimit = Limit(reader.ServerValue(4), kDefaultRemovalLimit);
  settings.removalPercent = Limit(reader.ServerValue(5), kDefaultRemovalPercent);
  settings.notices = StrToIntDef(reader.ServerValue(6), 1) != 0;
  settings.tlsRequired = StrToIntDef(reader.ServerValue(7), 0) != 0;
  settings.tlsPin = ReadKeyPin(reader.ServerValue(8), log);

  log.Add(msg::kLoadingProjects);
  TsvProjectList& projects = reader.Projects();
  for (int i = 0; i < projects.Count(); ++i) log.Add(Format(msg::kLoadingProject, projects.Project(i).Name));
  if (projects.Count() == 0) {
    log.Add(Format(msg::kNoProjects, kDefaultProjectName));
    projects.Add() = TsvProject{kDefaultProjectName, defaultProjectPath};
  }
  settings.projects = std::move(projects);
}

std::string SettingsText(const TsvSettings& settings, TdrEventLog& log) {
  TsvXMLNode root;
  root.SetName("xml");
  log.Add(msg::kSavingConnection);
  TsvXMLNode& server = *root.FindOrAddChild("serversettings", true);
  SetChildValue(server, "serveradress", settings.serverAddress);
  SetChildValue(server, "defaultport", std::to_string(settings.serverPort));
  SetChildValue(server, "defaultpollinterval", std::to_string(settings.pollInterval));
  // Written only when changed, so a file saved without changing them stays as it was.
  if (!settings.useTrash) SetChildValue(server, "usetrash", "0");
  if (settings.removalLimit != kDefaultRemovalLimit)
    SetChildValue(server, "maxdeletecount", std::to_string(settings.removalLimit));
  if (settings.removalPercent != kDefaultRemovalPercent)
    SetChildValue(server, "maxdeletepercent", std::to_string(settings.removalPercent));
  if (!settings.notices) SetChildValue(server, "notices", "0");
  if (settings.tlsRequired) SetChildValue(server, "tls", "1");
  if (!settings.tlsPin.empty()) SetChildValue(server, "tlspin", settings.tlsPin);
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
