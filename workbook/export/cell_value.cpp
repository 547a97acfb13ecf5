#include "workbook/export/cell_value.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <string>

#include "workbook/book.h"
#include "workbook/export/value_text.h"
#include "workbook/text.h"

char fieldClass(int16_t fieldType) {
  switch (fieldType) {
    case 1: return 'L';
    case 2: case 3: case 4: case 16: return 'N';
    case 5: case 6: case 7: case 19: case 20: case 21: return 'F';
    case 8: return 'D';
    case 10: case 15: case 18: case 22: case 23: return 'C';
    case 12: return 'M';
    default: return '0';
  }
}

namespace {

// Integers up to 2^53 and powers of ten up to 10^22 are exact doubles.
constexpr uint64_t kExactDoubleLimit = uint64_t{1} << 53;
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

bool numberOf(const Variant& value, double* number) {
  switch (value.vt) {
    case VT_I2: case VT_I4: case VT_UI1: case VT_BOOL: *number = static_cast<double>(value.integer); return true;
    case VT_I8: *number = static_cast<double>(value.integer); return true;
    case VT_R4: case VT_R8: case VT_DATE: *number = value.real; return true;
    case VT_CY: *number = static_cast<double>(value.integer) / 10000.0; return true;
    case VT_DECIMAL: {
      // A magnitude and a power of ten that doubles hold exactly give the nearest double in one
      // correctly rounded division.
      const DecimalValue& d = value.decimal;
      if (d.hi32 == 0 && d.lo64 <= kExactDoubleLimit && d.scale < std::size(kExactPowersOfTen)) {
        double quotient = static_cast<double>(d.lo64) / kExactPowersOfTen[d.scale];
        *number = d.negative && d.lo64 != 0 ? -quotient : quotient;
        return true;
      }
      // Otherwise through its exact text, so the double is the one nearest the decimal value.
      std::string text = decimalToText(value.decimal);
      return std::from_chars(text.data(), text.data() + text.size(), *number).ec == std::errc();
    }
    default: return false;
  }
}

namespace {

bool isAscii(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The value's text as a text cell. The engine's texts are valid UTF-8 and the texts of numbers
// and bytes are ASCII, so they skip the cleaning that texts from elsewhere get; dates are written
// in the user's locale, whose encoding is not ours to trust unless the text is ASCII.
void writeTextCell(SheetHandle sheet, int row, int column, Variant& value) {
  switch (value.vt) {
    case VT_BSTR:
      writeValidUtf8Cell(sheet, row, column, value.text);  // copied: the value keeps its buffer
      return;
    case VT_BOOL: case VT_UI1: case VT_I2: case VT_I4: case VT_I8: case VT_R4: case VT_R8: case VT_CY:
    case VT_DECIMAL: case VT_BYTES:
      writeValidUtf8Cell(sheet, row, column, variantToText(value));
      return;
    default: {
      std::string text = variantToText(value);
      if (isAscii(text)) writeValidUtf8Cell(sheet, row, column, std::move(text));
      else xlSheetWriteStrA(sheet, row, column, text.c_str(), nullptr);
    }
  }
}

}  // namespace

void prepareCellValue(char fieldClass, Variant& value, const std::string& timeLocale) {
  switch (value.vt) {
    case VT_NULL: case VT_EMPTY: case VT_BSTR: return;
    default: break;
  }
  double number = 0;
  switch (fieldClass) {
    case 'N':
    case 'F':
      if (numberOf(value, &number) && std::isfinite(number)) return;
      break;
    case 'L':
      if (value.vt == VT_BOOL || value.vt == VT_UI1 || value.vt == VT_I2 || value.vt == VT_I4) return;
      break;
    default: break;
  }
  // The value's own text buffer takes its text.
  std::string& text = value.text;
  if (value.vt == VT_DATE) oleDateToTextInto(text, value.real, timeLocale);
  else text = variantToText(value);
  // Texts that are not the engine's are cleaned as a text given to xlSheetWriteStrA would be.
  if (!isAscii(text)) text = cleanUtf8(text.c_str(), kCellTextLimit);
  value.vt = VT_BSTR;
  value.integer = 0;
  value.real = 0;
  value.decimal = DecimalValue{};
  value.extendedDate = ExtendedDateValue{};
  value.bytes.clear();
}

void writeCellValue(SheetHandle sheet, int row, int column, int16_t fieldType, const Variant& value) {
  Variant copy = value;
  writeCellOfClass(sheet, row, column, fieldClass(fieldType), copy);
}

void writeCellOfClass(SheetHandle sheet, int row, int column, char fieldClass, Variant& value) {
  if (value.vt == VT_NULL || value.vt == VT_EMPTY) return;
  switch (fieldClass) {
    case 'N':
    case 'F': {
      double number = 0;
      // A cell cannot hold NaN or an infinity; their text keeps what the field held.
      if (numberOf(value, &number) && std::isfinite(number)) {
        xlSheetWriteNumA(sheet, row, column, number, nullptr);
        return;
      }
      break;
    }
    case 'L':
      if (value.vt == VT_BOOL || value.vt == VT_UI1 || value.vt == VT_I2 || value.vt == VT_I4) {
        int flag = value.vt == VT_BOOL ? static_cast<int16_t>(value.integer) : (value.integer != 0 ? -1 : 0);
        xlSheetWriteBoolA(sheet, row, column, flag, nullptr);
        return;
      }
      break;
    default: break;
  }
  writeTextCell(sheet, row, column, value);
}
