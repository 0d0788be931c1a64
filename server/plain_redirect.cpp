#include "server/plain_redirect.h"

#include <vector>

#include "app/receiver_state.h"
#include "app/utf8.h"
#include "net/endpoint.h"
#include "server/timed_socket.h"

namespace {

struct FirstLine {
    std::string bytes;
    bool over_long = false;
};

// Bytes up to and including the first line feed, the end of the stream or the first error.
FirstLine read_first_line(TimedSocket& reader) {
    FirstLine line;
    std::vector<char> buffer(MAX_REDIRECT_LINE_BYTES);
    while (line.bytes.size() < MAX_REDIRECT_LINE_BYTES) {
        const size_t room = MAX_REDIRECT_LINE_BYTES - line.bytes.size();
        const std::ptrdiff_t n = reader.receive(buffer.data(), room);
        if (n <= 0) return line;
        const std::string_view chunk(buffer.data(), static_cast<size_t>(n));
        const size_t feed = chunk.find('\n');
        if (feed != std::string_view::npos) {
            line.bytes.append(chunk.substr(0, feed + 1));
            return line;
        }
        line.bytes.append(chunk);
    }
    line.over_long = true;
    return line;
}

}  // namespace

std::string redirect_target(std::string_view line, bool over_long) {
    if (over_long || !is_valid_utf8(line)) return "/";
    const std::vector<std::string_view> pieces = split_white_space(line);
    return pieces.size() >= 2 ? std::string(pieces[1]) : "/";
}

std::string redirect_response(const std::string& address, uint16_t port, std::string_view target) {
    std::string response = "HTTP/1.1 302 Found\r\nLocation: https://";
    response += address;
    response += ':';
    response += std::to_string(port);
    response += target;
    response += "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    return response;
}

bool redirect_plain_http(TimedSocket& socket, ReceiverState& state,
                         const std::function<void()>& line_read) {
    std::string target;
    {
        // The line is read through a handle of its own, closed before the answer goes out.
        Result<Socket> second = duplicate_socket(socket.socket());
        if (!second.ok()) return false;
        TimedSocket reader = socket.over(second.value());
        const FirstLine line = read_first_line(reader);
        target = redirect_target(line.bytes, line.over_long);
    }
    if (line_read) line_read();
    const std::string response = redirect_response(
        selected_lan_ip(state), state.port.load(std::memory_order_relaxed), target);
    return socket.send_all(response.data(), response.size());
}
