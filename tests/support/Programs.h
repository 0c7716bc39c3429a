#pragma once
// The real programs as the end-to-end tests start them — sorvana-server on loopback and
// sorvana-client from a folder of its own with svClient.xml beside it — and views of
// folder trees, to compare a client's project folder with the server's.
//
// The programs are those of build/bin, or, when SV_E2E_WINDOWS_BIN names a folder, the
// Windows programs found there: started under Wine (with the environment's WINEPREFIX
// and DISPLAY), given paths in Windows form and driven through the tray.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/ChildProcess.h"
#include "tests/support/Loopback.h"

namespace sv::test {

// Bounds that only keep a broken program from hanging a test.
constexpr std::chrono::seconds kProgramLimit{60};

// True when the tests drive the Windows programs.
bool WindowsPrograms();
// What the client promises: it ends within a second of "Quit". Under Wine without a
// window manager, taking the last icon out of the tray waits up to two seconds more.
std::chrono::milliseconds QuitLimit();
// The file of a program of the build under test ("sorvana-client": build/bin/sorvana-client,
// or sorvana-client.exe in the Windows folder).
std::string BuiltProgram(const std::string& name);
// A path as the programs under test read it: itself on Linux, "Z:\tmp\..." on Windows.
std::string ProgramPath(const std::string& path);
// Every byte but letters and digits as %XX, for a form field or a query.
std::string PercentEncode(const std::string& text);
// Starts a program file of the build under test (or a copy of one).
std::unique_ptr<ChildProcess> Launch(const std::string& program, const std::vector<std::string>& args,
                                     const std::vector<std::string>& env);
// Makes the desktop's default browser a stand-in that appends each address it is given
// as a line to `file`; on Linux through the environment entries returned, for the
// Windows programs through Wine's setting (nothing returned). Undone by the next call
// with an empty file.
std::vector<std::string> UseStandInBrowser(const std::string& folder, const std::string& file);

struct Project {
  std::string name;
  std::string path;  // the server's folder, or the client's local root
};

// Free loopback ports for one test: `client` is the server port the client is configured
// with (its console two above it is free too), `server` another one for a real server
// behind a proxy.
struct Ports {
  int client;
  int server;
};
Ports PickPorts();

// HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR inside `home` (created), for a
// started program.
std::vector<std::string> HomeEnvironment(const std::string& home);

class ServerProgram {
 public:
  ServerProgram(int port, std::vector<Project> projects, std::vector<std::string> env);
  // Options given before the projects at every start ("--no-pipelining").
  void SetOptions(std::vector<std::string> options) { options_ = std::move(options); }
  // Every later start runs the program of build/bin, also when the tests drive the
  // Windows programs.
  void UseLinuxBuild() { linux_ = true; }
  // Starts the program and waits until it accepts connections; raises when it does not.
  void Start();
  // Ends it with SIGKILL (no chance to tidy up) and waits for its end.
  void Kill();
  int Port() const { return port_; }
  // The program last started (its output stays readable after its end).
  ChildProcess& Process() { return *process_; }

 private:
  int port_;
  std::vector<Project> projects_;
  std::vector<std::string> env_;
  std::vector<std::string> options_;
  bool linux_ = false;
  std::unique_ptr<ChildProcess> process_;
};

class ClientProgram {
 public:
  // Copies sorvana-client into `folder` and writes its settings beside it: the server at
  // 127.0.0.1:serverPort (the console then on serverPort + 2), the poll interval in
  // minutes and the projects in order.
  ClientProgram(const std::string& folder, int serverPort, int pollInterval,
                const std::vector<Project>& projects, std::vector<std::string> env);
  // Starts it and waits until it has started: its start lines are printed (on Windows its
  // console answers). A launcher (a program and its arguments, the client's path
  // appended) starts it instead, for example as another user; without waiting, it only
  // starts.
  void Start(const std::vector<std::string>& launcher = {}, bool wait = true);
  ChildProcess& Process() { return *process_; }
  int ConsolePort() const { return consolePort_; }
  // The console key of the running program, from its "Configure:" line on Linux, from
  // its key file on Windows; Auth() is the header line that carries it.
  const std::string& ConsoleKey() const { return key_; }
  std::string Auth() const { return "Authorization: Bearer " + key_ + "\r\n"; }
  // The address that "Configure" opens.
  std::string LoginAddress() const {
    return "http://localhost:" + std::to_string(consolePort_) + "/prijava?kljuc=" + key_;
  }
  // A GET and a form post to the console with the key.
  HttpAnswer Get(const std::string& target) { return HttpGet(consolePort_, target, Auth()); }
  HttpAnswer Post(const std::string& target, const std::string& form) {
    return HttpPost(consolePort_, target, form, Auth());
  }
  // The user's choices in the tray menu (the signals of the headless host on Linux).
  void Quit();
  void Configure();
  // A failure shown to the user, "Caption: text" in UTF-8: on Linux the first line on
  // stderr; on Windows the next error box, which is then closed with OK. Empty when none
  // came in time.
  std::string ShownError();

