#include "source/query/sqlite_values.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "source/dao_types.h"

namespace {

std::string extendedDateText(const ExtendedDateValue& d) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u.%07u", d.year, d.month, d.day, d.hour, d.minute,
                d.second, d.fraction);
  return buf;
}

// A decimal of at most 28 digits from its text ("-123.4500").
bool decimalFromText(const std::string& text, DecimalValue& out) {
  out = {};
  size_t i = 0;
  if (i < text.size() && text[i] == '-') out.negative = true, ++i;
  unsigned __int128 magnitude = 0;
  int digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !point) { point = true; continue; }
    if (c < '0' || c > '9' || ++digits > 28) return false;
    magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
    if (point) ++out.scale;
  }
  out.lo64 = static_cast<uint64_t>(magnitude);
  out.hi32 = static_cast<uint32_t>(magnitude >> 64);
  if (magnitude == 0) out.negative = false;
  return digits > 0;
}

void setText(Variant& out, const unsigned char* text, int bytes) {
  out.vt = VT_BSTR;
  out.text.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes));
}

void setNumberText(sqlite3_stmt* s, int index, Variant& out) {
  char buf[40];
  if (sqlite3_column_type(s, index) == SQLITE_INTEGER) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(sqlite3_column_int64(s, index)));
  } else {
    std::snprintf(buf, sizeof buf, "%.15g", sqlite3_column_double(s, index));
  }
  out.vt = VT_BSTR;
  out.text = buf;
}

}  // namespace

void resultOfVariant(sqlite3_context* context, const Variant& v) {
  switch (v.vt) {
    case VT_BOOL:
    case VT_UI1:
    case VT_I2:
    case VT_I4:
    case VT_I8: sqlite3_result_int64(context, v.integer); return;
    case VT_CY: sqlite3_result_double(context, static_cast<double>(v.integer) / 10000.0); return;
    // Access computes with a single's own value, not the shorter one it shows.
    case VT_R4: sqlite3_result_double(context, static_cast<float>(v.real)); return;
    case VT_R8:
    case VT_DATE: sqlite3_result_double(context, v.real); return;
    case VT_DECIMAL: sqlite3_result_double(context, std::strtod(decimalToText(v.decimal).c_str(), nullptr)); return;
    case VT_BSTR: sqlite3_result_text(context, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT); return;
    case VT_BYTES: sqlite3_result_blob(context, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT); return;
    case VT_EXT_DATE: {
      std::string text = extendedDateText(v.extendedDate);
      sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      return;
    }
    default: sqlite3_result_null(context); return;
  }
}

void variantOfColumn(sqlite3_stmt* s, int index, const ColumnInfo& column, Variant& out) {
  int kind = sqlite3_column_type(s, index);
  if (kind == SQLITE_NULL) {
    out.vt = VT_NULL;
    return;
  }
  if (kind == SQLITE_BLOB) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s, index));
    out.vt = VT_BYTES;
    out.bytes.assign(p, p + sqlite3_column_bytes(s, index));
    return;
  }
  bool numeric = kind == SQLITE_INTEGER || kind == SQLITE_FLOAT;
  switch (column.daoType) {
    case dbText:
    case dbMemo:
    case dbChar:
    case dbGUID:
      if (numeric) setNumberText(s, index, out);
      else setText(out, sqlite3_column_text(s, index), sqlite3_column_bytes(s, index));
      return;
    default: break;
  }
  if (!numeric) {  // a text where Access types a number: what the expression gave
    setText(out, sqlite3_column_text(s, index), sqlite3_column_bytes(s, index));
    return;
  }
  double real = sqlite3_column_double(s, index);
  int64_t integer = kind == SQLITE_INTEGER ? sqlite3_column_int64(s, index) : static_cast<int64_t>(std::llround(real));
  bool integral = kind == SQLITE_INTEGER || (std::isfinite(real) && std::fabs(real) < 9.2e18);
  switch (column.daoType) {
    case dbBoolean:
      out.vt = VT_BOOL;
      out.integer = real != 0 ? -1 : 0;
      return;
    case dbByte:
    case dbInteger:
    case dbLong:
    case dbBigInt: {
      if (!integral) break;
      if (column.daoType == dbByte && integer >= 0 && integer <= 255) out.vt = VT_UI1;
      else if (column.daoType == dbInteger && integer >= -32768 && integer <= 32767) out.vt = VT_I2;
      else if (column.daoType != dbBigInt && integer >= INT32_MIN && integer <= INT32_MAX) out.vt = VT_I4;
      else out.vt = VT_I8;
      out.integer = integer;
      return;
    }
    case dbCurrency:
      if (!std::isfinite(real) || std::fabs(real) > 9.2e14) break;
      out.vt = VT_CY;
      out.integer = kind == SQLITE_INTEGER ? integer * 10000 : static_cast<int64_t>(std::llround(real * 10000.0));
      return;
    case dbSingle:
      out.vt = VT_R4;
      out.real = singleAsShown(static_cast<float>(real));
      return;
    case dbDate:
      out.vt = VT_DATE;
      out.real = real;
      return;
    case dbDecimal: {
      char buf[64];
      if (kind == SQLITE_INTEGER) std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(integer));
      else std::snprintf(buf, sizeof buf, "%.*f", column.scale > 0 && column.scale <= 15 ? column.scale : 4, real);
      if (decimalFromText(buf, out.decimal)) {
        out.vt = VT_DECIMAL;
        return;
      }
      break;
    }
    default: break;
  }
  out.vt = VT_R8;
  out.real = real;
}
