#include "sync/Tasks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <new>

#include "base/Messages.h"
#include "sync/Failure_test.h"
#include "sync/TaskBuilder.h"
#include "tests/support/FailingNew.h"
#include "tests/support/TempDir.h"

namespace sv {
namespace {

using test::MessageOf;

// Records how the dispatcher called it.
struct TRecordingCommand {
  static const char* ClassName() { return "TRecordingCommand"; }
  static std::vector<std::string>& Calls() {
    static std::vector<std::string> calls;
    return calls;
  }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter) {
    Calls().push_back(root + "|" + source + "|" + parameter);
  }
};

class TaskListTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterFileCommands();
    RegisterFileCommands();  // a second call changes nothing
    RegisterCommand(CommandClassOf<TRecordingCommand>(), "record");
  }
  void SetUp() override { TRecordingCommand::Calls().clear(); }

  // The (command, parameter) pairs of a loaded document.
  static std::vector<std::pair<std::string, std::string>> Loaded(std::string_view document) {
    TTaskList list;
    list.LoadTasks(document);
    std::vector<std::pair<std::string, std::string>> tasks;
    for (int i = 0; i < list.TaskCount(); ++i) {
      tasks.emplace_back(list.TaskAt(i)->CommandName(), list.TaskAt(i)->Parameter());
      EXPECT_EQ(list.TaskAt(i)->OwnerList(), &list);
    }
    return tasks;
  }
};

using Tasks = std::vector<std::pair<std::string, std::string>>;

TEST_F(TaskListTest, LoadsTasksInDocumentOrderWithTheirLastParam) {
  EXPECT_EQ(Loaded("<xml>\r\n<task>insert_dir<param>\\docs</param></task>\r\n"
                   "<task>insert_file<param>\\docs\\a.txt,&quot;2008-11-14 13-05-08&quot;</param></task>\r\n"
                   "<task>delete_file<param>\\old.txt</param></task>\r\n</xml>"),
            (Tasks{{"insert_dir", "\\docs"},
                   {"insert_file", "\\docs\\a.txt,\"2008-11-14 13-05-08\""},
                   {"delete_file", "\\old.txt"}}));
  EXPECT_EQ(Loaded("<xml><TASK>x<Param>1</Param><other>o</other><PARAM>2</PARAM></TASK></xml>"),
            (Tasks{{"x", "2"}}));
  EXPECT_EQ(Loaded("<xml><task>\r\n  insert_dir \r\n<param>\\a</param></task><task>bare</task></xml>"),
            (Tasks{{"insert_dir", "\\a"}, {"bare", ""}}));
}

TEST_F(TaskListTest, DocumentsWithoutTasks) {
  EXPECT_EQ(Loaded(""), Tasks{});
  EXPECT_EQ(Loaded("<xml></xml>"), Tasks{});
  EXPECT_EQ(Loaded("<xml><directory><name>a</name></directory><tasks>x</tasks></xml>"), Tasks{});
  TTaskList list;
  EXPECT_EQ(list.TaskAt(0), nullptr);  // never held tasks
  EXPECT_FALSE(list.RunTasks(false));
}

TEST_F(TaskListTest, MalformedDocumentRaisesTheParserMessageAndLeavesNoTasks) {
  TTaskList list;
  list.LoadTasks("<xml><task>a</task></xml>");
  ASSERT_EQ(list.TaskCount(), 1);
  EXPECT_EQ(MessageOf([&] { list.LoadTasks("<xml><task>a</param></xml>"); }),
            Format(msg::kTagMismatch, "task", "/param"));
  EXPECT_EQ(list.TaskCount(), 0);
  EXPECT_EQ(list.TaskAt(0), nullptr);  // the list is absent again: no task, no raise
}

TEST_F(TaskListTest, RunningOutOfMemoryWhileLoadingLeavesNoTasks) {
  const std::string document = "<xml><task>a<param>p</param></task><task>b<param>q</param><param>r</param>";
  for (long n = 1;; ++n) {
    TTaskList list;
    list.LoadTasks("<xml><task>old</task></xml>");
    bool failed = false;
    {
      test::FailAllocation fail(n);
      try {
        list.LoadTasks(document);
      } catch (const std::bad_alloc&) {
      }
      failed = fail.Failed();
    }
    if (!failed) {
      EXPECT_EQ(list.TaskCount(), 2);
      EXPECT_EQ(list.TaskAt(1)->Parameter(), "r");
      break;
    }
    EXPECT_EQ(list.TaskCount(), 0);
    EXPECT_EQ(list.TaskAt(0), nullptr);
  }
}

TEST_F(TaskListTest, DispatchPassesRootSourceAndParameterInThatOrder) {
  TTaskList list;
  list.LoadTasks("<xml><task>RECORD<param>p1</param></task><task>TRecordingCommand<param>p2</param></task></xml>");
  list.SetRootFolder("/root");
  list.SetSource("Indy drumel");
  EXPECT_TRUE(list.RunTasks(true));  // one step: exactly one task
  EXPECT_EQ(TRecordingCommand::Calls(), std::vector<std::string>{"/root|Indy drumel|p1"});
  EXPECT_TRUE(list.RunTasks(false));
  EXPECT_FALSE(list.RunTasks(false));  // all ran
  EXPECT_EQ(TRecordingCommand::Calls().size(), 2u);
  list.ResetRun();
  EXPECT_TRUE(list.RunTasks(false));
  EXPECT_EQ(TRecordingCommand::Calls().size(), 4u);
  EXPECT_EQ(MessageOf([&] { list.TaskAt(2); }), "List index out of bounds (2)");
  EXPECT_EQ(MessageOf([&] { list.TaskAt(-1); }), "List index out of bounds (-1)");
}

TEST_F(TaskListTest, CommandsAreFoundByAliasOrClassNameInAnyCase) {
  EXPECT_EQ(FindCommand("INSERT_FILE").name, "TsvInsertFileCommand");
  EXPECT_EQ(FindCommand("Insert_File").name, "TsvInsertFileCommand");
  EXPECT_EQ(FindCommand("tsvinserdircommand").name, "TsvInserDirCommand");
  EXPECT_EQ(FindCommand("update_file").name, "TsvUpdateFileCommand");
  EXPECT_EQ(FindCommand("delete_dir").name, "TsvDeleteDirCommand");
  for (const char* name : {"insert file", "insertfile", "TsvInsertDirCommand", "TsvCommand", ""}) {
    EXPECT_EQ(MessageOf([&] { FindCommand(name); }), std::string("Class ") + name + " not found");
  }
}

TEST_F(TaskListTest, UnknownSecondTaskKeepsTheFirstsEffectAndSkipsTheThird) {
  test::TempDir dir;
  TTaskList list;
  list.LoadTasks("<xml><task>insert_dir<param>\\a</param></task><task>make_coffee<param>\\b</param></task>"
                 "<task>insert_dir<param>\\c</param></task></xml>");
  list.SetRootFolder(dir.path());
  EXPECT_EQ(MessageOf([&] { list.RunTasks(false); }), "Class make_coffee not found");
  EXPECT_EQ(list.RunCursor(), 1);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a"));
  EXPECT_FALSE(std::filesystem::exists(dir / "c"));
}

}  // namespace
}  // namespace sv
