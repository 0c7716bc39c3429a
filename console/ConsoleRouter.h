#pragma once
// Routing of the console's requests: every POST goes to the form actions; a GET or HEAD
// is answered by document, compared whole and without regard to case:
//   /postavke.html  settings page     /eventlog.html  event-log page
//   /style.css      style sheet       /sorvanaproject.jpg, /sorvanaproject_footer.jpg  images
//   /pregled.html   preview page      /status.json  status document (application/json)
//   /zadrzano.html  a held project's plan (?projekt=NAME)
//   anything else   status page
// Runs on the connection's thread; errors go to the listener, which answers 500.
#include "console/HttpRequest.h"
#include "console/HttpResponse.h"

namespace sv {

class ConsoleController;

// Whether a GET or HEAD of the document is answered with the style sheet or an image,
// which the console serves to anyone (ConsoleAccess.h).
bool IsPublicDocument(std::string_view document);

void SvCHTTPServerCommandGet(ConsoleController& controller, const ConsoleRequest& request,
                             ConsoleResponse& response);

}  // namespace sv
