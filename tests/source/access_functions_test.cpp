// The Access functions through SQL on an in-memory SQLite database, against the values of
// Microsoft's VBA and Access references. Dates are OLE dates: 25246 is 1969-02-12.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "source/dao_types.h"
#include "source/query/access_functions.h"

namespace {

class AccessFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(registerAccessFunctions(db), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db); }

  // The first column of the first row as text ("NULL" for Null), or "ERROR: message".
  std::string value(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT " + sql).c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return "PREPARE: " + std::string(sqlite3_errmsg(db));
    std::string out;
    int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      out = sqlite3_column_type(statement, 0) == SQLITE_NULL
                ? "NULL"
                : reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    } else {
      out = "ERROR: " + std::string(sqlite3_errmsg(db));
    }
    sqlite3_finalize(statement);
    return out;
  }
  double number(const std::string& sql) { return std::stod(value(sql)); }
  void run(const std::string& sql) { ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db); }

  sqlite3* db = nullptr;
};

TEST_F(AccessFunctions, TextFunctions) {
  EXPECT_EQ(value("access_mid('Mid Function Demo', 1, 3)"), "Mid");
  EXPECT_EQ(value("access_mid('Mid Function Demo', 14, 4)"), "Demo");
  EXPECT_EQ(value("access_mid('Mid Function Demo', 5)"), "Function Demo");
  EXPECT_EQ(value("access_left('Grüße', 3)"), "Grü");
  EXPECT_EQ(value("access_right('Hello World', 5)"), "World");
  EXPECT_EQ(value("access_left(NULL, 3)"), "NULL");
  EXPECT_EQ(value("access_len('Grüße')"), "5");
  EXPECT_EQ(value("access_len(123.5)"), "5");
  EXPECT_EQ(value("access_instr(4, 'XXpXXpXXPXXP', 'P', 1)"), "6");
  EXPECT_EQ(value("access_instr(1, 'XXpXXpXXPXXP', 'P', 0)"), "9");
  EXPECT_EQ(value("access_instr('XXpXXpXXPXXP', 'W')"), "0");
  EXPECT_EQ(value("access_instr('XXpXXpXXPXXP', 'p')"), "3");  // a query compares as text
  EXPECT_EQ(value("access_instrrev('abcabc', 'b')"), "5");
  EXPECT_EQ(value("access_instrrev('abcabc', 'b', 4)"), "2");
  EXPECT_EQ(value("access_ucase('straße é')"), "STRAßE É");
  EXPECT_EQ(value("access_lcase('ÀB')"), "àb");
  EXPECT_EQ(value("'[' || access_trim('  a b  ') || '|' || access_ltrim('  x ') || '|' || access_rtrim(' y  ') || ']'"), "[a b|x | y]");
  EXPECT_EQ(value("access_space(3) || access_string(3, '*x') || access_string(2, 65)"), "   ***AA");
  EXPECT_EQ(value("access_replace('aXbxc', 'x', '-')"), "a-b-c");
  EXPECT_EQ(value("access_replace('aXbxc', 'x', '-', 3)"), "b-c");
  EXPECT_EQ(value("access_replace('aXbxc', 'x', '-', 1, 1, 0)"), "aXb-c");
  EXPECT_EQ(value("access_strreverse('abc')"), "cba");
  EXPECT_EQ(value("access_strcomp('ABCD', 'abcd', 1)"), "0");
  EXPECT_EQ(value("access_strcomp('ABCD', 'abcd', 0)"), "-1");
  EXPECT_EQ(value("access_asc('A') || ',' || access_asc('€') || ',' || access_chr(128) || access_chrw(8364)"), "65,128,€€");
  EXPECT_EQ(value("access_concat(NULL, 'a') || access_concat(1.5, 2)"), "a1.52");
  EXPECT_EQ(value("access_concat(NULL, NULL)"), "NULL");
  EXPECT_EQ(value(std::string(kDateTextFunction) + "(25246.75)"), "2/12/1969 6:00:00 PM");
}

