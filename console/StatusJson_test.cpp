#include "console/StatusJson.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "base/Text.h"
#include "tests/support/FakeConsoleController.h"

namespace sv {
namespace {

// The fields as a synchronisation fills them are seen end to end; here: texts of every
// kind arrive whole in UTF-8, large numbers and the nulls.
TEST(StatusJson, TextsAreEscapedInUtf8AndNeverBreakTheDocument) {
  test::FakeConsoleController c;
  c.address = Cp("poslužitelj \"glavni\"\\1");
  c.lastSuccess = EncodeDateTime(2026, 12, 6, 12, 31, 57);
  c.log.Add(Cp("Čvor\r\n\x01 kraj"));
  c.paused = true;
  c.progress.running = true;
  c.progress.projectName = Cp("šuma");
  c.progress.path = "\\a\\b";
  c.progress.size = 5000000000;
  ConsoleController::ProjectStatus done{
      "drumel", "/srv/d", true, {"drumel", Cp("gotovo, 3 izmjena"), 1250, c.lastSuccess}, std::nullopt};
  c.projectStatus = {done, {"novi", "/srv/n", false, {}, THeldProject{"novi", 60, 100, {}}}};

  const nlohmann::json j = nlohmann::json::parse(StatusJson(c));
  EXPECT_EQ(j["settings"]["server"], "poslužitelj \"glavni\"\\1");
  EXPECT_TRUE(j["lastAttempt"].is_null());
  EXPECT_EQ(j["lastSuccess"].get<std::string>().substr(0, 19), "2026-12-06T12:31:57");
  EXPECT_EQ(j["lastMessage"]["text"], "Čvor\r\n\x01 kraj");
  EXPECT_TRUE(j["paused"]);
  EXPECT_EQ(j["progress"]["projectName"], "šuma");
  EXPECT_EQ(j["progress"]["path"], "\\a\\b");
  EXPECT_EQ(j["progress"]["size"], 5000000000u);
  ASSERT_EQ(j["projects"].size(), 2u);
  EXPECT_EQ(j["projects"][0]["lastResult"], "gotovo, 3 izmjena");
  EXPECT_TRUE(j["projects"][1]["lastResult"].is_null());
  EXPECT_TRUE(j["projects"][0]["held"].is_null());
  EXPECT_EQ(j["projects"][1]["held"], nlohmann::json::parse(R"({"removals":60,"listed":100})"));

  EXPECT_EQ(j["connection"], nlohmann::json::parse(R"({"encrypted":false})"));

  c.progress.running = false;
  c.connection = {true, "TLSv1.3", std::string(64, '0')};
  const nlohmann::json after = nlohmann::json::parse(StatusJson(c));
  EXPECT_TRUE(after["progress"].is_null());
  EXPECT_EQ(after["connection"], nlohmann::json({{"encrypted", true}, {"protocol", "TLSv1.3"},
                                                 {"serverKey", std::string(64, '0')}}));
}

TEST(StatusJson, TimesAreIso8601WithTheOffset) {
  const TDateTime t = EncodeDateTime(2008, 1, 2, 3, 4, 5);
  EXPECT_EQ(IsoDateTime(t, 3600), "2008-01-02T03:04:05+01:00");
  EXPECT_EQ(IsoDateTime(t, -(5 * 3600 + 30 * 60)), "2008-01-02T03:04:05-05:30");
  EXPECT_EQ(IsoDateTime(t, 0), "2008-01-02T03:04:05+00:00");
}

}  // namespace
}  // namespace sv
