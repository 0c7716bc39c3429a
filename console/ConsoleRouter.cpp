#include "console/ConsoleRouter.h"

#include "base/Text.h"
#include "console/ConsolePages.h"
#include "console/ResourceGet.h"

namespace sv {
namespace {

struct Route {
  std::string_view document;
  std::string_view resource;  // the template or file
  bool page;                  // a template filled by FillPage, else sent as it is
};

constexpr Route kRoutes[] = {
    {"/postavke.html", "postavke", true},
    {"/style.css", "style_css", false},
    {"/sorvanaproject.jpg", "sorvanaproject_jpg", false},
    {"/sorvanaproject_footer.jpg", "sorvanaproject_footer_jpg", false},
    {"/eventlog.html", "eventlog", true},
};
constexpr Route kStatusPage = {"", "index", true};

const Route& RouteFor(std::string_view document) {
  for (const Route& r : kRoutes) {
    if (SameText(document, r.document)) return r;
  }
  return kStatusPage;
}

}  // namespace

void SvCHTTPServerCommandGet(ConsoleController& controller, const ConsoleRequest& request,
                             ConsoleResponse& response) {
  if (request.command == CommandType::kPost) {
    HandleAction(controller, request, response);
    return;
  }
  const Route& route = RouteFor(request.document);
  if (route.page) {
    response.contentText = FillPage(controller, LoadResourceText(route.resource, "TEXT"), request);
  } else {
    response.contentStream = ResourceBytes(route.resource, "RCDATA");
  }
}

}  // namespace sv
