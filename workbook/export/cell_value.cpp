#include "workbook/export/cell_value.h"

#include <charconv>
#include <cmath>
#include <string>

#include "workbook/export/value_text.h"

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

// The number a value of a numeric field holds; false for kinds that carry no number.
bool numberOf(const Variant& value, double* number) {
  switch (value.vt) {
    case VT_I2: case VT_I4: case VT_UI1: case VT_BOOL: *number = static_cast<double>(value.integer); return true;
    case VT_I8: *number = static_cast<double>(value.integer); return true;
    case VT_R4: case VT_R8: case VT_DATE: *number = value.real; return true;
    case VT_CY: *number = static_cast<double>(value.integer) / 10000.0; return true;
    case VT_DECIMAL: {
      // Through its exact text, so the double is the one nearest the decimal value.
      std::string text = decimalToText(value.decimal);
      return std::from_chars(text.data(), text.data() + text.size(), *number).ec == std::errc();
    }
    default: return false;
  }
}

}  // namespace

void writeCellValue(SheetHandle sheet, int row, int column, int16_t fieldType, const Variant& value) {
  if (value.vt == VT_NULL || value.vt == VT_EMPTY) return;
  std::string text = variantToText(value);
  switch (fieldClass(fieldType)) {
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
  xlSheetWriteStrA(sheet, row, column, text.c_str(), nullptr);
}
