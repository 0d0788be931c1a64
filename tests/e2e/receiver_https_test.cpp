// The built receiver over HTTPS, with real clients: curl and openssl.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "net/endpoint.h"
#include "server/embedded_assets.h"
#include "tests/support/process.h"
#include "tests/support/receiver_process.h"

namespace {

constexpr milliseconds LINE_LIMIT{20000};

std::string https_url(uint16_t port, const std::string& path) {
    return "https://127.0.0.1:" + std::to_string(port) + path;
}

constexpr std::string_view KEPT = "Connection: keep-alive\r\nKeep-Alive: timeout=30\r\n";
constexpr std::string_view CLOSED = "Connection: close\r\n";

// The exact header block that every response carries, in this order. curl asks nothing about
// the connection, so HTTP/1.1 keeps it open.
std::string response_head(const std::string& status, const std::string& content_type,
                          size_t body_length, const std::string& cache_control = "no-store",
                          std::string_view connection = KEPT) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + content_type +
           "\r\nContent-Length: " + std::to_string(body_length) +
           "\r\nCache-Control: " + cache_control +
           "\r\nAccess-Control-Allow-Origin: *\r\n"
           "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
           "Access-Control-Allow-Headers: Content-Type\r\n" +
           std::string(connection) + "\r\n";
}

std::string json_response(const std::string& body, std::string_view connection = KEPT) {
    return response_head("200 OK", "application/json; charset=utf-8", body.size(), "no-store",
                         connection) +
           body;
}

struct TlsVersionCase {
    const char* name;
    std::vector<std::string> curl_flags;
    const char* protocol;  // as curl's verbose output names it
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const TlsVersionCase& value, std::ostream* out) {
    *out << value.name;
}

class ReceiverOverCurl : public ::testing::TestWithParam<TlsVersionCase> {
  protected:
    void SetUp() override {
        receiver_ = start_receiver_process({{"COMPUTERNAME", "DESK-7"}});
        ASSERT_TRUE(receiver_.process) << "the receiver did not start listening";
    }

    ProgramResult curl(const std::string& path, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {"curl", "-sS",       "-v",         "-k",
                                         "-i",   "--http1.1", "--max-time", "30"};
        argv.insert(argv.end(), GetParam().curl_flags.begin(), GetParam().curl_flags.end());
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(https_url(receiver_.port, path));
        return run_program(argv);
    }

    ReceiverProcess receiver_;
};

TEST_P(ReceiverOverCurl, PingReplyIsByteExact) {
    const ProgramResult result = curl("/api/ping");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.err.find(std::string("SSL connection using ") + GetParam().protocol),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("ALPN: server accepted http/1.1"), std::string::npos) << result.err;

    // The receiver advertises the best-ranked adapter of this machine, as listed here too.
    const std::string address = list_lan_adapters().front().address;
    const std::string body =
        "{\"ok\":true,\"client\":\"quillmark-receiver-gui\",\"protocol\":\"https\","
        "\"host\":\"DESK-7\",\"port\":" +
        std::to_string(receiver_.port) + ",\"lanAddresses\":[\"" + address + "\"]}";
    EXPECT_EQ(result.out, json_response(body));

    // A client that asks for the close, and HTTP/1.0 (which has no ALPN name the receiver
    // takes), get the bytes of one request per connection.
    for (const std::vector<std::string>& flags :
         {std::vector<std::string>{"-H", "Connection: close"},
          std::vector<std::string>{"--http1.0", "--no-alpn"}}) {
        const ProgramResult closing = curl("/api/ping", flags);
        ASSERT_EQ(closing.exit_code, 0) << closing.err;
        EXPECT_EQ(closing.out, json_response(body, CLOSED)) << flags.front();
    }
}

