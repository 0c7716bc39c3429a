#include "platform/UserFile.h"

#include <acl/libacl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "base/Exception.h"
#include "tests/support/TempDir.h"

namespace sv::fs {
namespace {

using test::ReadFile;
using test::WriteFile;

constexpr uid_t kNobody = 65534;

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Runs fn where permission bits hold: as the user nobody in a child process when this
// one is root (root passes every permission check), else right here. fn's result.
bool Unprivileged(const std::function<bool()>& fn) {
  if (::geteuid() != 0) return fn();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool ok = ::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                    ::setresuid(kNobody, kNobody, kNobody) == 0 && fn();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Rewrite(const std::string& path, const std::string& content) {
  try {
    RewriteUserFile(SystemPath(path), content);
    return true;
  } catch (const Exception& e) {
    ADD_FAILURE() << e.Message();
    return false;
  }
}

// Each set-up makes `file` as a user might have arranged it; the rewrite must change its
// content and nothing of what the user made.
TEST(RewriteUserFile, KeepsWhatTheUserMadeOfTheFile) {
  const struct {
    const char* arrangement;
    std::function<void(const std::string& dir, const std::string& file)> arrange, check;
    bool unprivileged = false;
  } cases[] = {
      {"a link to a file elsewhere",
       [](const std::string& dir, const std::string& file) {
         test::MakeDirs(dir + "/elsewhere");
         WriteFile(dir + "/elsewhere/real.xml", "old");
         ASSERT_EQ(::symlink("elsewhere/real.xml", file.c_str()), 0);
       },
       [](const std::string& dir, const std::string& file) {
         EXPECT_TRUE(S_ISLNK(Stat(file).st_mode));
         EXPECT_EQ(ReadFile(dir + "/elsewhere/real.xml"), "new");
       }},
      {"a second hard link",
       [](const std::string& dir, const std::string& file) {
         WriteFile(file, "old content, longer than the new one");
         ASSERT_EQ(::link(file.c_str(), (dir + "/second.xml").c_str()), 0);
       },
       [](const std::string& dir, const std::string& file) {
         EXPECT_EQ(Stat(file).st_ino, Stat(dir + "/second.xml").st_ino);
         EXPECT_EQ(ReadFile(dir + "/second.xml"), "new");
       }},
      {"another owner, group, mode and access list",
       [](const std::string&, const std::string& file) {
         WriteFile(file, "old");
         ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
         if (::geteuid() == 0) {
           ASSERT_EQ(::chown(file.c_str(), kNobody, kNobody), 0);
         }
         acl_t acl = acl_from_text("u::rw-,g::r--,g:root:rw-,m::rw-,o::---");
         acl_set_file(file.c_str(), ACL_TYPE_ACCESS, acl);  // where the file system has access lists
         acl_free(acl);
       },
       [](const std::string&, const std::string& file) {
         const struct stat st = Stat(file);
         EXPECT_EQ(st.st_uid, ::geteuid() == 0 ? kNobody : ::geteuid());
         EXPECT_EQ(st.st_mode & 07777, acl_extended_file(file.c_str()) == 1 ? 0660u : 0640u);
         acl_t acl = acl_get_file(file.c_str(), ACL_TYPE_ACCESS);
         char* text = acl_to_any_text(acl, nullptr, ',', TEXT_ABBREVIATE);
         if (acl_extended_file(file.c_str()) == 1) {
           EXPECT_STREQ(text, "u::rw-,g::r--,g:root:rw-,m::rw-,o::---");
         }
         acl_free(text);
         acl_free(acl);
       }},
      {"a folder the user cannot write",
       [](const std::string& dir, const std::string& file) {
         WriteFile(file, "old");
         ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
         ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
       },
       [](const std::string&, const std::string& file) { EXPECT_EQ(Stat(file).st_mode & 07777, 0666u); },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arrangement);
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // for nobody to reach
    const std::string file = dir / "svClient.xml";
    c.arrange(dir.path(), file);
    const struct stat before = Stat(file);
    EXPECT_TRUE(c.unprivileged ? Unprivileged([&] { return Rewrite(file, "new"); }) : Rewrite(file, "new"));
    EXPECT_EQ(ReadFile(file), "new");
    EXPECT_EQ(Stat(file).st_gid, before.st_gid);
    c.check(dir.path(), file);
  }
}

TEST(RewriteUserFile, ARefusedFileStaysAsItWas) {
  test::TempDir dir;
  WriteFile(dir / "ro.xml", "keep");
  ASSERT_EQ(::chmod((dir / "ro.xml").c_str(), 0444), 0);
  WriteFile(dir / "theirs.xml", "keep");
  ASSERT_EQ(::chmod((dir / "theirs.xml").c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const struct {
    std::string path, message;
    bool unprivileged;
  } cases[] = {
      {dir / "ro.xml", "Permission denied", false},
      // Neither a file beside it nor the file itself can be written (root's file, for
      // nobody; a user cannot give a file away, so only root can set this up).
      {dir / "theirs.xml", "Permission denied", true},
  };
  for (const auto& c : cases) {
    if (c.unprivileged && ::geteuid() != 0) continue;
    const auto refused = [&] {
      try {
        RewriteUserFile(SystemPath(c.path), "new");
      } catch (const Exception& e) {
        return e.Message() == "Cannot create file \"" + c.path + "\". " + c.message;
      }
      return false;
    };
    EXPECT_TRUE(c.unprivileged ? Unprivileged(refused) : refused()) << c.path;
  }
  EXPECT_EQ(ReadFile(dir / "ro.xml"), "keep");
  EXPECT_EQ(ReadFile(dir / "theirs.xml"), "keep");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

}  // namespace
}  // namespace sv::fs
