#include "bench/latency.h"

#include <string>
#include <vector>

#include "bench/loopback_client.h"
#include "bench/statistics.h"

namespace {

// What the phone's automatic relay posts for an EAN-13 reading.
constexpr std::string_view SCAN_BODY =
    R"({"text":"4006381333931","format":"EAN-13","confidence":97,"confirmations":3,)"
    R"("pressEnter":true,"timestamp":"2026-03-01T10:00:00.000Z"})";

}  // namespace

std::string request_text(LatencyRequest kind, uint16_t port, bool keep) {
    const std::string host =
        "Host: 127.0.0.1:" + std::to_string(port) + "\r\n" + (keep ? "" : "Connection: close\r\n");
    if (kind == LatencyRequest::ping) return "GET /api/ping HTTP/1.1\r\n" + host + "\r\n";
    return "POST /api/scan HTTP/1.1\r\n" + host +
           "Content-Type: application/json\r\nContent-Length: " + std::to_string(SCAN_BODY.size()) +
           "\r\n\r\n" + std::string(SCAN_BODY);
}

Status measure_latency(LatencyRequest kind, uint16_t port, int warm_up, int count, std::FILE* out) {
    Result<SslContext> context = new_client_context();
    if (!context.ok()) return Status::failure(context.error());
    const std::string request = request_text(kind, port);
    std::vector<double> milliseconds;
    for (int i = 0; i < warm_up + count; ++i) {
        Result<HttpsExchange> exchange = https_exchange(context.value().get(), port, request);
        if (!exchange.ok())
            return Status::failure("Request " + std::to_string(i) + ": " + exchange.error());
        const std::string& response = exchange.value().response;
        if (!response.starts_with("HTTP/1.1 200 ")) {
            return Status::failure("Request " + std::to_string(i) +
                                   " answered: " + response.substr(0, response.find('\r')));
        }
        if (i >= warm_up) milliseconds.push_back(exchange.value().elapsed.count() / 1e6);
    }
    std::fprintf(out, "p50_ms %.3f\np99_ms %.3f\nmax_ms %.3f\n", percentile(milliseconds, 50),
                 percentile(milliseconds, 99), percentile(milliseconds, 100));
    return Status::success();
}
