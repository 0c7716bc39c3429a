#include "platform/SessionInstance.h"

#include <windows.h>

namespace sv {

bool ClaimSessionInstance() {
  // "Local\": the session's namespace, so that users of other sessions each run their own.
  // The handle stays open until the process ends, which releases the claim.
  HANDLE claim = ::CreateMutexW(nullptr, FALSE, L"Local\\Sorvana Client instance");
  if (claim == nullptr) return true;  // no claim possible: run rather than refuse to
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return true;
  ::CloseHandle(claim);
  return false;
}

}  // namespace sv
