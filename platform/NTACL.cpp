#include "platform/NTACL.h"

#include <cerrno>

namespace sv {

bool TNT_FileACL::Grant(const std::string& domain, const std::string& name, std::uint32_t rights,
                        std::uint32_t mode, std::uint32_t inheritance) {
  // Every exit below releases what was obtained: the holders free themselves.
  SecurityPtr current, merged;
  ExplicitAccess entry;
  const bool ok = ReadSecurity(ObjectName, current) &&
                  BuildExplicitAccess(entry, domain + "\\" + name, rights, mode, inheritance) &&
                  MergeEntries(entry, *current, merged) && IsValidAcl(*merged) &&
                  WriteSecurity(ObjectName, *merged);
  lastError_ = ok ? 0 : errno;
  return ok;
}

}  // namespace sv
