#include "sync/FileDisposal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "base/Messages.h"
#include "eventlog/drLogger.h"
#include "sync/usvBaseCommand.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPlatform.h"
#include "tests/support/TrashRecords.h"

namespace sv {
namespace {

using test::ReadFile;
using test::WriteFile;
using Trashed = std::map<std::string, std::string>;

// delete_file, update_file and insert_file over a file, with the trash on, off, or
// refusing: the old contents go to the trash or are gone, and a refusing trash is noted
// once in the run.
TEST(FileDisposal, RemovedAndReplacedFilesGoToTheTrashUnlessItIsOffOrRefuses) {
  SV_SKIP_ON_WINDOWS("the recycle bin keeps its records in a form of its own");
  enum class Trash { kOn, kOff, kRefusing };
  for (const Trash mode : {Trash::kOn, Trash::kOff, Trash::kRefusing}) {
    test::TempDir dir;
    const std::string root = dir / "root", source = dir / "src";
    test::MakeDirs(root);
    test::MakeDirs(source);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
      WriteFile(root + "/" + name, std::string("old ") + name);
      WriteFile(source + "/" + name, std::string("new ") + name);
    }
    const std::string data = mode == Trash::kRefusing ? dir / "data" : std::getenv("XDG_DATA_HOME");
    test::MakeDirs(data + "/Trash");
    if (mode == Trash::kRefusing) WriteFile(data + "/Trash/info", "not a folder");
    const std::string usual = std::getenv("XDG_DATA_HOME");
    test::SetEnv("XDG_DATA_HOME", data);
    TdrEventLog log;
    {
      TScopedFileDisposal disposal(mode != Trash::kOff, &log);
      TsvDeleteFileCommand::Execute(root, source, "\\a.txt");
      TsvUpdateFileCommand::Execute(root, source, "\\b.txt");
      TsvInsertFileCommand::Execute(root, source, "\\c.txt");
    }
    test::SetEnv("XDG_DATA_HOME", usual);

    const int m = static_cast<int>(mode);
    EXPECT_FALSE(std::filesystem::exists(root + "/a.txt")) << m;
    EXPECT_EQ(ReadFile(root + "/b.txt"), "new b.txt") << m;
    EXPECT_EQ(ReadFile(root + "/c.txt"), "new c.txt") << m;
    const Trashed expected = mode != Trash::kOn ? Trashed{}
                                                : Trashed{{root + "/a.txt", "old a.txt"},
                                                          {root + "/b.txt", "old b.txt"},
                                                          {root + "/c.txt", "old c.txt"}};
    EXPECT_EQ(test::TrashedFiles(data, root), expected) << m;
    EXPECT_EQ(log.Count(), mode == Trash::kRefusing ? 1 : 0) << m;
    if (mode == Trash::kRefusing) {
      EXPECT_EQ(log.Items(0).Text(), Format(msg::kNoTrash, root + "\\a.txt"));
    }
  }
}

}  // namespace
}  // namespace sv
