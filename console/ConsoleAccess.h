#pragma once
// Who may use the console: the user who runs the program, and nobody else on the
// machine. A request proves it with the console key (ConsoleKey.h), either as the
// session cookie that the login address sets in the browser or, for scripts, as
// "Authorization: Bearer KEY". Only the style sheet and the images are served without it.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "console/HttpExchange.h"

namespace sv {

// The login address's document and key parameter, and the session cookie's name.
inline constexpr std::string_view kLoginDocument = "/prijava";
inline constexpr std::string_view kLoginKeyParam = "kljuc";
inline constexpr std::string_view kSessionCookie = "sorvana_kljuc";

// The address that logs a browser in: "http://localhost:PORT/prijava?kljuc=KEY", where
// KEY is the console key or a login code.
std::string LoginAddress(std::int32_t consolePort, const std::string& key);

// Login codes for the addresses that "Configure" hands to the browser: an address passes
// through the command lines of the opener and the browser, which every local user can
// read, so it carries a code that logs in once rather than the key. Thread-safe.
class TLoginCodes {
 public:
  // At most this many codes are good at a time; a new one replaces the oldest.
  static constexpr std::size_t kKept = 8;
  // A new code: 64 hexadecimal digits from the system's random source.
  std::string Issue();
  // Whether `code` is a code not used yet; it is used up then. Compared in constant time.
  bool Redeem(std::string_view code);

 private:
  std::mutex mutex_;
  std::deque<std::string> codes_;
};

// Whether `given` is `key`, in a time that depends on the lengths alone.
bool SameKey(std::string_view given, std::string_view key);

// Whether the request carries the key: the session cookie or a bearer Authorization.
bool CarriesKey(const ConsoleRequest& request, const std::string& key);

// A handler in front of `inner` that lets through to it only requests that carry the
// key, and GET or HEAD of the style sheet and the images. A GET or HEAD of the login
// address with the key, or with a code of `codes` not used yet, sets the session cookie
// (HttpOnly, SameSite=Strict, Path=/) and redirects to /index.html. Anything else gets
// 403 with the refusal page, and `inner` never sees it. The key must not be empty.
RequestHandler RequireKey(std::string key, RequestHandler inner, std::shared_ptr<TLoginCodes> codes = nullptr);

}  // namespace sv
