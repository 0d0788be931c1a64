// The plain-HTTP answer: the bytes a client sends are read from a real socket pair by the
// connection, which answers with a 302. Input: an options byte (bit 0: the client keeps its
// sending side open, so the read ends on the time-out rather than the end of the stream),
// then the bytes sent.
//
// Checked: the answer is exactly one 302 with the fixed header lines; its target is one piece
// of valid UTF-8 without white space (no header can be smuggled in), taken from the first
// line, or "/".
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/utf8.h"
#include "receiver/receiver_state.h"
#include "server/connection.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/serve_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto state = new_receiver_state(ReceiverSettings{}, {{"Wi-Fi", "192.168.1.20"}});
    // What one socket buffer surely holds, so the sender never blocks.
    if (size < 1 || size > 65536) return 0;
    const bool client_stays_open = data[0] & 1;
    const std::string_view sent(reinterpret_cast<const char*>(data + 1), size - 1);
    // A handshake record takes the TLS path; a client that sends nothing and stays open is
    // never answered.
    if (sent.starts_with('\x16') || (sent.empty() && client_stays_open)) return 0;

    int fds[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0, "no descriptor leak");
    Socket server(fds[0]);
    const int client = fds[1];
    FUZZ_CHECK(write(client, sent.data(), sent.size()) == static_cast<ssize_t>(sent.size()),
               "the request fits the socket buffer");
    if (!client_stays_open) shutdown(client, SHUT_WR);

    ConnectionLimits limits;
    limits.call_timeout_ms = 1;
    limits.request_time = std::chrono::milliseconds(5);
    limits.linger_time = std::chrono::milliseconds(0);
    std::optional<ConnectionSlot> slot = ConnectionSlot::claim(0x7F000001);
    FUZZ_CHECK(slot.has_value(), "no place is left taken");
    serve_connection(std::move(server), *slot, state, nullptr, limits);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = read(client, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
    close(client);

    const std::string_view start = "HTTP/1.1 302 Found\r\nLocation: https://192.168.1.20:8080";
    const std::string_view end = "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    FUZZ_CHECK(answer.starts_with(start) && answer.ends_with(end) &&
                   answer.size() > start.size() + end.size(),
               "one 302 with the fixed header lines");
    const std::string_view target(answer.data() + start.size(),
                                  answer.size() - start.size() - end.size());
    FUZZ_CHECK(is_valid_utf8(target), "the target is UTF-8");
    const std::vector<std::string_view> pieces = split_white_space(target);
    FUZZ_CHECK(pieces.size() == 1 && pieces[0] == target, "the target has no white space");
    FUZZ_CHECK(target == "/" || sent.substr(0, sent.find('\n')).find(target) != sent.npos,
               "the target comes from the first line");
    return 0;
}
