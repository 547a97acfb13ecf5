// Format(expression[, format[, firstdayofweek[, firstweekofyear]]]) in the English (US)
// conventions Access uses by default: the named formats, and custom formats of dates, of numbers
// (up to four sections: positive, negative, zero, Null) and of texts.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "source/query/access_bodies.h"
#include "source/query/access_dates.h"
#include "source/query/access_values.h"

namespace access_sql {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool startsWithNoCase(std::string_view text, size_t at, std::string_view prefix) {
  if (text.size() - at < prefix.size()) return false;
  return lower(text.substr(at, prefix.size())) == prefix;
}

// The sections of a format, split at the semicolons outside quotes and escapes.
std::vector<std::string> sectionsOf(std::string_view format) {
  std::vector<std::string> sections(1);
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c == '"') {
      size_t close = format.find('"', i + 1);
      if (close == std::string_view::npos) close = format.size() - 1;
      sections.back() += format.substr(i, close - i + 1);
      i = close;
    } else if (c == '\\' && i + 1 < format.size()) {
      sections.back() += format.substr(i, 2);
      ++i;
    } else if (c == ';') {
      sections.emplace_back();
    } else {
      sections.back() += c;
    }
  }
  return sections;
}

// Dates.

enum class DatePiece {
  Literal, Day, Day2, WeekdayShort, WeekdayLong, ShortDate, LongDate, Weekday, Week, Month, Month2,
  MonthShort, MonthLong, Minute, Minute2, Quarter, DayOfYear, Year2, Year4, Hour, Hour2, Second,
  Second2, LongTime, GeneralDate, AmPmUpper, AmPmLower, APUpper, APLower,
};

struct DateToken {
  DatePiece piece;
  std::string text;  // for Literal
};

