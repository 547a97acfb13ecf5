#include "source/variant.h"

std::string decimalToText(const DecimalValue& value) {
  unsigned __int128 magnitude = (static_cast<unsigned __int128>(value.hi32) << 64) | value.lo64;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  size_t scale = value.scale;
  if (digits.size() <= scale) digits.insert(0, scale - digits.size() + 1, '0');
  std::string whole = digits.substr(0, digits.size() - scale);
  std::string fraction = digits.substr(digits.size() - scale);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string text = fraction.empty() ? whole : whole + "." + fraction;
  bool zero = text.find_first_not_of("0.") == std::string::npos;
  return value.negative && !zero ? "-" + text : text;
}
