#include "server/TaskListBuilder.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "Comparer/source/StructStreamer.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "markup/svXMLParser.h"
#include "sync/TaskPath.h"

namespace sv {
namespace {

// One entry of a folder of the client's listing.
struct ClientEntry {
  std::string name;
  bool folder = false;
  const TsvXMLNode* node = nullptr;
  bool matched = false;
};

std::string ChildValue(const TsvXMLNode& node, std::string_view name) {
  const int i = node.IndexOfChild(name, 0);
  return i < 0 ? std::string() : node.Child(i)->Value();
}

// A name that could address something outside its folder is no entry we can act on.
bool UsableName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string::npos;
}

// The client's entries of one folder element, with an index by case-folded name.
class ClientFolder {
 public:
  explicit ClientFolder(const TsvXMLNode* element) {
    if (!element) return;
    for (int i = 0; i < element->ChildCount(); ++i) {
      const TsvXMLNode* child = element->Child(i);
      const bool folder = SameText(child->Name(), "directory");
      if (!folder && !SameText(child->Name(), "file")) continue;
      ClientEntry entry{ChildValue(*child, "name"), folder, child};
      if (!UsableName(entry.name)) continue;
      byName_[LowerCase(entry.name)].push_back(entries_.size());
      entries_.push_back(std::move(entry));
    }
  }

  // The unmatched entry of that kind and name (the same spelling preferred), now
  // matched; nullptr when there is none.
  ClientEntry* Match(const std::string& name, bool folder) {
    auto it = byName_.find(LowerCase(name));
    if (it == byName_.end()) return nullptr;
    ClientEntry* found = nullptr;
    for (std::size_t i : it->second) {
      ClientEntry& e = entries_[i];
      if (e.matched || e.folder != folder) continue;
      if (!found || e.name == name) found = &e;
      if (e.name == name) break;
    }
    if (found) found->matched = true;
    return found;
  }

  const std::vector<ClientEntry>& Entries() const { return entries_; }

 private:
  std::vector<ClientEntry> entries_;
  std::unordered_map<std::string, std::vector<std::size_t>> byName_;
};

// A file parameter item: in double quotes, a double quote inside doubled.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

class TaskWriter {
 public:
  TaskWriter() {
    style_.twentyFourHour = true;  // read by every client, whatever its own locale
    style_.leadingZero = true;
    xml_.SetName("xml");
  }

  void Folder(const char* command, const std::string& path) { Add(command, path); }

  void File(const char* command, const std::string& path, const TBaseFile* source) {
    std::string param = Quoted(path);
    if (source) {
      std::string time;
      TLoader::AppendTimestamp(time, source->Timestamp(), style_);
      param += ',' + Quoted(time);
    }
    Add(command, param);
  }

  TTaskListResult Result() const {
    TTaskListResult result;
    result.tasks = count_;
    if (count_ > 0) result.document = xml_.AsText();
    return result;
  }

 private:
  void Add(const char* command, const std::string& param) {
    auto* task = new TsvXMLNode(&xml_);
    task->SetName("task");
    task->SetValue(command);
    auto* p = new TsvXMLNode(task);
    p->SetName("param");
    p->SetValue(param);
    ++count_;
  }

  TsvXMLNode xml_;
  TimeStyle style_;
  int count_ = 0;
};

// A pair of folders still to compare; `client` is null for a folder the client lacks.
struct Work {
  const TDirectory* server;
  const TsvXMLNode* client;
  std::string path;  // relative path of the folder, "" for the project root
};

class Comparison {
 public:
  Comparison(const TimeStyle& clientStyle, const std::function<void(const std::string&)>& note)
      : clientStyle_(clientStyle), note_(note) {}

  TTaskListResult Run(const TsvXMLNode& listing, const TDirectory& serverRoot) {
    std::vector<Work> stack{{&serverRoot, &listing, ""}};
    while (!stack.empty()) {
      Work work = std::move(stack.back());
      stack.pop_back();
      CompareFolder(work, stack);
    }
    return writer_.Result();
  }