std::vector<DateToken> parseDateFormat(std::string_view f) {
  std::vector<DateToken> tokens;
  auto literal = [&](std::string_view text) {
    if (!tokens.empty() && tokens.back().piece == DatePiece::Literal)
      tokens.back().text += text;
    else
      tokens.push_back({DatePiece::Literal, std::string(text)});
  };
  for (size_t i = 0; i < f.size();) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
    auto run = [&] {
      size_t n = 0;
      while (i + n < f.size() && std::tolower(static_cast<unsigned char>(f[i + n])) == c) ++n;
      return n;
    };
    if (f[i] == '"') {
      size_t close = f.find('"', i + 1);
      if (close == std::string_view::npos) close = f.size();
      literal(f.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (f[i] == '\\' && i + 1 < f.size()) {
      literal(f.substr(i + 1, 1));
      i += 2;
    } else if (startsWithNoCase(f, i, "am/pm")) {
      tokens.push_back({f[i] == 'a' ? DatePiece::AmPmLower : DatePiece::AmPmUpper, ""});
      i += 5;
    } else if (startsWithNoCase(f, i, "a/p")) {
      tokens.push_back({f[i] == 'a' ? DatePiece::APLower : DatePiece::APUpper, ""});
      i += 3;
    } else if (startsWithNoCase(f, i, "ampm")) {
      tokens.push_back({DatePiece::AmPmUpper, ""});
      i += 4;
    } else if (c == 'd') {
      size_t n = std::min<size_t>(run(), 6);
      static constexpr DatePiece kDays[] = {DatePiece::Day,          DatePiece::Day2,
                                            DatePiece::WeekdayShort, DatePiece::WeekdayLong,
                                            DatePiece::ShortDate,    DatePiece::LongDate};
      tokens.push_back({kDays[n - 1], ""});
      i += n;
    } else if (c == 'w') {
      size_t n = std::min<size_t>(run(), 2);
      tokens.push_back({n == 2 ? DatePiece::Week : DatePiece::Weekday, ""});
      i += n;
    } else if (c == 'm') {
      size_t n = std::min<size_t>(run(), 4);
      static constexpr DatePiece kMonths[] = {DatePiece::Month, DatePiece::Month2,
                                              DatePiece::MonthShort, DatePiece::MonthLong};
      tokens.push_back({kMonths[n - 1], ""});
      i += n;
    } else if (c == 'q') {
      tokens.push_back({DatePiece::Quarter, ""});
      ++i;
    } else if (c == 'y') {
      size_t n = run();
      if (n >= 4) {
        tokens.push_back({DatePiece::Year4, ""});
        i += 4;
      } else if (n >= 2) {
        tokens.push_back({DatePiece::Year2, ""});
        i += 2;
      } else {
        tokens.push_back({DatePiece::DayOfYear, ""});
        ++i;
      }
    } else if (c == 'h' || c == 'n' || c == 's') {
      size_t n = std::min<size_t>(run(), 2);
      DatePiece one = c == 'h' ? DatePiece::Hour : c == 'n' ? DatePiece::Minute : DatePiece::Second;
      DatePiece two = c == 'h'   ? DatePiece::Hour2
                      : c == 'n' ? DatePiece::Minute2
                                 : DatePiece::Second2;
      tokens.push_back({n == 2 ? two : one, ""});
      i += n;
    } else if (c == 't' && run() >= 5) {
      tokens.push_back({DatePiece::LongTime, ""});
      i += 5;
    } else if (c == 'c') {
      tokens.push_back({DatePiece::GeneralDate, ""});
      ++i;
    } else {
      literal(f.substr(i, 1));
      ++i;
    }
  }
  // m and mm are minutes right after an hour or right before a second.
  for (size_t k = 0; k < tokens.size(); ++k) {
    DatePiece& p = tokens[k].piece;
    if (p != DatePiece::Month && p != DatePiece::Month2) continue;
    auto neighbour = [&](int step) {
      for (int j = static_cast<int>(k) + step; j >= 0 && j < static_cast<int>(tokens.size());
           j += step) {
        if (tokens[j].piece != DatePiece::Literal) return tokens[j].piece;
      }
      return DatePiece::Literal;
    };
    DatePiece before = neighbour(-1), after = neighbour(1);
    if (before == DatePiece::Hour || before == DatePiece::Hour2 || after == DatePiece::Second ||
        after == DatePiece::Second2)
      p = p == DatePiece::Month ? DatePiece::Minute : DatePiece::Minute2;
  }
  return tokens;
}

bool isDateFormat(const std::vector<DateToken>& tokens) {
  for (const auto& t : tokens) {
    if (t.piece != DatePiece::Literal) return true;
  }
  return false;
}

std::string two(int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", n);
  return buffer;
}

std::string formatDate(const std::vector<DateToken>& tokens, double date, int firstDay,
                       int firstWeek) {
  int64_t days = 0, seconds = 0;
  splitDate(date, days, seconds);
  DateTime t = dateTimeOf(date);
  bool twelveHour = false;
  for (const auto& token : tokens) {
    DatePiece p = token.piece;
    twelveHour = twelveHour || p == DatePiece::AmPmUpper || p == DatePiece::AmPmLower ||
                 p == DatePiece::APUpper || p == DatePiece::APLower;
  }
  int hour = twelveHour ? (t.hour % 12 == 0 ? 12 : t.hour % 12) : t.hour;
  bool pm = t.hour >= 12;
  auto shortDate = [&] {
    return std::to_string(t.month) + "/" + std::to_string(t.day) + "/" + std::to_string(t.year);
  };
  auto longTime = [&] {
    return std::to_string(t.hour % 12 == 0 ? 12 : t.hour % 12) + ":" + two(t.minute) + ":" +
           two(t.second) + (pm ? " PM" : " AM");
  };
  std::string out;
  for (const auto& token : tokens) {
    switch (token.piece) {
      case DatePiece::Literal:
        out += token.text;
        break;
      case DatePiece::Day:
        out += std::to_string(t.day);
        break;
      case DatePiece::Day2:
        out += two(t.day);
        break;
      case DatePiece::WeekdayShort:
        out += weekdayName(weekdayOf(days, 1), true);
        break;
      case DatePiece::WeekdayLong:
        out += weekdayName(weekdayOf(days, 1), false);
        break;
      case DatePiece::ShortDate:
        out += shortDate();
        break;
      case DatePiece::LongDate:
        out += std::string(weekdayName(weekdayOf(days, 1), false)) + ", " +
               std::string(monthName(t.month, false)) + " " + std::to_string(t.day) + ", " +
               std::to_string(t.year);
        break;
      case DatePiece::Weekday:
        out += std::to_string(weekdayOf(days, firstDay));
        break;
      case DatePiece::Week:
        out += std::to_string(weekOfYear(days, firstDay, firstWeek));
        break;
      case DatePiece::Month:
        out += std::to_string(t.month);
        break;
      case DatePiece::Month2:
        out += two(t.month);
        break;
      case DatePiece::MonthShort:
        out += monthName(t.month, true);
        break;
      case DatePiece::MonthLong:
        out += monthName(t.month, false);
        break;
      case DatePiece::Minute:
        out += std::to_string(t.minute);
        break;
      case DatePiece::Minute2:
        out += two(t.minute);
        break;
      case DatePiece::Quarter:
        out += std::to_string((t.month - 1) / 3 + 1);
        break;
      case DatePiece::DayOfYear:
        out += std::to_string(dayOfYear(days));
        break;
      case DatePiece::Year2:
        out += two(t.year % 100);
        break;
      case DatePiece::Year4:
        out += std::to_string(t.year);
        break;
      case DatePiece::Hour:
        out += std::to_string(hour);
        break;
      case DatePiece::Hour2:
        out += two(hour);
        break;
      case DatePiece::Second:
        out += std::to_string(t.second);
        break;
      case DatePiece::Second2:
        out += two(t.second);
        break;
      case DatePiece::LongTime:
        out += longTime();
        break;
      case DatePiece::GeneralDate:
        out += generalDateText(date);
        break;
      case DatePiece::AmPmUpper:
        out += pm ? "PM" : "AM";
        break;
      case DatePiece::AmPmLower:
        out += pm ? "pm" : "am";
        break;
      case DatePiece::APUpper:
        out += pm ? "P" : "A";
        break;
      case DatePiece::APLower:
        out += pm ? "p" : "a";
        break;
    }
  }
  return out;
}

// Numbers.

struct NumberToken {
  enum Kind { Zero, Hash, Point, Comma, Percent, Exponent, Literal } kind;
  std::string text;  // Literal; Exponent: "+" or "-"
};

struct NumberFormat {
  std::vector<NumberToken> tokens;
  bool anyPlaceholder = false;
};

NumberFormat parseNumberFormat(std::string_view f) {
  NumberFormat format;
  auto literal = [&](std::string_view text) {
    if (!format.tokens.empty() && format.tokens.back().kind == NumberToken::Literal)
      format.tokens.back().text += text;
    else
      format.tokens.push_back({NumberToken::Literal, std::string(text)});
  };
  for (size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    if (c == '"') {
      size_t close = f.find('"', i + 1);
      if (close == std::string_view::npos) close = f.size();
      literal(f.substr(i + 1, close - i - 1));
      i = close;
    } else if (c == '\\' && i + 1 < f.size()) {
      literal(f.substr(++i, 1));
    } else if (c == '0' || c == '#') {
      format.tokens.push_back({c == '0' ? NumberToken::Zero : NumberToken::Hash, ""});
      format.anyPlaceholder = true;
    } else if (c == '.') {
      format.tokens.push_back({NumberToken::Point, ""});
    } else if (c == ',') {
      format.tokens.push_back({NumberToken::Comma, ""});
    } else if (c == '%') {
      format.tokens.push_back({NumberToken::Percent, ""});
    } else if ((c == 'E' || c == 'e') && i + 1 < f.size() && (f[i + 1] == '+' || f[i + 1] == '-')) {
      format.tokens.push_back({NumberToken::Exponent, std::string(1, f[i + 1]) + c});
      ++i;
    } else {
      literal(f.substr(i, 1));
    }
  }
  return format;
}

// The decimal digits of |x| to `fraction` places, rounded half away from zero on its 15
// significant digits, as Format rounds: integer digits without leading zeros.
void decimalDigits(double x, int fraction, std::string& whole, std::string& part) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(x));
  std::string digits;
  for (const char* p = buffer; *p && *p != 'e'; ++p) {
    if (std::isdigit(static_cast<unsigned char>(*p))) digits += *p;
  }
  int point = std::atoi(std::strchr(buffer, 'e') + 1) + 1;  // integer digits of the number
  if (x == 0) point = 1;
  int keep = point + fraction;
  if (keep < 0) {
    digits = "0";
    point = 1;
  } else if (keep < static_cast<int>(digits.size())) {
    bool up = digits[keep] >= '5';
    digits.resize(keep);
    for (int k = keep - 1; up && k >= 0; --k) {
      if (digits[k] == '9') {
        digits[k] = '0';
      } else {
        ++digits[k];
        up = false;
      }
    }
    if (up) {
      digits.insert(digits.begin(), '1');
      ++point;
    }
  }
  whole.clear();
  part.clear();
  for (int k = 0; k < point; ++k) whole += k < static_cast<int>(digits.size()) ? digits[k] : '0';
  for (int k = point; k < point + fraction; ++k)
    part += k >= 0 && k < static_cast<int>(digits.size()) ? digits[k] : '0';
  size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? "" : whole.substr(first);
}

