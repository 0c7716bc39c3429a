#include "platform/ConsoleKey.h"

#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/win32/OwnerOnlyAcl.h"
#include "platform/win32/WinText.h"

namespace sv {
namespace {

[[noreturn]] void Fail(const SystemPath& file, DWORD error) {
  throw Exception(Format(msg::kCannotCreateFile, file.Text(), fs::ErrorText(static_cast<int>(error))));
}

}  // namespace

namespace win {

std::vector<BYTE> OwnerOnlyAcl(DWORD& error) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    error = ::GetLastError();
    return {};
  }
  Handle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
    error = ::GetLastError();
    return {};
  }
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid);
  std::vector<BYTE> acl(aclSize);
  PACL list = reinterpret_cast<PACL>(acl.data());
  if (!::InitializeAcl(list, aclSize, ACL_REVISION) || !::AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sid)) {
    error = ::GetLastError();
    return {};
  }
  return acl;
}

}  // namespace win

void SystemRandomBytes(unsigned char* bytes, std::size_t size) {
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw Exception("Cannot read the system's random source.");
}

SystemPath ConsoleKeyFile() {
  wchar_t path[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return SystemPath(win::Utf8(path)) / "drumel\\sorvana\\console-key";
}

void WriteConsoleKeyFile(const SystemPath& file, const std::string& key) {
  if (file.empty()) Fail(file, ERROR_PATH_NOT_FOUND);
  const std::wstring wide = win::WideFromUtf8(file.Native());
  const std::wstring folder = wide.substr(0, wide.find_last_of(L'\\'));
  const int made = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
    Fail(file, static_cast<DWORD>(made));
  WritePrivateFile(file, key + "\r\n");
}

void WritePrivateFile(const SystemPath& file, std::string_view content) {
  if (file.empty()) Fail(file, ERROR_PATH_NOT_FOUND);
  const std::wstring wide = win::WideFromUtf8(file.Native());
  DWORD error = ERROR_SUCCESS;
  std::vector<BYTE> acl = win::OwnerOnlyAcl(error);
  if (acl.empty()) Fail(file, error);
  SECURITY_DESCRIPTOR descriptor;
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE);
  ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};

  // The file is made with its access list and takes the name only when whole, replacing
  // a stale one; the list is set once more on the open file, protected, in case the file
  // system merged inherited entries into it.
  const std::wstring temp = wide + L".new";
  ::DeleteFileW(temp.c_str());
  {
    win::Handle out(::CreateFileW(temp.c_str(), GENERIC_WRITE | WRITE_DAC, 0, &attributes, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid()) Fail(file, ::GetLastError());
    error = ::SetSecurityInfo(out.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, reinterpret_cast<PACL>(acl.data()), nullptr);
    DWORD written = 0;
    if (error == ERROR_SUCCESS &&
        (!::WriteFile(out.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
         written != content.size()))
      error = ::GetLastError();
  }
  if (error == ERROR_SUCCESS && !::MoveFileExW(temp.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING))
    error = ::GetLastError();
  if (error != ERROR_SUCCESS) {
    ::DeleteFileW(temp.c_str());
    Fail(file, error);
  }
}

void RemoveConsoleKeyFile(const SystemPath& file) {
  if (!file.empty()) ::DeleteFileW(win::WideFromUtf8(file.Native()).c_str());
}

}  // namespace sv
