#include "platform/Trash.h"

#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace sv::fs {

namespace {

// Trashes one disk path through GIO; its errors are dropped on purpose. GIO moves a
// link itself, never what it points to.
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
  std::string native = NativePath(folder);
  // A trailing '/' would make the system follow a link in the last component.
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  std::vector<std::string> names;
  {
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(fd), &::closedir);
    if (!dir) {
      ::close(fd);
      return false;
    }
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
