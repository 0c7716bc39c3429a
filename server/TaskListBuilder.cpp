#include "server/TaskListBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "Comparer/source/StructStreamer.h"
#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "markup/svXMLReader.h"
#include "server/ClientListing.h"
#include "sync/Reply.h"
#include "sync/TaskPath.h"

namespace sv {
namespace {

const char kTaskListTooLong[] = "Task list longer than a frame may be";

// Which of the two kinds of entry a name is looked up as.
enum class EntryKind { File, Folder };

// Order of names without regard to case, the order SameText agrees with.
int CompareFolded(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = LowerCase(static_cast<unsigned char>(a[i]));
    const unsigned char y = LowerCase(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The entries of one client folder, found by name without regard to case. Holds one
// index per entry, sorted by name; entries of one name keep document order.
class ClientFolder {
 public:
  using Index = ClientListing::Index;

  ClientFolder(ClientListing& listing, std::optional<ClientListing::Folder> folder) : listing_(listing) {
    if (!folder) return;
    for (Index i = folder->begin; i < folder->end; i = listing.Next(i)) byName_.push_back(i);
    std::stable_sort(byName_.begin(), byName_.end(),
                     [&listing](Index a, Index b) { return CompareFolded(listing.Name(a), listing.Name(b)) < 0; });
  }

  // The unmatched entry of that kind and name (the same spelling preferred), now
  // matched; none when there is none.
  std::optional<Index> Match(std::string_view name, EntryKind kind) {
    const bool folder = kind == EntryKind::Folder;
    auto first = std::lower_bound(byName_.begin(), byName_.end(), name, [this](Index e, std::string_view n) {
      return CompareFolded(listing_.Name(e), n) < 0;
    });
    std::optional<Index> found;
    for (auto it = first; it != byName_.end() && CompareFolded(listing_.Name(*it), name) == 0; ++it) {
      if (listing_.Matched(*it) || listing_.IsFolder(*it) != folder) continue;
      if (!found || listing_.Name(*it) == name) found = *it;
      if (listing_.Name(*it) == name) break;
    }
    if (found) listing_.SetMatched(*found);
    return found;
  }

 private:
  ClientListing& listing_;
  std::vector<Index> byName_;
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

// Writes the task list document byte for byte as the markup tree would: the top element
// "xml" with one "task" child per task, its value the command and its one "param" child
// the parameter. A document longer than a frame may be could never be sent, so it is
// refused as soon as it grows past that.
class TaskWriter {
 public:
  TaskWriter() {
    style_.twentyFourHour = true;  // read by every client, whatever its own locale
    style_.leadingZero = true;
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

  TTaskListResult Result() {
    TTaskListResult result;
    result.tasks = count_;
    if (count_ > 0) result.document = std::move(document_.append("\r\n</xml>"));
    return result;
  }

 private:
  void Add(const char* command, std::string_view param) {
    if (count_ == 0) document_ = "<xml>";
    document_.append("\r\n<task>").append(command).append("\r\n<param>");
    AppendEscaped(document_, Trim(param));  // a value is trimmed when it is set
    document_.append("</param>\r\n</task>");
    if (document_.size() > static_cast<std::size_t>(kMaxDocumentLength)) throw Exception(kTaskListTooLong);
    ++count_;
  }

  std::string document_;
  TimeStyle style_;
  int count_ = 0;
};

// A pair of folders still to compare; no client folder for a folder the client lacks.
struct Work {
  const TDirectory* server;
  std::optional<ClientListing::Folder> client;
  std::string path;  // relative path of the folder, "" for the project root
};

class Comparison {
 public:
  using Index = ClientListing::Index;

  Comparison(ClientListing& listing, const TimeStyle& clientStyle,
             const std::function<void(const std::string&)>& note)
      : listing_(listing), clientStyle_(clientStyle), note_(note) {}

  TTaskListResult Run(const TDirectory& serverRoot) {
    std::vector<Work> stack{{&serverRoot, listing_.Root(), ""}};
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
    ClientFolder client(listing_, work.client);
    std::vector<std::pair<const TDirectory*, std::optional<Index>>> folders;
    for (int i = 0; i < work.server->DirectoryCount(); ++i) {
      const TDirectory* d = work.server->DirectoryAt(i);
      if (Travels(*d, EntryKind::Folder)) folders.emplace_back(d, client.Match(Trim(d->Name()), EntryKind::Folder));
    }
    std::vector<std::pair<const TFile*, std::optional<Index>>> files;
    for (int i = 0; i < work.server->FileCount(); ++i) {
      const TFile* f = work.server->FileAt(i);
      if (Travels(*f, EntryKind::File)) files.emplace_back(f, client.Match(Trim(f->Name()), EntryKind::File));
    }
    if (work.client) {
      for (Index e = work.client->begin; e < work.client->end; e = listing_.Next(e)) {
        if (listing_.Matched(e)) continue;
        const std::string path = work.path + '\\' + std::string(listing_.Name(e));
        if (listing_.IsFolder(e))
          writer_.Folder("delete_dir", path);
        else
          writer_.File("delete_file", path, nullptr);
      }
    }
    const std::size_t firstPushed = stack.size();
    for (const auto& [d, match] : folders) {
      const std::string path = work.path + '\\' + PathName(*d, match);
      if (!match) writer_.Folder("insert_dir", path);
      stack.push_back({d, match ? std::optional(listing_.Content(*match)) : std::nullopt, path});
    }
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(firstPushed), stack.end());
    for (const auto& [f, match] : files) {
      const std::string path = work.path + '\\' + PathName(*f, match);
      // A file the client lacks is inserted; one it lists with another time is updated
      // (the client replaces it only once the new content is whole).
      if (!match)
        writer_.File("insert_file", path, f);
      else if (InFileTimeRange(f->Timestamp()) && !SameTime(listing_.Time(*match), f->Timestamp()))
        writer_.File("update_file", path, f);
    }
  }

  // The name to address an entry by: the client's spelling when it has the entry under
  // another one, else the server's (with any blanks the listing dropped).
  std::string PathName(const TBaseFile& server, std::optional<Index> match) const {
    if (!match || Trim(server.Name()) == listing_.Name(*match)) return server.Name();
    return std::string(listing_.Name(*match));
  }

  bool Travels(const TBaseFile& entry, EntryKind kind) {
    const bool folder = kind == EntryKind::Folder;
    const std::string& name = entry.Name();
    // The client's own rule first, so that no task is sent that it would refuse.
    const bool ok = NameMayTravel(name) && !Trim(name).empty() &&
                    !(folder && static_cast<unsigned char>(name.back()) <= 0x20);
    if (!ok && note_) note_(Format(msg::kNameLeftOut, entry.FullPath()));
    return ok;
  }

  bool SameTime(std::string_view listed, TDateTime server) const {
    TDateTime client = 0;
    if (!TLoader::TryParseTimestamp(listed, clientStyle_, client)) return SameOnTwelveHourDial(listed, server);
    return std::llround(client * 86400.0) == std::llround(server * 86400.0);
  }

  // A time listed with designators this server does not know: the same when the date,
  // minutes and seconds agree and the hour agrees on a 12-hour dial. Without this, such
  // a client would fetch every file again at every run.
  static bool SameOnTwelveHourDial(std::string_view listed, TDateTime server) {
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

  ClientListing& listing_;
  const TimeStyle& clientStyle_;
  const std::function<void(const std::string&)>& note_;
  TaskWriter writer_;
};

}  // namespace

TTaskListResult BuildTaskList(std::string_view clientListing, const TDirectory& serverRoot,
                              const TimeStyle& clientStyle,
                              const std::function<void(const std::string&)>& note) {
  return BuildTaskList(clientListing, [&serverRoot]() -> const TDirectory& { return serverRoot; }, clientStyle, note);
}

TTaskListResult BuildTaskList(std::string_view clientListing, const std::function<const TDirectory&()>& serverRoot,
                              const TimeStyle& clientStyle,
                              const std::function<void(const std::string&)>& note) {
  ClientListing listing(clientListing);
  return Comparison(listing, clientStyle, note).Run(serverRoot());
}

}  // namespace sv
