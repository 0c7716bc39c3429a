#include "platform/ConsoleKey.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <vector>

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

// Read back from the file: one entry, granting this user, protected from inheritance.
TEST(ConsoleKey, FileGrantsTheUserAloneAndInheritsNothing) {
  const SystemPath file = ConsoleKeyFile();
  ASSERT_FALSE(file.empty());
  WriteConsoleKeyFile(file, "k1");
  WriteConsoleKeyFile(file, "k2");  // a stale file is replaced
  EXPECT_EQ(test::ReadFile(file.Native()), "k2\r\n");

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::wstring wide = win::WideFromUtf8(file.Native());
  ASSERT_EQ(::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                    nullptr, &descriptor),
            ERROR_SUCCESS);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 1);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(::GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  const std::vector<BYTE> user = ProcessUser();
  EXPECT_TRUE(::EqualSid(reinterpret_cast<PSID>(&ace->SidStart), reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid));
  ::LocalFree(descriptor);

  RemoveConsoleKeyFile(file);
  EXPECT_EQ(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace sv
