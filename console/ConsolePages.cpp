#include "console/ConsolePages.h"

#include <optional>

#include "base/Exception.h"
#include "base/IntText.h"
#include "base/KeyPin.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "console/ConsoleController.h"
#include "console/HeldConsole.h"
#include "console/ResourceGet.h"
#include "console/SyncConsole.h"
#include "eventlog/PageTemplate.h"
#include "eventlog/drLogDump.h"
#include "eventlog/drLogger.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"

namespace sv {
namespace {

constexpr int kRowsPerPage = 20;
// The highest server port whose console port (server port + 2) is still a port.
constexpr std::int32_t kMaxServerPort = 65533;

const std::string kEncrypted = Cp("Veza: šifrirana (%s), ključ poslužitelja %s");
const std::string kNotEncrypted = Cp("Veza nije šifrirana");

std::string DateOrUndefined(TDateTime value) {
  return value == 0 ? msg::kUndefined : HtmlEscape(DateTimeToText(value));
}

std::string ConnectionText(const TConnectionSecurity& connection) {
  if (!connection.encrypted) return kNotEncrypted;
  return Format(kEncrypted, HtmlEscape(connection.protocol), HtmlEscape(connection.serverKey));
}

Placeholders PageValues(ConsoleController& c, const ConsoleRequest& request) {
  const std::string filter = request.Param("filter");
  const std::string root = c.ProjectCount() == 0 ? msg::kUndefined : HtmlEscape(c.FirstProjectPath());
  Placeholders values = {
      Placeholder::Everywhere("{%PORT%}", std::to_string(c.ServerPort())),
      Placeholder::Everywhere("{%SERVER%}", HtmlEscape(c.ServerAddress())),
      Placeholder::Everywhere("{%POLLINTERVAL%}", std::to_string(c.PollInterval())),
      Placeholder::Everywhere("{%ROOTPATH%}", root),
      Placeholder::Everywhere("{%LASTATTEMPT%}", DateOrUndefined(c.LastAttempt())),
      Placeholder::Everywhere("{%LASTSUCCESS%}", DateOrUndefined(c.LastSuccess())),
      Placeholder::Everywhere("{%LASTMESSAGE%}", HtmlEscape(GetLastMessage(c))),
      Placeholder::Everywhere("{%FILTER%}", HtmlEscape(filter)),
      Placeholder::Everywhere("{%FILTERURL%}", PercentEncode(filter)),
  };
  const ConsoleController::Safety safety = c.SafetySettings();
  values.push_back(Placeholder::Everywhere("{%USETRASH%}", safety.useTrash ? "CHECKED" : ""));
  values.push_back(Placeholder::Everywhere("{%MAXDELETECOUNT%}", std::to_string(safety.removalLimit)));
  values.push_back(Placeholder::Everywhere("{%MAXDELETEPERCENT%}", std::to_string(safety.removalPercent)));
  values.push_back(Placeholder::Everywhere("{%NOTICES%}", c.Notices() ? "CHECKED" : ""));
  values.push_back(Placeholder::Everywhere("{%STARTATLOGIN%}", c.StartsAtLogin() ? "CHECKED" : ""));
  const ConsoleController::Tls tls = c.TlsSettings();
  values.push_back(Placeholder::Everywhere("{%TLS%}", tls.required ? "CHECKED" : ""));
  values.push_back(Placeholder::Everywhere("{%TLSPIN%}", HtmlEscape(tls.pin)));
  values.push_back(Placeholder::Everywhere("{%CONNECTION%}", ConnectionText(c.LastConnection())));
  for (Placeholder& p : SyncPlaceholders(c)) values.push_back(std::move(p));
  for (Placeholder& p : HeldPlaceholders(c)) values.push_back(std::move(p));
  return values;
}

void Synchronise(ConsoleController& c, ConsoleResponse& response) {
  c.EventLog().Add(msg::kSyncRequested);
  c.RequestSync();
  response.Redirect("/index.html");
}

// A root folder must not depend on the working folder, which would be made and granted
// there; a 0x00 byte would end the path early on the disk and be saved into the file.
void CheckRootPath(const std::string& given, const std::string& root) {
  if (given.find('\0') != std::string::npos) throw Exception(msg::kRootHoldsZero);
  if (!fs::IsAbsolutePath(root)) throw Exception(Format(msg::kRootNotAbsolute, root));
}

// The pin field of the form that shows the TLS fields: empty text clears the pin; text
// that is no pin refuses the whole form.
std::string FormKeyPin(const std::string& text) {
  if (text.empty()) return text;
  const std::optional<std::string> pin = ParseKeyPin(text);
  if (!pin) throw Exception(Format(msg::kBadKeyPin, text));
  return *pin;
}

// The port, root and pin fields are checked before anything changes, so a refused form
// changes nothing.
void ApplySettings(ConsoleController& c, const ConsoleRequest& request, ConsoleResponse& response) {
  c.EventLog().Add(msg::kNewSettings);
  const std::string server = Trim(request.Param("server"));
  const std::string portText = Trim(request.Param("port"));
  const std::string pollText = Trim(request.Param("pollinterval"));
  const std::string givenRoot = request.Param("rootpath");
  const std::string root = Trim(givenRoot);
  std::int32_t port = 0, poll = 0;
  const bool newPort = TryStrToInt(portText, port);
  if (newPort && (port < 1 || port > kMaxServerPort)) throw Exception(Format(msg::kBadPort, portText));
  if (!root.empty() || givenRoot.find('\0') != std::string::npos) CheckRootPath(givenRoot, root);
  // The TLS fields count only from the form that shows them ("veza"), as the safety ones.
  const bool tlsForm = !request.Param("veza").empty();
  const std::string pin = tlsForm ? FormKeyPin(Trim(request.Param("otisak"))) : std::string();

  if (!server.empty()) c.SetServerAddress(server);
  // Sets the console port to the server port + 2 also when the port stays.
  c.SetServerPort(newPort ? port : c.ServerPort());
  if (TryStrToInt(pollText, poll)) c.SetPollInterval(poll);
  // The safety fields count only from the form that shows them ("zastita"): a post
  // without them leaves them, rather than reading the missing box as unticked.
  if (!request.Param("zastita").empty()) {
    ConsoleController::Safety safety = c.SafetySettings();
    safety.useTrash = !request.Param("kos").empty();
    std::int32_t limit = 0;
    // A limit that is no number of 0 or more stays as it was.
    if (TryStrToInt(Trim(request.Param("maxdeletecount")), limit) && limit >= 0) safety.removalLimit = limit;
    if (TryStrToInt(Trim(request.Param("maxdeletepercent")), limit) && limit >= 0) safety.removalPercent = limit;
    c.SetSafetySettings(safety);
  }
  if (tlsForm) c.SetTlsSettings({!request.Param("tls").empty(), pin});
  // The same for the desktop's fields ("radnapovrsina").
  const bool desktopForm = !request.Param("radnapovrsina").empty();
  if (desktopForm) c.SetNotices(!request.Param("obavijesti").empty());
  if (c.ProjectCount() > 0 && !root.empty()) {
    if (!fs::FolderExists(root)) c.CreateProjectRoot(root);
    c.SetFirstProjectPath(root);
  }
  c.SaveSettings();
  // After the file is saved: a system that refuses the start at login loses no setting.
  const bool startAtLogin = !request.Param("prijava").empty();
  if (desktopForm && startAtLogin != c.StartsAtLogin()) c.SetStartsAtLogin(startAtLogin);
  response.Redirect("/postavke.html");
}

void AnswerFailure(ConsoleController& c, const std::string& action, const std::string& message,
                   ConsoleResponse& response) {
  c.EventLog().Add(message);
  response.contentText = FillPlaceholders(
      LoadResourceText("propalaakcija", "TEXT"),
      {Placeholder::Everywhere("{%ACTION%}", HtmlEscape(action)),
       Placeholder::Everywhere("{%MESSAGE%}", HtmlEscape(message))});
}

}  // namespace

std::string FillPage(ConsoleController& c, std::string_view pageTemplate, const ConsoleRequest& request) {
  Placeholders values = PageValues(c, request);
  if (pageTemplate.find("{%EVENTLOG%}") == std::string_view::npos)
    return FillPlaceholders(pageTemplate, std::move(values));
  FilterBudget budget;
  budget.stop = request.stop;  // the listener stops: the filter gives up at once
  return DumpEventLog(c.EventLog(), pageTemplate, Trim(request.Param("page")), request.Param("filter"),
                      kRowsPerPage, std::move(values), budget);
}

std::string GetLastMessage(ConsoleController& c) { return c.EventLog().LatestDisplayText(); }

void HandleAction(ConsoleController& c, const ConsoleRequest& request, ConsoleResponse& response) {
  const std::string action = Trim(request.Param("akcija"));
  try {
    if (SameText(action, "Sinhroniziraj")) {
      Synchronise(c, response);
    } else if (SameText(action, "Postavi")) {
      ApplySettings(c, request, response);
    } else if (!HandleHeldAction(c, action, Trim(request.Param("projekt")), response)) {
      HandleSyncAction(c, action, request.stop, response);  // any other action changes nothing
    }
  } catch (const Exception& e) {
    AnswerFailure(c, action, e.Message(), response);
  }
}

}  // namespace sv
