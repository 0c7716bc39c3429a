#include "console/ConsoleAccess.h"

#include <gtest/gtest.h>

#include <string>

namespace sv {
namespace {

const std::string kKey(64, 'k');

// A GET of the login address with `given`: the status of the answer (302 with the
// session cookie when it logs in).
int LogIn(const RequestHandler& handler, const std::string& given) {
  ConsoleRequest request;
  request.command = CommandType::kGet;
  request.document = "/prijava";
  request.params = {"kljuc=" + given};
  ConsoleResponse response;
  handler(request, response);
  EXPECT_EQ(response.code == 302, !response.setCookie.empty());
  return response.code;
}

// The key logs in every time; a login code logs in once, and only while it is one of
// the newest codes issued.
TEST(LoginCodes, LogInOnceWhereTheKeyLogsInAlways) {
  auto codes = std::make_shared<TLoginCodes>();
  const RequestHandler handler = RequireKey(kKey, [](const ConsoleRequest&, ConsoleResponse&) {}, codes);
  const std::string code = codes->Issue();
  const std::string oldest = codes->Issue();
  for (std::size_t i = 1; i < TLoginCodes::kKept; ++i) codes->Issue();
  EXPECT_EQ(code.size(), 64u);
  EXPECT_NE(code, kKey);
  struct Case {
    std::string given;
    int status;
  } cases[] = {
      {kKey, 302}, {kKey, 302}, {code, 403},  // replaced by the newer codes: too old
      {oldest, 302}, {oldest, 403},           // used up
      {std::string(64, '0'), 403}, {"", 403},
  };
  for (const Case& c : cases) EXPECT_EQ(LogIn(handler, c.given), c.status) << c.given;
}

}  // namespace
}  // namespace sv
