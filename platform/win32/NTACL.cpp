// The access-list calls on Windows: the object's DACL through the wide security calls.
#include "platform/NTACL.h"

#include <windows.h>
#include <aclapi.h>

#include "base/Text.h"
#include "platform/win32/WinText.h"

namespace sv {

struct TNTACL_Helper::Security {
  PSECURITY_DESCRIPTOR descriptor = nullptr;  // what was read; holds `dacl` then
  PACL dacl = nullptr;                        // may be null: no list, everyone allowed
  bool ownsDacl = false;                      // a merged list is allocated on its own
  // The folder that was read, held open without leave to delete or rename it, so that
  // the path names this very folder until the grant is written.
  HANDLE folder = INVALID_HANDLE_VALUE;
  ~Security() {
    if (ownsDacl && dacl) ::LocalFree(dacl);
    if (descriptor) ::LocalFree(descriptor);
    if (folder != INVALID_HANDLE_VALUE) ::CloseHandle(folder);
  }
};

void TNTACL_Helper::SecurityFree::operator()(Security* s) const { delete s; }

namespace {

thread_local DWORD tLastCallError = 0;

// Keeps a security call's own result code (these calls do not set the thread's last
// error) and turns it into the helper's answer.
bool Result(DWORD code) {
  if (code != ERROR_SUCCESS) tLastCallError = code;
  return code == ERROR_SUCCESS;
}

// The well-known group S-1-5-11 for "Authenticated Users" (alone or in "NT AUTHORITY"):
// its name is translated on non-English systems, its SID is the same everywhere.
bool IsAuthenticatedUsers(const std::string& trustee) {
  const std::size_t slash = trustee.rfind('\\');
  const std::string domain = slash == std::string::npos ? "" : trustee.substr(0, slash);
  return SameText(trustee.substr(slash + 1), "Authenticated Users") &&
         (domain.empty() || SameText(domain, "NT AUTHORITY"));
}

}  // namespace

int TNTACL_Helper::LastCallError() { return static_cast<int>(tLastCallError); }

bool TNTACL_Helper::ReadSecurity(const std::string& path, SecurityPtr& security) {
  SecurityPtr s(new Security);
  std::wstring wide = win::WidePath(path);
  // Folders only (a link to one is followed); a file is never opened up.
  s->folder = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (s->folder == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(s->folder, &info))
    return Result(::GetLastError());
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Result(ERROR_DIRECTORY);
  if (!Result(::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &s->dacl, nullptr, &s->descriptor)))
    return false;
  security = std::move(s);
  return true;
}

bool TNTACL_Helper::MergeEntries(const ExplicitAccess& entry, const Security& current, SecurityPtr& merged) {
  if (entry.mode != TNT_FileACL::kGrantAccess && entry.mode != TNT_FileACL::kSetAccess)
    return Result(ERROR_INVALID_PARAMETER);
  EXPLICIT_ACCESS_W access{};
  std::wstring name = win::Wide(entry.trustee);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  if (IsAuthenticatedUsers(entry.trustee)) {
    DWORD size = sizeof sid;
    if (!::CreateWellKnownSid(WinAuthenticatedUserSid, nullptr, sid, &size)) return Result(::GetLastError());
    access.grfAccessPermissions = entry.rights;
    access.grfAccessMode = static_cast<ACCESS_MODE>(entry.mode);
    access.grfInheritance = entry.inheritance;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid);
  } else {
    ::BuildExplicitAccessWithNameW(&access, name.data(), entry.rights, static_cast<ACCESS_MODE>(entry.mode),
                                   entry.inheritance);
  }
  SecurityPtr s(new Security);
  s->ownsDacl = true;
  if (!Result(::SetEntriesInAclW(1, &access, current.dacl, &s->dacl))) return false;
  merged = std::move(s);
  return true;
}

bool TNTACL_Helper::IsValidAcl(const Security& security) {
  return (security.dacl && ::IsValidAcl(security.dacl)) || Result(ERROR_INVALID_ACL);
}

bool TNTACL_Helper::WriteSecurity(const std::string& path, const Security& security) {
  std::wstring wide = win::WidePath(path);
  return Result(::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        security.dacl, nullptr));
}

}  // namespace sv