std::string formatNumber(const NumberFormat& format, double x, bool withSign) {
  const auto& tokens = format.tokens;
  size_t point = tokens.size(), exponent = tokens.size();
  for (size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].kind == NumberToken::Point && point == tokens.size()) point = k;
    if (tokens[k].kind == NumberToken::Exponent && exponent == tokens.size()) exponent = k;
  }
  size_t mantissaEnd = std::min(exponent, tokens.size());
  size_t integerEnd = std::min(point, mantissaEnd);
  int integerPlaces = 0, fractionPlaces = 0;
  bool grouping = false, percent = false;
  int scaling = 0;
  for (size_t k = 0; k < tokens.size(); ++k) {
    auto kind = tokens[k].kind;
    bool digit = kind == NumberToken::Zero || kind == NumberToken::Hash;
    if (digit && k < integerEnd) ++integerPlaces;
    if (digit && k > point && k < mantissaEnd) ++fractionPlaces;
    if (kind == NumberToken::Percent) percent = true;
    if (kind == NumberToken::Comma && k < integerEnd) {
      // Commas after the last integer placeholder divide by 1000; between placeholders they group.
      bool digitAfter = false;
      for (size_t j = k + 1; j < integerEnd; ++j)
        digitAfter = digitAfter || tokens[j].kind == NumberToken::Zero ||
                     tokens[j].kind == NumberToken::Hash;
      bool digitBefore = integerPlaces > 0;
      if (digitBefore && digitAfter)
        grouping = true;
      else if (digitBefore)
        ++scaling;
    }
  }
  if (percent) x *= 100;
  for (int k = 0; k < scaling; ++k) x /= 1000;
  bool negative = x < 0;
  int exponentValue = 0;
  if (exponent < tokens.size() && x != 0) {
    exponentValue =
        static_cast<int>(std::floor(std::log10(std::fabs(x)))) - (std::max(integerPlaces, 1) - 1);
    x /= std::pow(10.0, exponentValue);
    std::string w, p;
    decimalDigits(x, fractionPlaces, w, p);
    if (static_cast<int>(w.size()) >
        std::max(integerPlaces, 1)) {  // rounding reached the next power
      x /= 10;
      ++exponentValue;
    }
  }
  std::string whole, part;
  decimalDigits(x, fractionPlaces, whole, part);

  // The integer part, filled from its last placeholder leftwards.
  std::string integerOut;  // reversed
  int emitted = 0;
  size_t next = whole.size();
  auto emitDigit = [&](char d) {
    if (grouping && emitted > 0 && emitted % 3 == 0) integerOut += ',';
    integerOut += d;
    ++emitted;
  };
  int placeholdersLeft = integerPlaces;
  for (size_t k = integerEnd; k-- > 0;) {
    const NumberToken& t = tokens[k];
    if (t.kind == NumberToken::Zero || t.kind == NumberToken::Hash) {
      --placeholdersLeft;
      if (next > 0)
        emitDigit(whole[--next]);
      else if (t.kind == NumberToken::Zero)
        emitDigit('0');
      if (placeholdersLeft == 0)
        while (next > 0) emitDigit(whole[--next]);
    } else if (t.kind == NumberToken::Literal) {
      integerOut.append(t.text.rbegin(), t.text.rend());
    } else if (t.kind == NumberToken::Percent) {
      integerOut += '%';
    }
  }
  if (integerPlaces == 0)
    while (next > 0) emitDigit(whole[--next]);
  std::string out(integerOut.rbegin(), integerOut.rend());

  // The fraction: '#' places at its end drop their zeros.
  int lastKept = fractionPlaces;
  {
    int place = fractionPlaces;
    for (size_t k = mantissaEnd; k-- > point + 1 && k < tokens.size();) {
      if (tokens[k].kind != NumberToken::Zero && tokens[k].kind != NumberToken::Hash) continue;
      --place;
      if (tokens[k].kind == NumberToken::Hash && part[place] == '0' && lastKept == place + 1)
        lastKept = place;
      else
        break;
    }
  }
  int place = 0;
  for (size_t k = integerEnd; k < tokens.size(); ++k) {
    const NumberToken& t = tokens[k];
    switch (t.kind) {
      case NumberToken::Point:
        if (k == point) out += '.';
        break;
      case NumberToken::Zero:
      case NumberToken::Hash:
        if (k < mantissaEnd) {
          if (place < lastKept) out += part[place];
          ++place;
        }
        break;
      case NumberToken::Comma:
        break;
      case NumberToken::Percent:
        out += '%';
        break;
      case NumberToken::Literal:
        out += t.text;
        break;
      case NumberToken::Exponent: {
        int minimum = 0;
        size_t j = k + 1;
        for (; j < tokens.size() &&
               (tokens[j].kind == NumberToken::Zero || tokens[j].kind == NumberToken::Hash);
             ++j)
          minimum += tokens[j].kind == NumberToken::Zero;
        out += t.text[1];
        if (exponentValue < 0)
          out += '-';
        else if (t.text[0] == '+')
          out += '+';
        std::string digits = std::to_string(std::abs(exponentValue));
        if (static_cast<int>(digits.size()) < minimum)
          digits.insert(0, minimum - digits.size(), '0');
        out += digits;
        k = j - 1;
        break;
      }
    }
  }
  bool nonzero = out.find_first_of("123456789") != std::string::npos;
  if (withSign && negative && nonzero) out.insert(0, "-");
  return out;
}

