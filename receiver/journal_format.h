// The scan journal's bytes: one CSV file per local day, one line per scan, and which files
// are old enough to go. No file access here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/local_time.h"

inline constexpr unsigned DEFAULT_JOURNAL_DAYS = 90;
inline constexpr unsigned MAX_JOURNAL_DAYS = 36500;

struct JournalOptions {
    bool enabled = true;                        // --no-journal: nothing is written or read
    unsigned keep_days = DEFAULT_JOURNAL_DAYS;  // --journal-days; 0 keeps every file
};

// What became of a scan, as the journal's outcome column says it.
enum class JournalOutcome { typed, copied, received, paused, already_received, refused };

std::string_view journal_outcome_word(JournalOutcome outcome);

// The outcome of a scan about to be delivered, decided before it is typed.
JournalOutcome delivery_outcome(bool paused, bool auto_type, bool copy_to_clipboard);

// Typed, copied, received and paused scans reached the PC; repeats and refusals did not.
bool outcome_delivered(std::string_view word);

// The start of every journal file: UTF-8 byte-order mark and header line.
inline constexpr std::string_view JOURNAL_HEADER =
    "\xEF\xBB\xBFtime,id,phone address,format,text,confidence,outcome\r\n";

struct JournalRecord {
    std::string time;  // ISO 8601 local time with its offset
    std::string id;    // as the phone sent it; empty when none
    std::string address;
    std::string format;
    std::string text;  // empty for a refused scan
    uint32_t confidence = 100;
    std::string outcome;  // journal_outcome_word()
};

// "2026-03-29T14:03:27.042+02:00"
std::string journal_time_text(const LocalTime& time, int milliseconds);

// "scans-2026-03-29.csv"
std::string journal_file_name(const LocalTime& day);

// The record's CSV line, CR LF included.
std::string journal_line(const JournalRecord& record);

// The records of a journal file's text, oldest first; the header and malformed lines are
// skipped.
std::vector<JournalRecord> parse_journal(std::string_view text);

// Whether `file_name` is a journal file ("scans-YYYY-MM-DD.csv") of a day more than
// `keep_days` days before `today`. 0 keeps every file.
bool journal_file_expired(std::string_view file_name, const LocalTime& today, unsigned keep_days);
