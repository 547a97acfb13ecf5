#include "tools/accesswriter/encoding.h"

#include <stdexcept>

#include "platform/text_codec.h"
#include "source/jet_format.h"

namespace accesswriter::enc {

std::u16string utf16FromUtf8(const std::string& text) {
  std::u16string out;
  size_t badAt = 0;
  if (!utf8ToUtf16Strict(text, out, &badAt)) throw std::invalid_argument("malformed UTF-8 at byte " + std::to_string(badAt));
  return out;
}

void numericBytes(const std::string& text, int precision, int scale, uint8_t out[17]) {
  auto bad = [&](const char* why) {
    throw std::invalid_argument("decimal \"" + text + "\" " + why);
  };
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string whole, frac;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') whole += text[i++];
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') frac += text[i++];
  }
  if (i != text.size() || (whole.empty() && frac.empty())) bad("is not a number");
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (int(frac.size()) > scale) bad("has more decimals than the field's scale");
  size_t lead = whole.find_first_not_of('0');
  whole = lead == std::string::npos ? "" : whole.substr(lead);
  if (int(whole.size()) > precision - scale) bad("has more digits than the field's precision");
  std::string digits = whole + frac + std::string(size_t(scale) - frac.size(), '0');
  unsigned __int128 v = 0;
  for (char d : digits) v = v * 10 + unsigned(d - '0');
  std::memset(out, 0, 17);
  out[0] = (negative && v != 0) ? 0x80 : 0x00;
  for (int w = 0; w < 4; ++w) {  // word 0 (least significant) is stored last
    uint32_t word = uint32_t(v >> (32 * w));
    le::put32(out + 1 + 4 * (3 - w), word);
  }
}

size_t calculatedDecimalBytes(const std::string& text, uint8_t out[16]) {
  size_t point = text.find('.');
  int scale = point == std::string::npos ? 0 : int(text.size() - point - 1);
  if (scale > jetfmt::kNumericLargestScale) throw std::invalid_argument("decimal \"" + text + "\" has more than 28 decimals");
  uint8_t stored[jetfmt::kNumericSize];
  numericBytes(text, 38, scale, stored);  // the 96 bits, not a precision, bound it
  if (le::get32(stored + jetfmt::kNumericWord3) != 0) throw std::invalid_argument("decimal \"" + text + "\" exceeds 96 bits");
  std::memset(out, 0, 16);
  le::put16(out + jetfmt::kCalcDecimalLength, 16 - 2);
  out[jetfmt::kCalcDecimalScale] = uint8_t(scale);
  out[jetfmt::kCalcDecimalSign] = stored[jetfmt::kNumericSign] != 0 ? 1 : 0;
  le::put32(out + jetfmt::kCalcDecimalMagnitude, le::get32(stored + jetfmt::kNumericWord2));
  le::put32(out + jetfmt::kCalcDecimalMagnitude + 4, le::get32(stored + jetfmt::kNumericWord0));
  le::put32(out + jetfmt::kCalcDecimalMagnitude + 8, le::get32(stored + jetfmt::kNumericWord1));
  return 16;
}

}  // namespace accesswriter::enc
