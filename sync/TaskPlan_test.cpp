#include "sync/TaskPlan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/Messages.h"
#include "base/Text.h"
#include "sync/Failure_test.h"
#include "Comparer/source/FileStructures.h"
#include "sync/TaskBuilder.h"
#include "sync/Tasks.h"
#include "tests/support/TempDir.h"

namespace sv {
namespace {

TEST(TaskPlan, EachTaskIsPlannedAsTheChangeItWouldMakeAndNothingChanges) {
  RegisterFileCommands();
  test::TempDir dir;
  const std::string root = dir / "p";
  test::MakeDirs(root);
  test::WriteFile(root + "/old.txt", "old");
  test::WriteFile(dir / "outside.txt", "not the project's");

  struct Case {
    std::string task;
    TChangeKind kind;
    bool folder;
    std::string path;
  };
  const Case cases[] = {
      {"insert_dir<param>\\docs</param>", TChangeKind::kCreate, true, "\\docs"},
      {"TsvInserDirCommand<param>\\a b</param>", TChangeKind::kCreate, true, "\\a b"},
      {"INSERT_FILE<param>\"\\docs\\a b.txt\",\"2008-11-14 13-05-08\"</param>", TChangeKind::kCreate, false,
       "\\docs\\a b.txt"},
      {"insert_file<param>\\old.txt</param>", TChangeKind::kReplace, false, "\\old.txt"},
      {"update_file<param>\\old.txt,\"2008-11-14 13-05-08\"</param>", TChangeKind::kReplace, false, "\\old.txt"},
      {"delete_file<param>\\gone.txt</param>", TChangeKind::kDelete, false, "\\gone.txt"},
      {"delete_dir<param>\\stari dio</param>", TChangeKind::kDelete, true, "\\stari dio"},
      {"rename_file<param>\\q r</param>", TChangeKind::kOther, false, "\\q r"},
      // Paths a run would refuse are not looked up outside the root.
      {"insert_file<param>\\..\\outside.txt</param>", TChangeKind::kCreate, false, "\\..\\outside.txt"},
      {"insert_file", TChangeKind::kCreate, false, ""},
  };
  std::string document = "<xml>";
  for (const Case& c : cases) document += "<task>" + c.task + "</task>";
  document += "<other/></xml>";
  const std::vector<TPlannedChange> changes = PlanChanges(root, document).changes;

  ASSERT_EQ(changes.size(), std::size(cases));
  for (std::size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE(cases[i].task);
    EXPECT_EQ(changes[i].kind, cases[i].kind);
    EXPECT_EQ(changes[i].folder, cases[i].folder);
    EXPECT_EQ(changes[i].path, cases[i].path);
  }
  EXPECT_EQ(changes[7].command, "rename_file");
  EXPECT_FALSE(std::filesystem::exists(root + "/docs"));
  EXPECT_EQ(test::ReadFile(root + "/old.txt"), "old");

  // A shorter listing counts every change all the same.
  const TProjectPreview firstThree = PlanChanges(root, document, 3);
  EXPECT_EQ(firstThree.changes.size(), 3u);
  EXPECT_EQ(firstThree.changes[2].path, "\\docs\\a b.txt");
  const TChangeCounts& n = firstThree.counts;
  EXPECT_EQ((std::vector<int>{n.all, n.created, n.replaced, n.deleted}), (std::vector<int>{10, 5, 2, 2}));

  EXPECT_TRUE(PlanChanges(root, "").changes.empty());
  EXPECT_EQ(test::MessageOf([&] { PlanChanges(root, "<xml><task>insert_dir</param></xml>"); }),
            Format(msg::kTagMismatch, "task", "/param"));
}

// Each task counts the listed files it would remove, names compared without regard to
// case; a listed file below a deleted folder counts, however deep.
TEST(TaskPlan, RemovalsAreCountedFromTheListing) {
  RegisterFileCommands();
  TDirectory listing;
  const auto file = [](TDirectory* in, const char* name) { (new TFile(in))->SetName(name); };
  const auto folder = [](TDirectory* in, const char* name) {
    auto* d = new TDirectory(in);
    d->SetName(name);
    return d;
  };
  file(&listing, "a.txt");
  file(&listing, "Old.TXT");
  TDirectory* old = folder(&listing, "Stari");
  file(old, "x");
  file(old, "y");
  file(folder(old, "sub"), "z");
  file(folder(&listing, "docs"), "k");

  const struct {
    const char* task;
    int removed;
  } cases[] = {
      {"delete_file<param>\\gone.txt</param>", 1},  // not listed: counted all the same
      {"update_file<param>\\a.txt,\"2008-11-14\"</param>", 1},
      {"insert_file<param>\\old.txt</param>", 1},
      {"insert_file<param>\\new.txt</param>", 0},
      {"insert_file<param>\\docs</param>", 0},
      {"delete_dir<param>\\STARI</param>", 3},
      {"delete_dir<param>\\stari\\sub\\</param>", 1},
      {"delete_dir<param>\\none</param>", 0},
      {"delete_dir<param>\\..</param>", 0},
      {"insert_dir<param>\\x</param>", 0},
  };
  std::string all;
  int total = 0;
  for (const auto& c : cases) {
    TTaskList tasks;
    tasks.LoadTasks(std::string("<xml><task>") + c.task + "</task></xml>");
    tasks.SetRootFolder("/p");
    const TRemovalCount count = CountRemovals(tasks, listing);
    EXPECT_EQ(count.removed, c.removed) << c.task;
    EXPECT_EQ(count.listed, 6) << c.task;
    all += std::string("<task>") + c.task + "</task>";
    total += c.removed;
  }
  TTaskList tasks;
  tasks.LoadTasks("<xml>" + all + "</xml>");
  EXPECT_EQ(CountRemovals(tasks, listing).removed, total);
}

}  // namespace
}  // namespace sv
