#include "console/StatusJson.h"

#include <cstdio>
#include <cstdlib>

#include "base/Text.h"
#include "console/ConsoleController.h"
#include "eventlog/drLogger.h"
#include "platform/Clock.h"

namespace sv {
namespace {

// Writes one JSON object: fields are added in order, values already in JSON form.
class JsonObject {
 public:
  JsonObject& Add(std::string_view name, const std::string& json) {
    text_ += text_.size() > 1 ? "," : "";
    text_ += JsonString(name) + ":" + json;
    return *this;
  }
  std::string Close() const { return text_ + "}"; }

 private:
  std::string text_ = "{";
};

std::string Bool(bool value) { return value ? "true" : "false"; }

std::string Time(TDateTime value, std::int64_t offset) {
  return value == 0 ? "null" : JsonString(IsoDateTime(value, offset));
}

// The newest log entry, read under the log's lock.
std::string LastMessage(TdrEventLog& log, std::int64_t offset) {
  struct Locked {
    TdrEventLog& log;
    explicit Locked(TdrEventLog& l) : log(l) { log.Lock(); }
    ~Locked() { log.Unlock(); }
  } locked(log);
  if (log.Count() == 0) return "null";
  const TdrEvent& newest = log.Items(0);
  return JsonObject().Add("time", Time(newest.Timestamp(), offset)).Add("text", JsonString(newest.Text())).Close();
}

std::string Progress(const TSyncProgress& p) {
  if (!p.running) return "null";
  return JsonObject()
      .Add("project", std::to_string(p.project))
      .Add("projectCount", std::to_string(p.projectCount))
      .Add("projectName", JsonString(p.projectName))
      .Add("task", std::to_string(p.task))
      .Add("taskCount", std::to_string(p.taskCount))
      .Add("path", JsonString(p.path))
      .Add("receiving", Bool(p.receiving))
      .Add("received", std::to_string(p.received))
      .Add("size", std::to_string(p.size))
      .Close();
}

// How the last synchronisation's connection was protected: only "encrypted" when it was not.
std::string Connection(const TConnectionSecurity& connection) {
  JsonObject object;
  object.Add("encrypted", Bool(connection.encrypted));
  if (connection.encrypted)
    object.Add("protocol", JsonString(connection.protocol)).Add("serverKey", JsonString(connection.serverKey));
  return object.Close();
}

std::string Projects(ConsoleController& c, std::int64_t offset) {
  std::string list = "[";
  for (const ConsoleController::ProjectStatus& p : c.Projects()) {
    JsonObject project;
    project.Add("name", JsonString(p.name)).Add("path", JsonString(p.path));
    project.Add("lastResult", p.hasResult ? JsonString(p.result.line) : "null");
    project.Add("durationMs", p.hasResult ? std::to_string(p.result.milliseconds) : "null");
    project.Add("finished", p.hasResult ? Time(p.result.finished, offset) : "null");
    // Held by the mass-deletion guard: what its tasks would remove, of how many files.
    project.Add("held", p.held ? JsonObject()
                                     .Add("removals", std::to_string(p.held->removals))
                                     .Add("listed", std::to_string(p.held->listed))
                                     .Close()
                               : "null");
    if (list.size() > 1) list += ',';
    list += project.Close();
  }
  return list + "]";
}

}  // namespace

std::string IsoDateTime(TDateTime value, std::int64_t utcOffset) {
  const std::int64_t minutes = std::llabs(utcOffset) / 60;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", utcOffset < 0 ? '-' : '+', static_cast<int>(minutes / 60),
                static_cast<int>(minutes % 60));
  return FormatPattern("%Y-%m-%dT%H:%M:%S", value, TFormatSettings{}) + zone;
}

std::string JsonString(std::string_view cp1250) {
  const std::string utf8 = Cp1250ToUtf8(cp1250);
  std::string out = "\"";
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string StatusJson(ConsoleController& c) {
  const std::int64_t offset = CurrentUtcOffset();
  const std::string settings = JsonObject()
                                   .Add("server", JsonString(c.ServerAddress()))
                                   .Add("port", std::to_string(c.ServerPort()))
                                   .Add("pollInterval", std::to_string(c.PollInterval()))
                                   .Close();
  const TSyncProgress progress = c.Progress();
  return JsonObject()
             .Add("settings", settings)
             .Add("lastAttempt", Time(c.LastAttempt(), offset))
             .Add("lastSuccess", Time(c.LastSuccess(), offset))
             .Add("connection", Connection(c.LastConnection()))
             .Add("lastMessage", LastMessage(c.EventLog(), offset))
             .Add("paused", Bool(c.Paused()))
             .Add("running", Bool(progress.running))
             .Add("requested", Bool(progress.requested))
             .Add("progress", Progress(progress))
             .Add("projects", Projects(c, offset))
             .Close() +
         "\n";
}

}  // namespace sv
