#pragma once
// The console's live pages and its two form actions, on the controller's values. They run
// on the console's request threads, in parallel with each other and the main thread; the
// controller makes each of its operations safe from any thread.
#include <string>
#include <string_view>

#include "console/HttpRequest.h"
#include "console/HttpResponse.h"

namespace sv {

class ConsoleController;

// The template with its placeholders filled, all in one pass over the template:
// {%PORT%} (the server's port), {%SERVER%}, {%POLLINTERVAL%}, {%ROOTPATH%} (the first
// project's path), {%LASTATTEMPT%}, {%LASTSUCCESS%} ("(nije definirano)" for none, and for
// a missing project), {%LASTMESSAGE%}, {%FILTER%} (the request's "filter", untrimmed),
// {%FILTERURL%} (the same, percent-encoded for links), {%TLS%} ("CHECKED" when TLS is
// required), {%TLSPIN%} (the pin), {%CONNECTION%} ("Veza: šifrirana (PROTOCOL), ključ
// poslužitelja PIN" or "Veza nije šifrirana", of the last synchronisation's connection)
// and those of SyncPlaceholders, every occurrence without regard to case. Values are HTML-escaped. A template holding
// "{%EVENTLOG%}" also gets the rows of the event-log page named by the request's "page"
// (20 a page, DumpEventLog, with the default filter budget and the request's stop token),
// and raises its errors (an invalid filter, one that is too complex or too slow).
std::string FillPage(ConsoleController& controller, std::string_view pageTemplate,
                     const ConsoleRequest& request);

// The newest event's display text, or empty text when the log is empty.
std::string GetLastMessage(ConsoleController& controller);

// Carries out the form action named by the request's "akcija" (trimmed, any case):
// "Sinhroniziraj" logs "Pokrenuta sinkronizacija", asks for a synchronisation and
// redirects to /index.html; "Postavi" logs "Dodjela novih postavki", takes the fields
// server, port, pollinterval and rootpath (trimmed; empty or non-numeric ones keep their
// value; a port outside 1..65533 refuses the whole form with "Neispravan port %s"), and
// from the form that shows them ("veza") the box tls and the pin otisak (empty: none; a
// text that is no pin refuses the whole form with "Neispravan otisak ključa poslužitelja
// %s"),
// creates a missing root folder, saves the settings and redirects to /postavke.html;
// "Pauziraj", "Nastavi" and "Pregled" are those of SyncConsole.h. Any other action
// leaves the response as it is. A failing action logs its message and
// answers with the failed-action page.
void HandleAction(ConsoleController& controller, const ConsoleRequest& request,
                  ConsoleResponse& response);

}  // namespace sv
