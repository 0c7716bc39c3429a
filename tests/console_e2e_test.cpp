// The console of the real sorvana-client under misuse: a filter that would match for
// hours on a long log, slow connections that would take every slot, and a form posted
// from another site. The bounds only catch a hang, but for Quit's promised second.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "tests/support/Loopback.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// Filters as a browser sends them: (a|a)+$ backtracks without end on a run of "a";
// (a|a){1,14}[-_][xy] takes milliseconds on each event that holds one.
const std::string kEndlessFilter = "%28a%7Ca%29%2B%24";
const std::string kSlowFilter = "%28a%7Ca%29%7B1%2C14%7D%5B-_%5D%5Bxy%5D";
// The answers (Windows-1250).
const std::string kTooComplex =
    "Filtar je preslo\x9e" "en: tra\x9e" "enje u jednoj poruci pre\x9a" "lo je granicu (match limit exceeded)";
const std::string kTooSlow = "Filtar je prespor: tra\x9e" "enje kroz poruke nije zavr\x9a" "eno u 2 s";

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}
int Rows(const std::string& page) { return Count(page, "<TR VALIGN=TOP>"); }

// Sends a GET with the console key on a connection of its own; returns once the request
// is with the console, and the answer is read later from the future, which ends when the
// console closes the connection (within its life limit) or at kProgramLimit.
std::future<HttpAnswer> SendGet(ClientProgram& client, const std::string& target) {
  const int fd = ConnectLoopback(client.ConsolePort());
  const bool sent =
      fd >= 0 && SendBytes(fd, "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + client.Auth() + "\r\n");
  EXPECT_TRUE(sent) << target;
  return std::async(std::launch::async, [fd] {
    if (fd < 0) return HttpAnswer{};
    const timeval limit{std::chrono::duration_cast<seconds>(kProgramLimit).count(), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string reply;
    char chunk[4096];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) reply.append(chunk, static_cast<std::size_t>(n));
    ::close(fd);
    return ParseHttpAnswer(reply);
  });
}

// A client with one project and no server (its synchronisations fail), for the console.
struct LoneClient {
  explicit LoneClient(const TempDir& dir)
      : ports(PickPorts()),
        client(dir / "client", ports.client, 60, {{"drumel", dir / "drumel"}}, HomeEnvironment(dir / "home")) {
    client.Start();
  }
  ~LoneClient() {
    client.Quit();
    client.Process().WaitExit(kProgramLimit);
  }
  Ports ports;
  ClientProgram client;
};

// 25 projects whose names hold a long run of "a", synchronised without pause: the log
// fills with events that an unbounded filter would match for hours each.
TEST(Console, AFilterOnALongLogNeverStallsTheClient) {
  TempDir dir;
  std::vector<std::string> names;
  for (int i = 10; i < 35; ++i) names.push_back(std::string(60, 'a') + "-" + std::to_string(i));
  Rig rig(dir.path(), names, 0, false);
  rig.StartServer();
  rig.StartClient();
  ClientProgram& client = rig.Client();
  const auto until = Clock::now() + kProgramLimit;
  while (Rows(client.Get("/eventlog.html?page=50").body) < 20) {  // a thousand events
    ASSERT_LT(Clock::now(), until) << "the log did not fill";
    std::this_thread::sleep_for(milliseconds(100));
  }

  const HttpAnswer endless = client.Get("/eventlog.html?filter=" + kEndlessFilter);
  EXPECT_EQ(endless.status, 500);
  EXPECT_EQ(endless.body, kTooComplex);

  // While a slow filter runs, pages are served and synchronisations go on adding events;
  // the filter gives up after its budget.
  auto slow = SendGet(client, "/eventlog.html?filter=" + kSlowFilter);
  auto syncs = [&rig] { return Count(rig.Server().Process().Err(), " Sync "); };
  const int before = syncs();
  EXPECT_EQ(client.Get("/index.html").status, 200);
  // A synchronisation is logged before the filter gives up.
  bool synced = false;
  while (!(synced = syncs() > before) && slow.wait_for(milliseconds(50)) != std::future_status::ready) {
  }
  EXPECT_TRUE(synced) << "no synchronisation while the filter ran";
  const HttpAnswer gaveUp = slow.get();
  EXPECT_EQ(gaveUp.status, 500);
  EXPECT_EQ(gaveUp.body, kTooSlow);

  auto cut = SendGet(client, "/eventlog.html?filter=" + kSlowFilter);
  client.Quit();
  EXPECT_EQ(client.Process().WaitExit(QuitLimit()), 0);
  cut.get();
}

// 64 connections that each send a header line every half second hold every slot: a
// browser's request is served all the same, and each of them is closed within the limit
// on a connection's life (10 s), however steadily it sends.
TEST(Console, SlowConnectionsNeverLockTheBrowserOut) {
  TempDir dir;
  LoneClient lone(dir);
  const int port = lone.client.ConsolePort();
  std::vector<int> slow;
  for (int i = 0; i < 64; ++i) {
    const int fd = ConnectLoopback(port);
    ASSERT_GE(fd, 0);
    SendBytes(fd, "GET / HTTP/1.1\r\n");
    slow.push_back(fd);
  }
  std::thread trickle([&slow] {
    const auto until = Clock::now() + seconds(60);  // far past the limit: only a fault gets here
    for (bool open = true; open && Clock::now() < until; std::this_thread::sleep_for(milliseconds(500))) {
      open = false;
      for (int& fd : slow) {
        if (fd < 0) continue;
        if (SendBytes(fd, "X-Pad: 1\r\n")) {
          open = true;
        } else {
          close(fd);
          fd = -1;
        }
      }
    }
  });
  EXPECT_EQ(lone.client.Get("/index.html").status, 200);
  trickle.join();
  for (int fd : slow) {
    EXPECT_EQ(fd, -1) << "a slow connection stayed open";
    if (fd >= 0) close(fd);
  }
}

// A form post that carries no Origin but a Referer of another site is refused with the
// console's refusal page, and nothing is done; with neither header it is carried out.
TEST(Console, APostReferredByAnotherSiteIsRefused) {
  TempDir dir;
  LoneClient lone(dir);
  const int port = lone.client.ConsolePort();
  auto post = [port, &lone](const std::string& headers) {
    return HttpSend(port, "POST /index.html HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
                              lone.client.Auth() + headers + "Content-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: 20\r\n\r\nakcija=Sinhroniziraj");
  };
  const HttpAnswer refused = post("Referer: http://evil.example/\r\n");
  EXPECT_EQ(refused.status, 403);
  EXPECT_NE(refused.body.find("Obrazac druge stranice ne smije slati podatke konzoli."), std::string::npos);
  EXPECT_NE(refused.body.find("<A HREF=\"index.html\" CLASS=\"text2\">Glavna strana</A>"), std::string::npos);
  EXPECT_TRUE(lone.client.Events("Pokrenuta sinkronizacija").empty());

  // Carried out: a redirect, or the failed-action page while the start-up synchronisation runs.
  EXPECT_NE(post("Referer: http://127.0.0.1:" + std::to_string(port) + "/index.html\r\n").status, 403);
  EXPECT_NE(post("").status, 403);
  EXPECT_EQ(lone.client.Events("Pokrenuta sinkronizacija").size(), 2u);
}

}  // namespace
}  // namespace sv::test
