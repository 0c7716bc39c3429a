// The console of the real sorvana-client answers only its own user: a request without
// the console key, or with a wrong one, is refused on every route and changes nothing;
// the key opens each route as a bearer key and, once the login address has set it, as
// the browser's cookie.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/Loopback.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

// The key page's message (Windows-1250).
const std::string kKeyRequired = "Konzola se otvara samo iz izbornika programa (&quot;Configure&quot;)";

struct Route {
  std::string method, target, form;
  int status;  // with the key
};

std::vector<Route> Routes(const TempDir& dir) {
  return {
    {"GET", "/", "", 200},
    {"GET", "/index.html", "", 200},
    {"HEAD", "/index.html", "", 200},
    {"GET", "/postavke.html", "", 200},
    {"GET", "/eventlog.html?page=1", "", 200},
    {"GET", "/pregled.html", "", 200},
    {"GET", "/status.json", "", 200},
    {"HEAD", "/status.json", "", 200},
    {"POST", "/index.html", "akcija=Sinhroniziraj", 302},
    {"POST", "/postavke.html", "akcija=Postavi&server=127.0.0.1&port=5555&rootpath=" + PercentEncode(ProgramPath(dir / "tudje")), 302},
  };
}

HttpAnswer Send(int port, const Route& route, const std::string& headers) {
  std::string request = route.method + " " + route.target + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
                        "\r\nConnection: close\r\n" + headers;
  if (!route.form.empty())
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(route.form.size()) + "\r\n";
  return HttpSend(port, request + "\r\n" + route.form);
}

TEST(ConsoleAccess, OnlyTheKeyOpensTheConsoleAndNothingElseChangesAnything) {
  TempDir dir;
  Rig rig(dir.path(), {"drumel"}, 60, true);
  rig.StartServer();
  rig.StartClient();
  ClientProgram& client = rig.Client();
  const int port = client.ConsolePort();
  const std::string settings = ReadFile(dir / "client/svClient.xml");
  const std::vector<std::string> events = client.Events();
  const int connections = rig.Proxy().Accepted();
  const std::vector<Route> kRoutes = Routes(dir);

  std::string wrong = client.ConsoleKey();
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  for (const std::string& credentials :
       {std::string(), "Authorization: Bearer " + wrong + "\r\n", "Cookie: sorvana_kljuc=" + wrong + "\r\n"}) {
    for (const Route& route : kRoutes) {
      const HttpAnswer answer = Send(port, route, credentials);
      EXPECT_EQ(answer.status, 403) << route.method << " " << route.target << " with " << credentials;
      if (route.method != "HEAD") {
        EXPECT_NE(answer.body.find(kKeyRequired), std::string::npos) << route.target;
      }
    }
  }
  EXPECT_EQ(ReadFile(dir / "client/svClient.xml"), settings);
  EXPECT_EQ(client.Events(), events);
  EXPECT_EQ(rig.Proxy().Accepted(), connections);

  // The login address sets the cookie, which opens what the bearer key opens.
  const HttpAnswer login = HttpSend(port, "GET /prijava?kljuc=" + client.ConsoleKey() +
                                              " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(login.status, 302);
  EXPECT_NE(login.head.find("\r\nLocation: /index.html\r\n"), std::string::npos);
  const std::string cookie = "sorvana_kljuc=" + client.ConsoleKey();
  EXPECT_NE(login.head.find("\r\nSet-Cookie: " + cookie + "; HttpOnly; SameSite=Strict; Path=/\r\n"),
            std::string::npos) << login.head;
  for (const Route& route : kRoutes) {
    if (route.method == "POST") continue;
    EXPECT_EQ(Send(port, route, "Cookie: " + cookie + "\r\n").status, route.status) << route.target;
  }
  for (const Route& route : kRoutes) {
    if (route.target == "/pregled.html") continue;  // a preview is carried out above already
    const HttpAnswer answer = Send(port, route, client.Auth());
    // "Sinhroniziraj" may meet the synchronisation that an earlier request asked for.
    if (route.form == "akcija=Sinhroniziraj" && answer.status == 200) continue;
    EXPECT_EQ(answer.status, route.status) << route.method << " " << route.target;
  }
  EXPECT_NE(ReadFile(dir / "client/svClient.xml"), settings);
}

// The key file admits only the user, holds the key of the address printed, and goes
// when the program ends.
TEST(ConsoleAccess, TheKeyFileAdmitsOnlyTheUserAndGoesAtQuit) {
  if (WindowsPrograms()) GTEST_SKIP() << "the Windows file's access list is read back by the unit tests under Wine";
  TempDir dir;
  ClientProgram client(dir / "client", FreePortPair(), 60, {{"drumel", dir / "drumel"}},
                       HomeEnvironment(dir / "home"));
  client.Start();
  const std::string folder = dir / "home/run/sorvana-client", file = folder + "/console-key";
  struct stat info {};
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadFile(file), client.ConsoleKey() + "\n");
  client.Quit();
  EXPECT_EQ(client.Process().WaitExit(QuitLimit()), 0);
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace sv::test