TEST_F(AccessFunctions, ConversionsAndArithmetic) {
  EXPECT_EQ(value("access_val('    1615 198th Street N.E.')"), "1615198.0");
  EXPECT_EQ(value("access_val('&HFFFF')"), "-1.0");
  EXPECT_EQ(value("access_val('24 and 57') + access_val('1e3x')"), "1024.0");
  EXPECT_EQ(value("'[' || access_str(459) || '|' || access_str(-459.65) || ']'"), "[ 459|-459.65]");
  EXPECT_EQ(value("access_cstr(0.00001) || ' ' || access_cstr(1e20) || ' ' || access_cstr(1/3.0)"), "1E-05 1E+20 0.333333333333333");
  EXPECT_EQ(value("access_cint(2.5) || access_cint(3.5) || access_cint(-2.5) || access_cint(' 1,234 ')"), "24-21234");
  EXPECT_EQ(value("access_clng('$12.5') || ' ' || access_cbyte(255) || ' ' || access_cbool('True') || access_cbool(0)"), "12 255 -10");
  EXPECT_EQ(value("access_ccur(1.23456) || ' ' || access_ccur(526.5 * 0.75 / 100) || ' ' || access_ccur(0.00005) || ' ' || access_round(2.675, 2)"), "1.2346 3.9487 0.0001 2.67");
  EXPECT_EQ(value("access_csng(1.1)"), "1.1");
  EXPECT_EQ(value("access_cdate('February 12, 1969')"), "25246.0");
  EXPECT_EQ(value("access_round(2.5) || access_round(3.5) || ' ' || access_round(0.125, 2) || ' ' || access_round(-2.5)"), "2.04.0 0.12 -2.0");
  EXPECT_EQ(value("access_int(-8.4) || ' ' || access_fix(-8.4) || ' ' || access_int(8.7)"), "-9.0 -8.0 8.0");
  EXPECT_EQ(value("access_abs(-3) || access_sgn(-0.5) || access_sgn(0) || ' ' || access_sqr(16)"), "3-10 4.0");
  EXPECT_EQ(value("access_hex(459) || ' ' || access_oct(459) || ' ' || access_hex(-1) || ' ' || access_hex(-65536)"), "1CB 713 FFFF FFFF0000");
  EXPECT_EQ(value("access_intdiv(19, 6.7) || access_intdiv(-7, 2) || ' ' || access_mod(12, 4.3) || access_mod(12.6, 5) || access_mod(-7, 2)"), "2-3 03-1");
  EXPECT_EQ(value("access_power(2, 10) || ' ' || access_plus('a', 'b') || ' ' || access_plus('2', 3)"), "1024.0 ab 5");
  EXPECT_EQ(value("access_xor(-1, 0) || access_xor(-1, -1) || access_not(0) || access_not(-1) || access_and(12, 10) || access_or(12, 3)"), "-10-10815");
  EXPECT_EQ(value("access_and(0, NULL) || access_or(-1, NULL) || quote(access_and(-1, NULL)) || quote(access_or(0, NULL))"), "0-1NULLNULL");
  EXPECT_EQ(value("access_divide(7, 2) || ' ' || access_divide(1, 0)"), "ERROR: /: division by zero");
  EXPECT_EQ(value("access_divide(7, 2)"), "3.5");
  EXPECT_EQ(value("access_iif('abc' = 'abc', 'yes', 'no') || access_iif(NULL, 1, 2) || access_nz(NULL, 7) || '[' || access_nz(NULL) || ']'"), "yes27[]");
  EXPECT_EQ(value("access_switch(0, 'a', 1 > 0, 'b', 1, 'c') || access_choose(2.4, 'x', 'y', 'z') || quote(access_choose(4, 'x', 'y', 'z')) || quote(access_switch(0, 1))"), "byNULLNULL");
  EXPECT_EQ(value("access_partition(-3, 0, 99, 5) || '|' || access_partition(97, 0, 99, 5) || '|' || access_partition(1010, 100, 1010, 20) || '|' || access_partition(1500, 100, 1010, 20) || '|' || access_partition(100, 0, 1000, 1)"), "   : -1| 95: 99|1000:1010|1011:    | 100: 100");
  EXPECT_EQ(value("access_switch(1, 2, 3)"), "ERROR: Switch: needs its expressions and values in pairs");
  EXPECT_EQ(value("access_isnull(NULL) || access_isnumeric('1e3') || access_isnumeric('abc') || access_isdate('2/30/2020') || access_isdate('1/31/2020')"), "-1-100-1");
}

