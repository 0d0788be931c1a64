#include <gtest/gtest.h>

#include <ctime>

#include "core/csv.h"
#include "receiver/journal_format.h"
#include "platform/user_files.h"
#include "receiver/live_scans.h"
#include "receiver/receiver_state.h"
#include "receiver/scan_delivery.h"
#include "receiver/scan_journal.h"
#include "server/event_stream.h"
#include "tests/support/environment_override.h"
#include "tests/support/temporary_folder.h"

namespace {

TEST(CsvField, QuotesPerRfc4180AndGuardsFormulas) {
    struct Row {
        std::string text, field;
    } rows[] = {
        {"4006381333931", "4006381333931"},  // exact when nothing needs doing
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"line\nbreak", "\"line\nbreak\""},
        {"cr\rlf", "\"cr\rlf\""},
        {"=1+2", "'=1+2"},  // each character a spreadsheet starts a formula with
        {"+49 30", "'+49 30"},
        {"-5", "'-5"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},        // guarded, then quoted for its CR
        {"=A1,B1", "\"'=A1,B1\""},  // guard inside the quotes
        {"'=x", "''=x"},            // an apostrophe already there would be eaten
        {"'plain", "'plain"},       // not before a formula: left alone
        {"a=b", "a=b"},             // only the first character counts
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(csv_field(row.text), row.field) << row.text;
}

TEST(CsvField, ParsedBackGivesEveryTextExactly) {
    const std::vector<std::string> texts = {
        "=1+2", "''=x", "'=x", "'", "a,\"b\"\r\nc", "-", "x\n", "\xF0\x9F\x98\x80,=", "", "@"};
    std::string line;
    for (const std::string& text : texts) line += (line.empty() ? "" : ",") + csv_field(text);
    const auto records = parse_csv(line + "\r\n\r\nsecond\n");
    ASSERT_EQ(records.size(), 2u) << "an empty line is no record";
    ASSERT_EQ(records[0].size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(formula_unguarded(records[0][i]), texts[i]);
    }
    EXPECT_EQ(records[1], std::vector<std::string>{"second"});
}

LocalTime at(int year, int month, int day, int hour = 12, int offset = 0) {
    return {year, month, day, hour, 0, 0, offset};
}

TEST(JournalFiles, NamedAfterTheLocalDayOfTheScan) {
    EXPECT_EQ(journal_file_name(at(2026, 3, 9)), "scans-2026-03-09.csv");
    EXPECT_EQ(journal_time_text({2026, 3, 29, 14, 3, 27, 7200}, 42),
              "2026-03-29T14:03:27.042+02:00");
    EXPECT_EQ(journal_time_text({2026, 1, 1, 0, 0, 0, -(3 * 3600 + 1800)}, 999),
              "2026-01-01T00:00:00.999-03:30");

    // The computer's own zone decides the day: one instant, three zones, across midnight.
    const int64_t before_midnight_utc = 1767225599;  // 2025-12-31 23:59:59 UTC
    struct Row {
        const char* zone;
        int64_t when;
        const char* file;
        int offset;
    } rows[] = {
        {"UTC0", before_midnight_utc, "scans-2025-12-31.csv", 0},
        {"UTC0", before_midnight_utc + 1, "scans-2026-01-01.csv", 0},
        {"XST-14", before_midnight_utc - 14 * 3600, "scans-2025-12-31.csv", 14 * 3600},
        {"XST-14", before_midnight_utc - 14 * 3600 + 1, "scans-2026-01-01.csv", 14 * 3600},
        {"YST12", before_midnight_utc, "scans-2025-12-31.csv", -12 * 3600},
        {"YST12", before_midnight_utc + 12 * 3600 + 1, "scans-2026-01-01.csv", -12 * 3600},
    };
    for (const Row& row : rows) {
        EnvironmentOverride zone("TZ", row.zone);
        tzset();
        const LocalTime local = local_time_of(row.when);
        EXPECT_EQ(journal_file_name(local), row.file) << row.zone << " " << row.when;
        EXPECT_EQ(local.utc_offset_seconds, row.offset) << row.zone;
    }
    tzset();
}

TEST(JournalFiles, RetentionRemovesOnlyJournalFilesOlderThanTheDays) {
    const LocalTime today = at(2026, 3, 1);
    struct Row {
        const char* name;
        unsigned days;
        bool expired;
    } rows[] = {
        {"scans-2025-12-01.csv", 90, false},  // exactly 90 days before: kept
        {"scans-2025-11-30.csv", 90, true},   // 91 days
        {"scans-2026-02-28.csv", 1, false},  {"scans-2026-02-27.csv", 1, true},
        {"scans-2020-01-01.csv", 0, false},   // 0 keeps all
        {"scans-2027-01-01.csv", 1, false},   // a day ahead of the clock
        {"scans-2020-02-30.csv", 90, false},  // no such day: not ours
        {"scans-2020-1-01.csv", 90, false},  {"scans-2020-01-01.csv.bak", 90, false},
        {"notes-2020-01-01.csv", 90, false}, {"scans-20x0-01-01.csv", 90, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(journal_file_expired(row.name, today, row.days), row.expired) << row.name;
    }
}

TEST(JournalFiles, LinesReadBackAsTheyWereWritten) {
    JournalRecord record{
        "2026-03-01T08:00:00.000+01:00", "=id", "127.0.0.2", "+fmt", "a,\"b\"\nc =", 97, "typed"};
    std::string text = std::string(JOURNAL_HEADER) + journal_line(record);
    EXPECT_EQ(
        journal_line(record),
        "2026-03-01T08:00:00.000+01:00,'=id,127.0.0.2,'+fmt,\"a,\"\"b\"\"\nc =\",97,typed\r\n");
    text += "broken,line\r\n" + journal_line({"t", "", "127.0.0.1", "", "", 100, "refused"});
    const std::vector<JournalRecord> back = parse_journal(text);
    ASSERT_EQ(back.size(), 2u) << "the header and a broken line are skipped";
    EXPECT_EQ(back[0].id, "=id");
    EXPECT_EQ(back[0].format, "+fmt");
    EXPECT_EQ(back[0].text, record.text);
    EXPECT_EQ(back[0].confidence, 97u);
    EXPECT_EQ(back[1].outcome, "refused");
}

TEST(JournalFiles, EachDaysFileStartsWithTheHeader) {
    TemporaryFolder folder;
    auto state = new_receiver_state(ReceiverSettings{}, {});
    state->journal.folder = folder.path;
    Scan scan;
    scan.text = "ACROSS-MIDNIGHT";
    // A receiver that runs past midnight, and a file it finds already begun.
    record_scan_at(*state, scan, JournalOutcome::received, at(2026, 3, 1, 23), 0);
    record_scan_at(*state, scan, JournalOutcome::received, at(2026, 3, 2, 0), 0);
    record_scan_at(*state, scan, JournalOutcome::received, at(2026, 3, 2, 1), 0);
    for (const char* day : {"2026-03-01", "2026-03-02"}) {
        const std::string name = std::string("scans-") + day + ".csv";
        Result<std::string> text = read_whole_file(folder.path / name);
        ASSERT_TRUE(text.ok()) << name;
        EXPECT_EQ(text.value().rfind(JOURNAL_HEADER, 0), 0u) << name;
        EXPECT_EQ(text.value().find(JOURNAL_HEADER, 1), std::string::npos) << name;
    }
}

TEST(JournalOutcomes, DecidedBeforeTyping) {
    EXPECT_EQ(delivery_outcome(true, true, true), JournalOutcome::paused);
    EXPECT_EQ(delivery_outcome(false, true, true), JournalOutcome::typed);
    EXPECT_EQ(delivery_outcome(false, false, true), JournalOutcome::copied);
    EXPECT_EQ(delivery_outcome(false, false, false), JournalOutcome::received);
    for (auto outcome : {JournalOutcome::typed, JournalOutcome::copied, JournalOutcome::received,
                         JournalOutcome::paused}) {
        EXPECT_TRUE(outcome_delivered(journal_outcome_word(outcome)));
    }
    EXPECT_FALSE(outcome_delivered(journal_outcome_word(JournalOutcome::already_received)));
    EXPECT_FALSE(outcome_delivered(journal_outcome_word(JournalOutcome::refused)));
}

JournalRecord scan_at(const std::string& time, const std::string& text) {
    return {time, "", "127.0.0.1", "EAN-13", text, 99, "typed"};
}

TEST(LiveScanFeed, InitHoldsTodaysLatestNewestFirstThenEachScan) {
    LiveScanFeed feed;
    std::vector<JournalRecord> loaded = {scan_at("2026-02-28T23:00:00.000+00:00", "yesterday")};
    for (int i = 0; i < 105; ++i)
        loaded.push_back(scan_at("2026-03-01T08:00:00.000+00:00", std::to_string(i)));
    feed.load(loaded);
    int wakes = 0;
    auto stream = feed.subscribe([&] { ++wakes; }, "2026-03-01");
    ASSERT_TRUE(stream);
    const std::string init = stream->take(1 << 20);
    EXPECT_TRUE(init.starts_with(
        "event: init\ndata: [{\"id\":\"scan-2026-03-01T08:00:00.000+00:00\",\"text\":\"104\""));
    EXPECT_EQ(init.find("yesterday"), std::string::npos);
    EXPECT_EQ(init.find("\"text\":\"4\""), std::string::npos) << "only the latest 100";
    EXPECT_NE(init.find("\"text\":\"5\""), std::string::npos);
    EXPECT_TRUE(init.ends_with("]\n\n"));

    JournalRecord named = scan_at("2026-03-01T09:00:00.000+00:00", "a\"b");
    named.id = "x-1";
    feed.publish(named);
    feed.publish(scan_at("2026-03-01T09:00:01.000+00:00", "next"));
    EXPECT_EQ(wakes, 1) << "one wake until the stream takes what is waiting";
    EXPECT_EQ(stream->take(1 << 20),
              "event: scan\ndata: {\"id\":\"x-1\",\"text\":\"a\\\"b\",\"format\":\"EAN-13\","
              "\"confidence\":99,\"timestamp\":\"2026-03-01T09:00:00.000+00:00\"}\n\n"
              "event: scan\ndata: {\"id\":\"scan-2026-03-01T09:00:01.000+00:00\",\"text\":\"next\","
              "\"format\":\"EAN-13\",\"confidence\":99,\"timestamp\":\"2026-03-01T09:00:01.000+00:"
              "00\"}\n\n");
}

TEST(LiveScanFeed, AtMostEightStreamsAndASlowOneIsDropped) {
    LiveScanFeed feed;
    std::vector<std::unique_ptr<LiveScanSubscription>> streams;
    for (size_t i = 0; i < MAX_EVENT_STREAMS; ++i) {
        streams.push_back(feed.subscribe([] {}, "2026-03-01"));
        ASSERT_TRUE(streams.back());
    }
    EXPECT_FALSE(feed.subscribe([] {}, "2026-03-01")) << "the ninth";
    streams.pop_back();
    streams.push_back(feed.subscribe([] {}, "2026-03-01"));
    EXPECT_TRUE(streams.back()) << "a closed stream gives its place back";

    // The first stream reads everything at once, the second takes bytes it never sends.
    for (auto& stream : streams) (void)stream->take(1 << 20);
    const std::string text(1000, 'x');
    size_t published = 0;
    while (!streams[1]->dropped() && published < 1000) {
        feed.publish(scan_at("2026-03-01T09:00:00.000+00:00", text));
        ++published;
        (void)streams[0]->take(1 << 20);
        streams[0]->sent();
        (void)streams[1]->take(10000);
    }
    // Taken but never reported sent counts as unsent, as much as what was not taken.
    const size_t event =
        ("event: scan\ndata: " + live_scan_json(scan_at("2026-03-01T09:00:00.000+00:00", text)) +
         "\n\n")
            .size();
    EXPECT_TRUE(streams[1]->dropped());
    EXPECT_GT(published * event, MAX_STREAM_BACKLOG_BYTES) << "dropped only past the limit";
    EXPECT_LE((published - 1) * event, MAX_STREAM_BACKLOG_BYTES) << "dropped once past it";
    EXPECT_FALSE(streams[0]->dropped()) << "a stream that keeps up stays";
    EXPECT_TRUE(streams[1]->take(1 << 20).empty()) << "nothing more for a dropped stream";
}

TEST(EventStreamAccess, TheComputerItselfOrThePairingKey) {
    const std::vector<AdapterEntry> own = {{"Wi-Fi", "192.168.1.20"}, {"Ethernet", "10.0.0.5"}};
    const std::string key = "k3y-0123456789abcdefgh";
    struct Row {
        std::string address, pairing_key, query;
        bool allowed;
    } rows[] = {
        {"127.0.0.1", "", "", true},
        {"127.0.0.2", "", "", true},  // the whole loopback range
        {"192.168.1.20", "", "", true},
        {"10.0.0.5", "", "", true},
        {"192.168.1.21", "", "", false},              // another host on the LAN
        {"192.168.1.21", "", "key=anything", false},  // no key asked, none accepted
        {"192.168.1.21", key, "", false},
        {"192.168.1.21", key, "key=wrong", false},
        {"192.168.1.21", key, "key=" + key, true},
        {"192.168.1.21", key, "a=1&key=" + key, true},
        {"", "", "", false},  // an unknown peer
        {"1127.0.0.1", "", "", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(event_stream_allowed(row.address, own, row.pairing_key, row.query), row.allowed)
            << row.address << " " << row.query;
    }
}

}  // namespace
