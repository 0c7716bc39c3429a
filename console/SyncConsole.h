#pragma once
// The console's part in running synchronisations: the status page's rows for the state,
// the progress and the pause, its buttons "Pauziraj"/"Nastavi" and "Pregled", and the
// preview page. Runs on the console's request threads, as the rest of the console.
#include <stop_token>
#include <string>

#include "base/SyncStatus.h"
#include "console/HttpResponse.h"
#include "eventlog/PageTemplate.h"

namespace sv {

class ConsoleController;

// The status page's placeholders for synchronisations:
//   {%REFRESH%}      a META refresh every 2 s while a synchronisation runs or is asked
//                    for, else empty text
//   {%SYNCSTATE%}    the state: running, asked for, paused (and stopping), or active
//   {%PROGRESS%}     table rows of the running synchronisation's project (i of n), task
//                    (j of N), path and bytes received, else empty text
//   {%PAUSEACTION%}  the pause button's value: "Pauziraj", or "Nastavi" while paused
Placeholders SyncPlaceholders(ConsoleController& controller);

// The actions of the buttons above: "Pauziraj" and "Nastavi" pause and resume and
// redirect to /index.html; "Pregled" asks for a preview, waits for it a few seconds at
// most (less when `stop` is requested) and redirects to /pregled.html. False for any
// other action, which leaves the response alone. The controller's errors pass on.
bool HandleSyncAction(ConsoleController& controller, const std::string& action, std::stop_token stop,
                      ConsoleResponse& response);

// The preview page: shows the preview made last, per project the first changes the next
// synchronisation would make and the counts of all, or why it failed; while a newer one
// is being made it says so and reloads itself every 2 seconds. It asks for nothing: a
// preview is made only by the "Pregled" action.
std::string PreviewPage(ConsoleController& controller);
// The preview page's table rows for a preview: per project a heading, each change and
// their count; then the failure, when there was one.
std::string PreviewRows(const TSyncPreview& preview);

}  // namespace sv
