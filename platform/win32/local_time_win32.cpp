#include <ctime>

#include "platform/local_time.h"

LocalTime local_time_of(int64_t seconds_since_epoch) {
    const __time64_t when = seconds_since_epoch;
    std::tm fields{};
    if (_localtime64_s(&fields, &when) != 0) return {};
    // The local fields read as UTC, less the instant itself, is the offset in force.
    std::tm copy = fields;
    const __time64_t as_utc = _mkgmtime64(&copy);
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
            fields.tm_hour,        fields.tm_min,     fields.tm_sec,
            static_cast<int>(as_utc - when)};
}
