#include "source/query/access_values.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/civil_date.h"

namespace access_sql {

namespace {

constexpr std::string_view kMonthNames[] = {"January",   "February", "March",    "April",
                                            "May",       "June",     "July",     "August",
                                            "September", "October",  "November", "December"};
constexpr std::string_view kMonthAbbreviations[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::string_view kWeekdayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};
constexpr std::string_view kWeekdayAbbreviations[] = {"Sun", "Mon", "Tue", "Wed",
                                                      "Thu", "Fri", "Sat"};

constexpr int64_t kOleEpochFromUnix = -25569;  // 1899-12-30 in days from 1970-01-01

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::optional<double> parsePrefixedWhole(std::string_view digits, int base) {
  if (digits.empty() || digits.size() > (base == 16 ? 16u : 22u)) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                : (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
                    ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                    : 99;
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
  }
  // VBA reads up to 16 bits as an Integer and up to 32 as a Long, so &HFFFF is -1.
  if (value <= 0xFFFF) return static_cast<double>(static_cast<int16_t>(value));
  if (value <= 0xFFFFFFFF) return static_cast<double>(static_cast<int32_t>(value));
  return static_cast<double>(static_cast<int64_t>(value));
}

}  // namespace

std::string_view textOf(sqlite3_value* value) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  return text ? std::string_view(text, sqlite3_value_bytes(value)) : std::string_view();
}

std::string describe(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return "Null";
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return numberText(sqlite3_value_double(value));
    case SQLITE_BLOB:
      return "a binary value";
    default: {
      std::string_view text = textOf(value);
      if (text.size() > 60) return "\"" + std::string(text.substr(0, 60)) + "...\"";
      return "\"" + std::string(text) + "\"";
    }
  }
}

void failInvalidUseOfNull(std::string_view function) {
  throw FunctionError{std::string(function) + ": invalid use of Null"};
}
void failTypeMismatch(std::string_view function, sqlite3_value* value) {
  if (isNull(value)) failInvalidUseOfNull(function);
  throw FunctionError{std::string(function) + ": type mismatch: " + describe(value)};
}
void failInvalidArgument(std::string_view function, sqlite3_value* value) {
  throw FunctionError{std::string(function) + ": invalid argument: " + describe(value)};
}
void failOverflow(std::string_view function, sqlite3_value* value) {
  throw FunctionError{std::string(function) + ": overflow: " + describe(value)};
}

std::optional<double> parseNumber(std::string_view text) {
  std::string_view s = trim(text);
  if (s.size() > 2 && s[0] == '&') {
    char prefix = static_cast<char>(std::tolower(static_cast<unsigned char>(s[1])));
    if (prefix == 'h') return parsePrefixedWhole(s.substr(2), 16);
    if (prefix == 'o') return parsePrefixedWhole(s.substr(2), 8);
    return std::nullopt;
  }
  bool negative = false;
  if (s.size() > 2 && s.front() == '(' && s.back() == ')') {
    negative = true;
    s = trim(s.substr(1, s.size() - 2));
  }
  bool signSeen = false, currencySeen = false;
  while (!s.empty()) {
    if (!signSeen && (s[0] == '-' || s[0] == '+')) {
      signSeen = true;
      if (s[0] == '-') negative = !negative;
    } else if (!currencySeen && s[0] == '$') {
      currencySeen = true;
    } else {
      break;
    }
    s = trim(s.substr(1));
  }
  std::string plain;
  size_t i = 0;
  bool digits = false;
  for (; i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == ','); ++i) {
    if (s[i] != ',') {
      plain += s[i];
      digits = true;
    } else if (!digits) {
      return std::nullopt;
    }
  }
  if (i < s.size() && s[i] == '.') {
    plain += '.';
    for (++i; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
      plain += s[i];
      digits = true;
    }
  }
  if (!digits) return std::nullopt;
  if (i < s.size() && std::strchr("eEdD", s[i])) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
    size_t start = j;
    for (; j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])); ++j) exponent += s[j];
    if (j == start) return std::nullopt;
    plain += exponent;
    i = j;
  }
  if (trim(s.substr(i)) != "" && trim(s.substr(i)) != "$") return std::nullopt;
  double value = std::strtod(plain.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

double toNumber(std::string_view function, sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return static_cast<double>(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return sqlite3_value_double(value);
    case SQLITE_TEXT:
      if (auto number = parseNumber(textOf(value))) return *number;
      break;
    default:
      break;
  }
  failTypeMismatch(function, value);
}

double roundToEven(double x) { return std::nearbyint(x); }  // the default rounding mode is to even

double roundScaledToEven(double x, double scale) {
  double product = x * scale;
  double below = std::floor(product);
  if (product - below != 0.5) return std::nearbyint(product);
  double residual = std::fma(x, scale, -product);  // what the product's rounding lost
  if (residual > 0) return below + 1;
  if (residual < 0) return below;
  return std::nearbyint(product);
}

bool isWhole(double x) { return std::isfinite(x) && x == std::trunc(x); }

int64_t toWhole(std::string_view function, sqlite3_value* value, int64_t low, int64_t high) {
  if (sqlite3_value_type(value) == SQLITE_INTEGER) {
    int64_t whole = sqlite3_value_int64(value);
    if (whole < low || whole > high) failOverflow(function, value);
    return whole;
  }
  double rounded = roundToEven(toNumber(function, value));
  // high + 1 as a double is exact for the limits used, and keeps 2^63 itself out.
  if (!(rounded >= static_cast<double>(low) && rounded < static_cast<double>(high) + 1.0))
    failOverflow(function, value);
  return static_cast<int64_t>(rounded);
}

std::string numberText(double x) {
  if (x == 0) return "0";
  char buffer[64];
  if (isWhole(x) && std::fabs(x) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", x);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.15G", x);
  }
  return buffer;
}