TEST_F(AccessFunctions, ValuesAFunctionCannotTakeFailTheStatement) {
  EXPECT_EQ(value("access_cint('abc')"), "ERROR: CInt: type mismatch: \"abc\"");
  EXPECT_EQ(value("access_cint(40000)"), "ERROR: CInt: overflow: 40000");
  EXPECT_EQ(value("access_cstr(NULL)"), "ERROR: CStr: invalid use of Null");
  EXPECT_EQ(value("access_left('abc', -1)"), "ERROR: Left: invalid argument: -1");
  EXPECT_EQ(value("access_dateadd('x', 1, 0)"), "ERROR: DateAdd: invalid argument: \"x\"");
  EXPECT_EQ(value("access_intdiv(1, 0.4)"), "ERROR: \\: division by zero");
  EXPECT_EQ(value("access_sqr(-1)"), "ERROR: Sqr: invalid argument: -1");
  EXPECT_EQ(value("access_space(2000000000)"), "ERROR: Space: out of string space: 2000000000");
  EXPECT_EQ(value("access_eq(5, 'five')"), "ERROR: =: type mismatch: \"five\"");
}

// Null gives Null where VBA propagates it, and fails where VBA raises "Invalid use of Null".
TEST_F(AccessFunctions, NullAsVbaTakesIt) {
  for (const char* call : {"left(NULL, 1)", "right(NULL, 1)", "mid(NULL, 1)", "len(NULL)", "instr(NULL, 'a')",
                           "instrrev('a', NULL)", "ucase(NULL)", "trim(NULL)", "string(NULL, 'a')", "strcomp(NULL, 'a')",
                           "str(NULL)", "cvar(NULL)", "int(NULL)", "round(NULL, 2)", "abs(NULL)", "sgn(NULL)", "year(NULL)",
                           "second(NULL)", "weekday(NULL)", "datepart('d', NULL)", "dateadd('d', 1, NULL)",
                           "datediff('d', NULL, 1)", "datevalue(NULL)", "hex(NULL)", "like(NULL, 'a')", "intdiv(1, NULL)",
                           "mod(NULL, 2)", "power(NULL, 2)", "plus(NULL, 'a')", "eq(NULL, NULL)"})
    EXPECT_EQ(value("access_" + std::string(call)), "NULL") << call;
  for (const char* call : {"space(NULL)", "replace(NULL, 'a', 'b')", "strreverse(NULL)", "val(NULL)", "cstr(NULL)",
                           "cint(NULL)", "cdbl(NULL)", "ccur(NULL)", "cdate(NULL)", "cbool(NULL)", "weekdayname(NULL)",
                           "monthname(NULL)", "dateadd('d', NULL, 1)", "dateserial(NULL, 1, 1)", "timeserial(1, NULL, 1)",
                           "asc(NULL)", "chr(NULL)"})
    EXPECT_NE(value("access_" + std::string(call)).find("invalid use of Null"), std::string::npos) << call;
  EXPECT_EQ(value("access_isnumeric(NULL) || access_isdate(NULL) || access_format(NULL, 'Short Date') || access_iif(NULL, 1, 2)"), "002");
}

