// The real sorvana-client, started as a user starts it: from a folder holding a copy of
// the program and its settings file. The Windows program (see Programs.h) is driven
// through its tray menu and shows failures in its error box; the Linux program prints
// its start lines and errors and takes its menu choices as signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <future>
#include <regex>
#include <thread>

#include "tests/ChildProcess.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Bounds that only stop a broken program from hanging the test.
constexpr seconds kStartLimit{60};

class Client : public ::testing::Test {
 protected:
  // The client in dir_/name, with a server on loopback at serverPort (its console then at
  // serverPort + 2). On Linux PATH holds only an empty folder, so no real browser starts.
  std::unique_ptr<ClientProgram> Make(const std::string& name, int serverPort, std::vector<std::string> env = {}) {
    if (env.empty() && !WindowsPrograms()) env = {"PATH=" + bin_};
    return std::make_unique<ClientProgram>(dir_ / name, serverPort, 60,
                                           std::vector<Project>{{"drumel", dir_ / (name + "/drumel")}}, env);
  }
  // What the program prints from its start on: the tray program prints nothing.
  static std::string StartLines(const ClientProgram& client) {
    if (WindowsPrograms()) return "";
    return "Sorvana Client 9X\nConfigure: " + client.LoginAddress() + "\n";
  }

  Client() { MakeDirs(bin_); }

  TempDir dir_;
  std::string bin_ = dir_ / "bin";
};

TEST_F(Client, PrintsItsStartLinesAndEndsWithinASecondOfQuit) {
  // On Linux both signals that mean "Quit"; the tray has one "Quit".
  const std::vector<int> quits = WindowsPrograms() ? std::vector<int>{0} : std::vector<int>{SIGTERM, SIGINT};
  for (int signal : quits) {
    int port = FreePortPair();
    auto client = Make("c" + std::to_string(signal), port);
    ASSERT_NO_THROW(client->Start());
    signal ? client->Process().Signal(signal) : client->Quit();
    EXPECT_EQ(client->Process().WaitExit(QuitLimit()), 0) << "signal " << signal;
    EXPECT_EQ(client->Process().Out(), StartLines(*client));
    if (!WindowsPrograms()) {
      EXPECT_EQ(client->Process().Err(), "");
    }
  }
}

// The server accepts the connection and never answers: the synchronisation waits on a
// read with a limit of minutes, and "Quit" still ends the program at once.
TEST_F(Client, QuitCancelsASynchronisationThatWaitsForTheServer) {
  int port = FreePortPair();
  auto client = Make("c", port);
  SilentPeer server(port);
  ASSERT_NO_THROW(client->Start());
  ASSERT_TRUE(server.WaitForConnection(kStartLimit));
  client->Quit();
  EXPECT_EQ(client->Process().WaitExit(QuitLimit()), 0);
  EXPECT_EQ(client->Process().Err(), "");
}

// Folders d0 ... d40 in the project, each with two links to the next: its listing would
// never end but for the budget, and "Quit" ends the program in the middle of the scan.
TEST_F(Client, QuitCancelsAScanThatLinksMakeLong) {
  if (WindowsPrograms()) GTEST_SKIP() << "links made on Linux are ordinary folders to a Windows program under Wine";
  int port = FreePortPair();
  auto client = Make("c", port);
  for (int i = 0; i <= 40; ++i) {
    const std::string folder = dir_ / ("c/drumel/d" + std::to_string(i)), next = "../d" + std::to_string(i + 1);
    MakeDirs(folder);
    if (i == 40) continue;
    std::filesystem::create_directory_symlink(next, folder + "/a");
    std::filesystem::create_directory_symlink(next, folder + "/b");
  }
  // Offered pipelining, the client asks before it scans: the request means the scan runs.
  std::promise<void> scanning;
  ScriptedServer server(port, [&](int connection, PeerLink& link) {
    if (connection > 0) return;
    link.WriteLine("200 ready +pipelining");
    link.ReadLine();
    link.WriteLine("201 welcome");
    if (link.ReadLine() == "Sync drumel") scanning.set_value();
    link.ReadLine();  // until the client goes
  });
  ASSERT_NO_THROW(client->Start());
  ASSERT_EQ(scanning.get_future().wait_for(kStartLimit), std::future_status::ready);
  client->Quit();
  EXPECT_EQ(client->Process().WaitExit(QuitLimit()), 0);
  EXPECT_EQ(client->Process().Err(), "");
}

TEST_F(Client, ASecondInstanceOnTheSameConsolePortReportsItAndEndsWithStatusOne) {
  if (WindowsPrograms()) GTEST_SKIP() << "a second start of the tray program hands over to the first one";
  int port = FreePortPair();
  auto first = Make("first", port);
  ASSERT_NO_THROW(first->Start());
  auto second = Make("second", port);
  second->Start({}, false);
  EXPECT_EQ(second->ShownError(), "sorvana-client: Could not bind socket. Address and port are already in use.");
  EXPECT_EQ(second->Process().WaitExit(kStartLimit), 1);
  if (!WindowsPrograms()) {
    EXPECT_EQ(second->Process().Out(), "Sorvana Client 9X\n");
  }
  first->Quit();
  EXPECT_EQ(first->Process().WaitExit(kStartLimit), 0);
}

