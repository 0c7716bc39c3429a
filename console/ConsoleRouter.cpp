#include "console/ConsoleRouter.h"

#include "base/Text.h"
#include "console/ConsolePages.h"
#include "console/HeldConsole.h"
#include "console/ResourceGet.h"
#include "console/StatusJson.h"
#include "console/SyncConsole.h"

namespace sv {
namespace {

enum class Answer {
  kPage,        // a template filled by FillPage
  kFile,        // a resource sent as it is
  kPreview,     // the preview page (SyncConsole.h)
  kStatusJson,  // the status document (StatusJson.h)
  kHeldPlan,    // a held project's plan (HeldConsole.h)
};

struct Route {
  std::string_view document;
  std::string_view resource;  // the template or file
  Answer answer;
};

constexpr Route kRoutes[] = {
    {"/postavke.html", "postavke", Answer::kPage},
    {"/style.css", "style_css", Answer::kFile},
    {"/sorvanaproject.jpg", "sorvanaproject_jpg", Answer::kFile},
    {"/sorvanaproject_footer.jpg", "sorvanaproject_footer_jpg", Answer::kFile},
    {"/eventlog.html", "eventlog", Answer::kPage},
    {"/pregled.html", "", Answer::kPreview},
    {"/status.json", "", Answer::kStatusJson},
    {"/zadrzano.html", "", Answer::kHeldPlan},
};
constexpr Route kStatusPage = {"", "index", Answer::kPage};

const Route& RouteFor(std::string_view document) {
  for (const Route& r : kRoutes) {
    if (SameText(document, r.document)) return r;
  }
  return kStatusPage;
}

}  // namespace

bool IsPublicDocument(std::string_view document) { return RouteFor(document).answer == Answer::kFile; }

void SvCHTTPServerCommandGet(ConsoleController& controller, const ConsoleRequest& request,
                             ConsoleResponse& response) {
  if (request.command == CommandType::kPost) {
    HandleAction(controller, request, response);
    return;
  }
  const Route& route = RouteFor(request.document);
  switch (route.answer) {
    case Answer::kPage:
      response.contentText = FillPage(controller, LoadResourceText(route.resource, "TEXT"), request);
      break;
    case Answer::kFile:
      response.contentStream = ResourceBytes(route.resource, "RCDATA");
      break;
    case Answer::kPreview:
      response.contentText = PreviewPage(controller);
      break;
    case Answer::kHeldPlan:
      response.contentText = HeldPlanPage(controller, Trim(request.Param("projekt")));
      break;
    case Answer::kStatusJson:
      response.contentType = "application/json";
      response.contentText = StatusJson(controller);
      break;
  }
}

}  // namespace sv
