// Cells a spreadsheet can sort, filter and reckon with (/CELLS=TYPED): dates as date cells, money
// and decimals with number formats, integers and decimals a double cannot hold exactly as texts
// of their exact digits. Everything else is written as the plain conversion writes it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "source/variant.h"
#include "workbook/xl.h"

// Number format codes of typed cells.
inline constexpr const char* kDateTimeFormat = "yyyy-mm-dd hh:mm:ss";
inline constexpr const char* kDateFormat = "yyyy-mm-dd";
inline constexpr const char* kTimeFormat = "hh:mm:ss";
inline constexpr const char* kCurrencyFormat = "#,##0.00##";
// Yes/No shown as TRUE and FALSE: LibreOffice shows a boolean cell in General as 1 or 0.
inline constexpr const char* kBooleanFormat = "\"TRUE\";\"TRUE\";\"FALSE\"";

// The cell formats of one book, found or made on first use.
struct TypedFormats {
  BookHandle book = nullptr;
  std::map<std::string, FormatHandle> byCode;
  std::string currency = kCurrencyFormat;  // with the user's currency sign: see currencyFormatCode
  // Yes/No as 1 and 0 in kBooleanFormat rather than as boolean cells: LibreOffice shows an .xls
  // boolean cell (even one of its own) as 1 or 0, and a number in that format as TRUE or FALSE.
  bool booleansAsNumbers = false;
};

// The typed formats of a book of that type (0 .xls, 1 .xlsx), money with the sign of the user's
// LC_MONETARY.
TypedFormats typedFormatsOf(BookHandle book, int bookType);
// kCurrencyFormat with the currency sign of the locale (LC_ALL, LC_MONETARY or LANG when empty),
// before or after the number as the locale places it; kCurrencyFormat itself where it has none.
std::string currencyFormatCode(const std::string& monetaryLocale = "");
// The cell format of link cells: the default look, blue and underlined.
FormatHandle linkFormat(TypedFormats& formats);

// A format of the book with that number format code and weight: one made earlier through
// xl.h when there is one, else a new one. Null when the book takes no more formats.
FormatHandle bookFormat(BookHandle book, const std::string& code, bool bold, bool link = false);

// The shape of a date cell, and the Excel day number it holds.
enum class DateShape { None, DateTime, Date, Time };
struct ExcelDate {
  DateShape shape = DateShape::None;  // None: no date Excel can hold; the value stays text
  double serial = 0;
};
// An OLE day number (days since 1899-12-30, time as the fraction) as Excel holds it, to the
// millisecond. Days before 1900-03-01 (other than day 0, a time of day) and after 9999 are None:
// Excel counts a 1900-02-29 that never was, so its earlier day numbers mean other days.
ExcelDate excelDateOfOleDay(double day);
ExcelDate excelDateOfExtended(const ExtendedDateValue& value);
// The date as a book of that date system holds it: in the 1904 system days count from
// 1904-01-01, and earlier days are None; a time of day stays a fraction of day 0.
ExcelDate inDateSystem(ExcelDate date, bool date1904);

// The value's cell at (row, column) in typed form.
void writeTypedCellValue(TypedFormats& formats, SheetHandle sheet, int row, int column, int16_t fieldType,
                         const Variant& value);
