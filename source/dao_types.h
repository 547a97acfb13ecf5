// DAO field type codes, as Field::Type reports them.
#pragma once

#include <cstdint>

enum DaoType : int16_t {
  dbBoolean = 1,
  dbByte = 2,
  dbInteger = 3,
  dbLong = 4,
  dbCurrency = 5,
  dbSingle = 6,
  dbDouble = 7,
  dbDate = 8,
  dbBinary = 9,
  dbText = 10,
  dbLongBinary = 11,
  dbMemo = 12,
  dbGUID = 15,
  dbBigInt = 16,
  dbVarBinary = 17,
  dbChar = 18,
  dbNumeric = 19,
  dbDecimal = 20,
  dbFloat = 21,
  dbTime = 22,
  dbTimeStamp = 23,
  // Ours, outside DAO's table of types (whose 20 is Decimal): a Date/Time Extended value, which
  // a cell takes as text.
  dbDateTimeExtended = 26,
  dbAttachment = 101,
  dbComplexByte = 102,
  dbComplexInteger = 103,
  dbComplexLong = 104,
  dbComplexSingle = 105,
  dbComplexDouble = 106,
  dbComplexGUID = 107,
  dbComplexDecimal = 108,
  dbComplexText = 109,
};

// Field::Attributes bits.
inline constexpr int32_t dbHyperlinkField = 0x8000;  // a memo whose values are hyperlinks
