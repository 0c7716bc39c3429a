// The resource section of the program image (the .rc files of the build).
#include "platform/Resources.h"

#include "base/Text.h"
#include "platform/win32/WinText.h"

namespace sv {

bool FindImageResource(std::string_view type, std::string_view name, std::string_view& bytes) {
  const HMODULE image = ::GetModuleHandleW(nullptr);
  const std::wstring wideName = win::Wide(name), wideType = win::Wide(type);
  // "RCDATA" is the predefined type of raw data; other types are names. Names of both
  // kinds are compared without regard to case by the system.
  const wchar_t* typeId = SameText(type, "RCDATA") ? MAKEINTRESOURCEW(10) : wideType.c_str();  // RT_RCDATA
  HRSRC found = ::FindResourceW(image, wideName.c_str(), typeId);
  if (!found) return false;
  HGLOBAL loaded = ::LoadResource(image, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) return false;
  bytes = {static_cast<const char*>(data), static_cast<std::size_t>(::SizeofResource(image, found))};
  return true;
}

}  // namespace sv
