#include "platform/StartAtLogin.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/ProgramPaths.h"

namespace sv {
namespace {

constexpr const char kUnit[] = "sorvana-client.service";

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// The link that enables the unit, as "systemctl --user enable" makes it for
// WantedBy=default.target.
std::string WantsLink() { return (ConfigFolder() / "systemd/user/default.target.wants" / kUnit).Native(); }

// The installed unit file, first in the user's folders, then in the system's; empty
// when there is none.
std::string InstalledUnit() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const std::string data = dataHome && dataHome[0] == '/' ? dataHome : (HomeFolder() / ".local/share").Native();
  for (const std::string& folder : {(ConfigFolder() / "systemd/user").Native(), data + "/systemd/user",
                                    std::string("/etc/systemd/user"), std::string("/usr/local/lib/systemd/user"),
                                    std::string("/usr/lib/systemd/user")}) {
    const std::string unit = folder + "/" + kUnit;
    if (Exists(unit)) return unit;
  }
  return {};
}

[[noreturn]] void Fail(const std::string& path, int error) {
  throw Exception(Format(msg::kCannotCreateFile, SystemPath(path).Text(), fs::ErrorText(error)));
}

}  // namespace

bool StartsAtLogin() { return Exists(WantsLink()); }

void SetStartsAtLogin(bool on) {
  const std::string link = WantsLink();
  if (!on) {
    if (::unlink(link.c_str()) != 0 && errno != ENOENT) Fail(link, fs::LastError());
    return;
  }
  if (Exists(link)) return;
  const std::string unit = InstalledUnit();
  if (unit.empty()) throw Exception(msg::kStartAtLoginMissing);
  const SystemPath folder = SystemPath(link).Folder();
  if (!fs::ForceFolders(folder)) Fail(folder.Native(), fs::LastError());
  if (::symlink(unit.c_str(), link.c_str()) != 0) Fail(link, fs::LastError());
}

}  // namespace sv
