// The scan journal on disk: every scan that reaches delivery, appended to the CSV file of its
// local day in the user's data folder and handed to the operating system before the scan is
// typed. A journal that cannot be written costs one log line per kind of failure; scans are
// delivered all the same.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "core/log_throttle.h"
#include "core/result.h"
#include "receiver/journal_format.h"

class AppendFile;
struct ReceiverState;
struct Scan;

// The journal's state; guarded by `lock`.
struct ScanJournal {
    enum Failure : unsigned {
        folder_failed = 1,
        clean_failed = 2,
        read_failed = 4,
        open_failed = 8,
        write_failed = 16
    };

    ScanJournal();
    ~ScanJournal();

    std::mutex lock;
    std::filesystem::path folder;  // empty: the journal is off
    std::string file_name;         // of the open file
    std::unique_ptr<AppendFile> file;
    bool header_due = false;  // the open file is new: its first line is the header
    unsigned reported = 0;    // Failure bits already logged
    // A client sending scans with a wrong key cannot fill the disk with refusals.
    LogThrottle refusals{std::chrono::seconds(1)};
};

// At start, before the server: the folder (made when missing), old files removed, today's
// latest scans read back for the receiver page. Returns the line that names the folder
// ("Scan journal: …", or that it is off), for headless output.
std::string start_scan_journal(ReceiverState& state, const JournalOptions& options);

// Records a scan about to be delivered (before it is typed), a repeat or a refusal: its
// journal line, and for a delivered one its event for the receiver page.
void record_scan(ReceiverState& state, const Scan& scan, JournalOutcome outcome);
// The same at a given local time: the day names the file.
void record_scan_at(ReceiverState& state, const Scan& scan, JournalOutcome outcome,
                    const LocalTime& now, int milliseconds);

// Whether a scan refused for a wrong pairing key from `client` goes on record (without its
// text, through record_scan): at most one a second per client, so that such a client cannot
// fill the disk, and asked first, so that the others cost nothing more.
bool refusal_due(ReceiverState& state, const std::string& client);

// Today's local date, "YYYY-MM-DD", as journal times begin.
std::string local_date_today();

// The folder of the journal files: user_data_folder()/scans.
Result<std::filesystem::path> scan_journal_folder();
