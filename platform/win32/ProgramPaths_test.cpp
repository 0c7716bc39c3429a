#include "platform/ProgramPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/SystemPath.h"

namespace sv {
namespace {

TEST(WindowsPaths, TheProgramsFoldersAreSystemPaths) {
  EXPECT_EQ(ProgramFileName(), "sv_platform_tests.exe");
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::u8path((ProgramFolder() / ProgramFileName()).Native())));
  EXPECT_FALSE(ConfigFolder().empty());
  EXPECT_EQ(DefaultProjectRoot(), "c:\\program files\\drumel");
  // A leading "~" of a program path is the profile folder.
  EXPECT_EQ(fs::NativePath("~/drumel"), (HomeFolder() / "drumel").Native());
}

TEST(WindowsPaths, SystemPathsJoinWithBackslashesAndShowAsProgramText) {
  const std::pair<SystemPath, const char*> joined[] = {
      {SystemPath("C:\\a") / "b/c.xml", "C:\\a\\b\\c.xml"},
      {SystemPath("C:\\") / "x", "C:\\x"},
      {SystemPath("C:\\a\\b").Folder(), "C:\\a"},
      {SystemPath("C:\\a").Folder(), "C:\\"},
      {SystemPath("\\\\server\\share\\f").Folder(), "\\\\server\\share"},
  };
  for (const auto& [path, native] : joined) EXPECT_EQ(path.Native(), native);
  std::string text;
  EXPECT_TRUE(SystemPath("C:\\\xC4\x8D").ExactText(text));  // č, in UTF-8
  EXPECT_EQ(text, "C:\\\xE8");                               // and in Windows-1250
  EXPECT_FALSE(SystemPath("C:\\\xE6\x97\xA5").ExactText(text));  // 日
  EXPECT_EQ(text, "C:\\?");
}

}  // namespace
}  // namespace sv
