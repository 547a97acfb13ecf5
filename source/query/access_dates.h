// The week arithmetic that DatePart, DateDiff and Format share.
#pragma once

#include <cstdint>

#include "source/query/access_bodies.h"

namespace access_sql {

// firstdayofweek (1 = Sunday .. 7; 0 the system's, Sunday) and firstweekofyear (1 the week of
// January 1, 2 the first with four days, 3 the first full week; 0 the system's, 1) arguments.
int firstDayArgument(const Call& call, int i);
int firstWeekArgument(const Call& call, int i);
int64_t weekStart(int64_t days, int firstDayOfWeek);
int weekOfYear(int64_t days, int firstDayOfWeek, int firstWeekOfYear);
int dayOfYear(int64_t days);

}  // namespace access_sql
