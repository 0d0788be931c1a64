// The computer's local time: calendar fields and the offset from UTC in force at an instant.
#pragma once

#include <cstdint>
#include <ctime>

struct LocalTime {
    int year = 1970;
    int month = 1;  // 1 to 12
    int day = 1;    // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utc_offset_seconds = 0;  // east of UTC positive
};

// The local time (time zone and daylight saving of this computer) at `seconds_since_epoch`.
LocalTime local_time_of(int64_t seconds_since_epoch);

// The calendar fields of `fields`, as the C library's local time gives them.
inline LocalTime local_time_from(const std::tm& fields, int utc_offset_seconds) {
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,    fields.tm_hour,
            fields.tm_min,         fields.tm_sec,     utc_offset_seconds};
}