TEST_P(ReceiverOverCurl, ScanIsEchoedAndLogged) {
    const std::string text = std::string("4006381333931-") + GetParam().name;
    const ProgramResult result = curl(
        "/api/scan", {"-H", "Content-Type: application/json", "--data-binary",
                      "{\"text\":\"  " + text +
                          " \",\"format\":\"EAN-13\",\"confidence\":97,\"pressEnter\":false}"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, json_response("{\"ok\":true,\"scan\":{\"text\":\"" + text +
                                        "\",\"format\":\"EAN-13\",\"confidence\":97}}"));

    // Linux has no desktop to type into or clipboard to fill: the scan is only received.
    const std::regex logged("\\[\\d\\d:\\d\\d:\\d\\d\\] \\[EAN-13\\] " + text +
                            " \\(97% - Received\\)");
    EXPECT_TRUE(receiver_.process->wait_for_line(
        [&](const std::string& line) { return std::regex_match(line, logged); }, LINE_LIMIT))
        << "no log line for the scan";
}

std::string npm_package_file(const std::string& path) {
    std::ifstream in(std::string(QUILLMARK_DECODER_PACKAGE_DIR) + "/" + path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path << " of the installed npm package";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string npm_package_version() {
    const std::string manifest = npm_package_file("package.json");
    std::smatch match;
    return std::regex_search(manifest, match, std::regex("\"version\":\\s*\"([^\"]+)\""))
               ? match[1].str()
               : "";
}

// A megabyte through TLS, byte for byte as npm installed it, under the type that lets browsers
// compile it while it streams in.
TEST_P(ReceiverOverCurl, DecoderIsServedAsTheNpmPackageHasIt) {
    const std::string prefix(DECODER_PATH_PREFIX);
    EXPECT_EQ(prefix, "/vendor/zxing-wasm@" + npm_package_version() + "/");
    for (const auto& [path, content_type] :
         {std::pair{"dist/reader/zxing_reader.wasm", "application/wasm"},
          std::pair{"dist/es/reader/index.js", "text/javascript; charset=utf-8"}}) {
        SCOPED_TRACE(path);
        const ProgramResult result = curl(prefix + path);
        ASSERT_EQ(result.exit_code, 0) << result.err;
        const std::string file = npm_package_file(path);
        ASSERT_GT(file.size(), 0u);
        const std::string head =
            response_head("200 OK", content_type, file.size(), "max-age=604800, immutable");
        EXPECT_EQ(result.out.substr(0, head.size()), head);
        EXPECT_TRUE(result.out.substr(head.size()) == file)
            << "the body (" << result.out.size() - head.size() << " bytes) differs from the "
            << file.size() << " bytes of the npm file";
    }
    // Only the files the page needs: the rest of the package is not served.
    for (const std::string& path :
         {prefix + "package.json", prefix + "dist/es/writer/index.js", prefix,
          std::string("/vendor/zxing-wasm@0.0.0/dist/es/share.js")}) {
        const ProgramResult result = curl(path);
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out,
                  response_head("404 Not Found", "text/plain; charset=utf-8", 9) + "Not found")
            << path;
    }
}

INSTANTIATE_TEST_SUITE_P(
    TlsVersions, ReceiverOverCurl,
    ::testing::Values(TlsVersionCase{"tls13", {"--tlsv1.3"}, "TLSv1.3"},
                      TlsVersionCase{"tls12", {"--tlsv1.2", "--tls-max", "1.2"}, "TLSv1.2"}),
    [](const auto& info) { return std::string(info.param.name); });

// With --pairing-key (and --ephemeral-identity, nothing kept) the pairing URL carries a fresh
// key, and only scans that carry it are delivered; everything else stays open.
TEST(ReceiverPairingKey, OnlyScansWithTheKeyOfThisStartAreDelivered) {
    ReceiverProcess receiver =
        start_receiver_process({}, {"--pairing-key", "--ephemeral-identity"});
    ASSERT_TRUE(receiver.process);
    const auto printed = receiver.process->wait_for_line_containing("Pairing URL: ", LINE_LIMIT);
    ASSERT_TRUE(printed);
    std::smatch match;
    const std::regex keyed("%2Fapi%2Fscan%3Fkey%3D([A-Za-z0-9_-]{22})$");
    ASSERT_TRUE(std::regex_search(*printed, match, keyed)) << *printed;
    const std::string key = match[1].str();

    const auto scan = [&](const std::string& query, const std::string& text) {
        return run_program({"curl", "-sS", "-k", "-i", "--http1.1", "--max-time", "30", "-H",
                            "Content-Type: application/json", "--data-binary",
                            "{\"text\":\"" + text + "\"}",
                            https_url(receiver.port, "/api/scan" + query)});
    };
    const std::string refusal =
        R"({"ok":false,"error":"Pairing key required: scan the QR code shown by the receiver again"})";
    const std::string refused =
        response_head("403 Forbidden", "application/json; charset=utf-8", refusal.size()) + refusal;
    EXPECT_EQ(scan("", "NO-KEY").out, refused);
    EXPECT_EQ(scan("?key=" + std::string(22, 'A'), "WRONG-KEY").out, refused);

    const ProgramResult accepted = scan("?key=" + key, "WITH-KEY");
    EXPECT_EQ(accepted.out,
              json_response(
                  R"({"ok":true,"scan":{"text":"WITH-KEY","format":"BARCODE","confidence":100}})"));
    EXPECT_TRUE(
        receiver.process->wait_for_line_containing("] WITH-KEY (100% - Received)", LINE_LIMIT));
    // The two refusals came from one address within 10 s: one line names it.
    std::vector<std::string> refusals;
    for (const std::string& line : receiver.process->lines()) {
        if (line.find("wrong pairing key") != std::string::npos) refusals.push_back(line);
        EXPECT_EQ(line.find("NO-KEY"), std::string::npos) << "refused scan delivered: " << line;
        EXPECT_EQ(line.find("WRONG-KEY"), std::string::npos) << "refused scan delivered: " << line;
    }
    EXPECT_EQ(refusals,
              std::vector<std::string>{"Refused a scan from 127.0.0.1: wrong pairing key"});

    // The reachability test and the preflight need no key.
    const ProgramResult ping = run_program(
        {"curl", "-sS", "-k", "--max-time", "30", https_url(receiver.port, "/api/ping")});
    EXPECT_NE(ping.out.find("\"ok\":true"), std::string::npos) << ping.out;
    const ProgramResult options =
        run_program({"curl", "-sS", "-k", "-i", "-X", "OPTIONS", "--max-time", "30",
                     https_url(receiver.port, "/api/scan")});
    EXPECT_EQ(options.out.rfind("HTTP/1.1 204 No Content\r\n", 0), 0u) << options.out;

    // Another start, another key.
    ReceiverProcess second = start_receiver_process({}, {"--pairing-key", "--ephemeral-identity"});
    ASSERT_TRUE(second.process);
    const auto second_printed =
        second.process->wait_for_line_containing("Pairing URL: ", LINE_LIMIT);
    ASSERT_TRUE(second_printed);
    ASSERT_TRUE(std::regex_search(*second_printed, match, keyed)) << *second_printed;
    EXPECT_NE(match[1].str(), key);
}

// "Mar  5 10:00:00 2026 GMT" as seconds since 1970.
time_t parse_certificate_time(const std::string& text) {
    std::tm parts{};
    if (!strptime(text.c_str(), "%b %d %H:%M:%S %Y GMT", &parts)) return 0;
    return timegm(&parts);
}

std::string field_after(const std::string& text, const std::string& label) {
    const size_t start = text.find(label);
    if (start == std::string::npos) return "";
    const size_t value = start + label.size();
    return text.substr(value, text.find('\n', value) - value);
}

std::string line_after(const std::string& text, const std::string& heading) {
    const size_t start = text.find(heading);
    if (start == std::string::npos) return "";
    const size_t next = text.find('\n', start) + 1;
    const size_t first = text.find_first_not_of(' ', next);
    return text.substr(first, text.find('\n', first) - first);
}

// With --ephemeral-identity: a self-signed certificate of this start.
TEST(ReceiverCertificate, SeenByOpensslClient) {
    ReceiverProcess receiver =
        start_receiver_process({{"COMPUTERNAME", "DESK-7"}}, {"--ephemeral-identity"});
    ASSERT_TRUE(receiver.process);
    const ProgramResult client = run_program({"openssl", "s_client", "-connect",
                                              "127.0.0.1:" + std::to_string(receiver.port), "-alpn",
                                              "http/1.1", "-showcerts"});
    ASSERT_EQ(client.exit_code, 0) << client.err;
    EXPECT_NE(client.out.find("ALPN protocol: http/1.1"), std::string::npos) << client.out;
    EXPECT_NE(client.out.find(" 0 s:CN = Quillmark Receiver"), std::string::npos) << client.out;
    EXPECT_EQ(client.out.find(" 1 s:"), std::string::npos) << "a chain of exactly one";

    const size_t begin = client.out.find("-----BEGIN CERTIFICATE-----");
    const std::string end_marker = "-----END CERTIFICATE-----";
    const size_t end = client.out.find(end_marker);
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const std::string pem = client.out.substr(begin, end + end_marker.size() - begin) + "\n";
    const ProgramResult x509 = run_program({"openssl", "x509", "-noout", "-text"}, pem);
    ASSERT_EQ(x509.exit_code, 0) << x509.err;
    const std::string& text = x509.out;

    // Names in order: localhost, loopback, the computer, then the advertised LAN address.
    const std::string names = line_after(text, "X509v3 Subject Alternative Name:");
    const std::string expected_start = "DNS:localhost, IP Address:127.0.0.1, DNS:DESK-7";
    EXPECT_EQ(names.rfind(expected_start, 0), 0u) << names;
    const std::string address = list_lan_adapters().front().address;
    if (address != "127.0.0.1") {
        EXPECT_NE(names.find(", IP Address:" + address), std::string::npos) << names;
    }

    const time_t now = std::time(nullptr);
    const time_t not_before = parse_certificate_time(field_after(text, "Not Before: "));
    const time_t not_after = parse_certificate_time(field_after(text, "Not After : "));
    EXPECT_NEAR(static_cast<double>(not_before - now), -86400.0, 300.0) << text;
    EXPECT_NEAR(static_cast<double>(not_after - now), 365 * 86400.0, 300.0) << text;

    EXPECT_EQ(field_after(text, "Subject: "), "CN = Quillmark Receiver");
    EXPECT_EQ(field_after(text, "Issuer: "), "CN = Quillmark Receiver");
    EXPECT_EQ(line_after(text, "X509v3 Key Usage: critical"),
              "Digital Signature, Key Encipherment");
    EXPECT_EQ(line_after(text, "X509v3 Extended Key Usage:"), "TLS Web Server Authentication");
    EXPECT_EQ(line_after(text, "X509v3 Basic Constraints: critical"), "CA:FALSE");
    EXPECT_EQ(field_after(text, "Public Key Algorithm: "), "id-ecPublicKey");
    EXPECT_EQ(field_after(text, "ASN1 OID: "), "prime256v1");
    EXPECT_EQ(field_after(text, "Signature Algorithm: "), "ecdsa-with-SHA256");
    EXPECT_EQ(field_after(text, "Version: "), "3 (0x2)");
}

TEST(ReceiverCertificate, NonAsciiComputerNameIsLeftOut) {
    ReceiverProcess receiver =
        start_receiver_process({{"COMPUTERNAME", "B\xC3\xBCro-PC"}}, {"--ephemeral-identity"});
    ASSERT_TRUE(receiver.process) << "the receiver must start with a non-ASCII computer name";
    const ProgramResult client =
        run_program({"openssl", "s_client", "-connect",
                     "127.0.0.1:" + std::to_string(receiver.port), "-showcerts"});
    ASSERT_EQ(client.exit_code, 0) << client.err;
    const size_t begin = client.out.find("-----BEGIN CERTIFICATE-----");
    ASSERT_NE(begin, std::string::npos);
    const ProgramResult x509 = run_program({"openssl", "x509", "-noout", "-ext", "subjectAltName"},
                                           client.out.substr(begin));
    ASSERT_EQ(x509.exit_code, 0) << x509.err;
    EXPECT_NE(x509.out.find("DNS:localhost, IP Address:127.0.0.1"), std::string::npos) << x509.out;
    EXPECT_EQ(x509.out.find("DNS:B"), std::string::npos) << x509.out;
}

}  // namespace

namespace {

TEST(ReceiverCommandLine, BadTypingValueRefusesTheStart) {
    const ProgramResult result =
        run_program({QUILLMARK_RECEIVER_PATH, "--headless", "-p", "0", "--key-delay", "abc"});
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.err,
              "--key-delay takes a whole number of milliseconds from 0 to 1000, not \"abc\"\n");
    EXPECT_EQ(result.out, "") << "nothing started";
}

}  // namespace

