#include "receiver/scan_journal.h"

#include <chrono>
#include <system_error>

#include "platform/append_file.h"
#include "platform/user_files.h"
#include "receiver/receiver_state.h"
#include "receiver/scan_delivery.h"

namespace {

struct Now {
    LocalTime local;
    int milliseconds = 0;
};

Now local_now() {
    const auto since_epoch = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const int64_t ms = since_epoch.count() < 0 ? 0 : since_epoch.count();
    return {local_time_of(ms / 1000), static_cast<int>(ms % 1000)};
}

// Under the journal's lock: the first failure of each kind is logged, later ones are not.
void report_failure(ReceiverState& state, ScanJournal::Failure kind, const std::string& error) {
    if (state.journal.reported & kind) return;
    state.journal.reported |= kind;
    push_log_line(state, "Scan journal: " + error + "; scans are still delivered");
}

void remove_old_files(ReceiverState& state, const std::filesystem::path& folder,
                      const LocalTime& today, unsigned keep_days) {
    if (keep_days == 0) return;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = path_text(entry->path().filename());
        if (!journal_file_expired(name, today, keep_days)) continue;
        std::error_code removed;
        if (!std::filesystem::remove(entry->path(), removed) && removed) {
            report_failure(state, ScanJournal::clean_failed,
                           "cannot remove " + path_text(entry->path()) + ": " + removed.message());
        }
    }
    if (error) {
        report_failure(state, ScanJournal::clean_failed,
                       "cannot list " + path_text(folder) + ": " + error.message());
    }
}

void load_today(ReceiverState& state, const std::filesystem::path& file) {
    // Only a file: a device or pipe in its place could be read without end.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return;
    Result<std::string> text = read_whole_file(file);
    if (!text.ok()) return report_failure(state, ScanJournal::read_failed, text.error());
    std::vector<JournalRecord> delivered;
    for (JournalRecord& record : parse_journal(text.value())) {
        if (outcome_delivered(record.outcome)) delivered.push_back(std::move(record));
    }
    if (delivered.size() > RECENT_SCANS_SHOWN) {
        delivered.erase(delivered.begin(), delivered.end() - RECENT_SCANS_SHOWN);
    }
    state.live_scans.load(delivered);
}

// Under the journal's lock.
void append_line(ReceiverState& state, const LocalTime& day, const std::string& line) {
    ScanJournal& journal = state.journal;
    const std::string name = journal_file_name(day);
    if (!journal.file || journal.file_name != name) {
        journal.file.reset();
        auto opened = AppendFile::open(journal.folder / name);
        if (!opened.ok()) return report_failure(state, ScanJournal::open_failed, opened.error());
        journal.file = std::move(opened.value());
        journal.file_name = name;
        journal.header_due = journal.file->size_at_open() == 0;
    }
    Status written =
        journal.file->append(journal.header_due ? std::string(JOURNAL_HEADER) + line : line);
    if (!written.ok()) {
        journal.file.reset();  // opened afresh next time, when the disk may have room again
        return report_failure(state, ScanJournal::write_failed, written.error());
    }
    journal.header_due = false;
}

}  // namespace

ScanJournal::ScanJournal() = default;
ScanJournal::~ScanJournal() = default;

std::string local_date_today() {
    return journal_time_text(local_now().local, 0).substr(0, 10);
}

Result<std::filesystem::path> scan_journal_folder() {
    Result<std::filesystem::path> data = user_data_folder();
    if (!data.ok()) return data;
    return data.value() / "scans";
}

std::string start_scan_journal(ReceiverState& state, const JournalOptions& options) {
    if (!options.enabled) return "Scan journal: off (--no-journal)";
    std::lock_guard guard(state.journal.lock);
    Result<std::filesystem::path> folder = scan_journal_folder();
    if (!folder.ok()) {
        report_failure(state, ScanJournal::folder_failed, "no folder for it: " + folder.error());
        return "Scan journal: off (no folder for it)";
    }
    state.journal.folder = folder.value();
    const std::string announcement = "Scan journal: " + path_text(folder.value());
    if (Status made = make_private_folder(folder.value()); !made.ok()) {
        report_failure(state, ScanJournal::folder_failed, made.error());
        return announcement;
    }
    const LocalTime today = local_now().local;
    remove_old_files(state, folder.value(), today, options.keep_days);
    load_today(state, folder.value() / journal_file_name(today));
    return announcement;
}

void record_scan(ReceiverState& state, const Scan& scan, JournalOutcome outcome) {
    const Now now = local_now();
    record_scan_at(state, scan, outcome, now.local, now.milliseconds);
}

void record_scan_at(ReceiverState& state, const Scan& scan, JournalOutcome outcome,
                    const LocalTime& now, int milliseconds) {
    const JournalRecord record{journal_time_text(now, milliseconds),
                               scan.id,
                               scan.client_address,
                               scan.format,
                               scan.text,
                               scan.confidence,
                               std::string(journal_outcome_word(outcome))};
    {
        std::lock_guard guard(state.journal.lock);
        if (!state.journal.folder.empty()) append_line(state, now, journal_line(record));
    }
    if (outcome_delivered(record.outcome)) state.live_scans.publish(record);
}

bool refusal_due(ReceiverState& state, const std::string& client) {
    return state.journal.refusals.allow(client, LogThrottle::Clock::now());
}
