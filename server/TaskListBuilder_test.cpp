#include "server/TaskListBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Comparer/source/StructStreamer.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "markup/svXMLParser.h"
#include "platform/FileSystem.h"
#include "sync/Tasks.h"
#include "sync/usvBaseCommand.h"

namespace sv {
namespace {

const TDateTime kT1 = EncodeDateTime(2008, 11, 14, 13, 5, 8);
const TDateTime kT2 = EncodeDateTime(2009, 1, 2, 3, 4, 6);

TimeStyle TwentyFour() {
  TimeStyle s;
  s.twentyFourHour = true;
  return s;
}

// Builds trees the way the scan does: created under the parent, then named and timed.
TDirectory* Dir(TDirectory* parent, const std::string& name, TDateTime time = kT1) {
  auto* d = new TDirectory(parent);
  d->SetName(name);
  d->SetTimestamp(time);
  return d;
}
void File(TDirectory* parent, const std::string& name, TDateTime time = kT1) {
  auto* f = new TFile(parent);
  f->SetName(name);
  f->SetTimestamp(time);
}

struct Task {
  std::string command, parameter;
  bool operator==(const Task&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Task& t) { return os << t.command << " " << t.parameter; }

// The document as the client reads it: through the client's own task list loader.
std::vector<Task> Tasks(const TTaskListResult& result) {
  TTaskList list;
  list.LoadTasks(result.document);
  EXPECT_EQ(list.TaskCount(), result.tasks);
  std::vector<Task> tasks;
  for (int i = 0; i < list.TaskCount(); ++i)
    tasks.push_back({std::string(list.TaskAt(i)->CommandName()), std::string(list.TaskAt(i)->Parameter())});
  return tasks;
}

class TaskListBuilding : public ::testing::Test {
 protected:
  // The listing the client would send for its tree, in the given time style.
  TTaskListResult Build(const TimeStyle& clientStyle = TwentyFour()) {
    const TimeStyle saved = UserTimeStyle();
    SetUserTimeStyle(clientStyle);
    const std::string listing = TLoader::BuildListing(client);
    SetUserTimeStyle(saved);
    return BuildTaskList(listing, server, clientStyle, [this](const std::string& n) { notes.push_back(n); });
  }

