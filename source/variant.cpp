#include "source/variant.h"

#include <charconv>
#include <cmath>

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

// A single as Access shows it: the double nearest to the shortest text that reads back as the same
// single (0.15, not 0.150000005960464), so that cells and texts alike carry no float noise.
double singleAsShown(float f) {
  if (!std::isfinite(f)) return f;
  char text[32];
  char* end = std::to_chars(text, text + sizeof text, f).ptr;
  double shown = f;
  std::from_chars(text, end, shown);
  // Read as a double, a text next to the midpoint of two singles could round to the other one.
  return static_cast<float>(shown) == f ? shown : f;
}
