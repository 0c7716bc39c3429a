#include "server/ServerCommand.h"

#include <gtest/gtest.h>

namespace sv {
namespace {

const std::vector<std::string> kProjects = {"drumel", "drumel extra", "a b"};

TEST(ServerCommand, KeywordsAndProjectNames) {
  EXPECT_EQ(ParseServerCommand("Hello", kProjects).request, TServerRequest::kHello);
  EXPECT_EQ(ParseServerCommand("hello", kProjects).request, TServerRequest::kHello);
  EXPECT_EQ(ParseServerCommand("", kProjects).request, TServerRequest::kUnknown);
  EXPECT_EQ(ParseServerCommand("Hi there", kProjects).request, TServerRequest::kUnknown);
  EXPECT_EQ(ParseServerCommand(" Hello", kProjects).request, TServerRequest::kUnknown);

  TServerCommand c = ParseServerCommand("Sync drumel", kProjects);
  EXPECT_EQ(c.request, TServerRequest::kSync);
  EXPECT_EQ(c.project, 0);
  EXPECT_EQ(ParseServerCommand("SYNC DRUMEL extra", kProjects).project, 1);
  EXPECT_EQ(ParseServerCommand("Sync a b", kProjects).project, 2);  // blanks travel unquoted
  EXPECT_EQ(ParseServerCommand("Sync drumel ", kProjects).project, -1);
  EXPECT_EQ(ParseServerCommand("Sync", kProjects).project, -1);
  EXPECT_EQ(ParseServerCommand("Sync nobody", kProjects).project, -1);
}

TEST(ServerCommand, GetFileTakesTheLongestProjectNameThenThePath) {
  TServerCommand c = ParseServerCommand("GetFile drumel \\docs\\a.txt", kProjects);
  EXPECT_EQ(c.request, TServerRequest::kGetFile);
  EXPECT_EQ(c.project, 0);
  EXPECT_EQ(c.path, "\\docs\\a.txt");
  c = ParseServerCommand("GetFile drumel extra \\new folder\\a b.txt", kProjects);
  EXPECT_EQ(c.project, 1);
  EXPECT_EQ(c.path, "\\new folder\\a b.txt");
  c = ParseServerCommand("GetFile drumel extraX", kProjects);  // not "drumel extra" + blank
  EXPECT_EQ(c.project, 0);
  EXPECT_EQ(c.path, "extraX");
  c = ParseServerCommand("GetFile drumel", kProjects);
  EXPECT_EQ(c.project, -1);
  EXPECT_EQ(c.path, "");
  c = ParseServerCommand("GetFile drumel ", kProjects);
  EXPECT_EQ(c.project, 0);
  EXPECT_EQ(c.path, "");
  EXPECT_EQ(ParseServerCommand("GetFile other \\x", kProjects).project, -1);
  EXPECT_EQ(ParseServerCommand("GetFile x", {}).project, -1);
}

}  // namespace
}  // namespace sv
