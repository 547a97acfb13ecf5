// Conversions, arithmetic, the tests of kinds, IIf and Nz, as VBA does them.
#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "source/query/access_bodies.h"
#include "source/query/access_values.h"

namespace access_sql {

namespace {

constexpr double kCurrencyLimit = 922337203685477.5807;  // Currency: 64 bits of 1/10000
constexpr double kExpLimit = 709.782712893384;           // exp beyond overflows a Double

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// VBA's truth of a value: numbers not zero, the texts "True" and "False", numeric texts.
bool truthOf(std::string_view function, sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return false;
    case SQLITE_INTEGER:
      return sqlite3_value_int64(value) != 0;
    case SQLITE_FLOAT:
      return sqlite3_value_double(value) != 0;
    case SQLITE_TEXT: {
      std::string_view text = textOf(value);
      while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
      while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
      if (equalsIgnoringCase(text, "true")) return true;
      if (equalsIgnoringCase(text, "false")) return false;
      if (auto number = parseNumber(text)) return *number != 0;
      break;
    }
    default:
      break;
  }
  failTypeMismatch(function, value);
}

// The whole number an operand of \ and Mod rounds to.
int64_t operandWhole(std::string_view function, sqlite3_value* value) {
  return toWhole(function, value, INT64_MIN / 2, INT64_MAX / 2);
}

void resultSameKind(sqlite3_context* context, sqlite3_value* in, double x) {
  if (sqlite3_value_type(in) == SQLITE_INTEGER && std::fabs(x) < 9.2e18) {
    sqlite3_result_int64(context, static_cast<int64_t>(x));
  } else {
    sqlite3_result_double(context, x);
  }
}

std::string radixText(const Call& call, int bitsPerDigit) {
  int64_t whole = toWhole(call.name, call[0], INT64_MIN, INT64_MAX);
  uint64_t bits = static_cast<uint64_t>(whole);
  if (whole < 0 && whole >= INT16_MIN)
    bits &= 0xFFFF;  // an Integer's bits, as VBA shows them
  else if (whole < 0 && whole >= INT32_MIN)
    bits &= 0xFFFFFFFF;
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789ABCDEF"[bits & ((1u << bitsPerDigit) - 1)]);
    bits >>= bitsPerDigit;
  } while (bits != 0);
  return digits;
}

}  // namespace

void fnIIf(const Call& call) {
  sqlite3_result_value(call.context, truthOf(call.name, call[0]) ? call[1] : call[2]);
}

void fnNz(const Call& call) {
  if (!isNull(call[0])) {
    sqlite3_result_value(call.context, call[0]);
  } else if (call.has(1)) {
    sqlite3_result_value(call.context, call[1]);
  } else {
    resultText(call.context, "");  // in a query, Nz of Null without a default is ""
  }
}

// Switch(expr1, value1[, expr2, value2...]): the value of the first true expression, else Null.
void fnSwitch(const Call& call) {
  if (call.argc % 2 != 0)
    throw FunctionError{std::string(call.name) + ": needs its expressions and values in pairs"};
  for (int i = 0; i < call.argc; i += 2) {
    if (truthOf(call.name, call[i])) return sqlite3_result_value(call.context, call[i + 1]);
  }
  sqlite3_result_null(call.context);
}

// Choose(index, choice1[, choice2...]): the choice the index (rounded) names, else Null.
void fnChoose(const Call& call) {
  if (isNull(call[0])) failInvalidUseOfNull(call.name);
  double index = roundToEven(toNumber(call.name, call[0]));
  if (index < 1 || index >= call.argc) return sqlite3_result_null(call.context);
  sqlite3_result_value(call.context, call[static_cast<int>(index)]);
}

