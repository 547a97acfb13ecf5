#include "workbook/export/typed_cell_value.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <langinfo.h>

#include "platform/civil_date.h"
#include "workbook/export/cell_value.h"
#include "workbook/export/value_text.h"

namespace {

// Excel's day 61 is 1900-03-01; from there on its day numbers are the OLE ones.
constexpr double kFirstUnambiguousDay = 61;
constexpr double kFirstDayAfter9999 = 2958466;  // 10000-01-01
constexpr int64_t kMillisecondsPerDay = 86400000;
// The 1904 date system's day 0 is 1904-01-01, day 1462 of the 1900 system.
constexpr double kDaysFrom1900To1904 = 1462;
// A double holds every integer up to 2^53 exactly, and every decimal of 15 significant digits.
constexpr int64_t kLargestExactInteger = int64_t{1} << 53;
constexpr size_t kMostExactDigits = 15;


const int64_t kOleDayZero = daysFromCivil(1899, 12, 30);

ExcelDate classify(int64_t days, int64_t ms) {
  if (ms >= kMillisecondsPerDay) {
    days += 1;
    ms -= kMillisecondsPerDay;
  }
  ExcelDate date;
  if (days != 0 && (days < kFirstUnambiguousDay || days >= kFirstDayAfter9999)) return date;
  date.shape = days == 0 ? DateShape::Time : ms == 0 ? DateShape::Date : DateShape::DateTime;
  date.serial = static_cast<double>(days) + static_cast<double>(ms) / kMillisecondsPerDay;
  return date;
}

const char* formatCode(DateShape shape) {
  switch (shape) {
    case DateShape::Date: return kDateFormat;
    case DateShape::Time: return kTimeFormat;
    default: return kDateTimeFormat;
  }
}

// Digits of the decimal's magnitude without the zeros that carry no precision.
size_t significantDigits(const DecimalValue& value) {
  std::string digits = decimalToText(DecimalValue{value.hi32, value.lo64, 0, false});
  size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  size_t last = digits.find_last_not_of('0');
  return last - first + 1;
}

FormatHandle cached(TypedFormats& formats, const std::string& code) {
  auto it = formats.byCode.find(code);
  if (it != formats.byCode.end()) return it->second;
  FormatHandle f = bookFormat(formats.book, code, false);
  formats.byCode[code] = f;
  return f;
}

// "0", or "0." and as many zeros as the value's fraction has digits once its trailing zeros go.
std::string decimalFormatCode(const std::string& text) {
  size_t dot = text.find('.');
  if (dot == std::string::npos) return "0";
  size_t last = text.find_last_not_of('0');
  size_t digits = last > dot ? last - dot : 0;
  return digits == 0 ? "0" : "0." + std::string(digits, '0');
}

std::string monetaryLocaleName() {
  for (const char* var : {"LC_ALL", "LC_MONETARY", "LANG"})
    if (const char* v = std::getenv(var); v && *v) return v;
  return "";
}

}  // namespace

std::string currencyFormatCode(const std::string& monetaryLocale) {
  std::string name = monetaryLocale.empty() ? monetaryLocaleName() : monetaryLocale;
  if (name.empty()) return kCurrencyFormat;
  locale_t loc = newlocale(LC_MONETARY_MASK, name.c_str(), static_cast<locale_t>(nullptr));
  if (!loc) return kCurrencyFormat;
  std::string sign = nl_langinfo_l(CURRENCY_SYMBOL, loc);
  const char* precedes = nl_langinfo_l(P_CS_PRECEDES, loc);
  const char* spaced = nl_langinfo_l(P_SEP_BY_SPACE, loc);
  bool before = precedes && *precedes == 1, space = spaced && *spaced == 1;
  freelocale(loc);
  // A quoted literal: a sign holding a quote would end it early.
  if (sign.empty() || sign.find('"') != std::string::npos) return kCurrencyFormat;
  return before ? "\"" + sign + (space ? " " : "") + "\"" + kCurrencyFormat
                : std::string(kCurrencyFormat) + "\"" + (space ? " " : "") + sign + "\"";
}

TypedFormats typedFormatsOf(BookHandle book, int bookType) {
  TypedFormats formats{book, {}};
  formats.currency = currencyFormatCode();
  formats.booleansAsNumbers = bookType == 0;
  return formats;
}

