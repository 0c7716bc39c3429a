#include "console/ProjectRoot.h"

#include "base/Messages.h"
#include "base/Text.h"
#include "eventlog/drLogger.h"
#include "platform/FileSystem.h"
#include "platform/NTACL.h"

namespace sv {

void CreateProjectRoot(const std::string& path, TdrEventLog& log) {
  static const std::string kTrustee = "Authenticated Users";
  log.Add(Format(msg::kCreatingFolder, path));
  // A folder that exists already, or cannot be made, shows in the grant's outcome.
  fs::CreateFolder(path);
  TNT_FileACL acl;
  acl.ObjectName = path;
  if (acl.GrantAccess("", kTrustee, TNT_FileACL::kModifyRights,
                      TNT_FileACL::kObjectInherit | TNT_FileACL::kContainerInherit)) {
    log.Add(Format(msg::kAccessGranted, kTrustee, path));
  } else {
    log.Add(Format(msg::kAccessFailed, kTrustee, path, acl.LastError(), fs::ErrorText(acl.LastError())));
  }
}

}  // namespace sv
