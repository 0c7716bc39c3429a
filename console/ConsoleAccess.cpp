#include "console/ConsoleAccess.h"

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "console/ConsoleRouter.h"
#include "platform/ConsoleKey.h"

namespace sv {
namespace {

// The value of the cookie `name` among the request's Cookie headers ("a=1; b=2");
// empty text when none.
std::string CookieValue(const ConsoleRequest& request, std::string_view name) {
  for (const auto& [header, value] : request.headers) {
    if (!SameText(header, "Cookie")) continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const std::size_t end = rest.find(';');
      const std::string pair = Trim(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      const std::size_t eq = pair.find('=');
      if (eq != std::string::npos && std::string_view(pair).substr(0, eq) == name) return pair.substr(eq + 1);
    }
  }
  return {};
}

// The credentials of "Authorization: Bearer KEY"; empty text for any other scheme.
std::string BearerValue(const ConsoleRequest& request) {
  const std::string value = request.Header("Authorization");
  constexpr std::string_view kScheme = "Bearer ";
  if (value.size() < kScheme.size() || !SameText(std::string_view(value).substr(0, kScheme.size()), kScheme))
    return {};
  return Trim(std::string_view(value).substr(kScheme.size()));
}

bool IsReading(const ConsoleRequest& request) {
  return request.command == CommandType::kGet || request.command == CommandType::kHead;
}

}  // namespace

std::string LoginAddress(std::int32_t consolePort, const std::string& key) {
  return "http://localhost:" + std::to_string(consolePort) + std::string(kLoginDocument) + "?" +
         std::string(kLoginKeyParam) + "=" + key;
}

bool SameKey(std::string_view given, std::string_view key) {
  if (given.size() != key.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < key.size(); ++i)
    difference |= static_cast<unsigned char>(given[i] ^ key[i]);
  return difference == 0;
}

std::string TLoginCodes::Issue() {
  std::string code = NewConsoleKey();
  std::scoped_lock lock(mutex_);
  if (codes_.size() == kKept) codes_.pop_front();
  codes_.push_back(code);
  return code;
}

bool TLoginCodes::Redeem(std::string_view code) {
  std::scoped_lock lock(mutex_);
  for (auto it = codes_.begin(); it != codes_.end(); ++it) {
    if (!SameKey(code, *it)) continue;
    codes_.erase(it);
    return true;
  }
  return false;
}

bool CarriesKey(const ConsoleRequest& request, const std::string& key) {
  // Both are compared, so that the time taken does not tell which one was sent.
  const bool cookie = SameKey(CookieValue(request, kSessionCookie), key);
  const bool bearer = SameKey(BearerValue(request), key);
  return cookie || bearer;
}

RequestHandler RequireKey(std::string key, RequestHandler inner, std::shared_ptr<TLoginCodes> codes) {
  if (key.empty()) throw Exception("The console key is empty.");
  return [key = std::move(key), inner = std::move(inner), codes = std::move(codes)](const ConsoleRequest& request,
                                                                                     ConsoleResponse& response) {
    if (IsReading(request) && IsPublicDocument(request.document)) return inner(request, response);
    const auto logsIn = [&] {
      const std::string given = request.Param(kLoginKeyParam);
      return SameKey(given, key) || (codes && codes->Redeem(given));
    };
    if (IsReading(request) && SameText(request.document, kLoginDocument) && logsIn()) {
      response.setCookie = std::string(kSessionCookie) + "=" + key + "; HttpOnly; SameSite=Strict; Path=/";
      response.Redirect("/index.html");
      return;
    }
    if (CarriesKey(request, key)) return inner(request, response);
    response = RefusalPage(403, "Forbidden", msg::kKeyRequired, request.localPort);
  };
}

}  // namespace sv
