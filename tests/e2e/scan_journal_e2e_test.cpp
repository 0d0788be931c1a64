// The scan journal and the live scan stream of the built receiver, with a data folder of the
// test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "core/json_fields.h"
#include "platform/user_files.h"
#include "receiver/journal_format.h"
#include "receiver/live_scans.h"
#include "tests/support/net_client.h"
#include "tests/support/process.h"
#include "tests/support/receiver_process.h"
#include "tests/support/temporary_folder.h"

namespace {

namespace fs = std::filesystem;
constexpr milliseconds LIMIT{20000};

// A data folder of the test's own, removed at its end.
struct DataFolder {
    TemporaryFolder folder;
    fs::path root = folder.path;
    DataFolder() {
        fs::permissions(root,
                        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
    fs::path scans() const { return root / "quillmark" / "scans"; }
    std::map<std::string, std::string> environment() const {
        return {{"XDG_DATA_HOME", root.string()}};
    }
    // Every record of every journal file, oldest file first.
    std::vector<JournalRecord> records() const {
        std::vector<fs::path> files;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(scans(), error))
            files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        std::vector<JournalRecord> all;
        for (const fs::path& file : files) {
            Result<std::string> text = read_whole_file(file);
            if (!text.ok()) continue;
            EXPECT_TRUE(text.value().starts_with(JOURNAL_HEADER)) << file;
            for (JournalRecord& record : parse_journal(text.value())) all.push_back(record);
        }
        return all;
    }
};

std::string scan_body(const std::string& text, const std::string& id) {
    return R"({"text":)" + json_quote(text) + R"(,"format":"QR-CODE","confidence":93,"id":)" +
           json_quote(id) + "}";
}

bool answered_ok(const std::string& response) {
    return response.rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
}

// 200 scans from 8 client addresses, 25 each at once, with texts a CSV file must take care of.
TEST(ScanJournal, EveryScanFromEveryClientIsOnRecordExactly) {
    DataFolder data;
    ReceiverProcess receiver = start_receiver_process(data.environment());
    ASSERT_TRUE(receiver.process);
    EXPECT_TRUE(receiver.process->wait_for_line_containing(
        "Scan journal: " + path_text(data.scans()), LIMIT));

    const std::vector<std::string> hard = {
        "a,b", "say \"hi\"", "two\nlines", "=1+2", "\xF0\x9F\x98\x80 emoji",
        "-5",  "@x",         "+49 30 1234"};
    std::vector<std::thread> clients;
    std::atomic<int> accepted{0};
    for (int client = 0; client < 8; ++client) {
        clients.emplace_back([&, client] {
            const std::string from = "127.0.0." + std::to_string(client + 1);
            for (int i = 0; i < 25; ++i) {
                const std::string text = hard[static_cast<size_t>(i) % hard.size()] + " " +
                                         std::to_string(client) + "/" + std::to_string(i);
                const std::string id = "c" + std::to_string(client) + "-" + std::to_string(i);
                if (answered_ok(
                        https_exchange(receiver.port, scan_request(scan_body(text, id)), from)))
                    ++accepted;
            }
        });
    }
    for (std::thread& client : clients) client.join();
    ASSERT_EQ(accepted.load(), 200);

    std::vector<JournalRecord> records = data.records();
    ASSERT_EQ(records.size(), 200u);
    std::map<std::string, JournalRecord> by_id;
    for (const JournalRecord& record : records) by_id[record.id] = record;
    ASSERT_EQ(by_id.size(), 200u) << "no scan twice";
    for (int client = 0; client < 8; ++client) {
        for (int i = 0; i < 25; ++i) {
            const JournalRecord& record =
                by_id["c" + std::to_string(client) + "-" + std::to_string(i)];
            EXPECT_EQ(record.text, hard[static_cast<size_t>(i) % hard.size()] + " " +
                                       std::to_string(client) + "/" + std::to_string(i));
            EXPECT_EQ(record.address, "127.0.0." + std::to_string(client + 1));
            EXPECT_EQ(record.format, "QR-CODE");
            EXPECT_EQ(record.confidence, 93u);
            EXPECT_EQ(record.outcome, "typed");
        }
    }
    // In the file a formula never starts a field.
    Result<std::string> raw = read_whole_file(fs::directory_iterator(data.scans())->path());
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(raw.value().find(",=1+2"), std::string::npos);
    EXPECT_NE(raw.value().find(",'=1+2 "), std::string::npos);

    // A resend is on record as such, with its text.
    EXPECT_TRUE(answered_ok(
        https_exchange(receiver.port, scan_request(scan_body("=1+2 0/3", "c0-3")), "127.0.0.1")));
    records = data.records();
    ASSERT_EQ(records.size(), 201u);
    EXPECT_EQ(records.back().outcome, "already received");
    EXPECT_EQ(records.back().text, "=1+2 0/3");
    EXPECT_EQ(records.back().id, "c0-3");
}

TEST(ScanJournal, ARefusedScanIsOnRecordWithoutItsText) {
    DataFolder data;
    ReceiverProcess receiver = start_receiver_process(data.environment(), {"--pairing-key"});
    ASSERT_TRUE(receiver.process);
    const std::string response =
        https_exchange(receiver.port, scan_request(scan_body("SECRET-TEXT", "r-1")), "127.0.0.3");
    ASSERT_EQ(response.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << response;
    const std::vector<JournalRecord> records = data.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].outcome, "refused");
    EXPECT_EQ(records[0].text, "");
    EXPECT_EQ(records[0].id, "r-1");
    EXPECT_EQ(records[0].address, "127.0.0.3");
    Result<std::string> raw = read_whole_file(fs::directory_iterator(data.scans())->path());
    EXPECT_EQ(raw.value().find("SECRET"), std::string::npos);
}

// Writes that fail cost one log line per kind, however many scans; delivery goes on.
TEST(ScanJournal, AFullDiskGivesOneLineAndScansGoOn) {
    DataFolder data;
    fs::create_directories(data.scans());
    // Today's file on a device that is always full.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[32];
    std::strftime(name, sizeof name, "scans-%Y-%m-%d.csv", &local);
    fs::create_symlink("/dev/full", data.scans() / name);

    ReceiverProcess receiver = start_receiver_process(data.environment());
    ASSERT_TRUE(receiver.process);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(answered_ok(https_exchange(
            receiver.port, scan_request(scan_body("FULL-" + std::to_string(i), "")))));
    }
    ASSERT_TRUE(receiver.process->wait_for_line_containing("] FULL-4 (93% - Received)", LIMIT));
    size_t failures = 0;
    for (const std::string& line : receiver.process->lines()) {
        if (line.starts_with("Scan journal: cannot write ")) ++failures;
    }
    EXPECT_EQ(failures, 1u);
}