FormatHandle linkFormat(TypedFormats& formats) {
  const std::string key = "\n" "link";  // no number format code holds a line break
  auto it = formats.byCode.find(key);
  if (it != formats.byCode.end()) return it->second;
  return formats.byCode[key] = bookFormat(formats.book, "", false, true);
}

ExcelDate inDateSystem(ExcelDate date, bool date1904) {
  if (!date1904 || date.shape == DateShape::None || date.shape == DateShape::Time) return date;
  date.serial -= kDaysFrom1900To1904;
  if (date.serial < 0) return {};  // before 1904-01-01: no day of that system
  return date;
}

FormatHandle bookFormat(BookHandle book, const std::string& code, bool bold, bool link) {
  for (int i = 0; i < xlBookFormatSizeA(book); ++i) {
    FormatHandle f = xlBookFormatA(book, i);
    if (code == xlFormatNumFormatCodeA(f) && (xlFormatBoldA(f) != 0) == bold && (xlFormatLinkA(f) != 0) == link)
      return f;
  }
  FormatHandle f = xlBookAddFormatA(book, nullptr);
  if (f) {
    xlFormatSetNumFormatCodeA(f, code.c_str());
    xlFormatSetBoldA(f, bold ? 1 : 0);
    xlFormatSetLinkA(f, link ? 1 : 0);
  }
  return f;
}

ExcelDate excelDateOfOleDay(double day) {
  if (!std::isfinite(day) || day < 0 || day >= kFirstDayAfter9999) return {};
  double whole = std::floor(day);
  return classify(static_cast<int64_t>(whole), std::llround((day - whole) * kMillisecondsPerDay));
}

ExcelDate excelDateOfExtended(const ExtendedDateValue& v) {
  if (v.year < 1 || v.month < 1 || v.month > 12 || v.day < 1 || v.day > 31 || v.hour > 23 || v.minute > 59 ||
      v.second > 59 || v.fraction > 9999999)
    return {};
  int64_t days = daysFromCivil(v.year, v.month, v.day) - kOleDayZero;
  int64_t ms = ((v.hour * 60 + v.minute) * 60 + v.second) * int64_t{1000} + (v.fraction + 5000) / 10000;
  return classify(days, ms);
}

void writeTypedCellValue(TypedFormats& formats, SheetHandle sheet, int row, int column, int16_t fieldType,
                         const Variant& value) {
  switch (value.vt) {
    case VT_DATE:
    case VT_EXT_DATE: {
      ExcelDate date = value.vt == VT_DATE ? excelDateOfOleDay(value.real) : excelDateOfExtended(value.extendedDate);
      date = inDateSystem(date, xlBookIsDate1904A(formats.book) != 0);
      if (date.shape != DateShape::None) {
        xlSheetWriteNumA(sheet, row, column, date.serial, cached(formats, formatCode(date.shape)));
        return;
      }
      xlSheetWriteStrA(sheet, row, column, variantToText(value).c_str(), nullptr);
      return;
    }
    case VT_CY:
      xlSheetWriteNumA(sheet, row, column, static_cast<double>(value.integer) / 10000.0,
                       cached(formats, formats.currency));
      return;
    case VT_BOOL:
      if (fieldClass(fieldType) == 'L' && formats.booleansAsNumbers)
        xlSheetWriteNumA(sheet, row, column, value.integer != 0 ? 1 : 0, cached(formats, kBooleanFormat));
      else if (fieldClass(fieldType) == 'L')
        xlSheetWriteBoolA(sheet, row, column, value.integer != 0 ? 1 : 0, cached(formats, kBooleanFormat));
      else
        writeCellValue(sheet, row, column, fieldType, value);
      return;
    case VT_DECIMAL: {
      if (significantDigits(value.decimal) > kMostExactDigits) break;
      // Through its exact text, so the double is the one nearest the decimal value.
      std::string text = decimalToText(value.decimal);
      std::string code = decimalFormatCode(text);
      double number = 0;
      if (std::from_chars(text.data(), text.data() + text.size(), number).ec != std::errc()) break;
      xlSheetWriteNumA(sheet, row, column, number, cached(formats, code));
      return;
    }
    case VT_I8:
      if (value.integer > kLargestExactInteger || value.integer < -kLargestExactInteger) break;
      writeCellValue(sheet, row, column, fieldType, value);
      return;
    default:
      writeCellValue(sheet, row, column, fieldType, value);
      return;
  }
  // Digits a double would round: the exact text.
  xlSheetWriteStrA(sheet, row, column, variantToText(value).c_str(), nullptr);
}
