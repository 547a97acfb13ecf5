#include "workbook/xls/records.h"

#include <cstring>

namespace xls {

void addDouble(std::string& s, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  le::add32(s, static_cast<uint32_t>(bits));
  le::add32(s, static_cast<uint32_t>(bits >> 32));
}

void addRecord(std::string& out, uint16_t type, std::string_view body) {
  le::add16(out, type);
  le::add16(out, static_cast<uint16_t>(body.size()));
  out.append(body);
}

bool readRecord(std::string_view stream, size_t offset, RecordView& r) {
  if (offset + 4 > stream.size()) return false;
  r.type = le::get16(stream.data() + offset);
  uint16_t size = le::get16(stream.data() + offset + 2);
  if (offset + 4 + size > stream.size()) return false;
  r.body = stream.substr(offset + 4, size);
  r.offset = offset;
  return true;
}

void addUnicodeString(std::string& out, const std::u16string& text, bool longCount) {
  bool wide = false;
  for (char16_t c : text) wide = wide || c > 0xFF;
  if (longCount) le::add16(out, static_cast<uint16_t>(text.size()));
  else out += static_cast<char>(text.size());
  out += static_cast<char>(wide ? 1 : 0);
  for (char16_t c : text) {
    if (wide) le::add16(out, c);
    else out += static_cast<char>(c);
  }
}

}  // namespace xls
