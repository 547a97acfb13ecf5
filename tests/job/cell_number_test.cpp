// The number a decimal value becomes: the one-division shortcut must give the double nearest the
// value, exactly as reading its exact text does.
#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <string>

#include "workbook/export/cell_value.h"
#include "workbook/export/value_text.h"

TEST(CellNumber, DecimalsAreTheDoubleNearestTheirValue) {
  std::mt19937_64 random(5);
  for (int i = 0; i < 50000; ++i) {
    Variant v;
    v.vt = VT_DECIMAL;
    int size = static_cast<int>(random() % 4);
    v.decimal.lo64 = size == 0 ? random() % 1000 : size == 1 ? random() % 100000000 : size == 2 ? random() >> 11 : random();
    v.decimal.hi32 = i % 10 == 0 ? static_cast<uint32_t>(random()) : 0;
    v.decimal.scale = static_cast<uint8_t>(random() % 29);
    v.decimal.negative = random() % 2 == 0;
    std::string text = decimalToText(v.decimal);
    double expected = 0;
    ASSERT_EQ(std::from_chars(text.data(), text.data() + text.size(), expected).ec, std::errc());
    double number = 1;
    ASSERT_TRUE(numberOf(v, &number));
    EXPECT_EQ(std::signbit(number), std::signbit(expected)) << text;
    EXPECT_EQ(number, expected) << text;
  }
}