// The tray program runs once per user session: a second start asks the first to open
// the console, as "Configure" does, and ends with status 0 without an error box.
TEST_F(Client, ASecondStartOfTheTrayProgramOpensTheFirstOnesConsoleAndEnds) {
  if (!WindowsPrograms()) GTEST_SKIP() << "the headless host runs once per console port";
  const std::string opened = dir_ / "opened.txt";
  MakeDirs(dir_ / "browser");
  auto first = Make("first", FreePortPair(), UseStandInBrowser(dir_ / "browser", opened));
  ASSERT_NO_THROW(first->Start());
  auto second = Make("second", FreePortPair());
  second->Start({}, false);
  // An error box would hold the program until it is closed: its end shows there is none.
  EXPECT_EQ(second->Process().WaitExit(kStartLimit), 0);
  // The first one's login address, with a code of its own rather than the key.
  const std::string url = first->LoginAddress();
  const std::regex address(std::regex_replace(url.substr(0, url.find('=') + 1), std::regex("[?.]"), "\\$&") +
                           "[0-9a-f]{64}\n");
  auto until = std::chrono::steady_clock::now() + kStartLimit;
  while (!(std::filesystem::exists(opened) && std::regex_match(ReadFile(opened), address)) &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(milliseconds(10));
  EXPECT_TRUE(std::filesystem::exists(opened) && std::regex_match(ReadFile(opened), address));
  EXPECT_NE(ReadFile(opened), url + "\n");
  first->Quit();
  EXPECT_EQ(first->Process().WaitExit(kStartLimit), 0);
}

// The headless host prints the address every time: an opener may start and still show
// nothing. The tray program has only the browser. The address carries a code that logs
// in once, not the key: it passes through command lines that other users can read.
TEST_F(Client, ConfigurePrintsTheConsoleAddressAndOpensIt) {
  int port = FreePortPair();
  const std::string login = "http://localhost:" + std::to_string(port + 2) + "/prijava?kljuc=";
  const std::regex address(std::regex_replace(login, std::regex("[?.]"), "\\$&") + "[0-9a-f]{64}\n");

  if (!WindowsPrograms()) {
    // Without an opener the printed address is all the user gets.
    auto client = Make("plain", port);
    ASSERT_NO_THROW(client->Start());
    client->Configure();
    ASSERT_TRUE(client->Process().WaitForOut(StartLines(*client) + login, kStartLimit)) << client->Process().Out();
    client->Quit();
    EXPECT_EQ(client->Process().WaitExit(kStartLimit), 0);
    const std::string printed = client->Process().Out().substr(StartLines(*client).size());
    EXPECT_TRUE(std::regex_match(printed, address)) << printed;
    EXPECT_NE(printed, client->LoginAddress() + "\n");
  }

  const std::string opened = dir_ / "opened.txt";
  MakeDirs(dir_ / "browser");
  auto client = Make("opener", port, UseStandInBrowser(dir_ / "browser", opened));
  ASSERT_NO_THROW(client->Start());
  client->Configure();
  auto until = std::chrono::steady_clock::now() + kStartLimit;
  while (!(std::filesystem::exists(opened) && std::regex_match(ReadFile(opened), address)) &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(opened));
  const std::string url = ReadFile(opened).substr(0, ReadFile(opened).size() - 1);
  EXPECT_TRUE(std::regex_match(url + "\n", address)) << url;
  // The code logs in once.
  const std::string target = url.substr(url.find("/prijava"));
  EXPECT_EQ(HttpGet(port + 2, target).status, 302);
  EXPECT_EQ(HttpGet(port + 2, target).status, 403);
  client->Quit();
  EXPECT_EQ(client->Process().WaitExit(kStartLimit), 0);
  EXPECT_EQ(client->Process().Out(), WindowsPrograms() ? "" : StartLines(*client) + url + "\n");
  UseStandInBrowser(dir_ / "browser", "");
}

// A settings file that cannot be read is reported like an error box, and the program
// starts all the same with the defaults (console port 1976).
TEST_F(Client, ABrokenSettingsFileIsReportedAndStartUpGoesOn) {
  auto client = Make("c", FreePortPair());
  WriteFile(dir_ / "c/svClient.xml", "<xml><serversettings></xml>");
  client->Start({}, false);
  // Shown in UTF-8: "završava" carries a š.
  EXPECT_EQ(client->ShownError(), "sorvana-client: Tag serversettings zavr\xc5\xa1" "ava na tag /xml.");
  // The default console port may be taken on a shared machine; then the start ends there.
  if (!WindowsPrograms()) client->Process().WaitForOut("Configure", seconds(5));
  client->Quit();
  std::optional<int> status = client->Process().WaitExit(WindowsPrograms() ? seconds(5) : kStartLimit);
  if (!status && WindowsPrograms()) {
    // The error box of the failed start holds the program until it is closed.
    EXPECT_NE(client->ShownError().find("Could not bind socket"), std::string::npos);
    status = client->Process().WaitExit(kStartLimit);
  }
  if (status == 0) {
    const std::string out = client->Process().Out();
    const std::regex lines("Sorvana Client 9X\nConfigure: http://localhost:1976/prijava\\?kljuc=[0-9a-f]{64}\n");
    EXPECT_TRUE(WindowsPrograms() ? out.empty() : std::regex_match(out, lines)) << out;
  } else {
    EXPECT_EQ(status, 1);
    if (!WindowsPrograms()) {
      EXPECT_NE(client->Process().Err().find("Could not bind socket"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace sv::test
