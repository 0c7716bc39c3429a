#pragma once
// The console's part in the mass-deletion guard: the status page's rows for the projects
// held, with their buttons "Pregled" (the plan held back, on /zadrzano.html) and
// "Potvrdi", and that page. Runs on the console's request threads.
#include <string>

#include "console/HttpResponse.h"
#include "eventlog/PageTemplate.h"

namespace sv {

class ConsoleController;

// {%HELD%}: for each project held, a heading, what its tasks would remove of how many
// files, and a form naming the project (field "projekt") with the two buttons; empty
// text when none is held.
Placeholders HeldPlaceholders(ConsoleController& controller);

// "Pregled" with a project redirects to its held plan; "Potvrdi" confirms the project's
// plan (ConsoleController::ConfirmRemovals) and redirects to /index.html. False for any
// other action, or "Pregled" without a project, which leave the response alone. The
// controller's errors pass on.
bool HandleHeldAction(ConsoleController& controller, const std::string& action, const std::string& project,
                      ConsoleResponse& response);

// The page of a held project's plan, shown as the preview shows a project, with its
// "Potvrdi" button; for a project not held, the message "Projekt %s ne čeka potvrdu".
std::string HeldPlanPage(ConsoleController& controller, const std::string& project);

}  // namespace sv
