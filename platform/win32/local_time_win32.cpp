#include "platform/local_time.h"

LocalTime local_time_of(int64_t seconds_since_epoch) {
    const __time64_t when = seconds_since_epoch;
    std::tm fields{};
    if (_localtime64_s(&fields, &when) != 0) return {};
    // The local fields read as UTC, less the instant itself, is the offset in force.
    std::tm copy = fields;
    return local_time_from(fields, static_cast<int>(_mkgmtime64(&copy) - when));
}
