#include "platform/ConsoleKey.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <vector>

#include "platform/win32/OwnerOnlyAcl.h"
#include "platform/win32/WinText.h"
#include "tests/support/TempDir.h"

namespace sv {
namespace {

std::vector<BYTE> ProcessUser() {
  HANDLE token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  EXPECT_TRUE(::GetTokenInformation(token, TokenUser, user.data(), size, &size));
  ::CloseHandle(token);
  return user;
}

// One entry, allowing this user.
void ExpectUserAlone(PACL dacl) {
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 1);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(::GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  const std::vector<BYTE> user = ProcessUser();
  EXPECT_TRUE(::EqualSid(reinterpret_cast<PSID>(&ace->SidStart), reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid));
}

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The file's list is read back where the system keeps it; Wine keeps no access list on
// the disk, so there the list the program sets is what can be seen.
TEST(ConsoleKey, FileGrantsTheUserAloneAndInheritsNothing) {
  DWORD error = 0;
  std::vector<BYTE> built = win::OwnerOnlyAcl(error);
  ASSERT_FALSE(built.empty()) << error;
  ExpectUserAlone(reinterpret_cast<PACL>(built.data()));

  const SystemPath file = ConsoleKeyFile();
  ASSERT_FALSE(file.empty());
  WriteConsoleKeyFile(file, "k1");
  WriteConsoleKeyFile(file, "k2");  // a stale file is replaced
  EXPECT_EQ(test::ReadFile(file.Native()), "k2\r\n");
  const std::wstring wide = win::WideFromUtf8(file.Native());
  if (!UnderWine()) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &dacl, nullptr, &descriptor),
              ERROR_SUCCESS);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED));
    ExpectUserAlone(dacl);
    ::LocalFree(descriptor);
  }
  RemoveConsoleKeyFile(file);
  EXPECT_EQ(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace sv
