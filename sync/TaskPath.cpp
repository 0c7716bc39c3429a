#include "sync/TaskPath.h"

#include <map>
#include <unordered_map>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"

namespace sv {

// Folded name -> the one local name of that fold, or "" when several share it.
using FoldedNames = std::unordered_map<std::string, std::string>;

// Only the names, for matching without regard to case: what an entry is (a folder, a
// link and where it leads) is looked at on the disk for every path, because an earlier
// task may have changed it (a folder made can turn a dangling link into one that leads
// upward) and an entry the names leave out may still be there.
// Ordered, so that what lay below a removed folder is one range.
struct TScopedNameCache::Names {
  // Keyed by the folder's path as matching forms it: root + matched path + '\'.
  std::map<std::string, FoldedNames> folders;
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

// With the folder's names read already: whether none of them matches `name` in any case,
// so that reading the folder again would find no other spelling.
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

// Forgets the names of `path` and of every folder below it.
void ForgetBelow(std::map<std::string, FoldedNames>& known, const std::string& path) {
  known.erase(path);
  const std::string prefix = path + '\\';
  const auto first = known.lower_bound(prefix);
  auto last = first;
  while (last != known.end() && last->first.compare(0, prefix.size(), prefix) == 0) ++last;
  known.erase(first, last);
}

}  // namespace

bool NameMayTravel(std::string_view name) {
  return name != ".." && name.find_first_of("\r\n") == std::string_view::npos &&
         !(fs::HasDriveLetters() && IsDriveName(name));
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
    // Always looked at as spelt: the names read before may lack this one (a dangling
    // link, a name that cannot travel) or be out of date.
    fs::EntryKind kind = fs::KindOf(folder + std::string(name));
    out += '\\';
    if (kind != fs::EntryKind::kNone) {
      out += name;
    } else {
      const std::string match = KnownAbsent(folder, name) ? std::string() : UniqueMatch(folder, name);
      if (match.empty()) {  // new from here on: the task's spelling
        if (isNew) *isNew = true;
        return out + path.substr(start);
      }
      out += match;
      if (!last || throughLink) kind = fs::KindOf(root + out);
    }
    if (kind == fs::EntryKind::kLink) {
      if (throughLink) *throughLink = true;
      if (!last && fs::LiesWithin(root, root + out)) throw Exception(Format(msg::kForbiddenPath, root + path));
    }
    start = end + 1;
  }
  return out;
}

void NoteLocalChange(const std::string& root, const std::string& path, LocalChange change) {
  if (!tNames) return;
  const std::size_t cut = path.rfind('\\') + 1;
  const auto folder = tNames->folders.find(root + path.substr(0, cut));
  const std::string name = path.substr(cut);
  if (change == LocalChange::Created) {
    if (folder != tNames->folders.end()) AddName(folder->second, name);
    return;
  }
  if (folder != tNames->folders.end()) {
    const auto it = folder->second.find(LowerCase(name));
    if (it != folder->second.end() && it->second == name) folder->second.erase(it);
  }
  // What was known below a removed folder is gone with it.
  ForgetBelow(tNames->folders, root + path);
}

TScopedNameCache::TScopedNameCache() : names_(std::make_unique<Names>()), previous_(tNames) {
  tNames = names_.get();
}

TScopedNameCache::~TScopedNameCache() { tNames = previous_; }

}  // namespace sv
