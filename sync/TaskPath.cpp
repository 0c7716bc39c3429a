#include "sync/TaskPath.h"

#include <map>
#include <set>
#include <unordered_map>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"

namespace sv {

// Folded name -> the one local name of that fold, or "" when several share it.
using FoldedNames = std::unordered_map<std::string, std::string>;

// Ordered, so that what lay below a removed folder is one range.
struct TScopedNameCache::Names {
  // Keyed by the folder's path as matching forms it: root + matched path + '\'.
  std::map<std::string, FoldedNames> folders;
  // Links on the way found not to lead to the root or above it.
  std::set<std::string> harmlessLinks;
  // Entries on the way found to be folders, not links: each is looked at once, not once
  // for every file below it.
  std::set<std::string> plainFolders;
};

namespace {

thread_local TScopedNameCache::Names* tNames = nullptr;

bool IsDriveName(std::string_view name) {
  const unsigned char first = name.empty() ? 0 : static_cast<unsigned char>(name[0]);
  return name.size() >= 2 && name[1] == ':' && (first | 0x20) >= 'a' && (first | 0x20) <= 'z';
}

void AddName(FoldedNames& names, const std::string& name) {
  auto [it, added] = names.emplace(LowerCase(name), name);
  if (!added && it->second != name) it->second.clear();
}

// Only names the listing carries: the server knows no others to ask for.
FoldedNames ReadNames(const std::string& folder) {
  FoldedNames names;
  fs::ForEachEntry(folder, [&names](const fs::DirEntry& e) {
    if (e.nameIsExact) AddName(names, e.name);
  });
  return names;
}

// With the folder's names read already: whether no local entry matches `name` in any
// case, so that looking for it as spelt would fail.
bool KnownAbsent(const std::string& folder, std::string_view name) {
  if (!tNames) return false;
  const auto it = tNames->folders.find(folder);
  return it != tNames->folders.end() && it->second.find(LowerCase(name)) == it->second.end();
}

// The one name in the folder that matches `name` without regard to case; "" when none
// or several do.
std::string UniqueMatch(const std::string& folder, std::string_view name) {
  FoldedNames read;
  const FoldedNames* names = &read;
  if (tNames) {
    auto [it, fresh] = tNames->folders.try_emplace(folder);
    if (fresh) it->second = ReadNames(folder);
    names = &it->second;
  } else {
    read = ReadNames(folder);
  }
  const auto it = names->find(LowerCase(name));
  return it == names->end() ? std::string() : it->second;
}

// Whether the link at `link` leads to the root or to a folder above it.
bool LeadsUpward(const std::string& root, const std::string& link) {
  if (tNames && tNames->harmlessLinks.count(link)) return false;
  const bool upward = fs::LiesWithin(root, link);
  if (!upward && tNames) tNames->harmlessLinks.insert(link);
  return upward;
}

// The kind of an entry with names below it, looked up once while its folders are known.
fs::EntryKind KindOnTheWay(const std::string& entry) {
  if (tNames && tNames->plainFolders.count(entry)) return fs::EntryKind::kFolder;
  const fs::EntryKind kind = fs::KindOf(entry);
  if (kind == fs::EntryKind::kFolder && tNames) tNames->plainFolders.insert(entry);
  return kind;
}

const std::string& KeyOf(const std::string& key) { return key; }
template <typename Value>
const std::string& KeyOf(const std::pair<const std::string, Value>& entry) {
  return entry.first;
}

// Forgets what was known of `path` and below it.
template <typename Ordered>
void ForgetBelow(Ordered& known, const std::string& path) {
  known.erase(path);
  const std::string prefix = path + '\\';
  const auto first = known.lower_bound(prefix);
  auto last = first;
  while (last != known.end() && KeyOf(*last).compare(0, prefix.size(), prefix) == 0) ++last;
  known.erase(first, last);
}

}  // namespace

bool NameMayTravel(std::string_view name) {
  return name != ".." && !(fs::HasDriveLetters() && IsDriveName(name));
}

std::string CheckTaskPath(const std::string& root, std::string_view path, bool rootAllowed) {
  path = path.substr(0, path.find('\0'));  // where the system stops reading
  bool allowed = root.find('\0') == std::string::npos && (path.empty() ? rootAllowed : path[0] == '\\');
  std::string plain;
  for (std::size_t start = 0; allowed && start < path.size();) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view name = path.substr(start, end - start);
    if (!name.empty() && name != ".") {
      allowed = NameMayTravel(name);
      plain += '\\';
      plain += name;
    }
    start = end + 1;
  }
  if (allowed && (rootAllowed || !plain.empty())) return plain;
  throw Exception(Format(msg::kForbiddenPath, root + std::string(path)));
}

std::string MatchLocalNames(const std::string& root, const std::string& path, bool* throughLink, bool* isNew) {
  if (throughLink) *throughLink = false;
  if (isNew) *isNew = false;
  std::string out;
  for (std::size_t start = 1; start < path.size();) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view name(path.data() + start, end - start);
    const bool last = end == path.size();
    const std::string folder = root + out + '\\';
    // A name the folder's cached names lack is new: no need to look for it on the disk.
    const bool absent = KnownAbsent(folder, name);
    fs::EntryKind kind = fs::EntryKind::kNone;
    if (!absent) {
      const std::string entry = folder + std::string(name);
      kind = last ? fs::KindOf(entry) : KindOnTheWay(entry);
    }
    out += '\\';
    if (kind != fs::EntryKind::kNone) {
      out += name;
    } else {
      const std::string match = absent ? std::string() : UniqueMatch(folder, name);
      if (match.empty()) {  // new from here on: the task's spelling
        if (isNew) *isNew = true;
        return out + path.substr(start);
      }
      out += match;
      if (!last || throughLink) kind = fs::KindOf(root + out);
    }
    if (kind == fs::EntryKind::kLink) {
      if (throughLink) *throughLink = true;
      if (!last && LeadsUpward(root, root + out)) throw Exception(Format(msg::kForbiddenPath, root + path));
    }
    start = end + 1;
  }
  return out;
}

void NoteLocalChange(const std::string& root, const std::string& path, bool present) {
  if (!tNames) return;
  const std::size_t cut = path.rfind('\\') + 1;
  const auto folder = tNames->folders.find(root + path.substr(0, cut));
  const std::string name = path.substr(cut);
  if (present) {
    if (folder != tNames->folders.end()) AddName(folder->second, name);
    return;
  }
  if (folder != tNames->folders.end()) {
    const auto it = folder->second.find(LowerCase(name));
    if (it != folder->second.end() && it->second == name) folder->second.erase(it);
  }
  // What was known below a removed folder is gone with it.
  ForgetBelow(tNames->folders, root + path);
  ForgetBelow(tNames->harmlessLinks, root + path);
  ForgetBelow(tNames->plainFolders, root + path);
}

TScopedNameCache::TScopedNameCache() : names_(std::make_unique<Names>()), previous_(tNames) {
  tNames = names_.get();
}

TScopedNameCache::~TScopedNameCache() { tNames = previous_; }

}  // namespace sv
