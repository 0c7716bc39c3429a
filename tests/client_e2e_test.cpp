// The real sorvana-client, started as a user starts it: from a folder holding a copy of
// the program and its settings file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Bounds that only stop a broken program from hanging the test.
constexpr seconds kStartLimit{60};
// What the program promises: it ends within a second of "Quit".
constexpr milliseconds kQuitLimit{1000};

class Client : public ::testing::Test {
 protected:
  Client() {
    std::filesystem::copy_file(SV_BIN_DIR "/sorvana-client", program_);
    MakeDirs(bin_);
  }

  // Writes svClient.xml beside the program: a server on loopback at serverPort, whose
  // console port is serverPort + 2.
  void WriteSettings(int serverPort, const std::string& pollInterval = "60") {
    WriteFile(dir_ / "svClient.xml",
              "<xml>\r\n<serversettings>\r\n<serveradress>127.0.0.1</serveradress>\r\n"
              "<defaultport>" + std::to_string(serverPort) + "</defaultport>\r\n"
              "<defaultpollinterval>" + pollInterval + "</defaultpollinterval>\r\n"
              "</serversettings>\r\n<projects>\r\n<project>\r\n<name>drumel</name>\r\n"
              "<path>" + (dir_ / "drumel") + "</path>\r\n</project>\r\n</projects>\r\n</xml>\r\n");
  }
  // A stand-in for the desktop's opener that notes the address it was given.
  void InstallOpener() {
    WriteFile(bin_ + "/xdg-open", "#!/bin/sh\nPATH=/usr/bin:/bin\necho \"$1\" > \"" + (dir_ / "opened.tmp") +
                                     "\" && mv \"" + (dir_ / "opened.tmp") + "\" \"" +
                                     (dir_ / "opened.txt") + "\"\n");
    chmod((bin_ + "/xdg-open").c_str(), 0755);
  }
  std::unique_ptr<ChildProcess> Start() {
    // PATH holds only our own folder, so no real browser is ever started.
    return std::make_unique<ChildProcess>(program_, std::vector<std::string>{},
                                          std::vector<std::string>{"PATH=" + bin_});
  }
  static std::string StartLines(int consolePort) {
    return "Sorvana Client 9X\nConfigure: http://localhost:" + std::to_string(consolePort) +
           "/index.html\n";
  }

  TempDir dir_;
  std::string program_ = dir_ / "sorvana-client";
  std::string bin_ = dir_ / "bin";
};

TEST_F(Client, PrintsItsStartLinesAndEndsWithinASecondOfQuit) {
  for (int signal : {SIGTERM, SIGINT}) {
    int port = FreePortPair();
    WriteSettings(port);
    auto client = Start();
    ASSERT_TRUE(client->WaitForOut(StartLines(port + 2), kStartLimit)) << client->Out() << client->Err();
    client->Signal(signal);
    EXPECT_EQ(client->WaitExit(kQuitLimit), 0) << "signal " << signal;
    EXPECT_EQ(client->Out(), StartLines(port + 2));
    EXPECT_EQ(client->Err(), "");
  }
}

// The server accepts the connection and never answers: the synchronisation waits on a
// read with a limit of minutes, and "Quit" still ends the program at once.
TEST_F(Client, QuitCancelsASynchronisationThatWaitsForTheServer) {
  int port = FreePortPair();
  WriteSettings(port);
  SilentPeer server(port);
  auto client = Start();
  ASSERT_TRUE(client->WaitForOut(StartLines(port + 2), kStartLimit));
  ASSERT_TRUE(server.WaitForConnection(kStartLimit));
  client->Signal(SIGTERM);
  EXPECT_EQ(client->WaitExit(kQuitLimit), 0);
  EXPECT_EQ(client->Err(), "");
}

TEST_F(Client, ASecondInstanceOnTheSameConsolePortReportsItAndEndsWithStatusOne) {
  int port = FreePortPair();
  WriteSettings(port);
  auto first = Start();
  ASSERT_TRUE(first->WaitForOut(StartLines(port + 2), kStartLimit));
  auto second = Start();
  EXPECT_EQ(second->WaitExit(kStartLimit), 1);
  EXPECT_EQ(second->Err(), "sorvana-client: Could not bind socket. Address and port are already in use.\n");
  EXPECT_EQ(second->Out(), "Sorvana Client 9X\n");
  first->Signal(SIGTERM);
  EXPECT_EQ(first->WaitExit(kStartLimit), 0);
}

// The address is printed every time: an opener may start and still show nothing.
TEST_F(Client, ConfigurePrintsTheConsoleAddressAndOpensIt) {
  int port = FreePortPair();
  WriteSettings(port);
  std::string url = "http://localhost:" + std::to_string(port + 2) + "/index.html";

  // Without an opener the printed address is all the user gets.
  auto client = Start();
  ASSERT_TRUE(client->WaitForOut(StartLines(port + 2), kStartLimit));
  client->Signal(SIGUSR1);
  EXPECT_TRUE(client->WaitForOut(StartLines(port + 2) + url + "\n", kStartLimit)) << client->Out();
  client->Signal(SIGTERM);
  EXPECT_EQ(client->WaitExit(kStartLimit), 0);

  InstallOpener();
  client = Start();
  ASSERT_TRUE(client->WaitForOut(StartLines(port + 2), kStartLimit));
  client->Signal(SIGUSR1);
  auto until = std::chrono::steady_clock::now() + kStartLimit;
  while (!std::filesystem::exists(dir_ / "opened.txt") && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(dir_ / "opened.txt"));
  EXPECT_EQ(ReadFile(dir_ / "opened.txt"), url + "\n");
  client->Signal(SIGTERM);
  EXPECT_EQ(client->WaitExit(kStartLimit), 0);
  EXPECT_EQ(client->Out(), StartLines(port + 2) + url + "\n");
}

// A settings file that cannot be read is reported like an error box, and the program
// starts all the same with the defaults (console port 1976).
TEST_F(Client, ABrokenSettingsFileIsReportedAndStartUpGoesOn) {
  WriteFile(dir_ / "svClient.xml", "<xml><serversettings></xml>");
  auto client = Start();
  ASSERT_TRUE(client->WaitForErr("\n", kStartLimit));
  // Printed in UTF-8: "završava" carries a š.
  EXPECT_EQ(client->Err(), "sorvana-client: Tag serversettings zavr\xc5\xa1" "ava na tag /xml.\n");
  // The default console port may be taken on a shared machine; then the start ends there.
  client->WaitForOut("Configure", seconds(5));
  client->Signal(SIGTERM);
  std::optional<int> status = client->WaitExit(kStartLimit);
  if (client->Out() == StartLines(1976)) {
    EXPECT_EQ(status, 0);
  } else {
    EXPECT_EQ(status, 1);
    EXPECT_NE(client->Err().find("Could not bind socket"), std::string::npos);
  }
}

}  // namespace
}  // namespace sv::test
