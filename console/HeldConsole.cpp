#include "console/HeldConsole.h"

#include <optional>

#include "base/Messages.h"
#include "base/Text.h"
#include "console/ConsoleController.h"
#include "console/ResourceGet.h"
#include "console/SyncConsole.h"

namespace sv {
namespace {

const std::string kHeldHeading = Cp("Projekt %s čeka potvrdu");
const std::string kRemovals = "Uklanjanje";
const std::string kRemovalsOf = "%d od %d datoteka";
const std::string kPreview = "Pregled";
const std::string kConfirm = "Potvrdi";

// The form of one held project: its name as a hidden field and the buttons given.
std::string Form(const std::string& project, bool withPreview) {
  std::string form = "<FORM METHOD=POST ACTION=\"index.html\">\r\n\t<INPUT TYPE=HIDDEN NAME=\"projekt\" VALUE=\"" +
                     HtmlEscape(project) + "\">\r\n\t<P ALIGN=CENTER>";
  if (withPreview) form += "<INPUT TYPE=SUBMIT NAME=\"akcija\" VALUE=\"" + kPreview + "\" CLASS=\"white\">\r\n\t";
  return form + "<INPUT TYPE=SUBMIT NAME=\"akcija\" VALUE=\"" + kConfirm + "\" CLASS=\"white\"></P>\r\n</FORM>\r\n";
}

std::string HeldRows(const THeldProject& held) {
  return "\t<TR BGCOLOR=\"#000000\" CLASS=\"text2\">\r\n\t\t<TD COLSPAN=2>\r\n\t\t\t<P CLASS=\"text2\">" +
         HtmlEscape(Format(kHeldHeading, held.name)) +
         "</P>\r\n\t\t</TD>\r\n\t</TR>\r\n\t<TR>\r\n\t\t<TD BGCOLOR=\"#000000\">\r\n\t\t\t<P CLASS=\"text\">" +
         kRemovals + "</P>\r\n\t\t</TD>\r\n\t\t<TD BGCOLOR=\"#FD5200\">\r\n\t\t\t<P CLASS=\"white\">" +
         Format(kRemovalsOf, held.removals, held.listed) + "</P>\r\n\t\t</TD>\r\n\t</TR>\r\n\t<TR>\r\n\t\t<TD COLSPAN=2>\r\n" +
         Form(held.name, true) + "\t\t</TD>\r\n\t</TR>\r\n";
}

std::optional<THeldProject> FindHeld(ConsoleController& c, const std::string& project) {
  for (ConsoleController::ProjectStatus& p : c.Projects()) {
    if (p.held && p.name == project) return std::move(p.held);
  }
  return std::nullopt;
}

}  // namespace

Placeholders HeldPlaceholders(ConsoleController& c) {
  std::string rows;
  for (const ConsoleController::ProjectStatus& p : c.Projects()) {
    if (p.held) rows += HeldRows(*p.held);
  }
  return {Placeholder::Everywhere("{%HELD%}", rows)};
}

bool HandleHeldAction(ConsoleController& c, const std::string& action, const std::string& project,
                      ConsoleResponse& response) {
  if (SameText(action, kConfirm)) {
    c.ConfirmRemovals(project);
    response.Redirect("/index.html");
    return true;
  }
  if (!SameText(action, kPreview) || project.empty()) return false;
  response.Redirect("/zadrzano.html?projekt=" + PercentEncode(project));
  return true;
}

std::string HeldPlanPage(ConsoleController& c, const std::string& project) {
  TSyncPreview plan;
  std::string form;
  if (std::optional<THeldProject> held = FindHeld(c, project)) {
    held->plan.name = held->name;
    plan.projects.push_back(std::move(held->plan));
    form = Form(project, false);
  } else {
    plan.failed = true;
    plan.failure = Format(msg::kNothingHeld, project);
  }
  return FillPlaceholders(LoadResourceText("zadrzano", "TEXT"),
                          {Placeholder::Everywhere("{%HELDPLAN%}", PreviewRows(plan)),
                           Placeholder::Everywhere("{%HELDFORM%}", form)});
}

}  // namespace sv