TEST_F(AccessFunctions, Dates) {
  EXPECT_EQ(value("access_dateserial(1969, 2, 12)"), "25246.0");
  EXPECT_EQ(value("access_dateserial(1990 - 10, 8 - 2, 1 - 1) = access_cdate('5/31/1980')"), "1");
  EXPECT_EQ(value("access_dateserial(99, 13, 1) = access_dateserial(2000, 1, 1)"), "1");
  EXPECT_EQ(value("access_dateserial(20, 1, -1) = access_cdate('12/30/2019')"), "1");
  EXPECT_EQ(value("access_year(25246.75) || '-' || access_month(25246.75) || '-' || access_day(25246.75) || ' ' || access_hour(25246.75) || ':' || access_minute(25246.75) || ':' || access_second(25246.75)"), "1969-2-12 18:0:0");
  EXPECT_EQ(value("access_hour(-1.25) || access_day(-1.25)"), "629");  // 1899-12-29 06:00
  EXPECT_EQ(value("access_weekday(25246) || access_weekday(25246, 2) || access_weekdayname(4) || access_monthname(2, 1)"), "43WednesdayFeb");
  EXPECT_EQ(value("access_dateadd('m', 1, '31-Jan-95') = access_cdate('2/28/1995')"), "1");
  EXPECT_EQ(value("access_dateadd('m', 1, '31-Jan-96') = access_cdate('2/29/1996')"), "1");
  EXPECT_EQ(value("access_dateadd('h', 30, 25246.5) = 25247.75"), "1");
  EXPECT_EQ(value("access_dateadd('d', -1, 0.25) = -1.25"), "1");
  EXPECT_EQ(value("access_dateadd('yyyy', -1, '2/29/2000') = access_cdate('2/28/1999')"), "1");
  EXPECT_EQ(value("access_datediff('d', '1/1/2000 23:59', '1/2/2000 0:01')"), "1");
  EXPECT_EQ(value("access_datediff('yyyy', '12/31/1999', '1/1/2000') || access_datediff('m', '1/31/2000', '3/1/2000') || access_datediff('q', '3/31/2000', '4/1/2000')"), "121");
  EXPECT_EQ(value("access_datediff('h', '10:59', '11:00') || access_datediff('n', '10:00', '9:58') || access_datediff('s', 0, 1)"), "1-286400");
  // 1/1/2000 was a Saturday: one Sunday lies between it and 1/9/2000, two Sundays up to it.
  EXPECT_EQ(value("access_datediff('w', '1/1/2000', '1/9/2000') || access_datediff('ww', '1/1/2000', '1/9/2000')"), "12");
  EXPECT_EQ(value("access_datepart('ww', '1/1/2000') || access_datepart('ww', '1/2/2000') || ' ' || access_datepart('ww', '1/3/2000', 2, 2) || ' ' || access_datepart('ww', '1/1/2000', 2, 2)"), "12 1 52");
  EXPECT_EQ(value("access_datepart('q', '8/15/2020') || access_datepart('y', '2/1/2020') || access_datepart('w', '8/15/2020')"), "3327");
  EXPECT_EQ(value("access_datevalue('2/12/1969 6:00 PM') || ' ' || access_timevalue('2/12/1969 6:00 PM')"), "25246.0 0.75");
  EXPECT_EQ(value("abs(access_timeserial(12 - 6, -15, 0) - 5.75 / 24) < 1e-12"), "1");
  EXPECT_EQ(value("access_cdate('2004-01-05') || access_cdate('Jan 5, 04') || access_cdate('5 January 2004')"), "37991.037991.037991.0");
  EXPECT_EQ(value("access_cdate('1/5/2004 6:00:00.1234567 PM') || ' ' || access_second('2004-01-05 18:00:59.75')"), "37991.75 59");
  EXPECT_GT(number("access_now()"), 46000);
  EXPECT_EQ(value("access_date() = access_datevalue(access_now())"), "1");
}