// Partition(number, start, stop, interval): "lower:upper" of the range that holds number, each
// side padded to the width of stop + 1 so that the texts sort in order.
void fnPartition(const Call& call) {
  for (int i = 0; i < 4; ++i) {
    if (isNull(call[i])) return sqlite3_result_null(call.context);
  }
  int64_t number = toWhole(call.name, call[0]), start = toWhole(call.name, call[1]);
  int64_t stop = toWhole(call.name, call[2]), interval = toWhole(call.name, call[3]);
  if (start < 0) failInvalidArgument(call.name, call[1]);
  if (stop <= start) failInvalidArgument(call.name, call[2]);
  if (interval < 1) failInvalidArgument(call.name, call[3]);
  size_t width = std::to_string(stop + 1).size();
  auto side = [&](std::optional<int64_t> n) {
    std::string text = n ? std::to_string(*n) : "";
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
  };
  std::optional<int64_t> lower, upper;
  if (interval == 1) {
    lower = upper = number;
  } else if (number < start) {
    upper = start - 1;
  } else if (number > stop) {
    lower = stop + 1;
  } else {
    lower = start + (number - start) / interval * interval;
    upper = std::min(*lower + interval - 1, stop);
  }
  resultText(call.context, side(lower) + ":" + side(upper));
}

void fnIsNull(const Call& call) { resultBool(call.context, isNull(call[0])); }

// A query's values are never Empty (a Variant not yet given a value), Null included.
void fnIsEmpty(const Call& call) { resultBool(call.context, false); }

void fnIsNumeric(const Call& call) {
  int type = sqlite3_value_type(call[0]);
  resultBool(call.context, type == SQLITE_INTEGER || type == SQLITE_FLOAT ||
                               (type == SQLITE_TEXT && parseNumber(textOf(call[0]))));
}

// A Date/Time value stands as a real: reals within Access's dates are dates; integers (Yes/No
// and whole-number fields) are not.
void fnIsDate(const Call& call) {
  int type = sqlite3_value_type(call[0]);
  resultBool(call.context, (type == SQLITE_FLOAT && inDateRange(sqlite3_value_double(call[0]))) ||
                               (type == SQLITE_TEXT && parseDate(textOf(call[0]))));
}

void fnVal(const Call& call) {
  if (isNull(call[0])) failInvalidUseOfNull(call.name);
  std::string text;
  for (char c : toText(call.name, call[0])) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') text += c;
  }
  if (text.size() > 2 && text[0] == '&' && std::strchr("hHoO", text[1])) {
    size_t end = 2;
    bool hex = text[1] == 'h' || text[1] == 'H';
    while (end < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[end]))
                                     : (text[end] >= '0' && text[end] <= '7')))
      ++end;
    auto value = parseNumber(text.substr(0, end));
    sqlite3_result_double(call.context, value.value_or(0));
    return;
  }
  // The longest prefix that is a number: sign, digits, one point, an exponent.
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  size_t digitsStart = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  }
  bool anyDigit = i > digitsStart && !(i == digitsStart + 1 && text[digitsStart] == '.');
  if (anyDigit && i < text.size() && std::strchr("eEdD", text[i])) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) ++j;
    size_t exponentStart = j;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    if (j > exponentStart) {
      text[i] = 'e';
      i = j;
    }
  }
  double value = anyDigit ? std::strtod(text.substr(0, i).c_str(), nullptr) : 0;
  if (!std::isfinite(value)) failOverflow(call.name, call[0]);
  sqlite3_result_double(call.context, value);
}

void fnStr(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  double x = toNumber(call.name, call[0]);
  std::string text = sqlite3_value_type(call[0]) == SQLITE_INTEGER
                         ? std::to_string(sqlite3_value_int64(call[0]))
                         : numberText(x);
  resultText(call.context, x >= 0 ? " " + text : text);
}

void fnCStr(const Call& call) { resultText(call.context, toText(call.name, call[0])); }

void fnCInt(const Call& call) {
  sqlite3_result_int64(call.context, toWhole(call.name, call[0], INT16_MIN, INT16_MAX));
}

void fnCLng(const Call& call) { sqlite3_result_int64(call.context, toWhole(call.name, call[0])); }

void fnCByte(const Call& call) {
  sqlite3_result_int64(call.context, toWhole(call.name, call[0], 0, 255));
}

void fnCSng(const Call& call) {
  double x = toNumber(call.name, call[0]);
  if (std::fabs(x) > FLT_MAX) failOverflow(call.name, call[0]);
  // A Single's value, then its shortest decimal form of 7 digits, as VBA gives it back.
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.7g", static_cast<double>(static_cast<float>(x)));
  sqlite3_result_double(call.context, std::strtod(buffer, nullptr));
}