namespace {

// A settings folder of the test's own: the file the first start writes, edited by hand, read
// by the next start; a line it cannot use is named in the log, and the receiver starts anyway.
TEST(ReceiverSettingsFile, WrittenAtTheFirstStartAndReadAtTheNext) {
    const std::filesystem::path home = std::filesystem::temp_directory_path() /
                                       ("quillmark-e2e-settings-" + std::to_string(::getpid()));
    std::filesystem::remove_all(home);
    const std::filesystem::path file = home / "quillmark" / "receiver.conf";
    const std::map<std::string, std::string> environment{{"XDG_CONFIG_HOME", home.string()}};
    const auto typing_line = [](ReceiverProcess& receiver) {
        return receiver.process->wait_for_line_containing("Typing: ", milliseconds(2000));
    };
    {
        ReceiverProcess first = start_receiver_process(environment, {"--key-delay", "40"});
        ASSERT_TRUE(first.process);
        EXPECT_EQ(typing_line(first),
                  "Typing: Unicode characters, 40 ms between characters, "
                  "Enter after each scan");
    }
    std::ifstream written(file);
    std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    ASSERT_NE(text.find("\nkey_delay = 0\n"), std::string::npos)
        << "the command line's value is not saved:\n"
        << text;
    const auto replace = [&text](const std::string& from, const std::string& to) {
        text.replace(text.find(from), from.size(), to);
    };
    replace("\ntype_mode = unicode\n", "\ntype_mode = keys\n");
    replace("\nkey_delay = 0\n", "\nkey_delay = 20\n");
    replace("\nsuffix_key = enter\n", "\nsuffix_key = space\nnot a setting\n");
    std::ofstream(file, std::ios::trunc) << text;
    const std::string bad_line = std::to_string(
        std::count(text.begin(), text.begin() + text.find("not a setting"), '\n') + 1);

    ReceiverProcess second = start_receiver_process(environment);
    ASSERT_TRUE(second.process) << "bad lines never stop the start";
    EXPECT_EQ(typing_line(second),
              "Typing: key codes, 20 ms between characters, "
              "Enter after each scan");
    EXPECT_TRUE(second.process->wait_for_line_containing(
        "Ignored the saved setting suffix_key: --suffix-key takes enter or tab, not \"space\"",
        milliseconds(2000)));
    EXPECT_TRUE(second.process->wait_for_line_containing(
        "Ignored line " + bad_line + " of " + file.string() +
            ": \"not a setting\" is no \"key = value\" line",
        milliseconds(2000)));

    ReceiverProcess ignoring = start_receiver_process(environment, {"--ignore-settings"});
    ASSERT_TRUE(ignoring.process);
    EXPECT_FALSE(typing_line(ignoring)) << "--ignore-settings reads nothing";
    std::filesystem::remove_all(home);
}

}  // namespace