std::string toText(std::string_view function, sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      failInvalidUseOfNull(function);
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return numberText(sqlite3_value_double(value));
    default:
      return std::string(textOf(value));
  }
}

std::u32string decode(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    int length = byte < 0x80         ? 1
                 : (byte >> 5) == 6  ? 2
                 : (byte >> 4) == 14 ? 3
                 : (byte >> 3) == 30 ? 4
                                     : 0;
    if (length == 0 || i + length > text.size()) {  // not UTF-8: the byte stands for itself
      out += static_cast<char32_t>(byte);
      ++i;
      continue;
    }
    char32_t c = length == 1 ? byte : byte & (0x7F >> length);
    for (int k = 1; k < length; ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out += c;
    i += length;
  }
  return out;
}

std::string encode(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

char32_t foldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0xC0) return c;
  if (c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x137 && c != 0x130) return c | 1;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return c | 1;
  if (c == 0x178) return 0xFF;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

char32_t upperCase(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c < 0xDF) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137 && c != 0x131) return c & ~char32_t{1};
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
  if (c >= 0x14A && c <= 0x177) return c & ~char32_t{1};
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

int64_t dayNumber(int year, int month, int day) {
  int64_t y = year + static_cast<int64_t>(std::floor((month - 1) / 12.0));
  int m = (month - 1) % 12;
  if (m < 0) m += 12;
  return daysFromCivil(y, static_cast<unsigned>(m + 1), 1) - kOleEpochFromUnix + (day - 1);
}

