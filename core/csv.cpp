#include "core/csv.h"

namespace {

bool starts_formula(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == '\'') ++i;
    if (i == text.size()) return false;
    const char c = text[i];
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

}  // namespace

std::string csv_field(std::string_view text) {
    std::string guarded;
    if (starts_formula(text)) guarded += '\'';
    guarded += text;
    if (guarded.find_first_of(",\"\r\n") == std::string::npos) return guarded;
    std::string quoted = "\"";
    for (char c : guarded) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string_view formula_unguarded(std::string_view field) {
    if (field.starts_with('\'') && starts_formula(field.substr(1))) field.remove_prefix(1);
    return field;
}

std::vector<std::vector<std::string>> parse_csv(std::string_view text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    bool field_started = false;  // the record has a field or a separator so far
    const auto end_record = [&] {
        if (field_started || !field.empty()) {
            record.push_back(std::move(field));
            records.push_back(std::move(record));
        }
        record.clear();
        field.clear();
        field_started = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
            field_started = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
            field_started = true;
        } else if (c == '\n') {
            end_record();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // the LF ends the record
        } else {
            field += c;
        }
    }
    end_record();
    return records;
}