// Texts: @ a character or a space, & a character or nothing, < lower case, > upper case,
// ! fills the placeholders from the left.
std::string formatText(std::string_view format, const std::string& value) {
  bool toLower = false, toUpper = false, fromLeft = false;
  std::vector<std::pair<char, std::string>> tokens;  // placeholder ('@', '&') or literal (0)
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c == '<')
      toLower = true;
    else if (c == '>')
      toUpper = true;
    else if (c == '!')
      fromLeft = true;
    else if (c == '@' || c == '&')
      tokens.emplace_back(c, "");
    else if (c == '\\' && i + 1 < format.size())
      tokens.emplace_back(0, std::string(1, format[++i]));
    else if (c == '"') {
      size_t close = format.find('"', i + 1);
      if (close == std::string_view::npos) close = format.size();
      tokens.emplace_back(0, std::string(format.substr(i + 1, close - i - 1)));
      i = close;
    } else {
      tokens.emplace_back(0, std::string(1, c));
    }
  }
  std::u32string text = decode(value);
  for (char32_t& ch : text) ch = toUpper ? upperCase(ch) : toLower ? foldCase(ch) : ch;
  int placeholders = 0;
  for (const auto& t : tokens) placeholders += t.first != 0;
  if (placeholders == 0) {
    std::string out;
    for (const auto& t : tokens) out += t.second;
    return out + encode(text);
  }
  std::vector<std::u32string> filled(tokens.size());
  if (fromLeft) {
    size_t next = 0;
    for (size_t k = 0; k < tokens.size(); ++k) {
      if (tokens[k].first == 0) continue;
      if (next < text.size())
        filled[k] = text.substr(next++, 1);
      else if (tokens[k].first == '@')
        filled[k] = U" ";
    }
    if (next < text.size()) filled.back() += text.substr(next);
  } else {
    size_t next = text.size();
    int left = placeholders;
    for (size_t k = tokens.size(); k-- > 0;) {
      if (tokens[k].first == 0) continue;
      --left;
      if (next > 0)
        filled[k] = text.substr(--next, 1);
      else if (tokens[k].first == '@')
        filled[k] = U" ";
      if (left == 0 && next > 0) filled[k] = text.substr(0, next) + filled[k];
    }
  }
  std::string out;
  for (size_t k = 0; k < tokens.size(); ++k)
    out += tokens[k].first ? encode(filled[k]) : tokens[k].second;
  return out;
}

