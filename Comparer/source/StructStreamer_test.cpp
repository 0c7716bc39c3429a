#include "Comparer/source/StructStreamer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/Messages.h"
#include "base/Text.h"
#include "markup/svXMLParser.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

using test::TempDir;

TimeStyle Style(bool leadingZero, bool twentyFour, bool designatorFirst = false,
                std::string am = "am", std::string pm = "pm") {
  TimeStyle s;
  s.leadingZero = leadingZero;
  s.twentyFourHour = twentyFour;
  s.designatorFirst = designatorFirst;
  s.am = std::move(am);
  s.pm = std::move(pm);
  return s;
}

// Every test states its locale facts; the machine's are put back afterwards.
class Listing : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = UserTimeStyle();
    SetUserTimeStyle(Style(false, true));
  }
  void TearDown() override { SetUserTimeStyle(saved_); }

  // Sets an entry's last-write time to a local date-time.
  static void Touch(const std::string& path, int y, int mo, int d, int h, int mi, int s) {
    std::int64_t unix = 0;
    ASSERT_TRUE(ListingTimeToUnix(EncodeDateTime(y, mo, d, h, mi, s), unix));
    ASSERT_TRUE(fs::SetFileTime(path, unix));
  }

  static std::string Scan(const std::string& path, std::vector<std::string>* notes = nullptr) {
    TDirectory root;
    TLoader::ScanFolderTree(path, &root, [&](const std::string& n) {
      if (notes) notes->push_back(n);
    });
    return TLoader::BuildListing(root);
  }

  static std::string Lines(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* l : lines) out += (out.empty() ? "" : "\r\n") + std::string(l);
    return out;
  }

 private:
  TimeStyle saved_;
};

TEST_F(Listing, EmptyMissingAndNullRoot) {
  TempDir dir;
  EXPECT_EQ(Scan(dir.path()), "<xml></xml>");
  EXPECT_EQ(Scan(dir / "missing"), "<xml></xml>");
  test::WriteFile(dir / "file", "");
  EXPECT_EQ(Scan(dir / "file"), "<xml></xml>");
  try {
    TLoader::ScanFolderTree(dir.path(), nullptr);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Assertion failure (Comparer\\source\\StructStreamer, line 59)");
  }
}

TEST_F(Listing, OneEmptyFolderGivesSixLines) {
  TempDir dir;
  test::MakeDirs(dir / "a");
  Touch(dir / "a", 2008, 11, 14, 13, 5, 8);
  EXPECT_EQ(Scan(dir.path()), Lines({"<xml>", "<directory>", "<name>a</name>",
                                     "<datemodified>2008-11-14 13-05-08</datemodified>",
                                     "</directory>", "</xml>"}));
}

TEST_F(Listing, AFolderAndAFileListIn199Bytes) {
  TempDir dir;
  test::MakeDirs(dir / "docs");
  test::WriteFile(dir / "plan.txt", "plan");
  Touch(dir / "docs", 2008, 11, 14, 13, 5, 8);
  Touch(dir / "plan.txt", 2008, 11, 10, 14, 30, 0);
  const std::string listing = Scan(dir.path());
  EXPECT_EQ(listing, Lines({"<xml>", "<directory>", "<name>docs</name>",
                            "<datemodified>2008-11-14 13-05-08</datemodified>", "</directory>",
                            "<file>", "<name>plan.txt</name>",
                            "<datemodified>2008-11-10 14-30-00</datemodified>", "</file>", "</xml>"}));
  EXPECT_EQ(listing.size(), 199u);
}

TEST_F(Listing, FoldersComeBeforeFilesAndNamesAreTrimmedAndEscaped) {
  TempDir dir;
  test::MakeDirs(dir / "docs");
  test::WriteFile(dir / "docs/a&b.txt", "");
  test::WriteFile(dir / "readme.txt", "");
  Touch(dir / "docs/a&b.txt", 2008, 11, 14, 0, 0, 0);  // midnight: the date alone
  Touch(dir / "docs", 2008, 11, 14, 10, 15, 31);       // odd seconds are cut to even
  Touch(dir / "readme.txt", 2008, 11, 13, 9, 0, 2);
  EXPECT_EQ(Scan(dir.path()),
            Lines({"<xml>", "<directory>", "<name>docs</name>",
                   "<datemodified>2008-11-14 10-15-30</datemodified>", "<file>",
                   "<name>a&amp;b.txt</name>", "<datemodified>2008-11-14</datemodified>", "</file>",
                   "</directory>", "<file>", "<name>readme.txt</name>",
                   "<datemodified>2008-11-13 9-00-02</datemodified>", "</file>", "</xml>"}));
}

