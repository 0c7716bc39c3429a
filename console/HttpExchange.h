#pragma once
// One request-response exchange of the console, apart from the socket: which requests are
// refused, which reach the handler, and what a failing handler answers.
#include <functional>
#include <string>

#include "console/HttpRequest.h"
#include "console/HttpResponse.h"

namespace sv {

// Fills the response for a request; may raise. Runs on the connection's thread.
using RequestHandler = std::function<void(const ConsoleRequest&, ConsoleResponse&)>;

// Why a request is refused, or empty text when it is not. The console serves only this
// machine: the Host header must name localhost, 127.0.0.1 or [::1] (any port), so that a
// site whose name was rebound to 127.0.0.1 cannot read it; and a POST that carries an
// Origin must come from the console itself (http:// and the same host), so that a page of
// another site cannot post its forms.
std::string RefusalReason(const ConsoleRequest& request);

// The response to a whole request: 403 with the reason for a refused one; for HEAD, GET
// and POST what the handler fills, or 500 "Internal Server Error" with the error's text
// when it raises; for other methods the defaults (200, no body).
ConsoleResponse Dispatch(const ConsoleRequest& request, const RequestHandler& handler);

// The answer to a request over the size limits.
ConsoleResponse TooLargeResponse();

}  // namespace sv
