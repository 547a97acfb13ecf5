// The bodies of the Access functions, one per entry of the function table (access_functions.cpp).
// A body reads its arguments from a Call, sets the result on its context, and throws
// FunctionError for a value it cannot take.
#pragma once

#include <sqlite3.h>

#include <string_view>

namespace access_sql {

struct Call {
  sqlite3_context* context;
  int argc;
  sqlite3_value** argv;
  std::string_view name;  // as Access spells it, for messages
  sqlite3_value* operator[](int i) const { return argv[i]; }
  bool has(int i) const { return i < argc; }
};

using ScalarBody = void (*)(const Call&);

// An aggregate keeps its state in sqlite3_aggregate_context; `final` also frees what it holds.
struct AggregateBody {
  void (*step)(const Call&);
  void (*final)(sqlite3_context*, std::string_view name);
};

// access_numbers.cpp: conversions, arithmetic, the tests of kinds, IIf and Nz.
void fnIIf(const Call&);
void fnNz(const Call&);
void fnSwitch(const Call&);
void fnChoose(const Call&);
void fnPartition(const Call&);
void fnIsNull(const Call&);
void fnIsEmpty(const Call&);
void fnStrConv(const Call&);
void fnCurrentUser(const Call&);
void fnIsNumeric(const Call&);
void fnIsDate(const Call&);
void fnVal(const Call&);
void fnStr(const Call&);
void fnCStr(const Call&);
void fnCInt(const Call&);
void fnCLng(const Call&);
void fnCByte(const Call&);
void fnCSng(const Call&);
void fnCDbl(const Call&);
void fnCCur(const Call&);
void fnCDec(const Call&);
void fnCDate(const Call&);
void fnCBool(const Call&);
void fnCVar(const Call&);
void fnInt(const Call&);
void fnFix(const Call&);
void fnRound(const Call&);
void fnAbs(const Call&);
void fnSgn(const Call&);
void fnSqr(const Call&);
void fnExp(const Call&);
void fnLog(const Call&);
void fnAtn(const Call&);
void fnCos(const Call&);
void fnSin(const Call&);
void fnTan(const Call&);
void fnHex(const Call&);
void fnOct(const Call&);
void opIntegerDivide(const Call&);
void opMod(const Call&);
void opPower(const Call&);
void opPlus(const Call&);
void opXor(const Call&);
void opDivide(const Call&);
void opNot(const Call&);
void opAnd(const Call&);
void opOr(const Call&);

// access_text.cpp
void fnLeft(const Call&);
void fnRight(const Call&);
void fnMid(const Call&);
void fnLen(const Call&);
void fnInStr(const Call&);
void fnInStrRev(const Call&);
void fnUCase(const Call&);
void fnLCase(const Call&);
void fnTrim(const Call&);
void fnLTrim(const Call&);
void fnRTrim(const Call&);
void fnSpace(const Call&);
void fnString(const Call&);
void fnReplace(const Call&);
void fnStrReverse(const Call&);
void fnStrComp(const Call&);
void fnAsc(const Call&);
void fnAscW(const Call&);
void fnChr(const Call&);
void fnChrW(const Call&);
void opConcatenate(const Call&);
void fnDateText(const Call&);

// access_dates.cpp
void fnYear(const Call&);
void fnMonth(const Call&);
void fnDay(const Call&);
void fnHour(const Call&);
void fnMinute(const Call&);
void fnSecond(const Call&);
void fnWeekday(const Call&);
void fnWeekdayName(const Call&);
void fnMonthName(const Call&);
void fnDatePart(const Call&);
void fnDateAdd(const Call&);
void fnDateDiff(const Call&);
void fnDateSerial(const Call&);
void fnDateValue(const Call&);
void fnTimeValue(const Call&);
void fnTimeSerial(const Call&);
void fnNow(const Call&);
void fnDate(const Call&);
void fnTime(const Call&);

// access_format.cpp
void fnFormat(const Call&);
void fnFormatNumber(const Call&);
void fnFormatCurrency(const Call&);
void fnFormatPercent(const Call&);
void fnFormatDateTime(const Call&);

// access_compare.cpp: Like, the comparisons and the collation.
void opLike(const Call&);
void opEqual(const Call&);
void opNotEqual(const Call&);
void opLess(const Call&);
void opLessOrEqual(const Call&);
void opGreater(const Call&);
void opGreaterOrEqual(const Call&);
// Access's order of two values: Null first, numbers by value, texts by the collation, numbers
// before texts. Returns <0, 0 or >0.
int compareValues(sqlite3_value* a, sqlite3_value* b);
int compareTexts(std::string_view a, std::string_view b);  // the collation
int compareTextsBinary(std::string_view a, std::string_view b);
int collate(void*, int aLength, const void* a, int bLength, const void* b);

// access_aggregates.cpp
extern const AggregateBody kSum, kMin, kMax, kFirst, kLast, kStDev, kStDevP, kVar, kVarP;

}  // namespace access_sql
