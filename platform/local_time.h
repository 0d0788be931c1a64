// The computer's local time: calendar fields and the offset from UTC in force at an instant.
#pragma once

#include <cstdint>

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
