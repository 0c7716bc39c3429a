// The console's status document, read from the real client while a synchronisation
// from the real server runs (slowed by the proxy between them) and after it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <thread>

#include "tests/support/Loopback.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

nlohmann::json Status(ClientProgram& client) {
  const HttpAnswer answer = client.Get("/status.json");
  EXPECT_EQ(answer.status, 200);
  EXPECT_NE(answer.head.find("Content-Type: application/json"), std::string::npos) << answer.head;
  return nlohmann::json::parse(answer.body);
}

// The status once `ready` holds for it; fails the test after kProgramLimit.
template <typename Ready>
nlohmann::json AwaitStatus(ClientProgram& client, Ready ready) {
  const auto until = std::chrono::steady_clock::now() + kProgramLimit;
  for (;;) {
    nlohmann::json status = Status(client);
    if (ready(status) || std::chrono::steady_clock::now() >= until) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool IsIsoTime(const nlohmann::json& value) {
  static const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");
  return value.is_string() && std::regex_match(value.get<std::string>(), iso);
}

TEST(StatusDocument, ParsesAndFollowsASynchronisation) {
  TempDir dir;
  Rig rig(dir.path(), {"drumel"}, 60, true);
  Put(rig.ServerRoot("drumel"), "a.txt", "abc", 1600000000);
  rig.StartServer();
  rig.StartClient();
  ClientProgram& client = rig.Client();
  const std::string firstDone = "Sinkronizacija projekta drumel završena, 1 izmjena";

  nlohmann::json status = AwaitStatus(client, [](auto& s) { return !s["running"] && !s["projects"][0]["lastResult"].is_null(); });
  EXPECT_EQ(status["settings"]["server"], "127.0.0.1");
  EXPECT_EQ(status["settings"]["port"], client.ConsolePort() - 2);
  EXPECT_EQ(status["settings"]["pollInterval"], 60);
  EXPECT_TRUE(IsIsoTime(status["lastAttempt"])) << status["lastAttempt"];
  EXPECT_TRUE(IsIsoTime(status["lastSuccess"])) << status["lastSuccess"];
  EXPECT_EQ(status["lastMessage"]["text"], firstDone);
  EXPECT_FALSE(status["paused"]);
  EXPECT_TRUE(status["progress"].is_null());
  EXPECT_EQ(status["projects"][0]["name"], "drumel");
  EXPECT_EQ(status["projects"][0]["path"], ProgramPath(rig.ClientRoot("drumel")));
  EXPECT_EQ(status["projects"][0]["lastResult"], firstDone);
  EXPECT_GE(status["projects"][0]["durationMs"], 0);
  const std::string firstSuccess = status["lastSuccess"];

  // 4 MiB at 32 KiB every 25 ms: the transfer takes seconds however fast the machine.
  const std::uint64_t size = 4 << 20;
  Put(rig.ServerRoot("drumel"), "big.bin", RandomBytes(size, 3), 1600000100);
  Put(rig.ServerRoot("drumel"), "b.txt", "b", 1600000100);
  rig.Proxy().SetDownstream({.chunk = 32 * 1024, .pause = std::chrono::milliseconds(25)});
  ASSERT_TRUE(client.RequestSync());
  status = AwaitStatus(client, [](auto& s) {
    return !s["progress"].is_null() && s["progress"]["path"] == "\\big.bin" && s["progress"]["received"] > 0;
  });
  const nlohmann::json& progress = status["progress"];
  EXPECT_TRUE(status["running"]);
  EXPECT_EQ(progress["project"], 1);
  EXPECT_EQ(progress["projectCount"], 1);
  EXPECT_EQ(progress["projectName"], "drumel");
  EXPECT_GE(progress["task"], 1);
  EXPECT_EQ(progress["taskCount"], 2);
  EXPECT_EQ(progress["path"], "\\big.bin");
  EXPECT_TRUE(progress["receiving"]);
  EXPECT_EQ(progress["size"], size);
  EXPECT_LE(progress["received"], size);

  status = AwaitStatus(client, [](auto& s) { return !s["running"]; });
  EXPECT_TRUE(status["progress"].is_null());
  EXPECT_EQ(status["projects"][0]["lastResult"], "Sinkronizacija projekta drumel završena, 2 izmjena");
  EXPECT_GE(status["projects"][0]["durationMs"], 3000);  // at least the proxy's pauses
  EXPECT_GE(status["lastSuccess"].get<std::string>(), firstSuccess);
  EXPECT_EQ(ReadFile(rig.ClientRoot("drumel") + "/big.bin"), RandomBytes(size, 3));
}

}  // namespace
}  // namespace sv::test
