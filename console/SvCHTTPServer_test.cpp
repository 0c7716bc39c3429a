#include "console/SvCHTTPServer.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/Messages.h"
#include "console/ResourceGet.h"
#include "tests/support/ConsoleClient.h"
#include "tests/support/FakeConsoleController.h"
#include "tests/support/Wait.h"

namespace sv {
namespace {

using namespace sv::test;

const std::string kKey = std::string(64, 'k');
const std::string kAuth = "Authorization: Bearer " + kKey + "\r\n";

class ListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetDefaultPort(0);
    server.Activate();
    port = server.BoundPort();
    ASSERT_GT(port, 0);
  }
  std::string Get(const std::string& target, const std::string& host = "localhost") {
    return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + kAuth + "\r\n");
  }
  test::FakeConsoleController controller;
  SvCHTTPServer server{controller, kKey};
  int port = 0;
};

TEST_F(ListenerTest, ServesPagesAndResourcesOnBothLoopbackAddresses) {
  const std::string page = Get("/postavke.html");
  EXPECT_EQ(page.rfind("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n", 0), 0u);
  EXPECT_NE(Head(page).find("Content-Length: " + std::to_string(Body(page).size()) + "\r\n"), std::string::npos);
  EXPECT_NE(Body(page).find("VALUE=\"1974\""), std::string::npos);
  EXPECT_NE(Head(page).find("Server: Sorvana Client\r\n"), std::string::npos);

  const std::string v6 =
      Exchange(port, "GET /postavke.html HTTP/1.1\r\nHost: [::1]:" + std::to_string(port) + "\r\n" + kAuth + "\r\n", true);
  EXPECT_EQ(v6, page);

  const std::string css = Get("/style.css");
  EXPECT_EQ(Body(css), ResourceBytes("style_css", "RCDATA"));
  EXPECT_NE(Head(css).find("Content-Type: text/html\r\nContent-Length: " +
                           std::to_string(ResourceBytes("style_css", "RCDATA").size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(Body(Get("/sorvanaproject.jpg")), ResourceBytes("sorvanaproject_jpg", "RCDATA"));
}

TEST_F(ListenerTest, PostRedirectsAndOtherMethodsGetHeadersOnly) {
  const std::string form = "akcija=Sinhroniziraj";
  const std::string post = Exchange(port, "POST /style.css HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                              "\r\nContent-Type: application/x-www-form-urlencoded\r\n" + kAuth +
                                              "Content-Length: 20\r\n\r\n" + form);
  EXPECT_EQ(post, "HTTP/1.1 302 Moved Temporarily\r\nConnection: close\r\nContent-Type: text/html\r\n"
                  "Location: /index.html\r\n" + kTail);
  EXPECT_TRUE(controller.syncRequested);

  EXPECT_EQ(Exchange(port, "PUT /x HTTP/1.1\r\nHost: localhost\r\nContent-Length: 2\r\n\r\nab"),
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n" + kTail);
  const std::string head = Exchange(port, "HEAD /index.html HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "\r\n");
  EXPECT_NE(head.find("Content-Length: "), std::string::npos);
  EXPECT_EQ(Body(head), "");
}

TEST_F(ListenerTest, ForeignHostOrCrossSitePostIsRefusedAndChangesNothing) {
  const std::string host = Get("/index.html", "rebound.example:" + std::to_string(port));
  EXPECT_EQ(host.substr(0, 25), "HTTP/1.1 403 Forbidden\r\nC");
  EXPECT_EQ(Body(host), RefusalPage(403, "Forbidden", msg::kForbiddenHost, port).contentText);

  const std::string post = Exchange(port, "POST / HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
                                              "\r\nOrigin: http://evil.example\r\n" + kAuth +
                                              "Content-Type: application/x-www-form-urlencoded\r\n"
                                              "Content-Length: 20\r\n\r\nakcija=Sinhroniziraj");
  EXPECT_EQ(post.substr(0, 24), "HTTP/1.1 403 Forbidden\r\n");
  EXPECT_EQ(Body(post), RefusalPage(403, "Forbidden", msg::kForbiddenOrigin, port).contentText);
  EXPECT_FALSE(controller.syncRequested);
  EXPECT_EQ(controller.EventLog().Count(), 0);
}

// Without the key, every page, document and form is refused with the key page, whatever
// else the request carries, and nothing changes; the style sheet and the images are
// served to anyone.
TEST_F(ListenerTest, EveryRouteButStyleAndImagesWantsTheKey) {
  const std::string refusal = RefusalPage(403, "Forbidden", msg::kKeyRequired, port).contentText;
  const std::string wrong = std::string(63, 'k') + "j";
  const char* const kRequests[] = {"GET /", "GET /index.html", "HEAD /index.html", "GET /postavke.html",
                                   "GET /eventlog.html", "GET /pregled.html", "HEAD /status.json",
                                   "GET /status.json", "GET /prijava", "GET /index.html?kljuc=KEY",
                                   "POST /index.html", "POST /postavke.html", "POST /style.css"};
  const std::string kCredentials[] = {
      "",
      "Authorization: Bearer " + wrong + "\r\n",
      "Authorization: Bearer " + kKey + "x\r\n",
      "Authorization: Basic " + kKey + "\r\n",
      "Cookie: sorvana_kljuc=" + wrong + "\r\n",
      "Cookie: drugi=" + kKey + "\r\n",
  };
  for (std::string request : kRequests) {
    if (const std::size_t at = request.find("KEY"); at != std::string::npos) request.replace(at, 3, kKey);
    for (const std::string& credentials : kCredentials) {
      const std::string answer = Exchange(
          port, request + " HTTP/1.1\r\nHost: localhost\r\n" + credentials +
                    "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 41\r\n\r\n"
                    "akcija=Postavi&server=drugi&rootpath=%2Fx");
      EXPECT_EQ(answer.substr(0, 24), "HTTP/1.1 403 Forbidden\r\n") << request << " with " << credentials;
      if (request.rfind("HEAD", 0) != 0) {
        EXPECT_EQ(Body(answer), refusal) << request;
      }
    }
  }
  EXPECT_EQ(controller.EventLog().Count(), 0);
  EXPECT_EQ(controller.ServerAddress(), "127.0.0.1");
  EXPECT_EQ(controller.saves, 0);
  EXPECT_FALSE(controller.syncRequested);

  for (const char* open : {"/style.css", "/sorvanaproject.jpg", "/SORVANAPROJECT_FOOTER.JPG"})
    EXPECT_EQ(Exchange(port, std::string("GET ") + open + " HTTP/1.1\r\nHost: localhost\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK") << open;
}

// The login address with the key sets the session cookie and sends the browser on; the
// cookie then opens every page, among other cookies, as the bearer key does for scripts.
TEST_F(ListenerTest, LoginSetsTheSessionCookieThatOpensThePages) {
  const std::string login = Exchange(port, "GET /prijava?kljuc=" + kKey + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(login, "HTTP/1.1 302 Moved Temporarily\r\nConnection: close\r\nContent-Type: text/html\r\n"
                   "Location: /index.html\r\nSet-Cookie: sorvana_kljuc=" + kKey +
                   "; HttpOnly; SameSite=Strict; Path=/\r\n" + kTail);
  const std::string wrong = Exchange(port, "GET /prijava?kljuc=" + std::string(64, 'x') + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(wrong.substr(0, 24), "HTTP/1.1 403 Forbidden\r\n");
  EXPECT_EQ(Head(wrong).find("Set-Cookie"), std::string::npos);

  for (const std::string& credentials : {"Cookie: a=1; sorvana_kljuc=" + kKey + "; b=2\r\n",
                                        "Cookie: a=1\r\nCookie: sorvana_kljuc=" + kKey + "\r\n",
                                        "Authorization: bearer  " + kKey + "\r\n"}) {
    const std::string page = Exchange(port, "GET /postavke.html HTTP/1.1\r\nHost: localhost\r\n" + credentials + "\r\n");
    EXPECT_NE(Body(page).find("VALUE=\"1974\""), std::string::npos) << credentials;
    const std::string post = Exchange(port, "POST / HTTP/1.1\r\nHost: localhost\r\n" + credentials +
                                                "Content-Type: application/x-www-form-urlencoded\r\n"
                                                "Content-Length: 20\r\n\r\nakcija=Sinhroniziraj");
    EXPECT_EQ(post.substr(0, 13), "HTTP/1.1 302 ") << credentials;
  }
  EXPECT_TRUE(controller.syncRequested);
}

// No answer may be shown in a frame of another page: pages, documents, files,
// redirects, refusals and failures alike.
TEST_F(ListenerTest, EveryAnswerForbidsFraming) {
  const std::string kFrameHeaders = "X-Frame-Options: DENY\r\nContent-Security-Policy: frame-ancestors 'none'\r\n";
  const std::string kRequests[] = {
      "GET / HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "\r\n",
      "GET /postavke.html HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "\r\n",
      "GET /eventlog.html HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "\r\n",
      "GET /pregled.html HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "\r\n",
      "HEAD /status.json HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "\r\n",
      "GET /style.css HTTP/1.1\r\nHost: localhost\r\n\r\n",
      "GET /sorvanaproject.jpg HTTP/1.1\r\nHost: localhost\r\n\r\n",
      "GET /prijava?kljuc=" + kKey + " HTTP/1.1\r\nHost: localhost\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: evil.example\r\n" + kAuth + "\r\n",
      "GET /" + std::string(70 * 1024, 'a') + " HTTP/1.1\r\nHost: localhost\r\n\r\n",
      "POST / HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "Content-Length: 14\r\n\r\nakcija=Postavi",
      "OPTIONS / HTTP/1.1\r\nHost: localhost\r\n\r\n",
  };
  for (const std::string& request : kRequests)
    EXPECT_NE(Head(Exchange(port, request)).find(kFrameHeaders), std::string::npos) << request.substr(0, 40);
}

TEST_F(ListenerTest, OversizeRequestsGet413AndChangeNothing) {
  const std::string declared = Exchange(port, "POST / HTTP/1.1\r\nHost: localhost\r\n"
                                              "Content-Type: application/x-www-form-urlencoded\r\n"
                                              "Content-Length: 2000000\r\n\r\nakcija=Postavi&server=x");
  EXPECT_EQ(declared.substr(0, 39), "HTTP/1.1 413 Request Entity Too Large\r\n");
  EXPECT_EQ(Body(declared), TooLargeResponse(port).contentText);

  const std::string line = Get("/" + std::string(70 * 1024, 'a'));
  EXPECT_EQ(line.substr(0, 39), "HTTP/1.1 413 Request Entity Too Large\r\n");

  Client streamed(port);  // a POST without length whose body goes past the limit
  streamed.Send("POST / HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n"
                "akcija=Postavi&server=x&pad=" + std::string(1100 * 1024, 'p'));
  streamed.CloseSending();
  EXPECT_EQ(streamed.ReadAll().substr(0, 39), "HTTP/1.1 413 Request Entity Too Large\r\n");
  EXPECT_EQ(controller.EventLog().Count(), 0);
  EXPECT_EQ(controller.ServerAddress(), "127.0.0.1");
}

TEST_F(ListenerTest, OneRequestPerConnectionAndBrokenRequestsGetNoAnswer) {
  const std::string two = Exchange(port, "GET /a HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "\r\n"
                                         "POST / HTTP/1.1\r\nHost: localhost\r\n" + kAuth + "Content-Length: 20\r\n\r\n"
                                         "akcija=Sinhroniziraj");
  EXPECT_EQ(two.rfind("HTTP/1.1 200 OK", 0), 0u);
  EXPECT_EQ(two.find("HTTP/1.1", 1), std::string::npos);
  EXPECT_FALSE(controller.syncRequested);

  EXPECT_EQ(Exchange(port, "NOSPACE\r\n\r\n"), "");
  Client cut(port);
  cut.Send("GET / HTTP/1.1\r\nHost: local");
  cut.CloseSending();
  EXPECT_EQ(cut.ReadAll(), "");
}


// At the cap a newcomer is still served: the connection admitted first makes room, one
// that waits for its request as well as one whose request is being handled (its token is
// stopped then).
TEST(Listener, AtTheCapTheLongestWaitingConnectionMakesRoom) {
  Holder holder;
  SvCHTTPServer server(holder.Handler());
  server.SetDefaultPort(0);
  server.Activate();
  const int port = server.BoundPort();
  const std::string get = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";
  const std::string hold = "GET /hold HTTP/1.1\r\nHost: localhost\r\n\r\n";
  std::vector<std::unique_ptr<Client>> held;
  // One at a time, so that the listener has taken each before the next comes.
  for (int i = 0; i < SvCHTTPServer::kMaxConnections; ++i) {
    held.push_back(std::make_unique<Client>(port));
    ASSERT_TRUE(test::WaitFor([&] { return server.OpenConnections() > i; }));
  }
  Client newcomer(port);
  newcomer.Send(get);
  EXPECT_EQ(Body(newcomer.ReadAll()), "ok");
  EXPECT_EQ(held[0]->ReadAll(), "");
  held[1]->Send(get);
  EXPECT_EQ(Body(held[1]->ReadAll()), "ok");

  held.erase(held.begin(), held.begin() + 2);
  // Once the three that are done have ended, two more fill the slots again.
  ASSERT_TRUE(test::WaitFor([&] { return server.OpenConnections() <= SvCHTTPServer::kMaxConnections - 2; }));
  while (held.size() < static_cast<std::size_t>(SvCHTTPServer::kMaxConnections)) {
    held.push_back(std::make_unique<Client>(port));
    ASSERT_TRUE(test::WaitFor([&] { return server.OpenConnections() >= static_cast<int>(held.size()); }));
  }
  for (auto& c : held) c->Send(hold);
  ASSERT_TRUE(holder.AwaitHolding(SvCHTTPServer::kMaxConnections));
  Client late(port);
  late.Send(get);
  EXPECT_EQ(Body(late.ReadAll()), "ok");
  EXPECT_EQ(held[0]->ReadAll(), "");
  EXPECT_EQ(holder.Stopped(), 1);
  holder.Release();
  for (std::size_t i = 1; i < held.size(); ++i) EXPECT_EQ(Body(held[i]->ReadAll()), "ok");
}

// A peer that asks for a large answer and never reads it holds its slot while the answer
// is written: at the cap it makes room like any other, here as the oldest of the 64.
TEST(Listener, ASlowReaderMakesRoomAtTheCap) {
  Holder holder;
  SvCHTTPServer server(holder.Handler());
  server.SetDefaultPort(0);
  server.Activate();
  const int port = server.BoundPort();
  Client reader(port, Client::SmallBuffer{});
  reader.Send("GET /big HTTP/1.1\r\nHost: localhost\r\n\r\n");
  ASSERT_TRUE(holder.AwaitHolding(1));
  std::vector<std::unique_ptr<Client>> held;
  for (int i = 1; i < SvCHTTPServer::kMaxConnections; ++i) {
    held.push_back(std::make_unique<Client>(port));
    held.back()->Send("GET /hold HTTP/1.1\r\nHost: localhost\r\n\r\n");
    ASSERT_TRUE(holder.AwaitHolding(i + 1));  // one at a time, within the listen backlog
  }
  EXPECT_EQ(Body(Exchange(port, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n")), "ok");
  EXPECT_LT(reader.ReadAll().size(), kBig);
  EXPECT_EQ(holder.Stopped(), 0);
  holder.Release();
}


}  // namespace
}  // namespace sv