bool isTextFormat(std::string_view format) {
  return format.find_first_of("@&<>!") != std::string_view::npos &&
         format.find_first_of("0#") == std::string_view::npos;
}

std::optional<std::string> namedFormat(const Call& call, std::string_view name) {
  std::string key = lower(name);
  sqlite3_value* v = call[0];
  auto number = [&]() -> std::optional<double> {
    std::optional<double> n = isText(v) ? parseNumber(textOf(v)) : toNumber(call.name, v);
    if (n && !std::isfinite(*n)) failOverflow(call.name, v);
    return n;
  };
  auto date = [&]() -> std::optional<double> {
    if (!isText(v)) return toDate(call.name, v);
    if (auto parsed = parseDate(textOf(v))) return parsed;
    if (auto n = parseNumber(textOf(v)); n && inDateRange(*n)) return n;
    return std::nullopt;
  };
  auto custom = [&](const char* f, bool isDate) -> std::optional<std::string> {
    if (isDate) {
      auto d = date();
      if (!d) return std::nullopt;
      return formatDate(parseDateFormat(f), *d, 1, 1);
    }
    auto n = number();
    if (!n) return std::nullopt;
    std::vector<std::string> sections = sectionsOf(f);
    if (*n < 0 && sections.size() > 1)
      return formatNumber(parseNumberFormat(sections[1]), -*n, false);
    return formatNumber(parseNumberFormat(sections[0]), *n, true);
  };
  auto truth = [&](const char* yes, const char* no) -> std::optional<std::string> {
    auto n = number();
    if (!n) return std::nullopt;
    return std::string(*n != 0 ? yes : no);
  };
  if (key == "general number") {
    auto n = number();
    if (!n) return std::nullopt;
    return numberText(*n);
  }
  if (key == "currency") return custom("$#,##0.00;($#,##0.00)", false);
  if (key == "fixed") return custom("0.00", false);
  if (key == "standard") return custom("#,##0.00", false);
  if (key == "percent") return custom("0.00%", false);
  if (key == "scientific") return custom("0.00E+00", false);
  if (key == "yes/no") return truth("Yes", "No");
  if (key == "true/false") return truth("True", "False");
  if (key == "on/off") return truth("On", "Off");
  if (key == "general date") {
    auto d = date();
    if (!d) return std::nullopt;
    return generalDateText(*d);
  }
  if (key == "long date") return custom("dddd, mmmm d, yyyy", true);
  if (key == "medium date") return custom("dd-mmm-yy", true);
  if (key == "short date") return custom("m/d/yyyy", true);
  if (key == "long time") return custom("h:nn:ss AM/PM", true);
  if (key == "medium time") return custom("hh:nn AM/PM", true);
  if (key == "short time") return custom("hh:nn", true);
  return std::string();  // not a named format: the caller goes on
}

