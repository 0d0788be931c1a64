#include "receiver/journal_format.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "core/csv.h"
#include "core/text_codes.h"

namespace {

constexpr size_t JOURNAL_COLUMNS = 7;

std::chrono::sys_days day_of(int year, int month, int day) {
    return std::chrono::year_month_day{std::chrono::year(year),
                                       std::chrono::month(static_cast<unsigned>(month)),
                                       std::chrono::day(static_cast<unsigned>(day))};
}

}  // namespace

std::string_view journal_outcome_word(JournalOutcome outcome) {
    switch (outcome) {
        case JournalOutcome::typed:
            return "typed";
        case JournalOutcome::copied:
            return "copied";
        case JournalOutcome::received:
            return "received";
        case JournalOutcome::paused:
            return "paused";
        case JournalOutcome::already_received:
            return "already received";
        case JournalOutcome::refused:
            return "refused";
    }
    return "received";
}

JournalOutcome delivery_outcome(bool paused, bool auto_type, bool copy_to_clipboard) {
    if (paused) return JournalOutcome::paused;
    if (auto_type) return JournalOutcome::typed;
    if (copy_to_clipboard) return JournalOutcome::copied;
    return JournalOutcome::received;
}

bool outcome_delivered(std::string_view word) {
    return word == "typed" || word == "copied" || word == "received" || word == "paused";
}

std::string journal_time_text(const LocalTime& time, int milliseconds) {
    const int offset_minutes = time.utc_offset_seconds / 60;
    const int offset = offset_minutes < 0 ? -offset_minutes : offset_minutes;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", time.year,
                  time.month, time.day, time.hour, time.minute, time.second, milliseconds,
                  offset_minutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string journal_file_name(const LocalTime& day) {
    char text[32];
    std::snprintf(text, sizeof text, "scans-%04d-%02d-%02d.csv", day.year, day.month, day.day);
    return text;
}

std::string journal_line(const JournalRecord& record) {
    // Only what the phone sent can start with a formula; the rest is the receiver's own.
    return record.time + "," + csv_field(record.id) + "," + record.address + "," +
           csv_field(record.format) + "," + csv_field(record.text) + "," +
           std::to_string(record.confidence) + "," + record.outcome + "\r\n";
}

std::vector<JournalRecord> parse_journal(std::string_view text) {
    if (text.starts_with(JOURNAL_HEADER.substr(0, 3))) text.remove_prefix(3);
    std::vector<JournalRecord> records;
    for (std::vector<std::string>& fields : parse_csv(text)) {
        const std::optional<uint32_t> confidence =
            whole_number<uint32_t>(fields.size() == JOURNAL_COLUMNS ? fields[5] : "");
        if (!confidence) continue;
        records.push_back({std::move(fields[0]), std::string(formula_unguarded(fields[1])),
                           std::move(fields[2]), std::string(formula_unguarded(fields[3])),
                           std::string(formula_unguarded(fields[4])), *confidence,
                           std::move(fields[6])});
    }
    return records;
}

bool journal_file_expired(std::string_view file_name, const LocalTime& today, unsigned keep_days) {
    // "scans-" YYYY "-" MM "-" DD ".csv"
    if (keep_days == 0 || file_name.size() != 20 || !file_name.starts_with("scans-") ||
        !file_name.ends_with(".csv") || file_name[10] != '-' || file_name[13] != '-') {
        return false;
    }
    const std::optional<int> year = whole_number<int>(file_name.substr(6, 4));
    const std::optional<int> month = whole_number<int>(file_name.substr(11, 2));
    const std::optional<int> day = whole_number<int>(file_name.substr(14, 2));
    if (!year || !month || !day) return false;
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok()) return false;
    return std::chrono::sys_days(date) + std::chrono::days(keep_days) <
           day_of(today.year, today.month, today.day);
}
