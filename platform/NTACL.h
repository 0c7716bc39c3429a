#pragma once
// Granting a trustee rights on a file or folder by merging one entry into its access list.
//
// The rights, access mode and inheritance are given as the Windows values (file access
// rights, GRANT_ACCESS = 1, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE = 3). On Linux the
// access list is the POSIX ACL: the trustee "Authenticated Users" stands for the local
// group "users" and other names are local groups; read data gives r, write or append data
// gives w, execute gives x; an inheritable grant is merged into the folder's default ACL
// too. On Windows the trustee "Authenticated Users" is the well-known group S-1-5-11,
// whatever the system's language calls it. A failed step returns false and keeps the OS
// error code (LastCallError).
//
// Grants apply to folders only: ReadSecurity fails (ENOTDIR) when the path names a file,
// a pipe, a device or a link to one of them, so nothing but a folder is ever opened up.
// The object is opened once, by ReadSecurity, and every later step works on that open
// object, so a folder swapped in at the path meanwhile cannot receive the grant; on the
// way there only links made by the system or by this user are followed (EPERM for
// others). WriteSecurity writes the object that ReadSecurity opened; when it fails
// half-way it puts back what it had written, so a failed grant changes nothing.
// On Windows ReadSecurity fails with ERROR_DIRECTORY for anything but a folder and holds
// the folder open without leave to delete or rename it, so the path keeps naming it while
// the security calls read and write the DACL by name; one DACL is written whole.
#include <cstdint>
#include <memory>
#include <string>

namespace sv {

// Thin wrapper over the platform's security calls; each returns true when the call
// succeeded and otherwise keeps the OS error code for LastCallError. Paths and names are
// Windows-1250 text.
class TNTACL_Helper {
 public:
  struct Security;  // the access lists of one object, as the platform holds them
  struct SecurityFree {
    void operator()(Security* s) const;
  };
  using SecurityPtr = std::unique_ptr<Security, SecurityFree>;

  // One explicit access entry.
  struct ExplicitAccess {
    std::string trustee;  // "domain\name"
    std::uint32_t rights = 0, mode = 0, inheritance = 0;
  };

  // Opens the folder at path and reads its access lists.
  static bool ReadSecurity(const std::string& path, SecurityPtr& security);
  static bool BuildExplicitAccess(ExplicitAccess& entry, const std::string& trustee, std::uint32_t rights,
                                  std::uint32_t mode, std::uint32_t inheritance);
  static bool MergeEntries(const ExplicitAccess& entry, const Security& current, SecurityPtr& merged);
  static bool IsValidAcl(const Security& security);
  // Writes the access lists to the folder they were read from (path names it for the
  // platforms that write by name); all of them or, on failure, none.
  static bool WriteSecurity(const std::string& path, const Security& security);
  // The OS error code of the calling thread's last failed call above: errno on Linux, the
  // code that the security call itself returned on Windows.
  static int LastCallError();
};

class TNT_FileACL : public TNTACL_Helper {
 public:
  static constexpr std::uint32_t kGrantAccess = 1;
  static constexpr std::uint32_t kSetAccess = 2;
  static constexpr std::uint32_t kObjectInherit = 1, kContainerInherit = 2;
  // The platform's modify rights without SYNCHRONIZE (0x301BF).
  static constexpr std::uint32_t kModifyRights = 0x301BF;

  // The path of the folder whose access list is changed.
  std::string ObjectName;

  // Adds one entry for the trustee "domain\name" (also when domain is empty) to the access
  // list of ObjectName; true when every step succeeded. Entries already there stay; the
  // trustee gains the rights in addition to any it had (mode kGrantAccess) or has exactly
  // them (kSetAccess). Any other mode fails.
  bool Grant(const std::string& domain, const std::string& name, std::uint32_t rights, std::uint32_t mode,
             std::uint32_t inheritance);
  bool GrantAccess(const std::string& domain, const std::string& name, std::uint32_t rights,
                   std::uint32_t inheritance) {
    return Grant(domain, name, rights, kGrantAccess, inheritance);
  }
  // The OS error code of the step at which the last Grant failed; 0 after a success.
  int LastError() const { return lastError_; }

 private:
  int lastError_ = 0;
};

}  // namespace sv
