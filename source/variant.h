// A field value as the engine hands it out: the OLE Automation kinds, held in plain members.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum VarKind : uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_DECIMAL = 14,
  VT_UI1 = 17,
  VT_I8 = 20,
  VT_EXT_DATE = 0x0FFE,  // ours, not an OLE Automation kind: a Date/Time Extended value
  VT_ARRAY = 0x2000,
};

// A 96-bit unsigned magnitude with a decimal scale and a sign, as VT_DECIMAL carries it.
struct DecimalValue {
  uint32_t hi32 = 0;
  uint64_t lo64 = 0;
  uint8_t scale = 0;
  bool negative = false;
};

// A Date/Time Extended value as stored: a calendar date of years 1 to 9999 and a time of day, with
// the fraction of a second in units of 100 ns (0 to 9,999,999). It reaches beyond what VT_DATE holds.
struct ExtendedDateValue {
  int16_t year = 1;
  uint8_t month = 1;
  uint8_t day = 1;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint32_t fraction = 0;
};

struct Variant {
  uint16_t vt = VT_EMPTY;     // VarKind, VT_ARRAY | VT_UI1 for bytes
  int64_t integer = 0;        // VT_BOOL (-1 / 0), VT_UI1, VT_I2, VT_I4, VT_I8, VT_CY (ten-thousandths);
                              // for the text of a complex field, the key of its values
  double real = 0;            // VT_R4, VT_R8, VT_DATE (days since 1899-12-30)
  DecimalValue decimal;       // VT_DECIMAL
  ExtendedDateValue extendedDate;  // VT_EXT_DATE
  std::string text;           // VT_BSTR, UTF-8
  std::vector<uint8_t> bytes; // VT_ARRAY | VT_UI1

  bool isNull() const { return vt == VT_NULL; }
};

inline constexpr uint16_t VT_BYTES = VT_ARRAY | VT_UI1;

// A decimal's exact digits: trailing zeros of the fraction dropped, no point for a whole number,
// no sign for zero.
std::string decimalToText(const DecimalValue& value);

// A single as Access shows it: the double nearest to the shortest text that reads back as the
// same single (0.15, not 0.150000005960464). Arithmetic goes on the single's own value, which
// static_cast<float> gives back exactly.
double singleAsShown(float f);
