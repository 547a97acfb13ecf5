#include "workbook/export/value_text.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "platform/civil_date.h"

namespace {

// Days from 1970-01-01 to 1899-12-30, the OLE day 0.
constexpr int64_t kOleEpochFromUnix = -25569;
// Beyond this many days a value is no date Access can hold; it is written as its number.
constexpr double kLargestOleDay = 3e6;

bool isPlainLocale(const std::string& name) {
  return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// Locales are opened once per name and freed when the process ends.
struct OpenedLocales {
  std::mutex mutex;
  std::unordered_map<std::string, locale_t> byName;
  ~OpenedLocales() {
    for (auto& [name, loc] : byName)
      if (loc) freelocale(loc);
  }
};

locale_t timeLocale(const std::string& name) {
  static OpenedLocales opened;
  std::lock_guard<std::mutex> lock(opened.mutex);
  auto it = opened.byName.find(name);
  if (it != opened.byName.end()) return it->second;
  locale_t loc = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(nullptr));
  opened.byName.emplace(name, loc);
  return loc;
}

// A locale's date format with its year in four digits: %Y writes year 1 as "1", which no
// reader takes for a year; %F stands for one that holds %Y.
std::string withFourDigitYear(std::string format, int year) {
  if (year < 0 || year >= 1000) return format;
  for (size_t at; (at = format.find("%F")) != std::string::npos;) format.replace(at, 2, "%Y-%m-%d");
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", year);
  for (size_t at; (at = format.find("%Y")) != std::string::npos;) format.replace(at, 2, digits);
  return format;
}

std::string formatTm(const char* format, const std::tm& tm, locale_t loc) {
  char buf[256];
  size_t n = strftime_l(buf, sizeof buf, format, &tm, loc);
  return std::string(buf, n);
}

// The number in exactly `width` decimal digits (it has no more).
void appendDigits(std::string& out, unsigned value, int width) {
  char buf[8];
  for (int i = width - 1; i >= 0; --i, value /= 10) buf[i] = static_cast<char>('0' + value % 10);
  out.append(buf, static_cast<size_t>(width));
}

}  // namespace

std::string userTimeLocaleName() {
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"})
    if (const char* v = std::getenv(var); v && *v) return v;
  return "";
}

std::string doubleToText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

std::string currencyToText(int64_t tenThousandths) {
  bool negative = tenThousandths < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(tenThousandths) : static_cast<uint64_t>(tenThousandths);
  std::string text = std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(10000 + magnitude % 10000).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += "." + fraction;
  return negative ? "-" + text : text;
}

namespace {

// A calendar date and time of day as the cell text shows it: the date left out on day 0
// (1899-12-30), the time left out at midnight. `fraction` (digits of a second, may be empty)
// follows the seconds.
void dateTimeText(std::string& text, const std::tm& tm, bool showDate, bool showTime, const std::string& fraction,
                  const std::string& localeName) {
  text.clear();
  std::string name = localeName.empty() ? userTimeLocaleName() : localeName;
  locale_t loc = isPlainLocale(name) ? static_cast<locale_t>(nullptr) : timeLocale(name);
  std::string dot = fraction.empty() ? "" : "." + fraction;
  if (!loc) {
    if (showDate) {
      int year = tm.tm_year + 1900;
      if (year >= 0 && year <= 9999) {
        appendDigits(text, static_cast<unsigned>(year), 4);
      } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d", year);
        text += buf;
      }
      text += '-';
      appendDigits(text, static_cast<unsigned>(tm.tm_mon + 1), 2);
      text += '-';
      appendDigits(text, static_cast<unsigned>(tm.tm_mday), 2);
    }
    if (showTime) {
      if (!text.empty()) text += ' ';
      appendDigits(text, static_cast<unsigned>(tm.tm_hour), 2);
      text += ':';
      appendDigits(text, static_cast<unsigned>(tm.tm_min), 2);
      text += ':';
      appendDigits(text, static_cast<unsigned>(tm.tm_sec), 2);
      text += dot;
    }
    return;
  }
  if (showDate) text = formatTm(withFourDigitYear(nl_langinfo_l(D_FMT, loc), tm.tm_year + 1900).c_str(), tm, loc);
  if (showTime) {
    std::string format = nl_langinfo_l(T_FMT, loc);
    if (!dot.empty()) {
      // The fraction goes right after the seconds, wherever the locale puts them.
      for (auto [from, to] : {std::pair<std::string, std::string>{"%T", "%H:%M:%S"}, {"%r", "%I:%M:%S %p"}, {"%X", "%H:%M:%S"}})
        for (size_t at; (at = format.find(from)) != std::string::npos;) format.replace(at, from.size(), to);
      size_t seconds = format.find("%S");
      if (seconds == std::string::npos) format += dot;
      else format.insert(seconds + 2, dot);
    }
    text += (text.empty() ? "" : " ") + formatTm(format.c_str(), tm, loc);
  }
}

}  // namespace

