#pragma once
// A path in the operating system's own form, as opposed to program text (Windows-1250,
// see FileSystem.h). The folders the system names for us — the program's folder, the
// home folder, the configuration folder — are kept in this form, because program text
// cannot name every folder (a home folder in Cyrillic, a program folder named in
// Japanese). Such a path becomes program text only to be shown, or where a value must be
// stored as text (HomeFolderText in ProgramPaths.h).
#include <string>
#include <string_view>

namespace sv {

class SystemPath {
 public:
  SystemPath() = default;
  // The bytes as the system takes them (on Linux: any bytes but 0x00, UTF-8 by custom).
  explicit SystemPath(std::string native) : native_(std::move(native)) {}

  const std::string& Native() const { return native_; }
  bool empty() const { return native_.empty(); }

  // The path to show in messages and the event log: program text, with '?' for every
  // character Windows-1250 lacks.
  std::string Text() const;
  // True, with `text` set, when program text names this very path again (every
  // character has a Windows-1250 form and nothing in it reads differently as program
  // text); false otherwise, `text` then holding the shown form.
  bool ExactText(std::string& text) const;

  // This path, '/' and `name`, a relative path given as program text ("svClient.xml",
  // "drumel/sorvana").
  SystemPath operator/(std::string_view name) const;
  // The folder holding this path: everything before its last '/'.
  SystemPath Folder() const;

  bool operator==(const SystemPath& other) const { return native_ == other.native_; }

 private:
  std::string native_;
};

}  // namespace sv
