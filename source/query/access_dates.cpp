// The date functions on OLE dates, as VBA computes them: calendar arithmetic that clamps to
// the month's last day, intervals named by VBA's codes, weeks that start on firstdayofweek.
#include "source/query/access_dates.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <string>

#include "source/query/access_bodies.h"
#include "source/query/access_values.h"

namespace access_sql {

namespace {

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

Interval intervalOf(const Call& call, int i) {
  if (isNull(call[i])) failInvalidUseOfNull(call.name);
  std::string code = toText(call.name, call[i]);
  for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (code == "yyyy") return Interval::Year;
  if (code == "q") return Interval::Quarter;
  if (code == "m") return Interval::Month;
  if (code == "y") return Interval::DayOfYear;
  if (code == "d") return Interval::Day;
  if (code == "w") return Interval::Weekday;
  if (code == "ww") return Interval::Week;
  if (code == "h") return Interval::Hour;
  if (code == "n") return Interval::Minute;
  if (code == "s") return Interval::Second;
  failInvalidArgument(call.name, call[i]);
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

double resultDate(const Call& call, double date, sqlite3_value* culprit) {
  if (!inDateRange(date)) failInvalidArgument(call.name, culprit);
  return date;
}

void localNow(int64_t& days, int64_t& seconds) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  days = dayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

int64_t totalSeconds(double date) {
  int64_t days = 0, seconds = 0;
  splitDate(date, days, seconds);
  return days * 86400 + seconds;
}

}  // namespace

int firstDayArgument(const Call& call, int i) {
  if (!call.has(i)) return 1;
  if (isNull(call[i])) failInvalidUseOfNull(call.name);
  int64_t first = toWhole(call.name, call[i]);
  if (first < 0 || first > 7) failInvalidArgument(call.name, call[i]);
  return first == 0 ? 1 : static_cast<int>(first);  // 0: the system's, Sunday in English (US)
}

int firstWeekArgument(const Call& call, int i) {
  if (!call.has(i)) return 1;
  if (isNull(call[i])) failInvalidUseOfNull(call.name);
  int64_t first = toWhole(call.name, call[i]);
  if (first < 0 || first > 3) failInvalidArgument(call.name, call[i]);
  return first == 0 ? 1 : static_cast<int>(first);
}

int64_t weekStart(int64_t days, int firstDayOfWeek) {
  return days - (weekdayOf(days, firstDayOfWeek) - 1);
}

int weekOfYear(int64_t days, int firstDayOfWeek, int firstWeekOfYear) {
  int year = 0, month = 0, day = 0;
  civilDate(days, year, month, day);
  auto firstWeekStart = [&](int y) {
    int64_t jan1 = dayNumber(y, 1, 1);
    if (firstWeekOfYear == 2) return weekStart(jan1 + 3, firstDayOfWeek);  // holds January 4
    if (firstWeekOfYear == 3) {
      int64_t start = weekStart(jan1, firstDayOfWeek);
      return start == jan1 ? start : start + 7;
    }
    return weekStart(jan1, firstDayOfWeek);
  };
  int64_t start = firstWeekStart(year);
  if (days < start) start = firstWeekStart(year - 1);
  return static_cast<int>((weekStart(days, firstDayOfWeek) - start) / 7 + 1);
}

int dayOfYear(int64_t days) {
  int year = 0, month = 0, day = 0;
  civilDate(days, year, month, day);
  return static_cast<int>(days - dayNumber(year, 1, 1) + 1);
}

void fnYear(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_int(call.context, dateTimeOf(toDate(call.name, call[0])).year);
}

void fnMonth(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_int(call.context, dateTimeOf(toDate(call.name, call[0])).month);
}

void fnDay(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_int(call.context, dateTimeOf(toDate(call.name, call[0])).day);
}

void fnHour(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_int(call.context, dateTimeOf(toDate(call.name, call[0])).hour);
}

void fnMinute(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_int(call.context, dateTimeOf(toDate(call.name, call[0])).minute);
}

void fnSecond(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_int(call.context, dateTimeOf(toDate(call.name, call[0])).second);
}

void fnWeekday(const Call& call) {
  int first = firstDayArgument(call, 1);
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  int64_t days = 0, seconds = 0;
  splitDate(toDate(call.name, call[0]), days, seconds);
  sqlite3_result_int(call.context, weekdayOf(days, first));
}

void fnWeekdayName(const Call& call) {
  if (isNull(call[0])) failInvalidUseOfNull(call.name);
  int64_t weekday = toWhole(call.name, call[0]);
  if (weekday < 1 || weekday > 7) failInvalidArgument(call.name, call[0]);
  bool abbreviate = call.has(1) && !isNull(call[1]) && toNumber(call.name, call[1]) != 0;
  int first = firstDayArgument(call, 2);
  resultText(call.context,
             weekdayName((static_cast<int>(weekday) - 1 + first - 1) % 7 + 1, abbreviate));
}

void fnMonthName(const Call& call) {
  if (isNull(call[0])) failInvalidUseOfNull(call.name);
  int64_t month = toWhole(call.name, call[0]);
  if (month < 1 || month > 12) failInvalidArgument(call.name, call[0]);
  bool abbreviate = call.has(1) && !isNull(call[1]) && toNumber(call.name, call[1]) != 0;
  resultText(call.context, monthName(static_cast<int>(month), abbreviate));
}

void fnDatePart(const Call& call) {
  Interval interval = intervalOf(call, 0);
  int firstDay = firstDayArgument(call, 2), firstWeek = firstWeekArgument(call, 3);
  if (isNull(call[1])) return sqlite3_result_null(call.context);
  double date = toDate(call.name, call[1]);
  DateTime t = dateTimeOf(date);
  int64_t days = 0, seconds = 0;
  splitDate(date, days, seconds);
  int part = 0;
  switch (interval) {
    case Interval::Year:
      part = t.year;
      break;
    case Interval::Quarter:
      part = (t.month - 1) / 3 + 1;
      break;
    case Interval::Month:
      part = t.month;
      break;
    case Interval::DayOfYear:
      part = dayOfYear(days);
      break;
    case Interval::Day:
      part = t.day;
      break;
    case Interval::Weekday:
      part = weekdayOf(days, firstDay);
      break;
    case Interval::Week:
      part = weekOfYear(days, firstDay, firstWeek);
      break;
    case Interval::Hour:
      part = t.hour;
      break;
    case Interval::Minute:
      part = t.minute;
      break;
    case Interval::Second:
      part = t.second;
      break;
  }
  sqlite3_result_int(call.context, part);
}

void fnDateAdd(const Call& call) {
  Interval interval = intervalOf(call, 0);
  if (isNull(call[1])) failInvalidUseOfNull(call.name);
  if (isNull(call[2])) return sqlite3_result_null(call.context);
  double number = roundToEven(toNumber(call.name, call[1]));
  double date = toDate(call.name, call[2]);
  if (std::fabs(number) > 4e6 * 86400) failInvalidArgument(call.name, call[1]);
  double linear = linearDays(date);
  int months = 0;
  switch (interval) {
    case Interval::Year:
      months = 12;
      break;
    case Interval::Quarter:
      months = 3;
      break;
    case Interval::Month:
      months = 1;
      break;
    case Interval::DayOfYear:
    case Interval::Day:
    case Interval::Weekday:
      linear += number;
      break;
    case Interval::Week:
      linear += number * 7;
      break;
    case Interval::Hour:
      linear += number / 24;
      break;
    case Interval::Minute:
      linear += number / 1440;
      break;
    case Interval::Second:
      linear += number / kSecondsPerDay;
      break;
  }
  if (months != 0) {
    if (std::fabs(number) > 200000) failInvalidArgument(call.name, call[1]);
    int64_t days = 0, seconds = 0;
    splitDate(date, days, seconds);
    DateTime t = dateTimeOf(date);
    int64_t total =
        static_cast<int64_t>(t.year) * 12 + (t.month - 1) + static_cast<int64_t>(number) * months;
    int year = static_cast<int>(floorDiv(total, 12)),
        month = static_cast<int>(total - floorDiv(total, 12) * 12) + 1;
    if (year < 100 || year > 9999) failInvalidArgument(call.name, call[1]);
    int day = std::min(t.day, daysInMonth(year, month));
    double fraction = std::fabs(date - std::trunc(date));
    sqlite3_result_double(call.context,
                          oleDate(dayNumber(year, month, day), fraction * kSecondsPerDay));
    return;
  }
  sqlite3_result_double(call.context, resultDate(call, fromLinearDays(linear), call[1]));
}

void fnDateDiff(const Call& call) {
  Interval interval = intervalOf(call, 0);
  int firstDay = firstDayArgument(call, 3), firstWeek = firstWeekArgument(call, 4);
  (void)firstWeek;  // the count of weeks between two dates does not depend on week 1
  if (isNull(call[1]) || isNull(call[2])) return sqlite3_result_null(call.context);
  double a = toDate(call.name, call[1]), b = toDate(call.name, call[2]);
  DateTime ta = dateTimeOf(a), tb = dateTimeOf(b);
  int64_t secondsA = totalSeconds(a), secondsB = totalSeconds(b);
  int64_t daysA = floorDiv(secondsA, 86400), daysB = floorDiv(secondsB, 86400);
  int64_t diff = 0;
  switch (interval) {
    case Interval::Year:
      diff = tb.year - ta.year;
      break;
    case Interval::Quarter:
      diff = (tb.year * 4 + (tb.month - 1) / 3) - (ta.year * 4 + (ta.month - 1) / 3);
      break;
    case Interval::Month:
      diff = (tb.year * 12 + tb.month) - (ta.year * 12 + ta.month);
      break;
    case Interval::DayOfYear:
    case Interval::Day:
      diff = daysB - daysA;
      break;
    case Interval::Weekday:
      diff = (daysB - daysA) / 7;
      break;
    case Interval::Week:
      diff = (weekStart(daysB, firstDay) - weekStart(daysA, firstDay)) / 7;
      break;
    case Interval::Hour:
      diff = floorDiv(secondsB, 3600) - floorDiv(secondsA, 3600);
      break;
    case Interval::Minute:
      diff = floorDiv(secondsB, 60) - floorDiv(secondsA, 60);
      break;
    case Interval::Second:
      diff = secondsB - secondsA;
      break;
  }
  sqlite3_result_int64(call.context, diff);
}

void fnDateSerial(const Call& call) {
  for (int i = 0; i < 3; ++i) {
    if (isNull(call[i])) failInvalidUseOfNull(call.name);
  }
  int64_t year = toWhole(call.name, call[0], INT16_MIN, INT16_MAX);
  int64_t month = toWhole(call.name, call[1], INT16_MIN, INT16_MAX);
  int64_t day = toWhole(call.name, call[2], INT16_MIN, INT16_MAX);
  int64_t days =
      dayNumber(windowYear(static_cast<int>(year)), static_cast<int>(month), static_cast<int>(day));
  sqlite3_result_double(call.context, resultDate(call, static_cast<double>(days), call[0]));
}

void fnDateValue(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  int64_t days = 0, seconds = 0;
  splitDate(toDate(call.name, call[0]), days, seconds);
  sqlite3_result_double(call.context, static_cast<double>(days));
}

void fnTimeValue(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  int64_t days = 0, seconds = 0;
  splitDate(toDate(call.name, call[0]), days, seconds);
  sqlite3_result_double(call.context, static_cast<double>(seconds) / kSecondsPerDay);
}

void fnTimeSerial(const Call& call) {
  for (int i = 0; i < 3; ++i) {
    if (isNull(call[i])) failInvalidUseOfNull(call.name);
  }
  int64_t total = toWhole(call.name, call[0], INT16_MIN, INT16_MAX) * 3600 +
                  toWhole(call.name, call[1], INT16_MIN, INT16_MAX) * 60 +
                  toWhole(call.name, call[2], INT16_MIN, INT16_MAX);
  int64_t days = floorDiv(total, 86400);
  sqlite3_result_double(call.context, oleDate(days, static_cast<double>(total - days * 86400)));
}

void fnNow(const Call& call) {
  int64_t days = 0, seconds = 0;
  localNow(days, seconds);
  sqlite3_result_double(call.context, oleDate(days, static_cast<double>(seconds)));
}

void fnDate(const Call& call) {
  int64_t days = 0, seconds = 0;
  localNow(days, seconds);
  sqlite3_result_double(call.context, static_cast<double>(days));
}

void fnTime(const Call& call) {
  int64_t days = 0, seconds = 0;
  localNow(days, seconds);
  sqlite3_result_double(call.context, static_cast<double>(seconds) / kSecondsPerDay);
}

}  // namespace access_sql