TEST_F(Listing, HiddenEntriesAndBlanksAroundNames) {
  TempDir dir;
  test::MakeDirs(dir / ".git");
  test::WriteFile(dir / " x.txt", "");
  TDirectory root;
  TLoader::ScanFolderTree(dir.path(), &root);
  ASSERT_EQ(root.DirectoryCount(), 1);
  EXPECT_EQ(root.DirectoryAt(0)->Name(), ".git");
  ASSERT_EQ(root.FileCount(), 1);
  EXPECT_EQ(root.FileAt(0)->Name(), " x.txt");  // the model keeps the name as it is
  EXPECT_NE(TLoader::BuildListing(root).find("<name>x.txt</name>"), std::string::npos);
}

TEST_F(Listing, NamesThatCannotTravelAreLeftOutAndNoted) {
  TempDir dir;
  test::WriteFile(dir / "\xE6\x97\xA5\xE6\x9C\xAC.txt", "");  // 日本.txt
  test::WriteFile(dir / "\xC4\x8D.txt", "");                  // č.txt
  if (!test::OnWindows()) test::MakeDirs(dir / "a\\b");     // Windows has no such name
  std::vector<std::string> notes;
  TDirectory root;
  TLoader::ScanFolderTree(dir.path(), &root, [&](const std::string& n) { notes.push_back(n); });
  ASSERT_EQ(root.FileCount(), 1);
  EXPECT_EQ(root.FileAt(0)->Name(), "\xE8.txt");
  EXPECT_EQ(root.DirectoryCount(), 0);
  ASSERT_EQ(notes.size(), test::OnWindows() ? 1u : 2u);
  std::sort(notes.begin(), notes.end());
  EXPECT_EQ(notes[0], Cp("Naziv '??.txt' nije moguće prenijeti, izostavljen je iz popisa"));
  if (!test::OnWindows()) {
    EXPECT_EQ(notes[1], Cp("Naziv 'a\\b' nije moguće prenijeti, izostavljen je iz popisa"));
  }
}

