#include "tools/accesswriter/encoding.h"

#include <stdexcept>

#include "platform/text_codec.h"

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

}  // namespace accesswriter::enc
