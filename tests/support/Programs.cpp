#include "tests/support/Programs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/Loopback.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

namespace fs = std::filesystem;

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::string Unescape(const std::string& html) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&#039;", "'"}, {"&amp;", "&"}};
  std::string out;
  for (std::size_t i = 0; i < html.size();) {
    bool replaced = false;
    for (auto [entity, text] : kEntities) {
      if (html.compare(i, std::strlen(entity), entity) == 0) {
        out += text;
        i += std::strlen(entity);
        replaced = true;
        break;
      }
    }
    if (!replaced) out += html[i++];
  }
  return out;
}

// The texts of the event rows of a rendered event-log page: the third paragraph of
// each row (number, time, text).
std::vector<std::string> EventRows(const std::string& page) {
  std::vector<std::string> texts;
  for (std::size_t row = page.find("<TR VALIGN=TOP>"); row != std::string::npos;
       row = page.find("<TR VALIGN=TOP>", row + 1)) {
    std::size_t at = row;
    std::string text;
    for (int paragraph = 0; paragraph < 3 && at != std::string::npos; ++paragraph) {
      at = page.find("<P>", at);
      if (at == std::string::npos) break;
      std::size_t end = page.find("</P>", at);
      text = page.substr(at + 3, end - at - 3);
      at = end;
    }
    texts.push_back(Unescape(text));
  }
  return texts;
}

// The entry after which a synchronisation's own entries follow.
bool IsSyncMarker(const std::string& text) {
  return text == "Pokrenuta sinkronizacija" || StartsWith(text, "Dohvat projekta ") ||
         StartsWith(text, "Nema definiranih projekata");
}

// Wine's program, found on PATH as a shell finds it.
std::string WineProgram() {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/bin");
  for (std::string folder; std::getline(folders, folder, ':');)
    if (access((folder + "/wine").c_str(), X_OK) == 0) return folder + "/wine";
  throw std::runtime_error("wine not found on PATH");
}

// Runs tray-remote.exe (tests/win32/TrayRemote.cpp) to its end; its output line.
std::string TrayRemote(const std::vector<std::string>& args) {
  std::unique_ptr<ChildProcess> remote = Launch(BuiltProgram("tray-remote"), args, {});
  if (remote->WaitExit(kProgramLimit + kProgramLimit) != 0) throw std::runtime_error("tray-remote failed: " + remote->Err());
  std::string out = remote->Out();
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string WindowsBin() {
  const char* bin = std::getenv("SV_E2E_WINDOWS_BIN");
  return bin ? bin : "";
}

// The console key file of the Windows programs under Wine: in the local application
// data folder of the prefix's user.
std::string WindowsKeyFilePath() {
  const char* prefix = std::getenv("WINEPREFIX");
  const fs::path users = fs::path(prefix ? prefix : std::string(std::getenv("HOME")) + "/.wine") / "drive_c/users";
  std::error_code ec;
  for (const auto& user : fs::directory_iterator(users, ec)) {
    if (user.path().filename() == "Public") continue;
    return (user.path() / "AppData/Local/drumel/sorvana/console-key").string();
  }
  return {};
}

// The key of the Windows program once its file is there; false before.
bool WindowsKeyFile(std::string& key) {
  std::ifstream in(WindowsKeyFilePath());
  std::string line;
  if (!std::getline(in, line)) return false;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.empty()) return false;
  key = line;
  return true;
}

std::string SettingsText(int serverPort, int pollInterval, const std::vector<Project>& projects) {
  std::string text = "<xml>\r\n<serversettings>\r\n<serveradress>127.0.0.1</serveradress>\r\n<defaultport>" +
                     std::to_string(serverPort) + "</defaultport>\r\n<defaultpollinterval>" +
                     std::to_string(pollInterval) + "</defaultpollinterval>\r\n</serversettings>\r\n<projects>\r\n";
  for (const Project& p : projects)
    text += "<project>\r\n<name>" + p.name + "</name>\r\n<path>" + ProgramPath(p.path) + "</path>\r\n</project>\r\n";
  return text + "</projects>\r\n</xml>\r\n";
}

}  // namespace

