// One field of the current record into one cell: the field's type decides its class, the value's
// kind what the cell holds.
#pragma once

#include <cstdint>
#include <string>

#include "source/variant.h"
#include "workbook/xl.h"

// The class letter of a DAO field type: L boolean, N integer, F fraction, D date, C text, M memo,
// '0' anything else (binary, OLE, complex fields, unknown codes).
char fieldClass(int16_t fieldType);

// The number a value of a numeric field holds; false for kinds that carry no number.
bool numberOf(const Variant& value, double* number);

// Writes the value at (row, column): nothing for a null, else a number, boolean or text cell.
void writeCellValue(SheetHandle sheet, int row, int column, int16_t fieldType, const Variant& value);

// Makes ahead of writing, on whatever thread reads the records, the text of a value that will be
// written as a text cell: the value becomes that text as valid UTF-8 (VT_BSTR), which writing then
// only stores. Values of number and boolean cells, and nulls, stay as they are. Dates are written
// in `timeLocale` (userTimeLocaleName(), looked up once a table).
void prepareCellValue(char fieldClass, Variant& value, const std::string& timeLocale);

// The same for a field whose class is already known (fieldClass, once per table). The value's
// text is made only when a text cell is written, and may be moved into the cell.
void writeCellOfClass(SheetHandle sheet, int row, int column, char fieldClass, Variant& value);