void fnCDbl(const Call& call) { sqlite3_result_double(call.context, toNumber(call.name, call[0])); }

void fnCCur(const Call& call) {
  double x = toNumber(call.name, call[0]);
  if (std::fabs(x) > kCurrencyLimit) failOverflow(call.name, call[0]);
  sqlite3_result_double(call.context, roundScaledToEven(x, 10000) / 10000);
}

void fnCDec(const Call& call) { sqlite3_result_double(call.context, toNumber(call.name, call[0])); }

void fnCDate(const Call& call) { sqlite3_result_double(call.context, toDate(call.name, call[0])); }

void fnCBool(const Call& call) {
  if (isNull(call[0])) failInvalidUseOfNull(call.name);
  resultBool(call.context, truthOf(call.name, call[0]));
}

void fnCVar(const Call& call) { sqlite3_result_value(call.context, call[0]); }

void fnInt(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  if (sqlite3_value_type(call[0]) == SQLITE_INTEGER)
    return sqlite3_result_value(call.context, call[0]);
  sqlite3_result_double(call.context, std::floor(toNumber(call.name, call[0])));
}

void fnFix(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  if (sqlite3_value_type(call[0]) == SQLITE_INTEGER)
    return sqlite3_result_value(call.context, call[0]);
  sqlite3_result_double(call.context, std::trunc(toNumber(call.name, call[0])));
}

void fnRound(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  if (sqlite3_value_type(call[0]) == SQLITE_INTEGER)
    return sqlite3_result_value(call.context, call[0]);
  double x = toNumber(call.name, call[0]);
  int64_t places = call.has(1) ? toWhole(call.name, call[1]) : 0;
  if (places < 0 || places > 22) failInvalidArgument(call.name, call[1]);
  double scale = std::pow(10.0, static_cast<double>(places));
  double scaled = x * scale;
  sqlite3_result_double(call.context, std::isfinite(scaled) ? roundScaledToEven(x, scale) / scale : x);
}

void fnAbs(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  if (sqlite3_value_type(call[0]) == SQLITE_INTEGER && sqlite3_value_int64(call[0]) != INT64_MIN) {
    int64_t whole = sqlite3_value_int64(call[0]);
    return sqlite3_result_int64(call.context, whole < 0 ? -whole : whole);
  }
  sqlite3_result_double(call.context, std::fabs(toNumber(call.name, call[0])));
}

void fnSgn(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  double x = toNumber(call.name, call[0]);
  sqlite3_result_int(call.context, x > 0 ? 1 : x < 0 ? -1 : 0);
}

void fnSqr(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  double x = toNumber(call.name, call[0]);
  if (x < 0) failInvalidArgument(call.name, call[0]);
  sqlite3_result_double(call.context, std::sqrt(x));
}

void fnExp(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  double x = toNumber(call.name, call[0]);
  if (x > kExpLimit) failOverflow(call.name, call[0]);
  sqlite3_result_double(call.context, std::exp(x));
}

void fnLog(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  double x = toNumber(call.name, call[0]);
  if (x <= 0) failInvalidArgument(call.name, call[0]);
  sqlite3_result_double(call.context, std::log(x));
}

namespace {

void trigonometric(const Call& call, double (*f)(double)) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_double(call.context, f(toNumber(call.name, call[0])));
}

}  // namespace

void fnAtn(const Call& call) {
  trigonometric(call, [](double x) { return std::atan(x); });
}
void fnCos(const Call& call) {
  trigonometric(call, [](double x) { return std::cos(x); });
}
void fnSin(const Call& call) {
  trigonometric(call, [](double x) { return std::sin(x); });
}
void fnTan(const Call& call) {
  trigonometric(call, [](double x) { return std::tan(x); });
}

void fnHex(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  resultText(call.context, radixText(call, 4));
}

void fnOct(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  resultText(call.context, radixText(call, 3));
}

