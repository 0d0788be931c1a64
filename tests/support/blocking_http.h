// The blocking HTTP path over a ByteStream, for tests and fuzz targets: one request read
// with the receiver's own request reader, one response written, one request served.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "server/http.h"
#include "tests/support/byte_stream.h"

struct ReceiverState;

ReadResult read_request(ByteStream& stream);

// The fixed header block, then the body, then a flush. Stops at the first failed write.
Status write_response(ByteStream& stream, const HttpResponse& response);

using Router = std::function<HttpResponse(const HttpRequest&)>;

// Reads one request, answers it through `route` (or with the 400 for a short body).
// `client_address` is handed on in the request.
void serve_request(ByteStream& stream, const Router& route, const std::string& client_address = "");
void serve_request(ByteStream& stream, const std::shared_ptr<ReceiverState>& state,
                   const std::string& client_address = "");