bool WindowsPrograms() { return !WindowsBin().empty(); }

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}


milliseconds QuitLimit() { return milliseconds(WindowsPrograms() ? 3000 : 1000); }

std::string BuiltProgram(const std::string& name) {
  return WindowsPrograms() ? WindowsBin() + "/" + name + ".exe" : SV_BIN_DIR "/" + name;
}

std::string ProgramPath(const std::string& path) {
  if (!WindowsPrograms()) return path;
  std::string windows = "Z:" + path;  // Wine's drive Z: is the root folder
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

std::unique_ptr<ChildProcess> Launch(const std::string& program, const std::vector<std::string>& args,
                                     const std::vector<std::string>& env) {
  if (!WindowsPrograms()) return std::make_unique<ChildProcess>(program, args, env);
  std::vector<std::string> wineArgs{program};
  wineArgs.insert(wineArgs.end(), args.begin(), args.end());
  return std::make_unique<ChildProcess>(WineProgram(), wineArgs, env);
}

std::vector<std::string> UseStandInBrowser(const std::string& folder, const std::string& file) {
  const std::string browser = folder + "/stand-in-browser";
  if (!file.empty()) {
    WriteFile(browser, "#!/bin/sh\nPATH=/usr/bin:/bin\necho \"$1\" >> \"" + file + "\"\n");
    chmod(browser.c_str(), 0755);
  }
  if (!WindowsPrograms()) {
    // xdg-open is looked up on PATH, which then holds this folder only.
    if (!file.empty()) fs::copy_file(browser, folder + "/xdg-open", fs::copy_options::overwrite_existing);
    return {"PATH=" + folder};
  }
  // Wine's shell hands addresses to the programs of this setting.
  const std::string key = "HKCU\\Software\\Wine\\WineBrowser";
  std::vector<std::string> args = file.empty() ? std::vector<std::string>{"reg", "delete", key, "/v", "Browsers", "/f"}
                                               : std::vector<std::string>{"reg", "add", key, "/v", "Browsers", "/d", browser, "/f"};
  ChildProcess reg(WineProgram(), args);
  if (reg.WaitExit(kProgramLimit) != 0 && !file.empty()) throw std::runtime_error("cannot set Wine's browser");
  return {};
}

Ports PickPorts() {
  Ports ports{FreePortPair(), 0};
  do {
    ports.server = FreePort();
  } while (ports.server == ports.client || ports.server == ports.client + 2);
  return ports;
}

std::vector<std::string> HomeEnvironment(const std::string& home) {
  MakeDirs(home + "/.config");
  MakeDirs(home + "/.local/share");
  MakeDirs(home + "/run");
  return {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config", "XDG_DATA_HOME=" + home + "/.local/share",
          "XDG_RUNTIME_DIR=" + home + "/run"};
}

// ---- ServerProgram

ServerProgram::ServerProgram(int port, std::vector<Project> projects, std::vector<std::string> env)
    : port_(port), projects_(std::move(projects)), env_(std::move(env)) {}

void ServerProgram::Start() {
  std::vector<std::string> args{"--listen", "127.0.0.1:" + std::to_string(port_)};
  args.insert(args.end(), options_.begin(), options_.end());
  for (const Project& p : projects_) args.push_back(p.name + "=" + (linux_ ? p.path : ProgramPath(p.path)));
  process_ = linux_ ? std::make_unique<ChildProcess>(SV_BIN_DIR "/sorvana-server", args, env_)
                    : Launch(BuiltProgram("sorvana-server"), args, env_);
  auto until = std::chrono::steady_clock::now() + kProgramLimit;
  while (!WaitUntilListening(port_, milliseconds(100))) {
    if (process_->WaitExit(milliseconds(0)) || std::chrono::steady_clock::now() >= until)
      throw std::runtime_error("sorvana-server did not start: " + process_->Err());
  }
}

void ServerProgram::Kill() {
  if (!process_) return;
  process_->Signal(SIGKILL);
  process_->WaitExit(kProgramLimit);
}

// ---- ClientProgram

ClientProgram::ClientProgram(const std::string& folder, int serverPort, int pollInterval,
                             const std::vector<Project>& projects, std::vector<std::string> env)
    : consolePort_(serverPort + 2), env_(std::move(env)) {
  const std::string built = BuiltProgram("sorvana-client");
  program_ = folder + "/" + fs::path(built).filename().string();
  MakeDirs(folder);
  fs::copy_file(built, program_, fs::copy_options::overwrite_existing);
  WriteFile(folder + "/svClient.xml", SettingsText(serverPort, pollInterval, projects));
}

void ClientProgram::Start(const std::vector<std::string>& launcher, bool wait) {
  // An earlier program's key must not pass for this one's.
  if (WindowsPrograms()) {
    std::error_code ignored;
    fs::remove(WindowsKeyFilePath(), ignored);
  }
  if (launcher.empty()) {
    process_ = Launch(program_, {}, env_);
  } else {
    std::vector<std::string> args(launcher.begin() + 1, launcher.end());
    args.push_back(program_);
    process_ = std::make_unique<ChildProcess>(launcher[0], args, env_);
  }
  if (!wait) return;
  const std::string console = "Configure: http://localhost:" + std::to_string(consolePort_) + "/prijava?kljuc=";
  auto until = std::chrono::steady_clock::now() + kProgramLimit;
  // The tray program prints nothing: it has started once its console listens and its
  // key file is written.
  auto started = [&] {
    if (WindowsPrograms()) return WaitUntilListening(consolePort_, milliseconds(100)) && WindowsKeyFile(key_);
    if (!process_->WaitForOut(console, milliseconds(100))) return false;
    const std::string out = process_->Out();
    const std::size_t at = out.find(console) + console.size(), end = out.find('\n', at);
    if (end == std::string::npos) return false;
    key_ = out.substr(at, end - at);
    return true;
  };
  while (!started()) {
    if (process_->WaitExit(milliseconds(0)) || std::chrono::steady_clock::now() >= until)
      throw std::runtime_error("sorvana-client did not start: " + process_->Out() + process_->Err());
  }
}

void ClientProgram::Quit() {
  if (!WindowsPrograms()) return process_->Signal(SIGTERM);
  TrayRemote({"quit", ProgramPath(program_)});
}

void ClientProgram::Configure() {
  if (!WindowsPrograms()) return process_->Signal(SIGUSR1);
  TrayRemote({"configure", ProgramPath(program_)});
}

std::string ClientProgram::ShownError() {
  if (WindowsPrograms()) return TrayRemote({"box", ProgramPath(program_)});
  if (!process_->WaitForErr("\n", kProgramLimit)) return "";
  const std::string err = process_->Err();
  return err.substr(0, err.find('\n'));
}

bool ClientProgram::RequestSync() {
  return Post("/index.html", "akcija=Sinhroniziraj").status == 302;
}

void ClientProgram::RequestSyncUntilAccepted() {
  // Refused only in the moment between a synchronisation's end and the loop's next tick.
  auto until = std::chrono::steady_clock::now() + kProgramLimit;
  while (!RequestSync()) {
    if (std::chrono::steady_clock::now() >= until) throw std::runtime_error("synchronisation never accepted");
    std::this_thread::sleep_for(milliseconds(50));
  }
}

std::vector<std::string> ClientProgram::Events(const std::string& filter) {
  return EventRows(Get("/eventlog.html?page=1&filter=" + PercentEncode(filter)).body);
}

std::vector<std::string> ClientProgram::AwaitSyncEntries() {
  auto until = std::chrono::steady_clock::now() + kProgramLimit;
  for (;;) {
    std::vector<std::string> events = Events();
    std::vector<std::string> entries;
    for (const std::string& e : events) {
      if (IsSyncMarker(e)) break;
      entries.insert(entries.begin(), e);
    }
    // A run is over once its newest entry is neither a start nor the request itself.
    if (!entries.empty() && !StartsWith(events.front(), "Pokrenut")) return entries;
    if (std::chrono::steady_clock::now() >= until) {
      std::string shown;
      for (const std::string& e : events) shown += "\n  " + e;
      throw std::runtime_error("no end of synchronisation logged; the log's first page:" +
                               (events.empty() ? std::string(" empty, or the console did not answer") : shown));
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
}

// ---- Rig

namespace {

std::vector<Project> Projects(const std::vector<std::string>& names, const std::string& folder) {
  std::vector<Project> projects;
  for (const std::string& name : names) projects.push_back({name, folder + "/" + name});
  return projects;
}

}  // namespace

Rig::Rig(const std::string& dir, const std::vector<std::string>& names, int pollInterval, bool proxied)
    : dir_(dir),
      names_(names),
      ports_(PickPorts()),
      proxied_(proxied),
      env_(HomeEnvironment(dir + "/home")),
      server_(proxied ? ports_.server : ports_.client, Projects(names, dir + "/server"), env_),
      client_(dir + "/client", ports_.client, pollInterval, Projects(names, dir + "/client"), env_) {
  for (const std::string& name : names) MakeDirs(ServerRoot(name));
}

std::string Rig::Mirrored(const std::string& name) const {
  return TreeDifference(Snapshot(ServerRoot(name)), Snapshot(ClientRoot(name)), true);
}

void Rig::StartServer() {
  server_.Start();
  if (proxied_ && !proxy_) proxy_ = std::make_unique<TcpProxy>(ports_.client, ports_.server);
}

void Rig::StartClient() {
  client_.Start();
  if (proxied_ && !proxy_->WaitFinished(1, kProgramLimit)) throw std::runtime_error("no first synchronisation");
}

// ---- Trees

std::uint64_t ContentHash(const std::string& bytes) {
  std::uint64_t hash = 1469598103934665603ull;  // 64-bit FNV-1a
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

Tree Snapshot(const std::string& root) {
  Tree tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0) continue;
    TreeEntry entry;
    entry.folder = S_ISDIR(st.st_mode);
    entry.mtime = st.st_mtim.tv_sec;
    if (!entry.folder) {
      std::string content = ReadFile(it->path());
      entry.size = content.size();
      entry.hash = ContentHash(content);
    }
    tree[fs::relative(it->path(), root).string()] = entry;
  }
  return tree;
}

std::string TreeDifference(const Tree& expected, const Tree& actual, bool times) {
  std::ostringstream out;
  for (const auto& [path, e] : expected) {
    auto it = actual.find(path);
    if (it == actual.end()) {
      out << "missing: " << path << "\n";
    } else if (it->second.folder != e.folder) {
      out << "kind differs: " << path << "\n";
    } else if (it->second.size != e.size || it->second.hash != e.hash) {
      out << "content differs: " << path << " (" << it->second.size << " bytes, expected " << e.size << ")\n";
    } else if (times && !e.folder && it->second.mtime / 2 != e.mtime / 2) {
      out << "time differs: " << path << " (" << it->second.mtime << ", expected " << e.mtime << ")\n";
    }
  }
  for (const auto& [path, e] : actual)
    if (!expected.count(path)) out << "unexpected: " << path << "\n";
  return out.str();
}

void SetModificationTime(const std::string& path, std::int64_t seconds) {
  timespec t[2] = {{seconds, 0}, {seconds, 0}};
  if (utimensat(AT_FDCWD, path.c_str(), t, 0) != 0) throw std::runtime_error("cannot set the time of " + path);
}

void Put(const std::string& root, const std::string& relative, const std::string& content, std::int64_t time) {
  const std::string path = root + "/" + relative;
  MakeDirs(fs::path(path).parent_path());
  WriteFile(path, content);
  SetModificationTime(path, time);
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

}  // namespace sv::test