// Every path of the tree below the root, sorted.
std::vector<std::string> Paths(const TDirectory& folder) {
  std::vector<std::string> paths;
  for (int i = 0; i < folder.FileCount(); ++i) paths.push_back(folder.FileAt(i)->FullPath());
  for (int i = 0; i < folder.DirectoryCount(); ++i) {
    paths.push_back(folder.DirectoryAt(i)->FullPath());
    for (std::string& p : Paths(*folder.DirectoryAt(i))) paths.push_back(std::move(p));
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST_F(Listing, LinksAreFollowedButNeverBackUp) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
  TempDir dir;
  const std::string root = dir / "r";
  test::MakeDirs(root + "/p/q");
  test::WriteFile(root + "/p/q/f", "");
  test::MakeDirs(dir / "outside");
  test::WriteFile(dir / "outside/o", "");
  std::filesystem::create_directory_symlink(root + "/p", root + "/p/q/up");  // to a folder on the path
  std::filesystem::create_directory_symlink(root + "/p/q", root + "/alias");
  std::filesystem::create_directory_symlink(root, root + "/self");
  std::filesystem::create_directory_symlink(dir.path(), root + "/p/above");
  std::filesystem::create_directory_symlink(dir / "outside", root + "/out");
  std::filesystem::create_symlink(dir / "outside/o", root + "/flink");
  const auto upward = [](const char* path) { return Format(msg::kLinkUpward, path); };
  const std::vector<std::string> upwardNotes = {upward("\\alias\\up\\above"), upward("\\alias\\up\\q"),
                                                upward("\\p\\above"), upward("\\p\\q\\up"), upward("\\self")};
  const std::vector<std::string> inside = {"\\alias", "\\alias\\f", "\\alias\\up", "\\p", "\\p\\q", "\\p\\q\\f"};
  for (bool withinRoot : {false, true}) {
    TDirectory tree;
    std::vector<std::string> notes;
    TScanOptions options;
    options.withinRoot = withinRoot;
    TLoader::ScanFolderTree(root, &tree, [&](const std::string& n) { notes.push_back(n); }, options);
    std::sort(notes.begin(), notes.end());
    std::vector<std::string> paths = inside, expectedNotes = upwardNotes;
    if (withinRoot) {  // the reference server: nothing outside the root
      expectedNotes.push_back(Format(msg::kLinkOutside, "\\flink"));
      expectedNotes.push_back(Format(msg::kLinkOutside, "\\out"));
    } else {
      paths.insert(paths.end(), {"\\flink", "\\out", "\\out\\o"});
    }
    std::sort(paths.begin(), paths.end());
    std::sort(expectedNotes.begin(), expectedNotes.end());
    EXPECT_EQ(Paths(tree), paths) << withinRoot;
    EXPECT_EQ(notes, expectedNotes) << withinRoot;
  }
}

// Folders d0 ... d11, each with two links to the next: every level doubles what the
// links repeat. Within the budget the repeats are listed; beyond it the scan fails,
// naming the folder reached again, rather than handing on a partial listing.
TEST_F(Listing, FoldersThatLinksRepeatAreListedOnlyWithinTheBudget) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
  TempDir dir;
  constexpr int kLast = 11;
  for (int i = 0; i <= kLast; ++i) {
    const std::string folder = dir / ("d" + std::to_string(i)), next = "../d" + std::to_string(i + 1);
    test::MakeDirs(folder);
    if (i == kLast) continue;
    std::filesystem::create_directory_symlink(next, folder + "/a");
    std::filesystem::create_directory_symlink(next, folder + "/b");
  }
  const struct {
    std::uint64_t maxEntries, maxBytes;
    bool fails;
  } cases[] = {{TScanOptions().maxEntries, TScanOptions().maxBytes, false}, {1000, 1 << 30, true}, {1 << 30, 50'000, true}};
  const std::string prefix = Format(msg::kListingTooLarge, "");
  for (const auto& c : cases) {
    TScanOptions options;
    options.maxEntries = c.maxEntries;
    options.maxBytes = c.maxBytes;
    TDirectory tree;
    std::string message;
    try {
      TLoader::ScanFolderTree(dir.path(), &tree, {}, options);
    } catch (const Exception& e) {
      message = e.Message();
    }
    if (!c.fails) {
      EXPECT_EQ(message, "");
      std::size_t below = 0, all = 0;  // below d(i): two links, each with what is below d(i+1)
      for (int i = kLast; i >= 0; --i, all += 1 + below) below = i == kLast ? 0 : 2 * (1 + below);
      EXPECT_EQ(Paths(tree).size(), all);
      continue;
    }
    // "...'\d3\a\b'...": the folder reached again, by its way through the links.
    ASSERT_EQ(message.compare(0, prefix.find('\''), prefix, 0, prefix.find('\'')), 0) << message;
    const std::size_t open = message.find('\''), close = message.find('\'', open + 1);
    const std::string named = message.substr(open + 1, close - open - 1);
    EXPECT_EQ(Format(msg::kListingTooLarge, named), message);
    for (std::size_t start = 1; start <= named.size();) {
      const std::size_t end = std::min(named.find('\\', start), named.size());
      const std::string component = named.substr(start, end - start);
      EXPECT_TRUE(component == "a" || component == "b" || component[0] == 'd') << named;
      start = end + 1;
    }
  }
}

TEST_F(Listing, UnreadableSubFolderIsListedWithoutContent) {
  TempDir dir;
  test::MakeDirs(dir / "closed");
  test::WriteFile(dir / "closed/secret", "");
  std::filesystem::permissions(dir / "closed", std::filesystem::perms::none);
  const bool readable = fs::ForEachEntry(dir / "closed", [](const fs::DirEntry&) {});
  TDirectory root;
  TLoader::ScanFolderTree(dir.path(), &root);
  std::filesystem::permissions(dir / "closed", std::filesystem::perms::owner_all);
  if (readable) GTEST_SKIP() << "permissions do not bind this user";
  ASSERT_EQ(root.DirectoryCount(), 1);
  EXPECT_EQ(root.DirectoryAt(0)->FileCount(), 0);
}

TEST_F(Listing, SameBytesAsTheMarkupTreeWrites) {
  // The listing is written directly; it must equal what the markup tree would write.
  TDirectory root;
  auto* d = new TDirectory(&root);
  d->SetName(" <odd> 'name' \"q\" & more\t");
  d->SetTimestamp(EncodeDateTime(2020, 2, 29, 23, 59, 58));
  auto* e = new TDirectory(d);
  e->SetName("empty");
  auto* f = new TFile(d);
  f->SetName("\xE8.txt");
  f->SetTimestamp(EncodeDateTime(1999, 12, 31, 0, 0, 0));
  (new TFile(&root))->SetName("top");

  TsvXMLNode xml;
  xml.SetName("xml");
  auto add = [](TsvXMLNode* parent, const char* kind, const TBaseFile& entry) {
    auto* node = new TsvXMLNode(parent);
    node->SetName(kind);
    auto* name = new TsvXMLNode(node);
    name->SetName("name");
    name->SetValue(entry.Name());
    auto* time = new TsvXMLNode(node);
    time->SetName("datemodified");
    time->SetValue(TLoader::FormatTimestamp(entry.Timestamp()));
    return node;
  };
  TsvXMLNode* dn = add(&xml, "directory", *d);
  add(dn, "directory", *e);
  add(dn, "file", *f);
  add(&xml, "file", *root.FileAt(0));
  EXPECT_EQ(TLoader::BuildListing(root), xml.AsText());
}

TEST_F(Listing, WrittenInPiecesWithItsLengthToldBeforehand) {
  TDirectory root;
  auto* sub = new TDirectory(&root);
  sub->SetName("sub");
  for (int i = 0; i < 3000; ++i) {  // about 300 KB: several pieces
    auto* f = new TFile(i % 2 ? &root : sub);
    f->SetName("f" + std::to_string(i) + (i % 7 ? ".txt" : " & <x>"));
    f->SetTimestamp(EncodeDateTime(2008, 11, 14, 13, 5, i % 60));
  }
  std::vector<std::size_t> pieces;
  std::string written;
  TLoader::WriteListing(root, [&](std::string_view piece) {
    pieces.push_back(piece.size());
    written += piece;
  });
  EXPECT_EQ(written, TLoader::BuildListing(root));
  EXPECT_EQ(TLoader::ListingLength(root), written.size());
  ASSERT_GT(pieces.size(), 3u);
  EXPECT_LT(*std::max_element(pieces.begin(), pieces.end()), TLoader::kListingPiece + 1024);
}

// ---- Timestamps ---------------------------------------------------------------------

class Timestamp : public Listing {};

TEST_F(Timestamp, FormatFollowsTheTimeStyle) {
  const TDateTime afternoon = EncodeDateTime(2008, 11, 14, 13, 5, 8);
  const TDateTime morning = EncodeDateTime(2008, 11, 14, 9, 0, 2);
  const TDateTime midnight = EncodeDate(2008, 11, 13);
  const TDateTime noon = EncodeDateTime(2008, 11, 14, 12, 0, 0);
  const TDateTime early = EncodeDateTime(2008, 11, 14, 0, 30, 0);
  struct Case {
    TimeStyle style;
    TDateTime value;
    const char* text;
  } cases[] = {
      {Style(false, true), afternoon, "2008-11-14 13-05-08"},
      {Style(false, true), morning, "2008-11-14 9-00-02"},
      {Style(true, true), morning, "2008-11-14 09-00-02"},
      {Style(false, false, false, "AM", "PM"), afternoon, "2008-11-14 1-05-08 PM"},
      {Style(true, false, false, "AM", "PM"), morning, "2008-11-14 09-00-02 AM"},
      {Style(false, false, true, "AM", "PM"), afternoon, "2008-11-14 PM 1-05-08"},
      {Style(false, false), noon, "2008-11-14 12-00-00 pm"},
      {Style(false, false), early, "2008-11-14 12-30-00 am"},
      {Style(false, true), midnight, "2008-11-13"},
      {Style(true, false), midnight, "2008-11-13"},
  };
  for (const Case& c : cases) {
    SetUserTimeStyle(c.style);
    EXPECT_EQ(TLoader::FormatTimestamp(c.value), c.text);
  }
}

TEST_F(Timestamp, ParseExamples) {
  const TDateTime expected = EncodeDateTime(2008, 11, 14, 13, 5, 8);
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("2008-11-14 13-05-08"), expected);
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp(" 2008 - 11 - 14  13-05-08"), expected);
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("2008-11-14 1-05-08 PM"), expected);
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("2008-11-14 pm 1-05-08"), expected);
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("2008-11-14-13-05-08 trailing words"), expected);
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("2008-11-14"), EncodeDate(2008, 11, 14));
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("13-05"), EncodeDateTime(1899, 12, 30, 13, 5, 0));
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("2008-11-14 12-00-00 AM"), EncodeDate(2008, 11, 14));
  EXPECT_NEAR(TLoader::ParseTimestamp("2008-11-14 13-05-08.500"), expected + 0.5 / 86400, 1e-9);
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("2008-11-14 -05"), EncodeDateTime(2008, 11, 14, 5, 0, 0));
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("0008-11-14"), EncodeDate(8, 11, 14));
  // Before 1899-12-30 the time counts back from the (negative) date, as the value form has it.
  EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp("1899-12-29 06-00-00"), -1.25);
}

