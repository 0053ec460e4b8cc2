// The run log's time stamps: ISO 8601 UTC at the edges of days, months, leap years and eras.
#include "sfx/core/run_log.h"

#include <gtest/gtest.h>

namespace {

TEST(RunLog, TimeStampsAreIso8601Utc) {
    const struct {
        int64_t seconds;
        const char* stamp;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {951782399, "2000-02-28T23:59:59Z"},
        {951782400, "2000-02-29T00:00:00Z"},   // a leap day of a century divisible by 400
        {4107542400, "2100-03-01T00:00:00Z"},  // 2100 has no 29 February
        {1796256000 + 3723, "2026-12-03T01:02:03Z"},
        {-1, "1969-12-31T23:59:59Z"},
    };
    for (const auto& c : cases) {
        char stamp[sfx::kTimeStampBytes];
        sfx::FormatTimeStamp(c.seconds, stamp);
        EXPECT_STREQ(stamp, c.stamp) << c.seconds;
    }
}

}  // namespace
