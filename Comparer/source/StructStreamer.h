#pragma once
// TLoader: turns a project folder into the listing document sent to the server, and owns
// the listing timestamp, the text form of a modification time ("2008-11-14 13-05-08").
// No instances and no state; every operation may run on any thread, each call working on
// its own trees. The locale facts come from platform/Locale.h UserTimeStyle().
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Comparer/source/FileStructures.h"
#include "base/DateTime.h"
#include "base/Exception.h"
#include "platform/Locale.h"

namespace sv {

namespace fs {
struct DirEntry;
}

// A broken internal promise: "Assertion failure (unit, line n)".
class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

// How a scan treats what it cannot read, how far links may repeat folders, and how it
// is stopped.
struct TScanOptions {
  // Links that resolve outside the root are left out (the reference server).
  bool withinRoot = false;
  // A folder that cannot be listed or a file that cannot be read raises "Cannot read
  // folder "%s". %s" or "Cannot read file "%s". %s" with its path below the root
  // ("\docs") and the system's text, instead of listing as empty or as if readable
  // (the reference server: what it lists, its clients keep or delete by).
  bool strict = false;
  // Once a folder is reached a second time (through links), it is listed again only
  // while the listing holds at most this many entries and about this many bytes;
  // beyond that the scan raises "Popis projekta je prevelik: poveznica '%s' ponovno
  // vodi na već popisani direktorij" with that folder's path below the root. A
  // partial listing would make the server delete the rest. Far above real projects.
  std::uint64_t maxEntries = 1'000'000;
  std::uint64_t maxBytes = std::uint64_t{256} << 20;
  // Called before each entry; whatever it raises ends the scan (a cancelled run).
  std::function<void()> checkpoint;
};

class TLoader {
 public:
  using NoteFn = std::function<void(const std::string&)>;


  // Empties root (name, time and parent stay) and fills it from the folder at `path`
  // (a program path; '\' or '/' separate). A missing or unreadable folder leaves it empty;
  // a sub-folder that cannot be read is listed without content (unless `strict`). A
  // folder is read whole before any folder in it, so a scan holds one folder open at a
  // time however deep the tree. Hidden entries are listed
  // and links to folders descended into. A name that cannot travel in Windows-1250 (or
  // holds a '\') is left out, and `note` is told "Naziv '%s' nije moguće prenijeti,
  // izostavljen je iz popisa". A link to a folder that holds it — the root, a folder above
  // the root, or one already on the current path — is left out too, and `note` is told
  // "Poveznica '%s' vodi na direktorij iznad sebe, izostavljena je iz popisa" with its
  // path below the root ("\docs\up"). With `withinRoot` (the reference server), links
  // that resolve outside the root are left out as well ("Poveznica '%s' vodi izvan
  // direktorija projekta, izostavljena je iz popisa").
  // Times are last-write times in local time at the UTC offset in force now, cut to an
  // even second. Raises EAssertionFailed for a null root, and what TScanOptions says.
  static void ScanFolderTree(const std::string& path, TDirectory* root, const NoteFn& note = {},
                             const TScanOptions& options = {});

  // The listing document of the tree: "<xml>", per folder a "directory" element (name,
  // datemodified, its content), per file a "file" element, sub-folders before files, in
  // the tree's order; CR LF between lines, none at the end; names trimmed and escaped.
  static std::string BuildListing(const TDirectory& root);
  // The same bytes handed to `write` in pieces of about kListingPiece bytes, so that the
  // listing is never held whole, and its length, told from the tree the same way.
  using WriteFn = std::function<void(std::string_view piece)>;
  static void WriteListing(const TDirectory& root, const WriteFn& write);
  static std::uint64_t ListingLength(const TDirectory& root);
  static constexpr std::size_t kListingPiece = 64 * 1024;

  // "yyyy-mm-dd", and unless the time of day is 00:00:00, a blank and the time in the
  // user's time style with '-' between hours, minutes and seconds.
  static std::string FormatTimestamp(TDateTime value);
  static void AppendTimestamp(std::string& out, TDateTime value, const TimeStyle& style);

  // Reads a timestamp written by any client's locale (date year-month-day with '-';
  // optional time with an optional designator); raises EConvertError
  // "'%s' is not a valid date and time".
  static TDateTime ParseTimestamp(std::string_view text);
  static bool TryParseTimestamp(std::string_view text, const TimeStyle& style, TDateTime& value);

  // The listing time of a last-write time: local at `utcOffset`, cut to an even second.
  static TDateTime ListingTime(std::int64_t unixSeconds, std::int64_t utcOffset);

 private:
  struct ScanState;
  static void ScanFolder(const std::string& path, TDirectory* folder, ScanState& state);
  static void AddEntry(const std::string& path, const fs::DirEntry& entry, TDirectory* folder,
                       ScanState& state);
  static void AppendFolderContent(std::string& out, const TDirectory& folder, const TimeStyle& style,
                                  const WriteFn& write);
};

// Whether a listing time lies in the years 1980-2107, the range of a file's time in the
// two-second form; a time outside it cannot be given to a file.
bool InFileTimeRange(TDateTime value);

// A listing time (local) as POSIX seconds at the UTC offset in force now, its seconds
// rounded down to even, as a file's time is set. False for years before 1980 or after
// 2107, which that form cannot hold.
bool ListingTimeToUnix(TDateTime value, std::int64_t& unixSeconds);

}  // namespace sv