TEST_F(Timestamp, ParseFailures) {
  for (const char* text : {"2008-02-30", "", "   ", "x", "2008-11-14 25-00-00", "2008-11-14 0-05-08 PM",
                           "2008-11-14 13-05-08 PM", "20081-11-14", "2008/11/14", "13-05 x"}) {
    try {
      TLoader::ParseTimestamp(text);
      ADD_FAILURE() << text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(text) + "' is not a valid date and time");
    }
  }
}

TEST_F(Timestamp, ShortDatesAndYears) {
  const int year = DecodeDate(Now()).year;
  const DateParts twoNumbers = DecodeDate(TLoader::ParseTimestamp("11-14"));
  EXPECT_EQ(twoNumbers.year, year);
  EXPECT_EQ(twoNumbers.month, 11);
  // One or two digits: the year within fifty years back from now.
  EXPECT_EQ(DecodeDate(TLoader::ParseTimestamp("08-11-14")).year, year - 50 <= 2008 && 2008 < year + 50 ? 2008 : 2108);
  const int y = DecodeDate(TLoader::ParseTimestamp(std::to_string((year - 51) % 100) + "-1-1")).year;
  EXPECT_EQ(y, year + 49);
}

TEST_F(Timestamp, RoundTripInEveryStyle) {
  const TDateTime values[] = {EncodeDateTime(2008, 11, 14, 13, 5, 8), EncodeDateTime(1980, 1, 1, 0, 0, 2),
                              EncodeDateTime(2107, 12, 31, 23, 59, 58), EncodeDateTime(2024, 2, 29, 12, 0, 0),
                              EncodeDateTime(2024, 3, 1, 0, 59, 0), EncodeDate(2000, 1, 1)};
  const TimeStyle styles[] = {Style(false, true), Style(true, true), Style(false, false),
                              Style(true, false, false, "AM", "PM"), Style(false, false, true, "AM", "PM"),
                              Style(true, false, true, Cp("prije podne"), Cp("poslije podne"))};
  for (const TimeStyle& style : styles) {
    SetUserTimeStyle(style);
    for (TDateTime v : values) {
      const std::string text = TLoader::FormatTimestamp(v);
      EXPECT_DOUBLE_EQ(TLoader::ParseTimestamp(text), v) << text;
    }
  }
}

