// The access-list calls on Linux: POSIX ACLs through libacl, on a folder held open.
//
// The grant works on the descriptor of the folder that ReadSecurity opened and checked,
// never on its path again, so nothing swapped in at that path later receives it. The
// access ACL is read and written with acl_get_fd and acl_set_fd. The default ACL has
// only path calls in libacl; they are given /proc/self/fd/N, which names that very
// descriptor (the kernel resolves it to the open folder, not by name). Without /proc
// mounted, ReadSecurity fails before anything changed.
#include "platform/NTACL.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/posix/AclTesting.h"
#include "platform/posix/DescriptorPath.h"

namespace sv {

struct TNTACL_Helper::Security {
  int folder = -1;            // the folder, open for reading
  acl_t access = nullptr;
  acl_t inherited = nullptr;  // the default ACL
  ~Security() {
    if (folder >= 0) ::close(folder);
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

// Set by FailInheritedAclWriteForTesting; 0 in the program.
int gFailInheritedWrite = 0;

int WriteInherited(int folder, acl_t acl) {
  if (gFailInheritedWrite != 0) return (errno = gFailInheritedWrite, -1);
  return acl_set_file(DescriptorPath(folder).c_str(), ACL_TYPE_DEFAULT, acl);
}

// Replaces fd with next, closing the one it held; errno stays as it was.
void Move(int& fd, int next) {
  const int error = errno;
  if (fd >= 0) ::close(fd);
  fd = next;
  errno = error;
}

// Components of a path, the first one last, so that the walk pops them in order.
void PushComponents(const std::string& path, std::vector<std::string>& stack) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  stack.insert(stack.end(), parts.rbegin(), parts.rend());
}

// Opens the folder a path names, component by component from descriptor to descriptor.
// A link on the way is followed only when root or this user made it: another user's
// link could otherwise send the grant to a folder of ours of their choosing, and a path
// checked once could be swapped under us. The folder at the end must be a folder (a
// file, a pipe or a device fails with ENOTDIR, and nothing is opened for reading but a
// folder). -1 with errno set on failure.
int OpenFolder(const std::string& native) {
  if (native.empty()) return (errno = ENOENT, -1);
  std::vector<std::string> rest;
  PushComponents(native, rest);
  int dir = ::open(native[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (int links = 0; dir >= 0 && !rest.empty();) {
    const std::string name = std::move(rest.back());
    rest.pop_back();
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      Move(dir, -1);
    } else if (!S_ISLNK(st.st_mode)) {
      // O_NOFOLLOW: a link put there since the look above is refused, not followed.
      Move(dir, ::openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    } else if ((st.st_uid != 0 && st.st_uid != ::geteuid()) || ++links > 40) {
      errno = links > 40 ? ELOOP : EPERM;
      Move(dir, -1);
    } else {
      char text[PATH_MAX];
      const ssize_t n = ::readlinkat(dir, name.c_str(), text, sizeof text - 1);
      if (n <= 0) {
        Move(dir, -1);
        continue;
      }
      const std::string target(text, static_cast<std::size_t>(n));
      PushComponents(target, rest);
      if (target[0] == '/') Move(dir, ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
  }
  if (dir < 0) return -1;
  const int folder = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Move(dir, -1);
  return folder;
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
  SecurityPtr s(new Security);
  s->folder = OpenFolder(fs::NativePath(path));
  if (s->folder < 0) return false;
  s->access = acl_get_fd(s->folder);
  if (!s->access) return false;
  s->inherited = acl_get_file(DescriptorPath(s->folder).c_str(), ACL_TYPE_DEFAULT);
  if (!s->inherited) return false;
  security = std::move(s);
  return true;
}

bool TNTACL_Helper::MergeEntries(const ExplicitAccess& entry, const Security& current, SecurityPtr& merged) {
  if (entry.mode != TNT_FileACL::kGrantAccess && entry.mode != TNT_FileACL::kSetAccess) return Fail(EINVAL);
  gid_t gid;
  if (!ResolveTrustee(entry.trustee, gid)) return false;
  const bool add = entry.mode == TNT_FileACL::kGrantAccess;
  SecurityPtr s(new Security);
  s->folder = ::fcntl(current.folder, F_DUPFD_CLOEXEC, 0);  // the same open folder
  if (s->folder < 0) return false;
  s->access = acl_dup(current.access);
  if (!s->access || !MergeGroup(s->access, gid, entry.rights, add)) return false;
  const bool inherit = (entry.inheritance & kInheritable) != 0;
  s->inherited = inherit ? InheritedBase(current) : acl_dup(current.inherited);
  if (!s->inherited || (inherit && !MergeGroup(s->inherited, gid, entry.rights, add))) return false;
  merged = std::move(s);
  return true;
}

bool TNTACL_Helper::IsValidAcl(const Security& security) {
  if (acl_valid(security.access) != 0) return false;
  return acl_entries(security.inherited) == 0 || acl_valid(security.inherited) == 0;
}

int TNTACL_Helper::LastCallError() { return errno; }

bool TNTACL_Helper::WriteSecurity(const std::string&, const Security& security) {
  // The folder ReadSecurity opened; see the top of this file.
  acl_t before = acl_get_fd(security.folder);
  if (!before) return false;
  int error = 0;
  if (acl_set_fd(security.folder, security.access) != 0) {
    error = errno;
  } else if (acl_entries(security.inherited) > 0 && WriteInherited(security.folder, security.inherited) != 0) {
    // A failed grant changes nothing: the access ACL goes back to what it was.
    error = errno;
    acl_set_fd(security.folder, before);
  }
  acl_free(before);
  return error == 0 || Fail(error);
}

void FailInheritedAclWriteForTesting(int error) { gFailInheritedWrite = error; }

}  // namespace sv