bool isNamedFormat(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      "general number", "currency",   "fixed",       "standard",     "percent",   "scientific",
      "yes/no",         "true/false", "on/off",      "general date", "long date", "medium date",
      "short date",     "long time",  "medium time", "short time"};
  std::string key = lower(name);
  for (auto n : kNames) {
    if (key == n) return true;
  }
  return false;
}

// A tristate argument of FormatNumber and its kin: -1 True, 0 False, -2 (or absent) the default.
bool tristate(const Call& call, int i, bool fallback) {
  if (!call.has(i) || isNull(call[i])) return fallback;
  int64_t value = toWhole(call.name, call[i]);
  if (value < -2 || value > 1) failInvalidArgument(call.name, call[i]);
  return value == -2 ? fallback : value != 0;
}

// FormatNumber, FormatCurrency and FormatPercent(expression[, digits after the point[, leading
// digit[, parentheses for negatives[, grouping]]]]): a number format built from the arguments.
void formatWithOptions(const Call& call, std::string_view prefix, std::string_view suffix,
                       bool parenthesesByDefault, double scale) {
  double x = toNumber(call.name, call[0]) * scale;
  if (!std::isfinite(x)) failOverflow(call.name, call[0]);
  int64_t digits = call.has(1) && !isNull(call[1]) ? toWhole(call.name, call[1]) : -1;
  if (digits < -1 || digits > 30) failInvalidArgument(call.name, call[1]);
  if (digits == -1) digits = 2;  // the English (US) default
  bool leading = tristate(call, 2, true), parentheses = tristate(call, 3, parenthesesByDefault);
  bool grouping = tristate(call, 4, true);
  std::string pattern = std::string(grouping ? "#,##" : "") + (leading ? "0" : "#");
  if (digits > 0) pattern += "." + std::string(static_cast<size_t>(digits), '0');
  std::string text = std::string(prefix) +
                     formatNumber(parseNumberFormat(pattern), std::fabs(x), false) +
                     std::string(suffix);
  if (x < 0 && text.find_first_of("123456789") != std::string::npos)
    text = parentheses ? "(" + text + ")" : "-" + text;
  resultText(call.context, text);
}

}  // namespace

