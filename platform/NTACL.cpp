#include "platform/NTACL.h"

namespace sv {

// The record is ours on every system; the platform's call that takes it is MergeEntries.
bool TNTACL_Helper::BuildExplicitAccess(ExplicitAccess& entry, const std::string& trustee, std::uint32_t rights,
                                        std::uint32_t mode, std::uint32_t inheritance) {
  entry = {trustee, rights, mode, inheritance};
  return true;
}

bool TNT_FileACL::Grant(const std::string& domain, const std::string& name, std::uint32_t rights,
                        std::uint32_t mode, std::uint32_t inheritance) {
  // Every exit below releases what was obtained: the holders free themselves.
  SecurityPtr current, merged;
  ExplicitAccess entry;
  const bool ok = ReadSecurity(ObjectName, current) &&
                  BuildExplicitAccess(entry, domain + "\\" + name, rights, mode, inheritance) &&
                  MergeEntries(entry, *current, merged) && IsValidAcl(*merged) &&
                  WriteSecurity(ObjectName, *merged);
  lastError_ = ok ? 0 : LastCallError();
  return ok;
}

}  // namespace sv