TEST_F(AccessFunctions, Format) {
  auto format = [this](const std::string& args) { return value("access_format(" + args + ")"); };
  EXPECT_EQ(format("5459.4, '##,##0.00'"), "5,459.40");
  EXPECT_EQ(format("334.9, '###0.00'"), "334.90");
  EXPECT_EQ(format("5, '0.00%'"), "500.00%");
  EXPECT_EQ(format("'HELLO', '<'") + format("'This is it', '>'"), "helloTHIS IS IT");
  EXPECT_EQ(format("access_timevalue('17:04:23'), 'h:m:s'"), "17:4:23");
  EXPECT_EQ(format("access_timevalue('17:04:23'), 'hh:mm:ss AMPM'"), "05:04:23 PM");
  EXPECT_EQ(format("'January 27, 1993', 'dddd, mmm d yyyy'"), "Wednesday, Jan 27 1993");
  EXPECT_EQ(format("1234.5, 'Currency'") + format("-1234.5, 'currency'"), "$1,234.50($1,234.50)");
  EXPECT_EQ(format("1234.5, 'Fixed'") + " " + format("1234.5, 'Standard'") + " " + format("0.1234, 'Percent'") + " " + format("1234.5, 'Scientific'"), "1234.50 1,234.50 12.34% 1.23E+03");
  EXPECT_EQ(format("0, 'Yes/No'") + format("-1, 'True/False'") + format("1, 'On/Off'") + format("'abc', 'Yes/No'") + format("2.5, 'General Number'"), "NoTrueOnabc2.5");
  EXPECT_EQ(format("25246.75, 'General Date'") + "|" + format("25246.75, 'Long Date'") + "|" + format("25246.75, 'Medium Date'") + "|" + format("25246.75, 'Short Date'"), "2/12/1969 6:00:00 PM|Wednesday, February 12, 1969|12-Feb-69|2/12/1969");
  EXPECT_EQ(format("25246.75, 'Long Time'") + "|" + format("25246.75, 'Medium Time'") + "|" + format("25246.75, 'Short Time'"), "6:00:00 PM|06:00 PM|18:00");
  EXPECT_EQ(format("-5, '0;(0)'") + format("0, '0;(0);\"Zero\"'") + format("NULL, '0;(0);\"Zero\";\"Nil\"'") + "[" + format("NULL, '0'") + "]", "(5)ZeroNil[]");
  EXPECT_EQ(format("2.5, '0'") + " " + format("0.125, '0.00'") + " " + format("0.5, '#.##'") + " " + format("5, '#.##'") + " " + format("-2.5, '0'"), "3 0.13 .5 5. -3");
  EXPECT_EQ(format("1234567, '#,##0,'") + " " + format("5551234567, '(000) 000-0000'") + " " + format("0.000123, '0.0E-00'"), "1,235 (555) 123-4567 1.2E-04");
  EXPECT_EQ(format("25246, 'q y w ww'") + "|" + format("25246, 'yyyy\\y \"at\" mm'") + "|" + format("25246.5, 'c'"), "1 43 4 7|1969y at 02|2/12/1969 12:00:00 PM");
  EXPECT_EQ(format("'abc', '@@@@@'") + "|" + format("'abc', '!@@@@@'") + "|" + format("'5551234', '@@@-@@@@'"), "  abc|abc  |555-1234");
  EXPECT_EQ(value("access_formatnumber(-1234.567) || '|' || access_formatnumber(0.5, 1, 0) || '|' || access_formatcurrency(-1234.5) || '|' || access_formatpercent(0.256, 1) || '|' || access_formatnumber(1234, 0, -1, -1, 0)"), "-1,234.57|.5|($1,234.50)|25.6%|1234");
  EXPECT_EQ(value("access_formatdatetime(25246.75) || '|' || access_formatdatetime(25246.75, 1) || '|' || access_formatdatetime(25246.75, 4)"), "2/12/1969 6:00:00 PM|Wednesday, February 12, 1969|18:00");
  EXPECT_EQ(format("'abc', 'yyyy'") + format("'abc', '0.00'") + format("12") + format("'2/12/1969', 'yyyy mmm'"), "abcabc121969 Feb");
}

TEST_F(AccessFunctions, LikeComparisonsAndCollation) {
  EXPECT_EQ(value("access_like('aBBBa', 'a*a') || access_like('F', '[A-Z]') || access_like('a2a', 'a#a') || access_like('aM5b', 'a[L-P]#[!c-e]')"), "-1-1-1-1");
  EXPECT_EQ(value("access_like('BAT123khg', 'b?t*') || access_like('CAT123khg', 'B?T*') || access_like('é', 'e') || access_like('a*b', 'a[*]b')"), "-100-1");
  EXPECT_EQ(value("access_like(NULL, '*')"), "NULL");
  EXPECT_EQ(value("access_eq('abc', 'ABC') || access_lt('a', 'á') || access_lt('á', 'B') || access_lt('coop', 'co-op') || access_lt('co-op', 'cooperate') || access_eq('Co-op', 'co-OP')"), "-1-1-1-1-1-1");
  EXPECT_EQ(value("access_lt('!', '1') || access_lt('9', 'a') || access_eq(1, '1.0') || access_lt(2, 10)"), "-1-1-1-1");
  EXPECT_EQ(value("access_gt('b', NULL)"), "NULL");
  EXPECT_EQ(value("access_eq(37991.0, '1/5/2004') || access_lt('1/4/2004', 37991.0)"), "-1-1");
  run("CREATE TABLE t(x TEXT COLLATE ACCESS); INSERT INTO t VALUES ('b'), ('Á'), ('a'), ('ä'), ('B'), ('Z'), ('ab')");
  EXPECT_EQ(value("group_concat(x, ' ') FROM (SELECT x FROM t ORDER BY x, x COLLATE BINARY)"), "a Á ä ab B b Z");
  EXPECT_EQ(value("count(*) FROM (SELECT DISTINCT x FROM t)"), "6");
}

