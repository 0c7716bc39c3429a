#include "console/SyncConsole.h"

#include <chrono>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "console/ConsoleController.h"
#include "console/ResourceGet.h"
#include "platform/Locale.h"

namespace sv {
namespace {

// The labels and values the pages show (Windows-1250).
const std::string kRefresh = "<META HTTP-EQUIV=\"refresh\" CONTENT=\"2\">";
const std::string kActive = Cp("Aktivno");
const std::string kRunning = Cp("Sinhronizacija u tijeku");
const std::string kRequested = Cp("Sinhronizacija zatražena");
const std::string kPausedState = Cp("Pauzirano");
const std::string kStopping = Cp("Pauzirano, sinhronizacija se zaustavlja nakon tekuće datoteke");
const std::string kPause = "Pauziraj";
const std::string kResume = "Nastavi";
const std::string kPreview = "Pregled";
const std::string kProject = "Projekt";
const std::string kConnecting = Cp("spajanje na server");
const std::string kOf = "%s (%d od %d)";
const std::string kTask = "Zadatak";
const std::string kTaskOf = "%d od %d";
const std::string kAwaitingTasks = Cp("dohvat popisa zadataka");
const std::string kPath = "Putanja";
const std::string kReceived = "Primljeno";
const std::string kBytesOf = "%s od %s bajtova (%s %%)";
const std::string kProjectHeading = "Projekt %s";
const std::string kNewFolder = "Nova mapa";
const std::string kNewFile = "Nova datoteka";
const std::string kReplaced = "Zamjena datoteke";
const std::string kDeletedFolder = "Brisanje mape";
const std::string kDeletedFile = "Brisanje datoteke";
const std::string kOtherTask = "Zadatak %s";
const std::string kNoChanges = "0 (nema promjena)";
const std::string kChanges = "Broj izmjena";
const std::string kCounts = "%d (novo %d, zamjena %d, brisanje %d)";
const std::string kPreviewFailed = "Pregled nije uspio";
const std::string kMessage = "Poruka";
const std::string kMade = Cp("Izrađen");
const std::string kListed = "Prikazano";
const std::string kListedOf = "prvih %d od %d";
const std::string kPreviewPending = Cp("Pregled je u izradi");
const std::string kNoPreview = Cp("Pregleda još nema: pritisnite Pregled");

// How long the "Pregled" action waits for its preview before it shows the page anyway
// (which then reloads itself until the preview is there): well inside the console's
// limit on a connection's life.
constexpr std::chrono::seconds kPreviewWait{5};

// A row of the console's tables: a label on black, a value on orange. The value is
// HTML already.
std::string ValueRow(const std::string& label, const std::string& valueHtml) {
  return "\t<TR>\r\n\t\t<TD BGCOLOR=\"#000000\">\r\n\t\t\t<P CLASS=\"text\">" + HtmlEscape(label) +
         "</P>\r\n\t\t</TD>\r\n\t\t<TD BGCOLOR=\"#FD5200\">\r\n\t\t\t<P CLASS=\"white\">" + valueHtml +
         "</P>\r\n\t\t</TD>\r\n\t</TR>\r\n";
}

// A heading row across both columns, as "Status" on the status page.
std::string HeadingRow(const std::string& text) {
  return "\t<TR BGCOLOR=\"#000000\" CLASS=\"text2\">\r\n\t\t<TD COLSPAN=2>\r\n\t\t\t<P CLASS=\"text2\">" +
         HtmlEscape(text) + "</P>\r\n\t\t</TD>\r\n\t</TR>\r\n";
}

std::string State(const TSyncProgress& p, bool paused) {
  if (paused) return p.running ? kStopping : kPausedState;
  if (p.running) return kRunning;
  return p.requested ? kRequested : kActive;
}

std::string ProgressRows(const TSyncProgress& p) {
  if (!p.running) return std::string();
  if (p.project == 0) return ValueRow(kProject, kConnecting);
  std::string rows = ValueRow(kProject, Format(kOf, HtmlEscape(p.projectName), p.project, p.projectCount));
  if (p.task == 0) return rows + ValueRow(kTask, kAwaitingTasks);
  rows += ValueRow(kTask, Format(kTaskOf, p.task, p.taskCount));
  rows += ValueRow(kPath, HtmlEscape(p.path));
  if (p.receiving) {
    const std::uint64_t percent = p.size ? p.received * 100 / p.size : 100;
    rows += ValueRow(kReceived, Format(kBytesOf, ToText(p.received), ToText(p.size), ToText(percent)));
  }
  return rows;
}

std::string ChangeLabel(const TPlannedChange& change) {
  switch (change.kind) {
    case TChangeKind::kCreate: return change.folder ? kNewFolder : kNewFile;
    case TChangeKind::kReplace: return kReplaced;
    case TChangeKind::kDelete: return change.folder ? kDeletedFolder : kDeletedFile;
    case TChangeKind::kOther: break;
  }
  return Format(kOtherTask, change.command);
}

std::string ProjectRows(const TProjectPreview& project) {
  std::string rows = HeadingRow(Format(kProjectHeading, project.name));
  for (const TPlannedChange& change : project.changes) rows += ValueRow(ChangeLabel(change), HtmlEscape(change.path));
  const TChangeCounts& n = project.counts;
  if (n.all == 0) return rows + ValueRow(kChanges, kNoChanges);
  const int listed = static_cast<int>(project.changes.size());
  if (listed < n.all) rows += ValueRow(kListed, Format(kListedOf, listed, n.all));
  return rows + ValueRow(kChanges, Format(kCounts, n.all, n.created, n.replaced, n.deleted));
}

}  // namespace

std::string PreviewRows(const TSyncPreview& preview) {
  std::string rows = ValueRow(kMade, HtmlEscape(DateTimeToText(preview.made)));
  for (const TProjectPreview& project : preview.projects) rows += ProjectRows(project);
  if (preview.failed) {
    rows += HeadingRow(kPreviewFailed);
    rows += ValueRow(kMessage, preview.failure.empty() ? msg::kUndefined : HtmlEscape(preview.failure));
  }
  return rows;
}

Placeholders SyncPlaceholders(ConsoleController& c) {
  const bool paused = c.Paused();
  const TSyncProgress progress = c.Progress();
  return {
      Placeholder::Everywhere("{%REFRESH%}", progress.running || progress.requested ? kRefresh : ""),
      Placeholder::Everywhere("{%SYNCSTATE%}", State(progress, paused)),
      Placeholder::Everywhere("{%PROGRESS%}", ProgressRows(progress)),
      Placeholder::Everywhere("{%PAUSEACTION%}", paused ? kResume : kPause),
  };
}

bool HandleSyncAction(ConsoleController& c, const std::string& action, std::stop_token stop,
                      ConsoleResponse& response) {
  if (SameText(action, kPause)) {
    c.Pause();
  } else if (SameText(action, kResume)) {
    c.Resume();
  } else if (SameText(action, kPreview)) {
    c.MakePreview(stop, kPreviewWait);
    response.Redirect("/pregled.html");
    return true;
  } else {
    return false;
  }
  response.Redirect("/index.html");
  return true;
}

std::string PreviewPage(ConsoleController& c) {
  const ConsoleController::PreviewState state = c.LastPreview();
  std::string rows;
  if (state.pending) rows = HeadingRow(kPreviewPending);
  if (state.last) {
    rows += PreviewRows(*state.last);
  } else if (!state.pending) {
    rows = HeadingRow(kNoPreview);
  }
  return FillPlaceholders(LoadResourceText("pregled", "TEXT"),
                          {Placeholder::Everywhere("{%REFRESH%}", state.pending ? kRefresh : ""),
                           Placeholder::Everywhere("{%PREVIEW%}", rows)});
}

}  // namespace sv