TEST(ScanJournal, AFolderThatCannotBeWrittenGivesOneLineAndScansGoOn) {
    DataFolder data;
    fs::create_directories(data.scans());
    for (const fs::path& folder : {data.root / "quillmark", data.scans()}) {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    }
    // Root writes anywhere: as root the receiver runs as nobody, for whom the folder is
    // read-only.
    const uint16_t port = free_port();
    std::vector<std::string> argv = {
        QUILLMARK_RECEIVER_PATH, "--headless",           "-p",
        std::to_string(port),    "--ephemeral-identity", "--ignore-settings"};
    if (geteuid() == 0) {
        argv.insert(argv.begin(),
                    {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    }
    auto receiver = ChildProcess::spawn(
        argv,
        {{"DISPLAY", ""}, {"HOME", data.root.string()}, {"XDG_DATA_HOME", data.root.string()}});
    ASSERT_TRUE(receiver);
    ASSERT_TRUE(receiver->wait_for_line_containing(listening_line(port, false), LIMIT));
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(answered_ok(
            https_exchange(port, scan_request(scan_body("RO-" + std::to_string(i), "")))));
    }
    ASSERT_TRUE(receiver->wait_for_line_containing("] RO-3 (93% - Received)", LIMIT));
    size_t failures = 0;
    for (const std::string& line : receiver->lines()) {
        if (line.starts_with("Scan journal: cannot open ")) ++failures;
    }
    EXPECT_EQ(failures, 1u);
    EXPECT_TRUE(fs::is_empty(data.scans()));
}

// The stream's bytes until `events` events of `kind` have come.
std::string read_events(TlsConnection& stream, const std::string& kind, size_t events) {
    const std::string marker = "event: " + kind + "\n";
    const auto count = [&](const std::string& bytes) {
        size_t n = 0;
        for (size_t at = bytes.find(marker); at != std::string::npos;
             at = bytes.find(marker, at + 1))
            ++n;
        return n;
    };
    return stream
        .read_until([&](const std::string& bytes) { return count(bytes) >= events; }, LIMIT)
        .bytes;
}

std::unique_ptr<TlsConnection> open_stream(uint16_t port, const std::string& from = "",
                                           const std::string& query = "") {
    TlsOptions options;
    options.from = from;
    auto stream = TlsConnection::open(port, options);
    if (stream) stream->write(get_request("/api/events" + query));
    return stream;
}

TEST(ScanJournal, WithoutTheJournalNothingIsWrittenAndThePageGetsThisRunsScans) {
    DataFolder data;
    ReceiverProcess receiver =
        start_receiver_process(data.environment(), {"--no-journal", "--ephemeral-identity"});
    ASSERT_TRUE(receiver.process);
    EXPECT_TRUE(
        receiver.process->wait_for_line_containing("Scan journal: off (--no-journal)", LIMIT));
    ASSERT_TRUE(answered_ok(https_exchange(receiver.port, scan_request(scan_body("HELD", "h-1")))));
    auto stream = open_stream(receiver.port);
    ASSERT_TRUE(stream);
    const std::string bytes = read_events(*stream, "init", 1);
    EXPECT_NE(bytes.find("event: init\ndata: [{\"id\":\"h-1\",\"text\":\"HELD\""),
              std::string::npos)
        << bytes;
    EXPECT_FALSE(fs::exists(data.root / "quillmark"));
}

TEST(EventStream, InitWithTodaysScansFromTheJournalThenEachScanInOrder) {
    DataFolder data;
    {
        ReceiverProcess earlier = start_receiver_process(data.environment());
        ASSERT_TRUE(earlier.process);
        ASSERT_TRUE(
            answered_ok(https_exchange(earlier.port, scan_request(scan_body("EARLIER", "e-1")))));
    }
    ReceiverProcess receiver = start_receiver_process(data.environment());
    ASSERT_TRUE(receiver.process);
    auto stream = open_stream(receiver.port, "127.0.0.2");
    ASSERT_TRUE(stream);
    std::string bytes = read_events(*stream, "init", 1);
    EXPECT_EQ(
        bytes.rfind("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n", 0), 0u)
        << bytes;
    EXPECT_EQ(bytes.find("Access-Control-Allow-Origin"), std::string::npos)
        << "no page from elsewhere may read the scans";
    EXPECT_NE(bytes.find("event: init\ndata: [{\"id\":\"e-1\",\"text\":\"EARLIER\""),
              std::string::npos)
        << "read back from the journal of an earlier run: " << bytes;

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(answered_ok(https_exchange(
            receiver.port,
            scan_request(scan_body("LIVE-" + std::to_string(i), "l-" + std::to_string(i))))));
    }
    bytes += read_events(*stream, "scan", 3);
    const size_t first = bytes.find("\"text\":\"LIVE-0\"");
    const size_t second = bytes.find("\"text\":\"LIVE-1\"");
    const size_t third = bytes.find("\"text\":\"LIVE-2\"");
    ASSERT_NE(third, std::string::npos) << bytes;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(
        bytes.find("event: scan\ndata: {\"id\":\"l-0\",\"text\":\"LIVE-0\",\"format\":\"QR-CODE\","
                   "\"confidence\":93,\"timestamp\":\""),
        std::string::npos);
}

