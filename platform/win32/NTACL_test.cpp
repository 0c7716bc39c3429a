#include "platform/NTACL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace sv {
namespace {

// Wine keeps no access list on the disk: what these tests can see is each step's outcome
// and the error code of the step that failed.
TEST(WindowsGrant, GrantsToAuthenticatedUsersByTheirSidAndKeepsTheCallsOwnErrorCodes) {
  test::TempDir dir;
  test::MakeDirs(dir / "folder");
  test::WriteFile(dir / "file", "");
  const struct {
    std::string path, domain, name;
    bool granted;
    std::vector<int> errors;  // the codes the failed call may give
  } cases[] = {
      {dir / "folder", "", "Authenticated Users", true, {0}},
      {dir / "folder", "NT AUTHORITY", "authenticated users", true, {0}},
      {dir / "file", "", "Authenticated Users", false, {267}},          // ERROR_DIRECTORY: folders only
      {dir / "none/x", "", "Authenticated Users", false, {2, 3}},       // not found
      {dir / "folder", "", "Nobody Of That Name", false, {1332, 87}},   // none mapped (87 under Wine)
  };
  for (const auto& c : cases) {
    TNT_FileACL acl;
    acl.ObjectName = c.path;
    EXPECT_EQ(acl.GrantAccess(c.domain, c.name, TNT_FileACL::kModifyRights, 3), c.granted) << c.path << " " << c.name;
    EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), acl.LastError()), c.errors.end())
        << c.path << " " << c.name << ": " << acl.LastError();
  }
}

}  // namespace
}  // namespace sv