 private:
  // Emits the folder's own tasks and pushes its sub-folders, the first on top.
  void CompareFolder(const Work& work, std::vector<Work>& stack) {
    ClientFolder client(work.client);
    std::vector<std::pair<const TDirectory*, ClientEntry*>> folders;
    for (int i = 0; i < work.server->DirectoryCount(); ++i) {
      const TDirectory* d = work.server->DirectoryAt(i);
      if (Travels(*d, true)) folders.emplace_back(d, client.Match(Trim(d->Name()), true));
    }
    std::vector<std::pair<const TFile*, ClientEntry*>> files;
    for (int i = 0; i < work.server->FileCount(); ++i) {
      const TFile* f = work.server->FileAt(i);
      if (Travels(*f, false)) files.emplace_back(f, client.Match(Trim(f->Name()), false));
    }
    for (const ClientEntry& e : client.Entries()) {
      if (e.matched) continue;
      if (e.folder)
        writer_.Folder("delete_dir", work.path + '\\' + e.name);
      else
        writer_.File("delete_file", work.path + '\\' + e.name, nullptr);
    }
    const std::size_t firstPushed = stack.size();
    for (const auto& [d, match] : folders) {
      const std::string path = work.path + '\\' + PathName(*d, match);
      if (!match) writer_.Folder("insert_dir", path);
      stack.push_back({d, match ? match->node : nullptr, path});
    }
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(firstPushed), stack.end());
    for (const auto& [f, match] : files) {
      const std::string path = work.path + '\\' + PathName(*f, match);
      // A file the client lacks is inserted; one it lists with another time is updated
      // (the client replaces it only once the new content is whole).
      if (!match)
        writer_.File("insert_file", path, f);
      else if (InFileTimeRange(f->Timestamp()) &&
               !SameTime(ChildValue(*match->node, "datemodified"), f->Timestamp()))
        writer_.File("update_file", path, f);
    }
  }

  // The name to address an entry by: the client's spelling when it has the entry under
  // another one, else the server's (with any blanks the listing dropped).
  static std::string PathName(const TBaseFile& server, const ClientEntry* match) {
    if (!match || Trim(server.Name()) == match->name) return server.Name();
    return match->name;
  }

  bool Travels(const TBaseFile& entry, bool folder) {
    const std::string& name = entry.Name();
    // The client's own rule first, so that no task is sent that it would refuse.
    const bool ok = NameMayTravel(name) && !Trim(name).empty() &&
                    !(folder && static_cast<unsigned char>(name.back()) <= 0x20);
    if (!ok && note_) note_(Format(msg::kNameLeftOut, entry.FullPath()));
    return ok;
  }

  bool SameTime(const std::string& listed, TDateTime server) const {
    TDateTime client = 0;
    if (!TLoader::TryParseTimestamp(listed, clientStyle_, client)) return SameOnTwelveHourDial(listed, server);
    return std::llround(client * 86400.0) == std::llround(server * 86400.0);
  }

  // A time listed with designators this server does not know: the same when the date,
  // minutes and seconds agree and the hour agrees on a 12-hour dial. Without this, such
  // a client would fetch every file again at every run.
  static bool SameOnTwelveHourDial(const std::string& listed, TDateTime server) {
    std::vector<int> numbers;
    for (std::size_t i = 0; i < listed.size() && numbers.size() <= 6;) {
      if (listed[i] < '0' || listed[i] > '9') {
        ++i;
        continue;
      }
      int n = 0;
      for (int digits = 0; i < listed.size() && listed[i] >= '0' && listed[i] <= '9'; ++i)
        if (++digits <= 4) n = n * 10 + (listed[i] - '0');
      numbers.push_back(n);
    }
    if (numbers.size() != 6) return false;
    const DateParts d = DecodeDate(server);
    const TimeParts t = DecodeTime(server);
    const int dial = t.hour % 12 == 0 ? 12 : t.hour % 12;
    return numbers[0] == d.year && numbers[1] == d.month && numbers[2] == d.day && numbers[3] == dial &&
           numbers[4] == t.minute && numbers[5] == t.second;
  }

  const TimeStyle& clientStyle_;
  const std::function<void(const std::string&)>& note_;
  TaskWriter writer_;
};

}  // namespace

TTaskListResult BuildTaskList(std::string_view clientListing, const TDirectory& serverRoot,
                              const TimeStyle& clientStyle,
                              const std::function<void(const std::string&)>& note) {
  TsvXMLNode listing;
  listing.Parse(clientListing);
  return Comparison(clientStyle, note).Run(listing, serverRoot);
}

}  // namespace sv