TEST(ListingTime, EvenSecondsAndTheFileTimeRange) {
  EXPECT_DOUBLE_EQ(TLoader::ListingTime(1, 0), TLoader::ListingTime(0, 0));
  EXPECT_DOUBLE_EQ(TLoader::ListingTime(-1, 0), TLoader::ListingTime(-2, 0));
  EXPECT_DOUBLE_EQ(TLoader::ListingTime(0, 3600), 25569.0 + 1.0 / 24);
  std::int64_t unix = 0;
  EXPECT_FALSE(ListingTimeToUnix(EncodeDateTime(1975, 6, 1, 12, 0, 0), unix));
  EXPECT_FALSE(ListingTimeToUnix(EncodeDate(2108, 1, 1), unix));
  EXPECT_FALSE(ListingTimeToUnix(EncodeDateTime(1979, 12, 31, 23, 59, 58), unix));
  ASSERT_TRUE(ListingTimeToUnix(EncodeDateTime(2008, 11, 14, 13, 5, 9), unix));
  EXPECT_EQ(unix % 2, 0);
  const std::int64_t offset = CurrentUtcOffset();
  EXPECT_DOUBLE_EQ(TLoader::ListingTime(unix, offset), EncodeDateTime(2008, 11, 14, 13, 5, 8));
}

}  // namespace
}  // namespace sv
