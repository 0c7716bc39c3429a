#include "platform/NTACL.h"

#include <acl/libacl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/posix/AclTesting.h"
#include "tests/support/TempDir.h"

namespace sv {
namespace {

// The access or default ACL of a path in short text form ("u::rwx,g::r-x,g:users:rwx,..."),
// entries sorted by libacl; empty text when there is none.
std::string AclText(const std::string& path, acl_type_t type) {
  acl_t acl = acl_get_file(path.c_str(), type);
  if (!acl) return "error";
  char* text = acl_to_any_text(acl, nullptr, ',', TEXT_ABBREVIATE);
  std::string result = text ? text : "";
  acl_free(text);
  acl_free(acl);
  return result;
}

class GrantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = dir / "root";
    ASSERT_EQ(::mkdir(folder.c_str(), 0750), 0);
    acl_t probe = acl_from_text("u::rwx,g::r-x,o::---");
    const bool supported = acl_set_file(folder.c_str(), ACL_TYPE_ACCESS, probe) == 0 || errno != ENOTSUP;
    acl_free(probe);
    if (!supported) GTEST_SKIP() << "the temporary folder's file system has no POSIX ACL support";
    if (!getgrnam("users")) GTEST_SKIP() << "this system has no local group 'users'";
  }
  bool GrantUsers(std::uint32_t rights = TNT_FileACL::kModifyRights, std::uint32_t inherit = 3) {
    acl.ObjectName = folder;
    return acl.GrantAccess("", "Authenticated Users", rights, inherit);
  }
  test::TempDir dir;
  std::string folder;
  TNT_FileACL acl;
};

TEST_F(GrantTest, AuthenticatedUsersGainModifyRightsInheritedAndOwnEntriesStay) {
  ASSERT_TRUE(GrantUsers());
  EXPECT_EQ(acl.LastError(), 0);
  EXPECT_EQ(AclText(folder, ACL_TYPE_ACCESS), "u::rwx,g::r-x,g:users:rwx,m::rwx,o::---");
  EXPECT_EQ(AclText(folder, ACL_TYPE_DEFAULT), "u::rwx,g::r-x,g:users:rwx,m::rwx,o::---");
  // What is created inside inherits the entry.
  const std::string child = folder + "/sub";
  ASSERT_EQ(::mkdir(child.c_str(), 0777), 0);
  EXPECT_NE(AclText(child, ACL_TYPE_ACCESS).find("g:users:rwx"), std::string::npos);
}

TEST_F(GrantTest, MergeAddsToExistingEntriesAndKeepsOthers) {
  acl_t start = acl_from_text("u::rwx,g::r-x,g:users:r--,g:root:--x,m::r-x,o::---");
  ASSERT_EQ(acl_set_file(folder.c_str(), ACL_TYPE_ACCESS, start), 0);
  acl_free(start);
  acl_t inherited = acl_from_text("u::rwx,g::---,g:root:r--,m::r--,o::---");
  ASSERT_EQ(acl_set_file(folder.c_str(), ACL_TYPE_DEFAULT, inherited), 0);
  acl_free(inherited);

  ASSERT_TRUE(GrantUsers(0x2 /* write data */));
  EXPECT_EQ(AclText(folder, ACL_TYPE_ACCESS), "u::rwx,g::r-x,g:root:--x,g:users:rw-,m::rwx,o::---");
  EXPECT_EQ(AclText(folder, ACL_TYPE_DEFAULT), "u::rwx,g::---,g:root:r--,g:users:-w-,m::rw-,o::---");
}

TEST_F(GrantTest, DomainPartIsAcceptedAndSetModeReplacesRights) {
  acl.ObjectName = folder;
  ASSERT_TRUE(acl.Grant("NT AUTHORITY", "Authenticated Users", TNT_FileACL::kModifyRights,
                        TNT_FileACL::kGrantAccess, 0));
  EXPECT_EQ(AclText(folder, ACL_TYPE_ACCESS), "u::rwx,g::r-x,g:users:rwx,m::rwx,o::---");
  EXPECT_EQ(AclText(folder, ACL_TYPE_DEFAULT), "");  // not inheritable: no default ACL
  ASSERT_TRUE(acl.Grant("", "users", 0x1, TNT_FileACL::kSetAccess, 0));
  EXPECT_EQ(AclText(folder, ACL_TYPE_ACCESS), "u::rwx,g::r-x,g:users:r--,m::r-x,o::---");
}

