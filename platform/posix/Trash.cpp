#include "platform/Trash.h"

#include <dirent.h>
#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace sv::fs {

namespace {

// Trashes one disk path through GIO; its errors are dropped on purpose.
bool TrashNative(const std::string& native) {
  GFile* file = g_file_new_for_path(native.c_str());
  GError* error = nullptr;
  const bool moved = g_file_trash(file, nullptr, &error);
  if (error) g_error_free(error);
  g_object_unref(file);
  return moved;
}

}  // namespace

bool MoveToTrash(std::string_view path) { return TrashNative(NativePath(path)); }

bool TrashFolderContents(std::string_view folder) {
  const std::string native = NativePath(folder);
  std::vector<std::string> names;
  {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(native.c_str()), &::closedir);
    if (!dir) return false;
    // Collect first: trashing while reading would change what readdir yields.
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
  }
  bool all = true;
  for (const std::string& name : names) all = TrashNative(native + "/" + name) && all;
  return all;
}

}  // namespace sv::fs
