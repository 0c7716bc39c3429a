#include "platform/SystemPath.h"

#include "base/Text.h"
#include "platform/FileSystem.h"

namespace sv {

std::string SystemPath::Text() const {
  std::string text;
  Utf8ToCp1250(native_, text);
  return text;
}

bool SystemPath::ExactText(std::string& text) const {
  // Exact when the file-system layer turns the text back into these very bytes: it
  // rules out characters without a Windows-1250 form, malformed UTF-8, a '\' (a
  // separator in program text) and a leading "~" (the home folder there).
  return Utf8ToCp1250(native_, text) && fs::NativePath(text) == native_;
}

SystemPath SystemPath::operator/(std::string_view name) const {
  return SystemPath(native_ + "/" + fs::NativePath(name));
}

SystemPath SystemPath::Folder() const {
  const std::size_t slash = native_.rfind('/');
  if (slash == std::string::npos) return SystemPath();
  return SystemPath(slash == 0 ? "/" : native_.substr(0, slash));
}

}  // namespace sv