void opIntegerDivide(const Call& call) {
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  int64_t a = operandWhole(call.name, call[0]), b = operandWhole(call.name, call[1]);
  if (b == 0) throw FunctionError{std::string(call.name) + ": division by zero"};
  sqlite3_result_int64(call.context, a / b);
}

void opMod(const Call& call) {
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  int64_t a = operandWhole(call.name, call[0]), b = operandWhole(call.name, call[1]);
  if (b == 0) throw FunctionError{std::string(call.name) + ": division by zero"};
  sqlite3_result_int64(call.context, a % b);
}

void opPower(const Call& call) {
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  double base = toNumber(call.name, call[0]), exponent = toNumber(call.name, call[1]);
  if ((base < 0 && !isWhole(exponent)) || (base == 0 && exponent < 0))
    failInvalidArgument(call.name, call[1]);
  double x = std::pow(base, exponent);
  if (!std::isfinite(x)) failOverflow(call.name, call[0]);
  sqlite3_result_double(call.context, x);
}

// Access's +: texts join, numbers (and numeric texts with a number) add, Null gives Null.
void opPlus(const Call& call) {
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  if (isText(call[0]) && isText(call[1]))
    return resultText(call.context, std::string(textOf(call[0])) + std::string(textOf(call[1])));
  if (sqlite3_value_type(call[0]) == SQLITE_INTEGER &&
      sqlite3_value_type(call[1]) == SQLITE_INTEGER) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(sqlite3_value_int64(call[0]), sqlite3_value_int64(call[1]), &sum))
      return sqlite3_result_int64(call.context, sum);
  }
  double x = toNumber(call.name, call[0]) + toNumber(call.name, call[1]);
  resultSameKind(call.context, isText(call[0]) ? call[1] : call[0], x);
}

// Access's /: always a Double, and division by zero fails (SQLite's / divides integers whole
// and gives Null for zero).
void opDivide(const Call& call) {
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  double a = toNumber(call.name, call[0]), b = toNumber(call.name, call[1]);
  if (b == 0) throw FunctionError{std::string(call.name) + ": division by zero"};
  double x = a / b;
  if (!std::isfinite(x)) failOverflow(call.name, call[0]);
  sqlite3_result_double(call.context, x);
}

namespace {

int64_t logicalOperand(const Call& call, int i) {
  return toWhole(call.name, call[i], INT64_MIN / 2, INT64_MAX / 2);
}

}  // namespace

// Not, And and Or work bit by bit (True is -1), with Null as unknown: False And Null is False,
// True Or Null is True, and every other Null gives Null.
void opNot(const Call& call) {
  if (isNull(call[0])) return sqlite3_result_null(call.context);
  sqlite3_result_int64(call.context, ~logicalOperand(call, 0));
}

void opAnd(const Call& call) {
  bool nullA = isNull(call[0]), nullB = isNull(call[1]);
  if (nullA && nullB) return sqlite3_result_null(call.context);
  if (nullA || nullB) {
    int64_t known = logicalOperand(call, nullA ? 1 : 0);
    return known == 0 ? sqlite3_result_int(call.context, 0) : sqlite3_result_null(call.context);
  }
  sqlite3_result_int64(call.context, logicalOperand(call, 0) & logicalOperand(call, 1));
}

void opOr(const Call& call) {
  bool nullA = isNull(call[0]), nullB = isNull(call[1]);
  if (nullA && nullB) return sqlite3_result_null(call.context);
  if (nullA || nullB) {
    int64_t known = logicalOperand(call, nullA ? 1 : 0);
    return known == -1 ? sqlite3_result_int(call.context, -1) : sqlite3_result_null(call.context);
  }
  sqlite3_result_int64(call.context, logicalOperand(call, 0) | logicalOperand(call, 1));
}

void opXor(const Call& call) {
  if (isNull(call[0]) || isNull(call[1])) return sqlite3_result_null(call.context);
  int64_t a = toWhole(call.name, call[0], INT64_MIN / 2, INT64_MAX / 2);
  int64_t b = toWhole(call.name, call[1], INT64_MIN / 2, INT64_MAX / 2);
  sqlite3_result_int64(call.context, a ^ b);
}

}  // namespace access_sql