void fnFormatNumber(const Call& call) { formatWithOptions(call, "", "", false, 1); }
void fnFormatCurrency(const Call& call) { formatWithOptions(call, "$", "", true, 1); }
void fnFormatPercent(const Call& call) { formatWithOptions(call, "", "%", false, 100); }

// FormatDateTime(date[, namedformat]): 0 general date, 1 long date, 2 short date, 3 long time,
// 4 short time.
void fnFormatDateTime(const Call& call) {
  double date = toDate(call.name, call[0]);
  int64_t kind = call.has(1) && !isNull(call[1]) ? toWhole(call.name, call[1]) : 0;
  static constexpr const char* kFormats[] = {nullptr, "dddd, mmmm d, yyyy", "m/d/yyyy",
                                             "h:nn:ss AM/PM", "hh:nn"};
  if (kind < 0 || kind > 4) failInvalidArgument(call.name, call[1]);
  resultText(call.context, kind == 0 ? generalDateText(date)
                                     : formatDate(parseDateFormat(kFormats[kind]), date, 1, 1));
}

void fnFormat(const Call& call) {
  sqlite3_value* v = call[0];
  std::string format = call.has(1) && !isNull(call[1]) ? toText(call.name, call[1]) : "";
  int firstDay = firstDayArgument(call, 2), firstWeek = firstWeekArgument(call, 3);
  std::vector<std::string> sections = sectionsOf(format);

  if (isNull(v)) {
    // A number format's fourth section is for Null; otherwise Null formats as "".
    if (sections.size() >= 4)
      return resultText(call.context, formatNumber(parseNumberFormat(sections[3]), 0, false));
    return resultText(call.context, "");
  }
  if (format.empty()) {
    return resultText(call.context, isText(v) ? std::string(textOf(v)) : toText(call.name, v));
  }
  if (isNamedFormat(format)) {
    // A text that is neither number nor date comes back as it is.
    auto named = namedFormat(call, format);
    return resultText(call.context, named ? *named : toText(call.name, v));
  }
  if (isTextFormat(sections[0]))
    return resultText(call.context, formatText(sections[0], toText(call.name, v)));

  std::vector<DateToken> dateTokens = parseDateFormat(sections[0]);
  NumberFormat numberFormat = parseNumberFormat(sections[0]);
  if (isDateFormat(dateTokens) && !numberFormat.anyPlaceholder) {
    std::optional<double> date;
    if (!isText(v))
      date = toDate(call.name, v);
    else if (auto parsed = parseDate(textOf(v)))
      date = parsed;
    else if (auto n = parseNumber(textOf(v)); n && inDateRange(*n))
      date = n;
    if (!date) return resultText(call.context, textOf(v));
    return resultText(call.context, formatDate(dateTokens, *date, firstDay, firstWeek));
  }

  std::optional<double> number;
  if (!isText(v))
    number = toNumber(call.name, v);
  else
    number = parseNumber(textOf(v));
  if (!number) return resultText(call.context, textOf(v));
  double x = *number;
  if (!std::isfinite(x)) failOverflow(call.name, v);
  // Sections: positive (and all, alone); negative; zero; Null. An empty one takes the first's.
  auto section = [&](size_t k) {
    return k < sections.size() && !sections[k].empty() ? sections[k] : sections[0];
  };
  if (x == 0 && sections.size() >= 3)
    return resultText(call.context, formatNumber(parseNumberFormat(section(2)), 0, false));
  if (x < 0 && sections.size() >= 2) {
    bool own = !sections[1].empty();
    return resultText(call.context,
                      formatNumber(parseNumberFormat(section(1)), own ? -x : x, !own));
  }
  resultText(call.context, formatNumber(numberFormat, x, true));
}

}  // namespace access_sql
