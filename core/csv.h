// CSV as spreadsheets read it: RFC 4180 fields and records, with a guard that stops a field
// from being taken for a formula.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The field as written: a text that a spreadsheet would run as a formula (it starts with
// "=", "+", "-", "@", a tab or a carriage return) gets a leading apostrophe, which spreadsheets
// show as nothing. A text that is a run of apostrophes before such a character gets one more,
// so that formula_unguarded() gives every text back exactly. Then quoted when it holds a comma,
// a double quote, CR or LF, with each double quote doubled.
std::string csv_field(std::string_view text);

// The text that csv_field() guarded, from a field already unquoted.
std::string_view formula_unguarded(std::string_view field);

// The records of a CSV text, their fields unquoted (not unguarded). A record ends at CR LF or
// LF outside quotes; a final record without a line end counts; an empty line is skipped.
std::vector<std::vector<std::string>> parse_csv(std::string_view text);
