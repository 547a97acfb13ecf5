// What the Access functions share: reading SQLite values as VBA coerces them, VBA's texts of
// numbers and dates, the calendar of OLE dates, and the error a function fails its statement with.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace access_sql {

// Thrown by a function's body; the statement fails with `message`, as Access fails the query.
struct FunctionError {
  std::string message;
};

// The value as a message shows it: "abc" quoted, numbers as VBA prints them, Null.
std::string describe(sqlite3_value* value);
[[noreturn]] void failInvalidUseOfNull(std::string_view function);
[[noreturn]] void failTypeMismatch(std::string_view function, sqlite3_value* value);
[[noreturn]] void failInvalidArgument(std::string_view function, sqlite3_value* value);
[[noreturn]] void failOverflow(std::string_view function, sqlite3_value* value);

inline bool isNull(sqlite3_value* value) { return sqlite3_value_type(value) == SQLITE_NULL; }
inline bool isText(sqlite3_value* value) { return sqlite3_value_type(value) == SQLITE_TEXT; }
std::string_view textOf(sqlite3_value* value);

// Numbers. A text converts as VBA converts it in the English (US) conventions: blanks around,
// a sign, "$", thousands commas, a decimal point, an exponent, "(1)" as -1, &H and &O prefixes.
std::optional<double> parseNumber(std::string_view text);
// The number a value stands for; Null and texts that are no number fail naming `function`.
double toNumber(std::string_view function, sqlite3_value* value);
// The same, rounded to even and kept within a Long (fails with Overflow past it).
int64_t toWhole(std::string_view function, sqlite3_value* value, int64_t low = INT32_MIN,
                int64_t high = INT32_MAX);
double roundToEven(double x);
// x * scale rounded to even, deciding a tie by the exact product: 3.94875 (a double a little
// below it) times 10000 reads as the tie 39487.5, which the true product is not.
double roundScaledToEven(double x, double scale);
bool isWhole(double x);

// Texts. CStr's text of a number: up to 15 significant digits, E notation past them.
std::string numberText(double x);
// The text a value stands for in text context (& and the text functions); Null fails.
std::string toText(std::string_view function, sqlite3_value* value);

// A UTF-8 text as code points and back; the text functions count characters, not bytes.
std::u32string decode(std::string_view text);
std::string encode(std::u32string_view text);
char32_t foldCase(char32_t c);  // the lower case of a letter, for comparisons that ignore case
char32_t upperCase(char32_t c);

// Dates. The calendar day as a count from 1899-12-30 and the seconds since its midnight.
struct DateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};
inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr double kFirstDate = -657434.0;        // 100-01-01, the earliest Access date
inline constexpr double kLastDate = 2958465.99998843;  // 9999-12-31 23:59:59
int64_t dayNumber(int year, int month, int day);       // days from 1899-12-30 (may overflow dates)
void civilDate(int64_t days, int& year, int& month, int& day);
int daysInMonth(int year, int month);
// The OLE date of a calendar day and a time of day (the fraction counts forward from midnight
// even before 1899-12-30, where the whole part is negative).
double oleDate(int64_t days, double seconds);
// The calendar day and the seconds since its midnight, to the nearest second as VBA rounds them.
void splitDate(double date, int64_t& days, int64_t& seconds);
DateTime dateTimeOf(double date);
// The position on a straight time line in days, where a negative date's fraction counts
// forward: date arithmetic (DateAdd of hours) works on it.
double linearDays(double date);
double fromLinearDays(double linear);
bool inDateRange(double date);
// A two-digit year as Access reads it: 30-99 are 19xx, 00-29 20xx.
int windowYear(int year);
// A text that names a date and/or a time (m/d/y order, month names, 12- or 24-hour times).
std::optional<double> parseDate(std::string_view text);
// The date a value stands for: numbers as OLE dates, texts parsed; Null and others fail.
double toDate(std::string_view function, sqlite3_value* value);
// "General Date": m/d/yyyy, h:nn:ss AM/PM, or both.
std::string generalDateText(double date);
int weekdayOf(int64_t days, int firstDayOfWeek);  // 1..7 counted from firstDayOfWeek (1 = Sunday)
std::string_view monthName(int month, bool abbreviate);
std::string_view weekdayName(int weekday, bool abbreviate);  // 1 = Sunday

// Results.
inline void resultBool(sqlite3_context* context, bool value) {
  sqlite3_result_int(context, value ? -1 : 0);
}
void resultText(sqlite3_context* context, std::string_view text);
// A number as an integer when it is whole and fits, else a real.
void resultNumber(sqlite3_context* context, double x);

}  // namespace access_sql
