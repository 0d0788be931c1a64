#include "ui/window_texts.h"

std::string firewall_rule_parameters(uint16_t port) {
    const std::string number = std::to_string(port);
    return "advfirewall firewall add rule name=\"Quillmark Receiver Port " + number +
           "\" dir=in action=allow protocol=TCP localport=" + number;
}

std::string firewall_log_line(uint16_t port) {
    return "Requested Windows Firewall rule for TCP port " + std::to_string(port) + ".";
}

std::string copied_url_log_line(std::string_view url) {
    return "Copied URL to clipboard: " + std::string(url);
}

std::string about_caption(std::string_view version) {
    return "About Quillmark " + std::string(version);
}

std::string receiver_page_url(uint16_t port) {
    return "https://127.0.0.1:" + std::to_string(port) + "/receiver.html";
}

std::string about_text(std::string_view ca_fingerprint) {
    std::string text(ABOUT_TEXT);
    if (!ca_fingerprint.empty()) {
        text +=
            "\r\n\r\nQuillmark local CA, SHA-256 fingerprint:\r\n" + std::string(ca_fingerprint);
    }
    return text;
}

std::string start_with_windows_command(std::string_view exe_path) {
    std::string command = "\"";
    command.append(exe_path).append("\" --minimized");
    return command;
}

std::string tray_tip(uint64_t scans) {
    return "Quillmark: " + std::to_string(scans) + " scans";
}
