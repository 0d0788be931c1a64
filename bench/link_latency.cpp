#include "bench/link_latency.h"

#include <functional>
#include <string>
#include <vector>

#include "bench/delay_proxy.h"
#include "bench/latency.h"
#include "bench/loopback_client.h"
#include "bench/statistics.h"

namespace {

// Runs `exchange` warm_up + count times; the measured milliseconds of the last `count`.
Result<std::vector<double>> time_scans(int warm_up, int count,
                                       const std::function<Result<HttpsExchange>()>& exchange) {
    using Out = Result<std::vector<double>>;
    std::vector<double> milliseconds;
    for (int i = 0; i < warm_up + count; ++i) {
        Result<HttpsExchange> done = exchange();
        if (!done.ok()) return Out::failure("Scan " + std::to_string(i) + ": " + done.error());
        const std::string& response = done.value().response;
        if (!response.starts_with("HTTP/1.1 200 ")) {
            return Out::failure("Scan " + std::to_string(i) +
                                " answered: " + response.substr(0, response.find('\r')));
        }
        if (i >= warm_up) milliseconds.push_back(done.value().elapsed.count() / 1e6);
    }
    return milliseconds;
}

}  // namespace

Status measure_link_latency(uint16_t port, std::chrono::milliseconds round_trip, int warm_up,
                            int count, std::FILE* out) {
    Result<SslContext> context = new_client_context();
    if (!context.ok()) return Status::failure(context.error());
    auto proxy = DelayProxy::start(port, round_trip);
    if (!proxy.ok()) return Status::failure(proxy.error());
    const uint16_t link = proxy.value()->port();
    SSL_CTX* tls = context.value().get();

    const std::string closing = request_text(LatencyRequest::scan, link);
    Result<std::vector<double>> fresh =
        time_scans(warm_up, count, [&] { return https_exchange(tls, link, closing); });
    if (!fresh.ok()) return Status::failure("New connections: " + fresh.error());

    KeptHttpsConnection kept_connection(tls, link);
    const std::string keeping = request_text(LatencyRequest::scan, link, true);
    Result<std::vector<double>> kept =
        time_scans(warm_up, count, [&] { return kept_connection.exchange(keeping); });
    if (!kept.ok()) return Status::failure("Kept connection: " + kept.error());

    std::fprintf(out,
                 "new_p50_ms %.1f\nnew_p99_ms %.1f\nkept_p50_ms %.1f\nkept_p99_ms %.1f\n"
                 "kept_connections %d\n",
                 percentile(fresh.value(), 50), percentile(fresh.value(), 99),
                 percentile(kept.value(), 50), percentile(kept.value(), 99),
                 kept_connection.connections_opened());
    return Status::success();
}