void civilDate(int64_t days, int& year, int& month, int& day) {
  const CivilDate date = civilFromDays(days + kOleEpochFromUnix);
  year = static_cast<int>(date.year);
  month = static_cast<int>(date.month);
  day = static_cast<int>(date.day);
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

double oleDate(int64_t days, double seconds) {
  double fraction = seconds / kSecondsPerDay;
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

void splitDate(double date, int64_t& days, int64_t& seconds) {
  double whole = std::trunc(date);
  days = static_cast<int64_t>(whole);
  seconds = std::llround(std::fabs(date - whole) * kSecondsPerDay);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
}

DateTime dateTimeOf(double date) {
  int64_t days = 0, seconds = 0;
  splitDate(date, days, seconds);
  DateTime t;
  civilDate(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(seconds / 3600);
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  return t;
}

double linearDays(double date) {
  double whole = std::trunc(date);
  return whole + std::fabs(date - whole);
}

double fromLinearDays(double linear) {
  double whole = std::floor(linear);
  return oleDate(static_cast<int64_t>(whole), (linear - whole) * kSecondsPerDay);
}

bool inDateRange(double date) { return date >= kFirstDate && date < kLastDate + 1e-5; }

int windowYear(int year) {
  if (year < 0 || year > 99) return year;
  return year < 30 ? 2000 + year : 1900 + year;
}

namespace {

struct DateToken {
  enum Kind { Number, Word, Colon } kind;
  explicit DateToken(Kind k) : kind(k) {}
  int value = 0;
  int digits = 0;
  std::string word;
};

int currentYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

int monthOfWord(std::string_view word) {
  for (int m = 0; m < 12; ++m) {
    std::string full(kMonthNames[m]);
    for (char& c : full) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word.size() >= 3 && full.compare(0, word.size(), word) == 0) return m + 1;
  }
  return word == "sept" ? 9 : 0;
}

bool isWeekdayWord(std::string_view word) {
  for (auto name : kWeekdayNames) {
    std::string full(name);
    for (char& c : full) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word.size() >= 3 && full.compare(0, word.size(), word) == 0) return true;
  }
  return false;
}

}  // namespace

std::optional<double> parseDate(std::string_view text) {
  std::vector<DateToken> tokens;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isdigit(c)) {
      DateToken t(DateToken::Number);
      for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (t.digits++ > 6) return std::nullopt;
        t.value = t.value * 10 + (text[i] - '0');
      }
      tokens.push_back(t);
    } else if (std::isalpha(c)) {
      DateToken t(DateToken::Word);
      for (; i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])); ++i)
        t.word += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
      tokens.push_back(t);
    } else if (c == ':') {
      tokens.emplace_back(DateToken::Colon);
      ++i;
    } else if (c == '.' && tokens.size() >= 5 && tokens.back().kind == DateToken::Number &&
               tokens[tokens.size() - 2].kind == DateToken::Colon &&
               tokens[tokens.size() - 4].kind == DateToken::Colon) {
      // A fraction of a second (a Date/Time Extended value's text) is dropped.
      for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
      }
    } else if (c == '/' || c == '-' || c == ',' || c == '.' || isBlank(static_cast<char>(c))) {
      ++i;
    } else {
      return std::nullopt;
    }
  }
  std::vector<DateToken> dateNumbers;
  int month = 0;
  bool timeSeen = false;
  int hour = 0, minute = 0, second = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const DateToken& t = tokens[i];
    bool startsTime = t.kind == DateToken::Number && i + 1 < tokens.size() &&
                      (tokens[i + 1].kind == DateToken::Colon ||
                       (tokens[i + 1].kind == DateToken::Word &&
                        (tokens[i + 1].word == "am" || tokens[i + 1].word == "pm" ||
                         tokens[i + 1].word == "a" || tokens[i + 1].word == "p")));
    if (startsTime) {
      if (timeSeen) return std::nullopt;
      timeSeen = true;
      int parts[3] = {t.value, 0, 0};
      int count = 1;
      while (count < 3 && i + 2 < tokens.size() && tokens[i + 1].kind == DateToken::Colon &&
             tokens[i + 2].kind == DateToken::Number) {
        parts[count++] = tokens[i + 2].value;
        i += 2;
      }
      if (i + 1 < tokens.size() && tokens[i + 1].kind == DateToken::Colon) return std::nullopt;
      hour = parts[0];
      minute = parts[1];
      second = parts[2];
      if (i + 1 < tokens.size() && tokens[i + 1].kind == DateToken::Word) {
        const std::string& w = tokens[i + 1].word;
        if (w == "am" || w == "pm" || w == "a" || w == "p") {
          if (hour < 1 || hour > 12) return std::nullopt;
          hour = hour % 12 + (w[0] == 'p' ? 12 : 0);
          ++i;
        }
      }
      if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    } else if (t.kind == DateToken::Number) {
      if (dateNumbers.size() == 3) return std::nullopt;
      dateNumbers.push_back(t);
    } else if (t.kind == DateToken::Word) {
      int m = monthOfWord(t.word);
      if (m != 0 && month == 0) {
        month = m;
      } else if (!isWeekdayWord(t.word)) {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
  }
  auto isYear = [](const DateToken& t) { return t.digits >= 3 || t.value > 31; };
  int year = 0, day = 0;
  size_t n = dateNumbers.size();
  if (month != 0) {
    if (n == 1) {
      if (isYear(dateNumbers[0])) {
        year = dateNumbers[0].value;
        day = 1;
      } else {
        year = currentYear();
        day = dateNumbers[0].value;
      }
    } else if (n == 2) {
      bool yearFirst = isYear(dateNumbers[0]);
      year = windowYear(dateNumbers[yearFirst ? 0 : 1].value);
      if (dateNumbers[yearFirst ? 0 : 1].digits >= 3) year = dateNumbers[yearFirst ? 0 : 1].value;
      day = dateNumbers[yearFirst ? 1 : 0].value;
    } else {
      return std::nullopt;
    }
  } else if (n == 3) {
    if (isYear(dateNumbers[0])) {
      year = dateNumbers[0].digits >= 3 ? dateNumbers[0].value : windowYear(dateNumbers[0].value);
      month = dateNumbers[1].value;
      day = dateNumbers[2].value;
    } else {
      month = dateNumbers[0].value;
      day = dateNumbers[1].value;
      year = dateNumbers[2].digits >= 3 ? dateNumbers[2].value : windowYear(dateNumbers[2].value);
      if (month > 12 && day <= 12) std::swap(month, day);
    }
  } else if (n == 2) {
    int a = dateNumbers[0].value, b = dateNumbers[1].value;
    if (a >= 1 && a <= 12 && b >= 1 && b <= daysInMonth(2000, a) && !isYear(dateNumbers[1])) {
      month = a;
      day = b;
      year = currentYear();
    } else if (a >= 1 && a <= 12) {
      month = a;
      day = 1;
      year = dateNumbers[1].digits >= 3 ? b : windowYear(b);
    } else if (b >= 1 && b <= 12 && a <= 31) {
      month = b;
      day = a;
      year = currentYear();
    } else {
      return std::nullopt;
    }
  } else if (n == 0 && timeSeen) {
    return (hour * 3600.0 + minute * 60.0 + second) / kSecondsPerDay;
  } else {
    return std::nullopt;
  }
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > daysInMonth(year, month))
    return std::nullopt;
  return oleDate(dayNumber(year, month, day), hour * 3600.0 + minute * 60.0 + second);
}

