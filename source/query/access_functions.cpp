#include "source/query/access_functions.h"

#include <cctype>
#include <new>
#include <string>

#include "source/dao_types.h"
#include "source/query/access_bodies.h"
#include "source/query/access_values.h"

namespace {

using access_sql::AggregateBody;
using access_sql::ScalarBody;
using R = ResultRule;

struct Entry {
  AccessFunctionInfo info;
  ScalarBody scalar = nullptr;
  const AggregateBody* aggregate = nullptr;  // neither: SQLite's own function of that name
};

constexpr Entry scalar(std::string_view accessName, std::string_view sqlName, int minArgs,
                       int maxArgs, ResultRule rule, int16_t type, ScalarBody body) {
  return {{accessName, sqlName, minArgs, maxArgs, false, rule, type}, body, nullptr};
}

constexpr Entry aggregate(std::string_view accessName, std::string_view sqlName, int minArgs,
                          ResultRule rule, int16_t type, const AggregateBody* body) {
  return {{accessName, sqlName, minArgs, 1, true, rule, type}, nullptr, body};
}

using namespace access_sql;

// Operators carry their Access spelling; "#DateText" is ours (kDateTextFunction), never an Access
// name, so findAccessFunction does not find it.
const Entry kEntries[] = {
    scalar("IIf", "access_iif", 3, 3, R::FirstArgument, 0, fnIIf),
    scalar("Nz", "access_nz", 1, 2, R::FirstArgument, 0, fnNz),
    scalar("Switch", "access_switch", 2, 32, R::FirstArgument, 0, fnSwitch),
    scalar("Choose", "access_choose", 2, 32, R::FirstArgument, 0, fnChoose),
    scalar("Partition", "access_partition", 4, 4, R::Fixed, dbText, fnPartition),
    scalar("IsNull", "access_isnull", 1, 1, R::Fixed, dbBoolean, fnIsNull),
    scalar("IsEmpty", "access_isempty", 1, 1, R::Fixed, dbBoolean, fnIsEmpty),
    scalar("IsNumeric", "access_isnumeric", 1, 1, R::Fixed, dbBoolean, fnIsNumeric),
    scalar("IsDate", "access_isdate", 1, 1, R::Fixed, dbBoolean, fnIsDate),
    scalar("Format", "access_format", 1, 4, R::Fixed, dbText, fnFormat),
    scalar("FormatNumber", "access_formatnumber", 1, 5, R::Fixed, dbText, fnFormatNumber),
    scalar("FormatCurrency", "access_formatcurrency", 1, 5, R::Fixed, dbText, fnFormatCurrency),
    scalar("FormatPercent", "access_formatpercent", 1, 5, R::Fixed, dbText, fnFormatPercent),
    scalar("FormatDateTime", "access_formatdatetime", 1, 2, R::Fixed, dbText, fnFormatDateTime),
    scalar("Left", "access_left", 2, 2, R::Fixed, dbText, fnLeft),
    scalar("Right", "access_right", 2, 2, R::Fixed, dbText, fnRight),
    scalar("Mid", "access_mid", 2, 3, R::Fixed, dbText, fnMid),
    scalar("Len", "access_len", 1, 1, R::Fixed, dbLong, fnLen),
    scalar("InStr", "access_instr", 2, 4, R::Fixed, dbLong, fnInStr),
    scalar("InStrRev", "access_instrrev", 2, 4, R::Fixed, dbLong, fnInStrRev),
    scalar("UCase", "access_ucase", 1, 1, R::Fixed, dbText, fnUCase),
    scalar("LCase", "access_lcase", 1, 1, R::Fixed, dbText, fnLCase),
    scalar("Trim", "access_trim", 1, 1, R::Fixed, dbText, fnTrim),
    scalar("LTrim", "access_ltrim", 1, 1, R::Fixed, dbText, fnLTrim),
    scalar("RTrim", "access_rtrim", 1, 1, R::Fixed, dbText, fnRTrim),
    scalar("Space", "access_space", 1, 1, R::Fixed, dbText, fnSpace),
    scalar("String", "access_string", 2, 2, R::Fixed, dbText, fnString),
    scalar("Replace", "access_replace", 3, 6, R::Fixed, dbText, fnReplace),
    scalar("CurrentUser", "access_currentuser", 0, 0, R::Fixed, dbText, fnCurrentUser),
    scalar("StrConv", "access_strconv", 2, 3, R::Fixed, dbText, fnStrConv),
    scalar("StrReverse", "access_strreverse", 1, 1, R::Fixed, dbText, fnStrReverse),
    scalar("StrComp", "access_strcomp", 2, 3, R::Fixed, dbInteger, fnStrComp),
    scalar("Val", "access_val", 1, 1, R::Fixed, dbDouble, fnVal),
    scalar("Str", "access_str", 1, 1, R::Fixed, dbText, fnStr),
    scalar("CStr", "access_cstr", 1, 1, R::Fixed, dbText, fnCStr),
    scalar("CInt", "access_cint", 1, 1, R::Fixed, dbInteger, fnCInt),
    scalar("CLng", "access_clng", 1, 1, R::Fixed, dbLong, fnCLng),
    scalar("CSng", "access_csng", 1, 1, R::Fixed, dbSingle, fnCSng),
    scalar("CDbl", "access_cdbl", 1, 1, R::Fixed, dbDouble, fnCDbl),
    scalar("CCur", "access_ccur", 1, 1, R::Fixed, dbCurrency, fnCCur),
    scalar("CDate", "access_cdate", 1, 1, R::Fixed, dbDate, fnCDate),
    scalar("CVDate", "access_cvdate", 1, 1, R::Fixed, dbDate, fnCDate),
    scalar("CBool", "access_cbool", 1, 1, R::Fixed, dbBoolean, fnCBool),
    scalar("CByte", "access_cbyte", 1, 1, R::Fixed, dbByte, fnCByte),
    scalar("CVar", "access_cvar", 1, 1, R::FirstArgument, 0, fnCVar),
    scalar("CDec", "access_cdec", 1, 1, R::Fixed, dbDecimal, fnCDec),
    scalar("Int", "access_int", 1, 1, R::Widest, 0, fnInt),
    scalar("Fix", "access_fix", 1, 1, R::Widest, 0, fnFix),
    scalar("Round", "access_round", 1, 2, R::Widest, 0, fnRound),
    scalar("Abs", "access_abs", 1, 1, R::Widest, 0, fnAbs),
    scalar("Sgn", "access_sgn", 1, 1, R::Fixed, dbInteger, fnSgn),
    scalar("Sqr", "access_sqr", 1, 1, R::Fixed, dbDouble, fnSqr),
    scalar("Exp", "access_exp", 1, 1, R::Fixed, dbDouble, fnExp),
    scalar("Log", "access_log", 1, 1, R::Fixed, dbDouble, fnLog),
    scalar("Atn", "access_atn", 1, 1, R::Fixed, dbDouble, fnAtn),
    scalar("Cos", "access_cos", 1, 1, R::Fixed, dbDouble, fnCos),
    scalar("Sin", "access_sin", 1, 1, R::Fixed, dbDouble, fnSin),
    scalar("Tan", "access_tan", 1, 1, R::Fixed, dbDouble, fnTan),
    scalar("Year", "access_year", 1, 1, R::Fixed, dbInteger, fnYear),
    scalar("Month", "access_month", 1, 1, R::Fixed, dbInteger, fnMonth),
    scalar("Day", "access_day", 1, 1, R::Fixed, dbInteger, fnDay),
    scalar("Hour", "access_hour", 1, 1, R::Fixed, dbInteger, fnHour),
    scalar("Minute", "access_minute", 1, 1, R::Fixed, dbInteger, fnMinute),
    scalar("Second", "access_second", 1, 1, R::Fixed, dbInteger, fnSecond),
    scalar("Weekday", "access_weekday", 1, 2, R::Fixed, dbInteger, fnWeekday),
    scalar("WeekdayName", "access_weekdayname", 1, 3, R::Fixed, dbText, fnWeekdayName),
    scalar("MonthName", "access_monthname", 1, 2, R::Fixed, dbText, fnMonthName),
    scalar("DatePart", "access_datepart", 2, 4, R::Fixed, dbInteger, fnDatePart),
    scalar("DateAdd", "access_dateadd", 3, 3, R::Fixed, dbDate, fnDateAdd),
    scalar("DateDiff", "access_datediff", 3, 5, R::Fixed, dbLong, fnDateDiff),
    scalar("DateSerial", "access_dateserial", 3, 3, R::Fixed, dbDate, fnDateSerial),
    scalar("DateValue", "access_datevalue", 1, 1, R::Fixed, dbDate, fnDateValue),
    scalar("TimeValue", "access_timevalue", 1, 1, R::Fixed, dbDate, fnTimeValue),
    scalar("TimeSerial", "access_timeserial", 3, 3, R::Fixed, dbDate, fnTimeSerial),
    scalar("Now", "access_now", 0, 0, R::Fixed, dbDate, fnNow),
    scalar("Date", "access_date", 0, 0, R::Fixed, dbDate, fnDate),
    scalar("Time", "access_time", 0, 0, R::Fixed, dbDate, fnTime),
    scalar("Asc", "access_asc", 1, 1, R::Fixed, dbInteger, fnAsc),
    scalar("AscW", "access_ascw", 1, 1, R::Fixed, dbInteger, fnAscW),
    scalar("Chr", "access_chr", 1, 1, R::Fixed, dbText, fnChr),
    scalar("ChrW", "access_chrw", 1, 1, R::Fixed, dbText, fnChrW),
    scalar("Hex", "access_hex", 1, 1, R::Fixed, dbText, fnHex),
    scalar("Oct", "access_oct", 1, 1, R::Fixed, dbText, fnOct),
    scalar("#DateText", kDateTextFunction, 1, 1, R::Fixed, dbText, fnDateText),
    // Operators.
    scalar("Like", "access_like", 2, 2, R::Fixed, dbBoolean, opLike),
    scalar("&", "access_concat", 2, 2, R::Fixed, dbText, opConcatenate),
    scalar("\\", "access_intdiv", 2, 2, R::Widest, 0, opIntegerDivide),
    scalar("Mod", "access_mod", 2, 2, R::Widest, 0, opMod),
    scalar("^", "access_power", 2, 2, R::Fixed, dbDouble, opPower),
    scalar("+", "access_plus", 2, 2, R::Widest, 0, opPlus),
    scalar("/", "access_divide", 2, 2, R::Fixed, dbDouble, opDivide),
    scalar("Not", "access_not", 1, 1, R::Widest, 0, opNot),
    scalar("And", "access_and", 2, 2, R::Widest, 0, opAnd),
    scalar("Or", "access_or", 2, 2, R::Widest, 0, opOr),
    scalar("Xor", "access_xor", 2, 2, R::Widest, 0, opXor),
    scalar("=", "access_eq", 2, 2, R::Fixed, dbBoolean, opEqual),
    scalar("<>", "access_ne", 2, 2, R::Fixed, dbBoolean, opNotEqual),
    scalar("<", "access_lt", 2, 2, R::Fixed, dbBoolean, opLess),
    scalar("<=", "access_le", 2, 2, R::Fixed, dbBoolean, opLessOrEqual),
    scalar(">", "access_gt", 2, 2, R::Fixed, dbBoolean, opGreater),
    scalar(">=", "access_ge", 2, 2, R::Fixed, dbBoolean, opGreaterOrEqual),
    // Aggregates. Avg and Count are SQLite's own: the same results over the same values (Nulls
    // left out, Count(*) every row, Avg of no values Null).
    aggregate("Sum", "access_sum", 1, R::SumOf, 0, &kSum),
    aggregate("Avg", "avg", 1, R::Fixed, dbDouble, nullptr),
    aggregate("Count", "count", 0, R::Fixed, dbLong, nullptr),
    aggregate("Min", "access_min", 1, R::FirstArgument, 0, &kMin),
    aggregate("Max", "access_max", 1, R::FirstArgument, 0, &kMax),
    aggregate("First", "access_first", 1, R::FirstArgument, 0, &kFirst),
    aggregate("Last", "access_last", 1, R::FirstArgument, 0, &kLast),
    aggregate("StDev", "access_stdev", 1, R::Fixed, dbDouble, &kStDev),
    aggregate("StDevP", "access_stdevp", 1, R::Fixed, dbDouble, &kStDevP),
    aggregate("Var", "access_var", 1, R::Fixed, dbDouble, &kVar),
    aggregate("VarP", "access_varp", 1, R::Fixed, dbDouble, &kVarP),
};

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

const Entry* findEntry(std::string_view name) {
  for (const Entry& entry : kEntries) {
    if (sameName(entry.info.accessName, name)) return &entry;
  }
  return nullptr;
}

// The order in which numeric types widen, as VBA widens the operands of arithmetic.
int widthRank(int16_t type) {
  switch (type) {
    case dbBoolean:
      return 1;
    case dbByte:
      return 2;
    case dbInteger:
      return 3;
    case dbLong:
      return 4;
    case dbBigInt:
      return 5;
    case dbSingle:
      return 6;
    case dbDouble:
      return 7;
    case dbCurrency:
      return 8;
    case dbDecimal:
      return 9;
    case dbDate:
      return 10;
    default:
      return 0;
  }
}

bool isTextType(int16_t type) {
  return type == dbText || type == dbMemo || type == dbChar || type == dbGUID;
}

bool isIntegerType(int16_t type) {
  return type == dbBoolean || type == dbByte || type == dbInteger || type == dbLong ||
         type == dbBigInt;
}

int16_t widest(const AccessFunctionInfo& function, std::span<const int16_t> types) {
  bool integerOperator = function.accessName == "\\" || function.accessName == "Mod";
  auto name = function.accessName;
  bool logical = name == "Not" || name == "And" || name == "Or" || name == "Xor";
  bool isOperator = integerOperator || logical || name == "+";
  if (!isOperator && types.size() > 1) types = types.first(1);  // Round's places do not count
  if (logical) {
    // True and False stay Yes/No; numbers combine bit by bit as Longs.
    bool allBoolean = true;
    for (int16_t type : types) allBoolean = allBoolean && type == dbBoolean;
    return allBoolean ? static_cast<int16_t>(dbBoolean) : static_cast<int16_t>(dbLong);
  }
  bool allText = !types.empty();
  int16_t result = 0;
  for (int16_t type : types) {
    if (type == 0) return 0;  // Null in, Null out
    allText = allText && isTextType(type);
    int16_t numeric = widthRank(type) ? type : static_cast<int16_t>(dbDouble);
    if (widthRank(numeric) > widthRank(result)) result = numeric;
  }
  if (function.accessName == "+" && allText) return dbText;
  if (result == dbBoolean) result = dbInteger;  // arithmetic on True gives an Integer
  if (integerOperator && !isIntegerType(result)) return dbLong;
  if (integerOperator && result == dbByte) return dbByte;
  if (function.accessName == "+" && types.size() == 2 && result == dbDate) return dbDate;
  return result;
}

void callScalar(sqlite3_context* context, int argc, sqlite3_value** argv) {
  const auto* entry = static_cast<const Entry*>(sqlite3_user_data(context));
  try {
    entry->scalar(access_sql::Call{context, argc, argv, entry->info.accessName});
  } catch (const access_sql::FunctionError& error) {
    sqlite3_result_error(context, error.message.c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

void callStep(sqlite3_context* context, int argc, sqlite3_value** argv) {
  const auto* entry = static_cast<const Entry*>(sqlite3_user_data(context));
  try {
    entry->aggregate->step(access_sql::Call{context, argc, argv, entry->info.accessName});
  } catch (const access_sql::FunctionError& error) {
    sqlite3_result_error(context, error.message.c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

void callFinal(sqlite3_context* context) {
  const auto* entry = static_cast<const Entry*>(sqlite3_user_data(context));
  try {
    entry->aggregate->final(context, entry->info.accessName);
  } catch (const access_sql::FunctionError& error) {
    sqlite3_result_error(context, error.message.c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

}  // namespace

const AccessFunctionInfo* findAccessFunction(std::string_view name) {
  if (!name.empty() && name[0] == '#') return nullptr;  // ours, for the translator alone
  const Entry* entry = findEntry(name);
  // Left$, Format$...: the forms that return a String rather than a Variant.
  if (!entry && name.size() > 1 && name.back() == '$') {
    entry = findEntry(name.substr(0, name.size() - 1));
    if (entry && (entry->info.daoType != dbText || entry->info.accessName.size() < 2 ||
                  !std::isalpha(static_cast<unsigned char>(entry->info.accessName[0]))))
      entry = nullptr;
  }
  return entry ? &entry->info : nullptr;
}

int16_t accessResultType(const AccessFunctionInfo& function, std::span<const int16_t> types) {
  switch (function.result) {
    case ResultRule::Fixed:
      return function.daoType;
    case ResultRule::FirstArgument:
      if (function.accessName == "IIf" || function.accessName == "Switch" ||
          function.accessName == "Choose") {
        // The type of the first value that is not a Null literal: IIf's and Choose's from their
        // second argument on, Switch's from every second.
        size_t step = function.accessName == "Switch" ? 2 : 1;
        for (size_t i = 1; i < types.size(); i += step) {
          if (types[i] != 0) return types[i];
        }
        return 0;
      }
      return types.empty() ? 0 : types[0];
    case ResultRule::Widest:
      return widest(function, types);
    case ResultRule::SumOf: {
      if (types.empty()) return 0;
      int16_t type = types[0];
      if (type == dbCurrency || type == dbDecimal || type == dbDate || type == dbBigInt)
        return type;
      if (isIntegerType(type)) return dbLong;
      return type == 0 ? 0 : dbDouble;
    }
  }
  return 0;
}

int registerAccessFunctions(sqlite3* db) {
  int rc = sqlite3_create_collation_v2(db, kAccessCollation, SQLITE_UTF8, nullptr,
                                       access_sql::collate, nullptr);
  for (const Entry& entry : kEntries) {
    if (rc != SQLITE_OK) break;
    if (!entry.scalar && !entry.aggregate) continue;
    const std::string name(entry.info.sqlName);
    // Now, Date and Time read the clock; the rest give the same result for the same arguments.
    int flags = SQLITE_UTF8 | (entry.info.maxArgs == 0 ? 0 : SQLITE_DETERMINISTIC);
    for (int count = entry.info.minArgs; count <= entry.info.maxArgs && rc == SQLITE_OK; ++count) {
      void* data = const_cast<Entry*>(&entry);
      rc = entry.scalar ? sqlite3_create_function_v2(db, name.c_str(), count, flags, data,
                                                     callScalar, nullptr, nullptr, nullptr)
                        : sqlite3_create_function_v2(db, name.c_str(), count, flags, data, nullptr,
                                                     callStep, callFinal, nullptr);
    }
  }
  return rc;
}
