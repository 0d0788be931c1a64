#include "platform/local_time.h"

LocalTime local_time_of(int64_t seconds_since_epoch) {
    const time_t when = static_cast<time_t>(seconds_since_epoch);
    std::tm fields{};
    if (!localtime_r(&when, &fields)) return {};
    return local_time_from(fields, static_cast<int>(fields.tm_gmtoff));
}