  TDirectory client, server;
  std::vector<std::string> notes;
};

TEST_F(TaskListBuilding, EverythingIsNewForAnEmptyClient) {
  TDirectory* a = Dir(&server, "a");
  File(Dir(a, "b"), "c.txt", kT2);
  File(&server, "top.txt");
  const TTaskListResult result = Build();
  // Outer folders first, a folder's files before its sub-folders' content.
  EXPECT_EQ(Tasks(result), (std::vector<Task>{
                               {"insert_dir", "\\a"},
                               {"insert_file", "\"\\top.txt\",\"2008-11-14 13-05-08\""},
                               {"insert_dir", "\\a\\b"},
                               {"insert_file", "\"\\a\\b\\c.txt\",\"2009-01-02 03-04-06\""},
                           }));
  EXPECT_EQ(result.document.substr(0, 7), "<xml>\r\n");
  EXPECT_NE(result.document.find("&quot;\\top.txt&quot;"), std::string::npos);
}

TEST_F(TaskListBuilding, EqualTreesNeedNothing) {
  File(Dir(&server, "docs"), "a.txt");
  File(Dir(&client, "docs"), "a.txt");
  const TTaskListResult result = Build();
  EXPECT_EQ(result.tasks, 0);
  EXPECT_EQ(result.document, "");
  // The client's 12-hour text of the same time is the same time.
  TimeStyle twelve;
  twelve.am = "AM";
  twelve.pm = "PM";
  EXPECT_EQ(Build(twelve).tasks, 0);
  // Designators the server does not know: the numbers decide, the hour on a 12-hour dial.
  twelve.am = Cp("prije podne");
  twelve.pm = Cp("poslije podne");
  EXPECT_EQ(BuildTaskList(Cp("<xml><directory><name>docs</name><file><name>a.txt</name>"
                             "<datemodified>2008-11-14 poslije podne 1-05-08</datemodified></file></directory></xml>"),
                          server, TwentyFour()).tasks, 0);
  EXPECT_EQ(BuildTaskList(Cp("<xml><directory><name>docs</name><file><name>a.txt</name>"
                             "<datemodified>2008-11-14 poslije podne 1-05-10</datemodified></file></directory></xml>"),
                          server, TwentyFour()).tasks, 1);
  EXPECT_EQ(Build(twelve).tasks, 0);
  // Listed times have even seconds; the comparison is to the second.
  client.DirectoryAt(0)->FileAt(0)->SetTimestamp(kT1 + 0.0001 / 86400);
  EXPECT_EQ(Build().tasks, 0);
}

TEST_F(TaskListBuilding, ChangedFilesAreReplacedWithTheServersTime) {
  File(&server, "a.txt", kT2);
  File(&client, "a.txt", kT1);
  File(&server, "b.txt", kT1);
  File(&client, "b.txt", kT1 + 2.0 / 86400);
  EXPECT_EQ(Tasks(Build()), (std::vector<Task>{
                                {"update_file", "\"\\a.txt\",\"2009-01-02 03-04-06\""},
                                {"update_file", "\"\\b.txt\",\"2008-11-14 13-05-08\""},
                            }));
}

TEST_F(TaskListBuilding, WhatTheServerLacksIsDeletedFirstAndOnlyAtTheTop) {
  TDirectory* old = Dir(&client, "old");
  File(Dir(old, "inner"), "x.txt");
  File(&client, "gone.txt");
  File(&client, "x");     // becomes a folder on the server
  Dir(&client, "y");      // becomes a file on the server
  Dir(&server, "x");
  File(&server, "y");
  EXPECT_EQ(Tasks(Build()), (std::vector<Task>{
                                {"delete_dir", "\\old"},
                                {"delete_dir", "\\y"},
                                {"delete_file", "\"\\gone.txt\""},
                                {"delete_file", "\"\\x\""},
                                {"insert_dir", "\\x"},
                                {"insert_file", "\"\\y\",\"2008-11-14 13-05-08\""},
                            }));
}

TEST_F(TaskListBuilding, NamesCompareWithoutCaseAndKeepTheClientsSpelling) {
  TDirectory* docs = Dir(&server, "docs");
  File(docs, "readme.txt", kT2);
  File(docs, "new.txt");
  File(&server, Cp("čovjek.txt"));
  TDirectory* DOCS = Dir(&client, "DOCS");
  File(DOCS, "README.TXT", kT1);
  File(&client, Cp("ČOVJEK.TXT"));
  EXPECT_EQ(Tasks(Build()), (std::vector<Task>{
                                {"update_file", "\"\\DOCS\\README.TXT\",\"2009-01-02 03-04-06\""},
                                {"insert_file", "\"\\DOCS\\new.txt\",\"2008-11-14 13-05-08\""},
                            }));
}

TEST_F(TaskListBuilding, ParametersSplitBackIntoPathAndTime) {
  const std::string awkward = "say \"hi\", then  leave.txt";
  File(&server, awkward);
  File(&server, " lead.txt");  // the listing drops the blank; the task keeps it
  File(&client, "lead.txt", kT2);
  const std::vector<Task> tasks = Tasks(Build());
  ASSERT_EQ(tasks.size(), 2u);
  std::vector<std::string> items = SplitParameter(tasks[0].parameter);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], "\\" + awkward);
  EXPECT_EQ(TLoader::ParseTimestamp(items[1]), kT1);
  items = SplitParameter(tasks[1].parameter);
  EXPECT_EQ(tasks[1].command, "update_file");
  EXPECT_EQ(items[0], "\\ lead.txt");
}

TEST_F(TaskListBuilding, NamesThatCannotTravelAreLeftOutAndNoted) {
  Dir(&server, "trailing ");
  File(&server, "   ");
  File(&server, "trailing file ");  // quoted, so it travels
  File(&server, "b:c.txt");         // the client's rule: a drive only where drives exist
  const std::vector<Task> tasks = Tasks(Build());
  const bool drives = fs::HasDriveLetters();
  ASSERT_EQ(tasks.size(), drives ? 1u : 2u);
  EXPECT_EQ(SplitParameter(tasks[0].parameter)[0], "\\trailing file ");
  if (!drives) {
    EXPECT_EQ(SplitParameter(tasks[1].parameter)[0], "\\b:c.txt");
  }
  std::vector<std::string> expected = {Cp("Naziv '\\trailing ' nije moguće prenijeti, izostavljen je iz popisa"),
                                       Cp("Naziv '\\   ' nije moguće prenijeti, izostavljen je iz popisa")};
  if (drives) expected.push_back(Format(msg::kNameLeftOut, "\\b:c.txt"));
  EXPECT_EQ(notes, expected);
}

TEST_F(TaskListBuilding, TimesAFileCannotTakeDoNotCauseEndlessUpdates) {
  const TDateTime old = EncodeDateTime(1975, 6, 1, 12, 0, 0);
  File(&server, "old.txt", old);
  File(&client, "old.txt", kT1);  // the client kept the time of its write
  File(&server, "missing.txt", old);
  EXPECT_EQ(Tasks(Build()), (std::vector<Task>{{"insert_file", "\"\\missing.txt\",\"1975-06-01 12-00-00\""}}));
}

TEST(TaskListFromHostileListings, UnusableEntriesAreIgnoredAndFaultsRaised) {
  TDirectory server;
  const std::string listing =
      "<xml><file><name>..</name><datemodified>x</datemodified></file>"
      "<directory><name>a\\b</name></directory><file><name></name></file><file></file>"
      "<directory><name>/etc</name></directory><other><name>z</name></other></xml>";
  EXPECT_EQ(BuildTaskList(listing, server, TwentyFour()).tasks, 0);
  EXPECT_EQ(BuildTaskList("", server, TwentyFour()).tasks, 0);
  try {
    BuildTaskList("<xml><a</xml>", server, TwentyFour());
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), Cp("Početak taga u tagu"));
  }
  // A very deep listing is compared without deep recursion.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<directory><name>d</name>";
  for (int i = 0; i < 100000; ++i) deep += "</directory>";
  auto* d = new TDirectory(&server);
  d->SetName("d");
  EXPECT_EQ(BuildTaskList("<xml>" + deep + "</xml>", server, TwentyFour()).tasks, 1);  // delete_dir \d\d
}

// Entries count only where the markup tree would hold them; the server lacks them all.
TEST(TaskListFromHostileListings, EntriesAreTakenFromTheirPlaceInTheListingOnly) {
  TDirectory server;
  const struct {
    const char* listing;
    std::vector<Task> tasks;
  } cases[] = {
      {"<xml><directory><x><file><name>f</name></file></x><name>d</name></directory></xml>",
       {{"delete_dir", "\\d"}}},
      {"<xml><file><directory><name>in</name></directory><x><name>deep</name></x><name>a</name><name>b</name></file>",
       {{"delete_file", "\"\\a\""}}},
      {"<xml><directory><name>..</name><file><name>f</name></file></directory><file><name>g</name></file>",
       {{"delete_file", "\"\\g\""}}},
      {"<xml></xml><again><file><name>h</name></file><directory><name>open</name>",
       {{"delete_file", "\"\\h\""}, {"delete_dir", "\\open"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tasks(BuildTaskList(c.listing, server, TwentyFour())), c.tasks) << c.listing;
}

}  // namespace
}  // namespace sv