TEST(EventStream, AtMostEightAtOnceAndTheNinthGets503) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    std::vector<std::unique_ptr<TlsConnection>> streams;
    for (size_t i = 0; i < MAX_EVENT_STREAMS; ++i) {
        streams.push_back(open_stream(receiver.port, "127.0.0." + std::to_string(i + 1)));
        ASSERT_TRUE(streams.back());
        ASSERT_NE(read_events(*streams.back(), "init", 1).find("event: init"), std::string::npos);
    }
    const std::string busy = https_exchange(receiver.port, get_request("/api/events"));
    EXPECT_EQ(busy.rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u) << busy;
    EXPECT_NE(busy.find(R"({"ok":false,"error":"Too many live scan streams are open"})"),
              std::string::npos);
    // Scans and pages are served meanwhile.
    EXPECT_TRUE(answered_ok(https_exchange(receiver.port, get_request("/receiver.html"))));
    // A stream that closes gives its place back.
    streams.pop_back();
    EXPECT_TRUE(wait_until(
        [&] {
            auto again = open_stream(receiver.port);
            return again && read_events(*again, "init", 1).find("event: init") != std::string::npos;
        },
        LIMIT));
}

// A stream whose client never reads is dropped once 256 KiB wait for it, and scans never wait
// for it: all are answered, whether it is open or not.
TEST(EventStream, AReaderThatNeverReadsIsDroppedWithoutHoldingScansUp) {
    ReceiverProcess receiver = start_receiver_process();
    ASSERT_TRUE(receiver.process);
    const std::string big(60000, 'B');
    const auto post_scans = [&](int count) {
        const auto start = std::chrono::steady_clock::now();
        int ok = 0;
        for (int i = 0; i < count; ++i)
            ok += answered_ok(https_exchange(receiver.port,
                                             scan_request(scan_body(big + std::to_string(i), ""))));
        EXPECT_EQ(ok, count);
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    const double without = post_scans(40);

    // A small receive buffer, so that little waits in the kernel for it.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(receiver.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    auto stalled = TlsConnection::over(fd);
    ASSERT_TRUE(stalled);
    stalled->write(get_request("/api/events"));

    const double with = post_scans(200);
    EXPECT_TRUE(receiver.process->wait_for_line_containing(
        "Closed the live scan stream of 127.0.0.1: it fell more than 256 KiB behind", LIMIT));
    std::printf(
        "Scans of 60 kB: %.1f ms each without a stream, %.1f ms each with one that "
        "never reads\n",
        without / 40, with / 200);
}

}  // namespace