double toDate(std::string_view function, sqlite3_value* value) {
  double date = 0;
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      date = sqlite3_value_double(value);
      break;
    case SQLITE_TEXT: {
      if (auto parsed = parseDate(textOf(value))) return *parsed;
      if (auto number = parseNumber(textOf(value))) {
        date = *number;
        break;
      }
      failTypeMismatch(function, value);
    }
    default:
      failTypeMismatch(function, value);
  }
  if (!inDateRange(date)) failOverflow(function, value);
  return date;
}

namespace {

std::string timeText(int64_t seconds) {
  int hour = static_cast<int>(seconds / 3600);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", hour % 12 == 0 ? 12 : hour % 12,
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                hour < 12 ? "AM" : "PM");
  return buffer;
}

}  // namespace

std::string generalDateText(double date) {
  int64_t days = 0, seconds = 0;
  splitDate(date, days, seconds);
  if (days == 0) return timeText(seconds);
  int year = 0, month = 0, day = 0;
  civilDate(days, year, month, day);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%d/%d/%d", month, day, year);
  if (seconds == 0) return buffer;
  return std::string(buffer) + " " + timeText(seconds);
}

int weekdayOf(int64_t days, int firstDayOfWeek) {
  int sundayBased = static_cast<int>(((days + 6) % 7 + 7) % 7) + 1;
  return (sundayBased - firstDayOfWeek + 7) % 7 + 1;
}

std::string_view monthName(int month, bool abbreviate) {
  return abbreviate ? kMonthAbbreviations[month - 1] : kMonthNames[month - 1];
}

std::string_view weekdayName(int weekday, bool abbreviate) {
  return abbreviate ? kWeekdayAbbreviations[weekday - 1] : kWeekdayNames[weekday - 1];
}

void resultText(sqlite3_context* context, std::string_view text) {
  sqlite3_result_text64(context, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void resultNumber(sqlite3_context* context, double x) {
  if (isWhole(x) && std::fabs(x) < 9.2e18) {
    sqlite3_result_int64(context, static_cast<int64_t>(x));
  } else {
    sqlite3_result_double(context, x);
  }
}

}  // namespace access_sql
