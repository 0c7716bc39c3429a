#include "Comparer/source/StructStreamer.h"

#include <set>
#include <utility>
#include <vector>

#include "base/Messages.h"
#include "base/Text.h"
#include "markup/svXMLParser.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace sv {
namespace {

// ---- Writing ------------------------------------------------------------------------

void AppendDigits(std::string& out, int value, int width) {
  char digits[12];
  int n = 0;
  unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (int i = n; i < width; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

// A value as the markup writes it: trimmed of bytes 0x00-0x20 and escaped. Most names
// need neither, and then they cost no temporary string.
void AppendValue(std::string& out, std::string_view value) {
  if (!value.empty() && (static_cast<unsigned char>(value.front()) <= 0x20 ||
                         static_cast<unsigned char>(value.back()) <= 0x20)) {
    const std::string trimmed = Trim(value);
    AppendValue(out, trimmed);
    return;
  }
  if (value.find_first_of("<>&'\"") == std::string_view::npos)
    out += value;
  else
    out += TsvXMLNode::EscapeText(value);
}

// The two fields every entry element carries, each on its own line.
void AppendEntryFields(std::string& out, const TBaseFile& entry, const TimeStyle& style) {
  out += "\r\n<name>";
  AppendValue(out, entry.Name());
  out += "</name>\r\n<datemodified>";
  TLoader::AppendTimestamp(out, entry.Timestamp(), style);
  out += "</datemodified>";
}

// ---- Reading ------------------------------------------------------------------------

// The reader of a listing timestamp: date order year-month-day, '-' separating date and
// time parts, blanks (spaces only) allowed before every number and separator.
class TimestampScanner {
 public:
  TimestampScanner(std::string_view text, const TimeStyle& style) : text_(text), style_(style) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  void Restart() { pos_ = 0; }

  bool Date(TDateTime& date) {
    int n1, n2, n3, digits1, digits;
    if (!Number(n1, digits1) || !Char('-') || !Number(n2, digits)) return false;
    int year, month, day;
    if (Char('-')) {
      if (!Number(n3, digits)) return false;
      year = digits1 <= 2 ? WindowedYear(n1) : n1;
      month = n2;
      day = n3;
    } else {  // month and day of the current year
      year = DecodeDate(Now()).year;
      month = n1;
      day = n2;
    }
    Char('-');
    Blanks();
    return TryEncodeDate(year, month, day, date);
  }

  bool Time(TDateTime& time) {
    int base = Designator();
    if (base >= 0) Blanks();
    int hour, minute = 0, second = 0, msec = 0, digits;
    if (!Number(hour, digits)) return false;
    if (Char('-')) {
      if (!Number(minute, digits)) return false;
      if (Char('-')) {
        if (!Number(second, digits)) return false;
        if (Char(style_.decimalSeparator) && !Number(msec, digits)) return false;
      }
    }
    if (base < 0) base = Designator();
    if (base >= 0) {
      if (hour == 0 || hour > 12) return false;
      hour = hour % 12 + base;
    }
    Blanks();
    return TryEncodeTime(hour, minute, second, msec, time);
  }

 private:
  void Blanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  bool Char(char c) {
    Blanks();
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // Decimal digits; reading stops before a digit once the value has reached 1000.
  bool Number(int& value, int& digits) {
    Blanks();
    const std::size_t start = pos_;
    value = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && value < 1000)
      value = value * 10 + (text_[pos_++] - '0');
    digits = static_cast<int>(pos_ - start);
    return digits > 0;
  }

  bool Word(std::string_view word) {
    Blanks();
    if (word.empty() || !SameText(text_.substr(pos_, word.size()), word)) return false;
    pos_ += word.size();
    return true;
  }

  // 0 for a morning designator, 12 for an afternoon one, -1 when none stands here.
  int Designator() {
    if (Word(style_.am) || Word("AM")) return 0;
    if (Word(style_.pm) || Word("PM")) return 12;
    return -1;
  }

  // A year of one or two digits falls within fifty years back from this year on.
  static int WindowedYear(int year) {
    const int base = DecodeDate(Now()).year - 50;
    year += base / 100 * 100;
    return year < base ? year + 100 : year;
  }

  std::string_view text_;
  const TimeStyle& style_;
  std::size_t pos_ = 0;
};

}  // namespace

// ---- Scan ---------------------------------------------------------------------------

// About what one entry adds to the listing besides its name.
constexpr std::uint64_t kEntryBytes = 80;

struct TLoader::ScanState {
  const NoteFn& note;
  const TScanOptions& options;
  std::int64_t utcOffset;
  const std::string& root;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> onPath;  // (device, inode) of each folder
  std::set<std::pair<std::uint64_t, std::uint64_t>> listed;      // every folder listed so far
  std::uint64_t entries = 0, bytes = 0;                          // what the listing holds so far

  bool IsOnPath(const fs::DirEntry& e) const {
    for (const auto& id : onPath)
      if (id.first == e.device && id.second == e.inode) return true;
    return false;
  }
  static std::string PathOf(const TDirectory& folder, const std::string& name) {
    std::string path = folder.FullPath();
    if (path.empty() || path.back() != '\\') path += '\\';
    return path + name;
  }
  void Note(const std::string& message, const TDirectory& folder, const std::string& name) const {
    if (note) note(Format(message, PathOf(folder, name)));
  }
  // Raises what cannot be read when the scan is strict: message, path, the system's text.
  void Unreadable(const std::string& message, std::string_view path) const {
    if (options.strict) throw Exception(Format(message, path, fs::ErrorText(fs::LastError())));
  }
};

void TLoader::ScanFolderTree(const std::string& path, TDirectory* root, const NoteFn& note,
                             const TScanOptions& options) {
  if (!root) throw EAssertionFailed(Format(msg::kAssertion, msg::kAssertionFailure, "Comparer\\source\\StructStreamer", 59));
  root->Clear();
  fs::DirEntry info;
  if (!fs::FolderInfo(path, info)) return;
  ScanState state{note, options, CurrentUtcOffset(), path, {{info.device, info.inode}}, {{info.device, info.inode}}};
  ScanFolder(path, root, state);
}

void TLoader::ScanFolder(const std::string& path, TDirectory* folder, ScanState& state) {
  // Read whole and closed before any sub-folder is entered: one open folder at a time,
  // however deep the tree. A folder that cannot be read stays empty, without a report,
  // unless the scan is strict.
  std::vector<fs::DirEntry> entries;
  if (!fs::ForEachEntry(path, [&entries](const fs::DirEntry& entry) { entries.push_back(entry); })) {
    const std::string shown = folder->FullPath();
    state.Unreadable(msg::kCannotReadFolder, shown.empty() ? std::string_view("\\") : std::string_view(shown));
  }
  for (const fs::DirEntry& entry : entries) AddEntry(path, entry, folder, state);
}

void TLoader::AddEntry(const std::string& path, const fs::DirEntry& entry, TDirectory* folder,
                       ScanState& state) {
  if (state.options.checkpoint) state.options.checkpoint();
  if (!entry.nameIsExact) {
    if (state.note) state.note(Format(msg::kNameLeftOut, entry.name));
    return;
  }
  std::string subPath;  // only folders, links and the strict check need it
  if (entry.isFolder || entry.isLink || state.options.strict) {
    subPath = path;
    if (subPath.empty() || subPath.back() != '\\') subPath += '\\';
    subPath += entry.name;
  }
  // A folder listed before passed the checks below when it was first reached (or lies
  // below one that did), so a link to it needs no look at where it leads: with links
  // that repeat folders, those looks would cost the most.
  const bool seen = entry.isFolder && state.listed.count({entry.device, entry.inode}) != 0;
  // Listed, a link back up would show the root's content again (or, above the root,
  // what lies beside it) for the server to mirror into or delete.
  if (entry.isFolder && (state.IsOnPath(entry) || (entry.isLink && !seen && fs::LiesWithin(state.root, subPath)))) {
    state.Note(msg::kLinkUpward, *folder, entry.name);
    return;
  }
  if (state.options.withinRoot && entry.isLink && !seen && !fs::LiesWithin(subPath, state.root)) {
    state.Note(msg::kLinkOutside, *folder, entry.name);
    return;
  }
  if (!entry.isFolder && state.options.strict && !fs::CanRead(subPath))
    state.Unreadable(msg::kCannotReadFile, ScanState::PathOf(*folder, entry.name));
  // Links that fan out list the same folders over and over, exponentially in the depth:
  // a folder seen before is listed again only within the budget.
  if (seen && (state.entries >= state.options.maxEntries || state.bytes >= state.options.maxBytes))
    throw Exception(Format(msg::kListingTooLarge, ScanState::PathOf(*folder, entry.name)));
  if (entry.isFolder && !seen) state.listed.emplace(entry.device, entry.inode);
  ++state.entries;
  state.bytes += kEntryBytes + entry.name.size();
  // Named right after creation, as the duplicate test of the model expects.
  TBaseFile* item = entry.isFolder ? static_cast<TBaseFile*>(new TDirectory(folder))
                                   : static_cast<TBaseFile*>(new TFile(folder));
  item->SetName(entry.name);
  item->SetTimestamp(ListingTime(entry.mtime, state.utcOffset));
  if (!entry.isFolder) return;
  subPath += '\\';
  state.onPath.emplace_back(entry.device, entry.inode);
  ScanFolder(subPath, static_cast<TDirectory*>(item), state);
  state.onPath.pop_back();
}

TDateTime TLoader::ListingTime(std::int64_t unixSeconds, std::int64_t utcOffset) {
  std::int64_t local = unixSeconds + utcOffset;
  local -= ((local % 2) + 2) % 2;  // down to even, also before 1970
  return UnixToDateTime(local, 0);
}

// ---- Listing ------------------------------------------------------------------------

std::string TLoader::BuildListing(const TDirectory& root) {
  std::string listing;
  WriteListing(root, [&listing](std::string_view piece) { listing += piece; });
  return listing;
}

void TLoader::WriteListing(const TDirectory& root, const WriteFn& write) {
  const TimeStyle style = UserTimeStyle();
  std::string out = "<xml>";
  AppendFolderContent(out, root, style, write);
  out += root.DirectoryCount() + root.FileCount() == 0 ? "</xml>" : "\r\n</xml>";
  write(out);
}

std::uint64_t TLoader::ListingLength(const TDirectory& root) {
  std::uint64_t length = 0;
  WriteListing(root, [&length](std::string_view piece) { length += piece.size(); });
  return length;
}

// Depth-first with an explicit stack of (folder, next sub-folder), so the depth of the
// tree does not reach the call stack: a folder's sub-folders (each with its content)
// come before its files. `out` goes to `write` whenever it has grown to a piece.
void TLoader::AppendFolderContent(std::string& out, const TDirectory& folder, const TimeStyle& style,
                                  const WriteFn& write) {
  const auto written = [&] {
    if (out.size() < kListingPiece) return;
    write(out);
    out.clear();
  };
  std::vector<std::pair<const TDirectory*, int>> stack{{&folder, 0}};
  while (!stack.empty()) {
    auto& [current, next] = stack.back();
    if (next < current->DirectoryCount()) {
      const TDirectory* sub = current->DirectoryAt(next++);
      out += "\r\n<directory>";
      AppendEntryFields(out, *sub, style);
      written();
      stack.emplace_back(sub, 0);  // may invalidate current and next: not used after
      continue;
    }
    for (int i = 0; i < current->FileCount(); ++i) {
      out += "\r\n<file>";
      AppendEntryFields(out, *current->FileAt(i), style);
      out += "\r\n</file>";
      written();
    }
    if (stack.size() > 1) out += "\r\n</directory>";
    stack.pop_back();
  }
}

// ---- Timestamps ---------------------------------------------------------------------

std::string TLoader::FormatTimestamp(TDateTime value) {
  std::string out;
  AppendTimestamp(out, value, UserTimeStyle());
  return out;
}

void TLoader::AppendTimestamp(std::string& out, TDateTime value, const TimeStyle& style) {
  const DateParts d = DecodeDate(value);
  AppendDigits(out, d.year, 4);
  out += '-';
  AppendDigits(out, d.month, 2);
  out += '-';
  AppendDigits(out, d.day, 2);
  const TimeParts t = DecodeTime(value);
  if (t.hour == 0 && t.minute == 0 && t.second == 0) return;  // midnight: the date alone
  out += ' ';
  const std::string& designator = t.hour < 12 ? style.am : style.pm;
  const bool twelve = !style.twentyFourHour;
  if (twelve && style.designatorFirst) {
    out += designator;
    out += ' ';
  }
  const int hour = style.twentyFourHour ? t.hour : (t.hour % 12 == 0 ? 12 : t.hour % 12);
  AppendDigits(out, hour, style.leadingZero ? 2 : 1);
  out += '-';
  AppendDigits(out, t.minute, 2);
  out += '-';
  AppendDigits(out, t.second, 2);
  if (twelve && !style.designatorFirst) {
    out += ' ';
    out += designator;
  }
}

TDateTime TLoader::ParseTimestamp(std::string_view text) {
  TDateTime value = 0;
  if (!TryParseTimestamp(text, UserTimeStyle(), value))
    throw EConvertError(Format(msg::kNotDateTime, text));
  return value;
}

// A date with an optional time; failing that, a time alone that takes the whole text.
bool TLoader::TryParseTimestamp(std::string_view text, const TimeStyle& style, TDateTime& value) {
  TimestampScanner scan(text, style);
  TDateTime date = 0, time = 0;
  if (scan.Date(date) && (scan.AtEnd() || scan.Time(time))) {
    value = date >= 0 ? date + time : date - time;
    return true;
  }
  scan.Restart();
  if (scan.Time(time) && scan.AtEnd()) {
    value = time;
    return true;
  }
  return false;
}

bool InFileTimeRange(TDateTime value) {
  const int year = DecodeDate(value).year;
  return year >= 1980 && year <= 2107;
}

bool ListingTimeToUnix(TDateTime value, std::int64_t& unixSeconds) {
  if (!InFileTimeRange(value)) return false;
  std::int64_t local = DateTimeToUnix(value, 0);
  local -= ((local % 2) + 2) % 2;
  unixSeconds = local - CurrentUtcOffset();
  return true;
}

}  // namespace sv
