#include <ctime>

#include "platform/local_time.h"

LocalTime local_time_of(int64_t seconds_since_epoch) {
    const time_t when = static_cast<time_t>(seconds_since_epoch);
    std::tm fields{};
    if (!localtime_r(&when, &fields)) return {};
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,  fields.tm_hour,
            fields.tm_min,         fields.tm_sec,     static_cast<int>(fields.tm_gmtoff)};
}
