// System paths on Windows: the wide path as UTF-8, components separated by '\'.
#include "platform/SystemPath.h"

#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

namespace sv {

std::string SystemPath::Text() const { return win::Narrow(win::WideFromUtf8(native_)); }

bool SystemPath::ExactText(std::string& text) const {
  // Exact when the file-system layer turns the text back into this very path: every
  // character has a Windows-1250 form and no leading "~" reads as the home folder.
  return win::Narrow(win::WideFromUtf8(native_), text) && fs::NativePath(text) == native_;
}

SystemPath SystemPath::operator/(std::string_view name) const {
  const bool separated = !native_.empty() && (native_.back() == '\\' || native_.back() == '/');
  return SystemPath(native_ + (separated ? "" : "\\") + fs::NativePath(name));
}

SystemPath SystemPath::Folder() const {
  const std::size_t slash = native_.find_last_of("\\/");
  if (slash == std::string::npos) return SystemPath();
  // The folder of "C:\x" is the drive's root "C:\".
  const bool driveRoot = slash == 2 && native_.size() > 1 && native_[1] == ':';
  return SystemPath(native_.substr(0, slash + (driveRoot || slash == 0 ? 1 : 0)));
}

}  // namespace sv