  // "Sinhroniziraj" in the console; true when accepted, false when one already runs.
  bool RequestSync();
  // The newest entries (at most one page, 20) of the event log, newest first, as the
  // page shows them (Windows-1250), read through the console; `filter` as typed.
  std::vector<std::string> Events(const std::string& filter = "");
  // Waits until the synchronisation that was started last has logged its end, and
  // returns what it logged, oldest first: every entry after the console's request (or,
  // for the first one, after the project list was read). Raises after kProgramLimit.
  std::vector<std::string> AwaitSyncEntries();

  // Asks for a synchronisation and waits until `peer` (a TcpProxy or ScriptedServer in
  // front of the client) has seen its connection end; returns its log entries.
  template <typename Peer>
  std::vector<std::string> SynchroniseThrough(Peer& peer) {
    const int before = peer.Finished();
    RequestSyncUntilAccepted();
    if (!peer.WaitFinished(before + 1, kProgramLimit)) throw std::runtime_error("no synchronisation ended");
    return AwaitSyncEntries();
  }

 private:
  void RequestSyncUntilAccepted();
  std::string program_;
  int consolePort_;
  std::string key_;
  std::vector<std::string> env_;
  std::unique_ptr<ChildProcess> process_;
};

// Projects mirrored by the real programs inside `dir`: dir/server/NAME served by
// sorvana-server, copied by sorvana-client (program and settings in dir/client) into
// dir/client/NAME. With a proxy, the client reaches the server through a TcpProxy.
class Rig {
 public:
  Rig(const std::string& dir, const std::vector<std::string>& names, int pollInterval, bool proxied);
  std::string ServerRoot(const std::string& name) const { return dir_ + "/server/" + name; }
  std::string ClientRoot(const std::string& name) const { return dir_ + "/client/" + name; }
  // Empty when the client's copy equals the server's folder, times included.
  std::string Mirrored(const std::string& name) const;

  // Starts (or starts again) the server; the proxy comes with its first start.
  void StartServer();
  // Starts the client; with a proxy, waits until its first synchronisation is over.
  void StartClient();
  ServerProgram& Server() { return server_; }
  TcpProxy& Proxy() { return *proxy_; }
  ClientProgram& Client() { return client_; }

 private:
  std::string dir_;
  std::vector<std::string> names_;
  Ports ports_;
  bool proxied_;
  std::vector<std::string> env_;
  ServerProgram server_;
  std::unique_ptr<TcpProxy> proxy_;
  ClientProgram client_;
};

// A file or folder of a tree. Contents are compared through their size and hash.
struct TreeEntry {
  bool folder = false;
  std::uint64_t size = 0;
  std::uint64_t hash = 0;
  std::int64_t mtime = 0;  // seconds since the epoch
};
// Relative paths ('/' between names, no leading '/') to entries.
using Tree = std::map<std::string, TreeEntry>;

// Everything below root (hidden entries too); empty when root does not exist.
Tree Snapshot(const std::string& root);
std::uint64_t ContentHash(const std::string& bytes);
// Empty when both trees hold the same paths with the same kinds and contents and, with
// `times`, files whose times fall in the same two-second step (the finest step the
// synchronisation carries); otherwise one line per difference.
std::string TreeDifference(const Tree& expected, const Tree& actual, bool times);
// Sets the modification time of a file or folder (seconds since the epoch).
void SetModificationTime(const std::string& path, std::int64_t seconds);
// Writes root/relative, creating its folders, and gives it the modification time.
void Put(const std::string& root, const std::string& relative, const std::string& content, std::int64_t time);
// `size` bytes that depend on `seed` only.
std::string RandomBytes(std::size_t size, unsigned seed);

}  // namespace sv::test