TEST_F(GrantTest, FailuresChangeNothingAndKeepTheOsError) {
  const std::string before = AclText(folder, ACL_TYPE_ACCESS);
  acl.ObjectName = folder;
  EXPECT_FALSE(acl.GrantAccess("", "no-such-group-h5", TNT_FileACL::kModifyRights, 3));
  EXPECT_EQ(acl.LastError(), EINVAL);
  EXPECT_FALSE(acl.Grant("", "users", TNT_FileACL::kModifyRights, 3, 3));  // deny: not supported
  EXPECT_EQ(acl.LastError(), EINVAL);
  EXPECT_EQ(AclText(folder, ACL_TYPE_ACCESS), before);

  acl.ObjectName = folder + "/missing/deeper";
  EXPECT_FALSE(acl.GrantAccess("", "Authenticated Users", TNT_FileACL::kModifyRights, 3));
  EXPECT_EQ(acl.LastError(), ENOENT);
}

// Nothing but a folder is opened up, and another user's link never leads the grant on;
// what was there stays as it was.
TEST_F(GrantTest, OnlyAFolderReachedWithoutAStrangersLinkGetsTheGrant) {
  const std::string file = folder + "/f.txt", other = dir / "other";
  test::WriteFile(file, "private");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink(file.c_str(), (folder + "/to-file").c_str()), 0);
  ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(other.c_str(), (folder + "/strangers").c_str()), 0);
  // Only root can give a link to another user; elsewhere the rows below fail as ENOENT.
  const bool asRoot = ::geteuid() == 0 && ::lchown((folder + "/strangers").c_str(), 65534, 65534) == 0;
  const struct {
    std::string path, changed;  // the path granted, and what must stay as it was
    int error;
  } cases[] = {
      {file, file, ENOTDIR},
      {folder + "/pipe", folder + "/pipe", ENOTDIR},
      {folder + "/to-file", file, ENOTDIR},
      {folder + "/strangers", other, EPERM},
      {folder + "/strangers/.", other, EPERM},
  };
  for (const auto& c : cases) {
    if (c.error == EPERM && !asRoot) continue;
    const std::string before = AclText(c.changed, ACL_TYPE_ACCESS);
    acl.ObjectName = c.path;
    EXPECT_FALSE(acl.GrantAccess("", "Authenticated Users", TNT_FileACL::kModifyRights, 3)) << c.path;
    EXPECT_EQ(acl.LastError(), c.error) << c.path;
    EXPECT_EQ(AclText(c.changed, ACL_TYPE_ACCESS), before) << c.path;
  }
  ASSERT_EQ(::symlink(other.c_str(), (folder + "/mine").c_str()), 0);  // one's own link is followed
  acl.ObjectName = folder + "/mine";
  EXPECT_TRUE(acl.GrantAccess("", "Authenticated Users", TNT_FileACL::kModifyRights, 3));
  EXPECT_NE(AclText(other, ACL_TYPE_ACCESS).find("g:users:rwx"), std::string::npos);
}

TEST_F(GrantTest, AFailureAfterTheAccessListWasWrittenPutsItBack) {
  const std::string access = AclText(folder, ACL_TYPE_ACCESS);
  FailInheritedAclWriteForTesting(EIO);
  EXPECT_FALSE(GrantUsers());
  FailInheritedAclWriteForTesting(0);
  EXPECT_EQ(acl.LastError(), EIO);
  EXPECT_EQ(AclText(folder, ACL_TYPE_ACCESS), access);
  EXPECT_EQ(AclText(folder, ACL_TYPE_DEFAULT), "");
}

}  // namespace
}  // namespace sv