TEST_F(AccessFunctions, Aggregates) {
  run("CREATE TABLE v(x); INSERT INTO v VALUES (2), (4), (4), (NULL), (4), (5), (5), (7), (9)");
  EXPECT_EQ(value("access_sum(x) || ' ' || access_min(x) || ' ' || access_max(x) || ' ' || access_first(x) || access_last(x) FROM v"), "40 2 9 29");
  EXPECT_EQ(value("access_stdevp(x) || ' ' || access_varp(x) || ' ' || round(access_stdev(x), 6) || ' ' || round(access_var(x), 6) FROM v"), "2.0 4.0 2.13809 4.571429");
  EXPECT_EQ(value("access_sum(x) FROM v WHERE x > 100"), "NULL");
  EXPECT_EQ(value("access_stdev(x) FROM v WHERE x = 2"), "NULL");
  run("CREATE TABLE c(x); INSERT INTO c VALUES (0.1), (0.1), (0.1), (0.1), (0.1), (0.1), (0.1), (0.1), (0.1), (0.1), (NULL)");
  EXPECT_EQ(value("access_sum(x) = 1.0 FROM c"), "1");
  EXPECT_EQ(value("quote(access_last(x)) FROM c"), "NULL");  // the last record's value, Null or not
  run("CREATE TABLE s(x); INSERT INTO s VALUES ('b'), ('A'), ('c')");
  EXPECT_EQ(value("access_min(x) || access_max(x) FROM s"), "Ac");
  EXPECT_EQ(value("access_sum(x) FROM s"), "ERROR: Sum: type mismatch: \"b\"");
}

TEST(AccessFunctionTable, NamesAndResultTypes) {
  ASSERT_NE(findAccessFunction("dateadd"), nullptr);
  EXPECT_EQ(findAccessFunction("DateAdd")->sqlName, "access_dateadd");
  ASSERT_NE(findAccessFunction("Left$"), nullptr);
  EXPECT_EQ(findAccessFunction("Year$"), nullptr);
  EXPECT_EQ(findAccessFunction("NoSuchFunction"), nullptr);
  EXPECT_EQ(findAccessFunction("#DateText"), nullptr);
  auto type = [](const char* name, std::vector<int16_t> args) {
    return accessResultType(*findAccessFunction(name), args);
  };
  EXPECT_EQ(type("Sum", {dbCurrency}), dbCurrency);
  EXPECT_EQ(type("Sum", {dbInteger}), dbLong);
  EXPECT_EQ(type("Sum", {dbSingle}), dbDouble);
  EXPECT_EQ(type("Count", {dbText}), dbLong);
  EXPECT_EQ(type("Avg", {dbInteger}), dbDouble);
  EXPECT_EQ(type("Left", {dbMemo, dbLong}), dbText);
  EXPECT_EQ(type("Year", {dbDate}), dbInteger);
  EXPECT_EQ(type("DateAdd", {dbText, dbLong, dbDate}), dbDate);
  EXPECT_EQ(type("IIf", {dbBoolean, dbCurrency, dbDouble}), dbCurrency);
  EXPECT_EQ(type("Nz", {dbDate, dbText}), dbDate);
  EXPECT_EQ(type("Switch", {dbBoolean, 0, dbBoolean, dbText}), dbText);
  EXPECT_EQ(type("Int", {dbDouble}), dbDouble);
  EXPECT_EQ(type("Round", {dbCurrency, dbDouble}), dbCurrency);
  EXPECT_EQ(type("\\", {dbDouble, dbInteger}), dbLong);
  EXPECT_EQ(type("+", {dbText, dbText}), dbText);
  EXPECT_EQ(type("And", {dbBoolean, dbBoolean}), dbBoolean);
  EXPECT_EQ(type("Or", {dbBoolean, dbInteger}), dbLong);
  EXPECT_EQ(type("Max", {dbText}), dbText);
}

}  // namespace
