#include "platform/StartAtLogin.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace sv {
namespace {

std::wstring RunValue() {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Sorvana Client",
                     RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"";
  return data;
}

// The value holds the quoted path of the running program; removing a missing value is
// no failure.
TEST(StartAtLogin, WritesAndRemovesTheRunValue) {
  SetStartsAtLogin(false);
  EXPECT_FALSE(StartsAtLogin());
  SetStartsAtLogin(true);
  EXPECT_TRUE(StartsAtLogin());
  wchar_t program[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  EXPECT_EQ(RunValue(), L"\"" + std::wstring(program) + L"\"");
  SetStartsAtLogin(false);
  EXPECT_FALSE(StartsAtLogin());
  SetStartsAtLogin(false);
}

}  // namespace
}  // namespace sv
