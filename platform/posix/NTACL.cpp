// The access-list calls on Linux: POSIX ACLs through libacl.
#include "platform/NTACL.h"

#include <acl/libacl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "base/Text.h"
#include "platform/FileSystem.h"

namespace sv {

struct TNTACL_Helper::Security {
  acl_t access = nullptr;
  acl_t inherited = nullptr;  // the default ACL; only a folder has one
  bool folder = false;
  ~Security() {
    if (access) acl_free(access);
    if (inherited) acl_free(inherited);
  }
};

void TNTACL_Helper::SecurityFree::operator()(Security* s) const { delete s; }

namespace {

constexpr std::uint32_t kReadData = 0x1, kWriteData = 0x2, kAppendData = 0x4, kExecute = 0x20;
constexpr std::uint32_t kInheritable = 0x1 | 0x2;

bool Fail(int error) {
  errno = error;
  return false;
}

// The local group that stands for a trustee "domain\name": the domain is not used;
// "Authenticated Users" is the group of all local users.
bool ResolveTrustee(const std::string& trustee, gid_t& gid) {
  std::string name = trustee.substr(trustee.rfind('\\') + 1);
  if (SameText(name, "Authenticated Users")) name = "users";
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  const int rc = getgrnam_r(Cp1250ToUtf8(name).c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (rc != 0) return Fail(rc);
  if (!found) return Fail(EINVAL);  // no such group
  gid = found->gr_gid;
  return true;
}

// The named-group entry for gid, created (with no rights) when the list has none.
bool GroupEntry(acl_t& acl, gid_t gid, acl_entry_t& entry) {
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    if (acl_get_tag_type(entry, &tag) != 0 || tag != ACL_GROUP) continue;
    auto* qualifier = static_cast<gid_t*>(acl_get_qualifier(entry));
    const bool same = qualifier && *qualifier == gid;
    if (qualifier) acl_free(qualifier);
    if (same) return true;
  }
  acl_permset_t perms;
  return acl_create_entry(&acl, &entry) == 0 && acl_set_tag_type(entry, ACL_GROUP) == 0 &&
         acl_set_qualifier(entry, &gid) == 0 && acl_get_permset(entry, &perms) == 0 &&
         acl_clear_perms(perms) == 0;
}

// Gives the group the rights (in addition to its own when add), then recomputes the mask.
bool MergeGroup(acl_t& acl, gid_t gid, std::uint32_t rights, bool add) {
  acl_entry_t entry;
  acl_permset_t perms;
  if (!GroupEntry(acl, gid, entry) || acl_get_permset(entry, &perms) != 0) return false;
  if (!add) acl_clear_perms(perms);
  if (rights & kReadData) acl_add_perm(perms, ACL_READ);
  if (rights & (kWriteData | kAppendData)) acl_add_perm(perms, ACL_WRITE);
  if (rights & kExecute) acl_add_perm(perms, ACL_EXECUTE);
  return acl_set_permset(entry, perms) == 0 && acl_calc_mask(&acl) == 0;
}

// A default ACL to start from: the folder's own, or, when it has none, the owner, group
// and other entries of its access ACL (what a new entry of a fresh default ACL needs).
acl_t InheritedBase(const TNTACL_Helper::Security& current) {
  if (acl_entries(current.inherited) > 0) return acl_dup(current.inherited);
  acl_t base = acl_init(4);
  acl_entry_t from, to;
  for (int which = ACL_FIRST_ENTRY; base && acl_get_entry(current.access, which, &from) == 1;
       which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    if (acl_get_tag_type(from, &tag) != 0 || (tag != ACL_USER_OBJ && tag != ACL_GROUP_OBJ && tag != ACL_OTHER))
      continue;
    if (acl_create_entry(&base, &to) != 0 || acl_copy_entry(to, from) != 0) {
      acl_free(base);
      return nullptr;
    }
  }
  return base;
}

}  // namespace

bool TNTACL_Helper::ReadSecurity(const std::string& path, SecurityPtr& security) {
  const std::string native = fs::NativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return false;
  SecurityPtr s(new Security);
  s->folder = S_ISDIR(st.st_mode);
  s->access = acl_get_file(native.c_str(), ACL_TYPE_ACCESS);
  if (!s->access) return false;
  if (s->folder && !(s->inherited = acl_get_file(native.c_str(), ACL_TYPE_DEFAULT))) return false;
  security = std::move(s);
  return true;
}

bool TNTACL_Helper::MergeEntries(const ExplicitAccess& entry, const Security& current, SecurityPtr& merged) {
  if (entry.mode != TNT_FileACL::kGrantAccess && entry.mode != TNT_FileACL::kSetAccess) return Fail(EINVAL);
  gid_t gid;
  if (!ResolveTrustee(entry.trustee, gid)) return false;
  const bool add = entry.mode == TNT_FileACL::kGrantAccess;
  SecurityPtr s(new Security);
  s->folder = current.folder;
  s->access = acl_dup(current.access);
  if (!s->access || !MergeGroup(s->access, gid, entry.rights, add)) return false;
  if (current.folder) {
    const bool inherit = (entry.inheritance & kInheritable) != 0;
    s->inherited = inherit ? InheritedBase(current) : acl_dup(current.inherited);
    if (!s->inherited || (inherit && !MergeGroup(s->inherited, gid, entry.rights, add))) return false;
  }
  merged = std::move(s);
  return true;
}

bool TNTACL_Helper::IsValidAcl(const Security& security) {
  if (acl_valid(security.access) != 0) return false;
  return !security.inherited || acl_entries(security.inherited) == 0 || acl_valid(security.inherited) == 0;
}

int TNTACL_Helper::LastCallError() { return errno; }

bool TNTACL_Helper::WriteSecurity(const std::string& path, const Security& security) {
  const std::string native = fs::NativePath(path);
  if (acl_set_file(native.c_str(), ACL_TYPE_ACCESS, security.access) != 0) return false;
  if (!security.inherited || acl_entries(security.inherited) == 0) return true;
  return acl_set_file(native.c_str(), ACL_TYPE_DEFAULT, security.inherited) == 0;
}

}  // namespace sv