std::string oleDateToText(double day, const std::string& localeName) {
  std::string text;
  oleDateToTextInto(text, day, localeName);
  return text;
}

void oleDateToTextInto(std::string& text, double day, const std::string& localeName) {
  if (!std::isfinite(day) || std::fabs(day) > kLargestOleDay) {
    text = doubleToText(day);
    return;
  }
  // The integer part counts days from day 0 either way; the fraction is the time of that day
  // whatever the sign, as OLE dates have it.
  double whole = std::trunc(day);
  int64_t days = static_cast<int64_t>(whole);
  int64_t seconds = std::llround(std::fabs(day - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += 1;
  }
  CivilDate date = civilFromDays(days + kOleEpochFromUnix);
  std::tm tm{};
  tm.tm_year = static_cast<int>(date.year - 1900);
  tm.tm_mon = static_cast<int>(date.month) - 1;
  tm.tm_mday = static_cast<int>(date.day);
  tm.tm_hour = static_cast<int>(seconds / 3600);
  tm.tm_min = static_cast<int>(seconds / 60 % 60);
  tm.tm_sec = static_cast<int>(seconds % 60);
  tm.tm_wday = static_cast<int>(((days + kOleEpochFromUnix) % 7 + 11) % 7);  // 1970-01-01 was a Thursday
  bool showDate = days != 0;
  bool showTime = seconds != 0 || !showDate;
  dateTimeText(text, tm, showDate, showTime, "", localeName);
}

std::string extendedDateToText(const ExtendedDateValue& value, const std::string& localeName) {
  std::tm tm{};
  tm.tm_year = value.year - 1900;
  tm.tm_mon = value.month - 1;
  tm.tm_mday = value.day;
  tm.tm_hour = value.hour;
  tm.tm_min = value.minute;
  tm.tm_sec = value.second;
  // Day of the week by Sakamoto's rule, for locales whose dates name it.
  static const int kMonthOffset[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  int y = value.year - (value.month < 3);
  if (value.month >= 1 && value.month <= 12) tm.tm_wday = (y + y / 4 - y / 100 + y / 400 + kMonthOffset[value.month - 1] + value.day) % 7;
  std::string fraction;
  if (value.fraction != 0) {
    fraction = std::to_string(10000000 + value.fraction % 10000000).substr(1);
    while (fraction.back() == '0') fraction.pop_back();
  }
  bool dayZero = value.year == 1899 && value.month == 12 && value.day == 30;
  bool midnight = value.hour == 0 && value.minute == 0 && value.second == 0 && fraction.empty();
  std::string text;
  dateTimeText(text, tm, !dayZero, !midnight || dayZero, fraction, localeName);
  return text;
}

std::string variantToText(const Variant& value) {
  switch (value.vt) {
    case VT_BSTR: return value.text;
    case VT_BOOL: return value.integer != 0 ? "-1" : "0";
    case VT_UI1:
    case VT_I2:
    case VT_I4:
    case VT_I8: return std::to_string(value.integer);
    case VT_R4: {
      // A single's shortest text is the one that reads back as the same single.
      float single = static_cast<float>(value.real);
      if (!std::isfinite(single)) return doubleToText(single);
      char buf[32];
      auto res = std::to_chars(buf, buf + sizeof buf, single);
      return std::string(buf, res.ptr);
    }
    case VT_R8: return doubleToText(value.real);
    case VT_CY: return currencyToText(value.integer);
    case VT_DECIMAL: return decimalToText(value.decimal);
    case VT_DATE: return oleDateToText(value.real);
    case VT_EXT_DATE: return extendedDateToText(value.extendedDate);
    case VT_BYTES: {
      static const char kHex[] = "0123456789ABCDEF";
      std::string text;
      text.reserve(value.bytes.size() * 2);
      for (uint8_t b : value.bytes) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 15]);
      }
      return text;
    }
    default: return "";
  }
}
