// Numbers in worksheet XML: the whole-number shortcut must give exactly the shortest form that
// std::to_chars gives for the double.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <iterator>
#include <cmath>
#include <random>
#include <string>

#include "workbook/xlsx/worksheet.h"

namespace {

std::string shortest(double v) {
  char buf[40];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string viaXml(double v) {
  std::string out;
  xlsx::appendNumber(out, v);
  return out;
}

}  // namespace

TEST(NumberXml, WholeNumbersAsTheShortestFormOfTheDouble) {
  std::vector<double> values = {0, 1, -1, 7, 10, 100, 1000, 12000, 100000, 1200000, 1230000, 10000000, 123456789,
                                -2147483648.0, 2147483647.0, 4294967296.0, 1e15, 1e15 + 1, 9007199254740991.0,
                                9007199254740992.0, -9007199254740992.0, 9007199254740994.0, 1e16, 1e22, 1e300};
  // Every count of trailing zeros for mantissas of one to four digits: the exponent form wins
  // from some count on, and ties fall on the plain form.
  for (double mantissa : {1.0, 12.0, 123.0, 1234.0})
    for (int zeros = 0; zeros <= 12; ++zeros) {
      values.push_back(mantissa * std::pow(10.0, zeros));
      values.push_back(-mantissa * std::pow(10.0, zeros));
    }
  std::mt19937_64 random(3);
  for (int i = 0; i < 20000; ++i) {
    values.push_back(static_cast<double>(static_cast<int64_t>(random() % 20000000000ull) - 10000000000ll));
    values.push_back(static_cast<double>(random() >> (random() % 64)));
  }
  for (double v : values) EXPECT_EQ(viaXml(v), shortest(v)) << v;
}

TEST(NumberXml, FractionsAndNegativeZero) {
  for (double v : {0.5, -0.25, 1e-7, 123.456, 1.0 / 3.0, 5e-324, 1.7976931348623157e308})
    EXPECT_EQ(viaXml(v), shortest(v));
  EXPECT_EQ(viaXml(-0.0), "-0.0");
}

namespace {

// Escaping one byte at a time, the plain way the run-wise escaping must equal.
std::string escapedBytewise(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char hex[8];
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '\t' || c == '\n') out += static_cast<char>(c);
    else if (c == '_')
      out += i + 6 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
                     std::isxdigit(static_cast<unsigned char>(s[i + 3])) &&
                     std::isxdigit(static_cast<unsigned char>(s[i + 4])) &&
                     std::isxdigit(static_cast<unsigned char>(s[i + 5])) && s[i + 6] == '_'
                 ? "_x005F_"
                 : "_";
    else if (c < 0x20) {
      std::snprintf(hex, sizeof hex, "_x%04X_", c);
      out += hex;
    } else if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
               (static_cast<unsigned char>(s[i + 2]) == 0xBE || static_cast<unsigned char>(s[i + 2]) == 0xBF)) {
      std::snprintf(hex, sizeof hex, "_x%04X_", 0xFFC0 | static_cast<unsigned char>(s[i + 2]));
      out += hex;
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

TEST(TextXml, EscapingInRunsEqualsEscapingByteByByte) {
  const char* pieces[] = {"plain", "a&b", "<tag>", "_x0041_", "_x12", "_", "\t\n\r", "\x01", "\xEF\xBF\xBE",
                          "\xEF\xBF\xBF", "\xEF\xBB\xBF", "Grüße 𝄞", "x_", " "};
  std::mt19937 random(9);
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    int count = static_cast<int>(random() % 8);
    for (int k = 0; k < count; ++k) s += pieces[random() % std::size(pieces)];
    std::string out = "<";
    xlsx::appendEscapedText(out, s);
    EXPECT_EQ(out, "<" + escapedBytewise(s)) << s;
  }
}
