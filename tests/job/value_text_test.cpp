#include <gtest/gtest.h>
#include <locale.h>

#include "workbook/export/cell_value.h"
#include "workbook/export/value_text.h"

namespace {
// 2024-02-29 is day 45351; 13:05:00 is 47100 seconds into it.
constexpr double kLeapDayAt1305 = 45351.0 + 47100.0 / 86400.0;

bool localeInstalled(const char* name) {
  locale_t loc = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(nullptr));
  if (!loc) return false;
  freelocale(loc);
  return true;
}
}  // namespace

TEST(ValueText, DatesInThePlainLocaleAreIso) {
  EXPECT_EQ(oleDateToText(kLeapDayAt1305, "C"), "2024-02-29 13:05:00");
  EXPECT_EQ(oleDateToText(45351.0, "POSIX"), "2024-02-29");           // midnight: no time part
  EXPECT_EQ(oleDateToText(0.5, "C.UTF-8"), "12:00:00");               // day 0: no date part
  EXPECT_EQ(oleDateToText(0.0, "C"), "00:00:00");
  EXPECT_EQ(oleDateToText(1.0, "C"), "1899-12-31");
  EXPECT_EQ(oleDateToText(-1.25, "C"), "1899-12-29 06:00:00");        // the fraction is the time either way
  EXPECT_EQ(oleDateToText(2.0, "C"), "1900-01-01");
  EXPECT_EQ(oleDateToText(-657434.0, "C"), "0100-01-01");             // the earliest Access date
  EXPECT_EQ(oleDateToText(2958465.0 + 86399.0 / 86400.0, "C"), "9999-12-31 23:59:59");
}

TEST(ValueText, TimesRoundToTheNearestSecond) {
  EXPECT_EQ(oleDateToText(45351.0 + 86399.6 / 86400.0, "C"), "2024-03-01");
  EXPECT_EQ(oleDateToText(45351.0 + 59.4 / 86400.0, "C"), "2024-02-29 00:00:59");
}

TEST(ValueText, DatesFollowTheUserLocale) {
  if (!localeInstalled("en_US.UTF-8")) GTEST_SKIP() << "locale en_US.UTF-8 is not installed";
  EXPECT_EQ(oleDateToText(kLeapDayAt1305, "en_US.UTF-8"), "02/29/2024 01:05:00 PM");
  if (!localeInstalled("de_DE.UTF-8") || !localeInstalled("ja_JP.UTF-8")) GTEST_SKIP() << "de_DE or ja_JP is not installed";
  EXPECT_EQ(oleDateToText(kLeapDayAt1305, "de_DE.UTF-8"), "29.02.2024 13:05:00");
  // Years below 1000 keep four digits in every locale.
  EXPECT_EQ(oleDateToText(-657434.0, "de_DE.UTF-8"), "01.01.0100");
  EXPECT_EQ(oleDateToText(-657434.0, "ja_JP.UTF-8"), "0100年01月01日");
}

ExtendedDateValue extended(int year, int month, int day, int hour, int minute, int second, uint32_t fraction) {
  ExtendedDateValue v;
  v.year = static_cast<int16_t>(year);
  v.month = static_cast<uint8_t>(month);
  v.day = static_cast<uint8_t>(day);
  v.hour = static_cast<uint8_t>(hour);
  v.minute = static_cast<uint8_t>(minute);
  v.second = static_cast<uint8_t>(second);
  v.fraction = fraction;
  return v;
}

TEST(ValueText, ExtendedDatesLookLikeDatesWithTheirFraction) {
  EXPECT_EQ(extendedDateToText(extended(2024, 2, 29, 13, 5, 7, 1234567), "C"), "2024-02-29 13:05:07.1234567");
  EXPECT_EQ(extendedDateToText(extended(2024, 2, 29, 13, 5, 0, 0), "C"), oleDateToText(kLeapDayAt1305, "C"));
  EXPECT_EQ(extendedDateToText(extended(1, 1, 1, 0, 0, 0, 0), "C"), "0001-01-01");
  EXPECT_EQ(extendedDateToText(extended(9999, 12, 31, 23, 59, 59, 9999999), "C"), "9999-12-31 23:59:59.9999999");
  EXPECT_EQ(extendedDateToText(extended(2000, 1, 1, 0, 0, 0, 1), "C"), "2000-01-01 00:00:00.0000001");
  EXPECT_EQ(extendedDateToText(extended(2000, 1, 1, 0, 0, 1, 5000000), "C"), "2000-01-01 00:00:01.5");
  EXPECT_EQ(extendedDateToText(extended(1899, 12, 30, 0, 0, 0, 0), "C"), "00:00:00");  // day 0, as a Date/Time value
  EXPECT_EQ(extendedDateToText(extended(1899, 12, 30, 6, 0, 0, 0), "C"), oleDateToText(0.25, "C"));
  Variant v;
  v.vt = VT_EXT_DATE;
  v.extendedDate = extended(1753, 6, 14, 12, 45, 0, 0);
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(variantToText(v), "1753-06-14 12:45:00");
}

TEST(ValueText, ExtendedDatesFollowTheUserLocale) {
  if (!localeInstalled("en_US.UTF-8")) GTEST_SKIP() << "locale en_US.UTF-8 is not installed";
  EXPECT_EQ(extendedDateToText(extended(2024, 2, 29, 13, 5, 0, 0), "en_US.UTF-8"), oleDateToText(kLeapDayAt1305, "en_US.UTF-8"));
  // The fraction follows the seconds, before the day-half mark.
  EXPECT_EQ(extendedDateToText(extended(2024, 2, 29, 13, 5, 7, 1200000), "en_US.UTF-8"), "02/29/2024 01:05:07.12 PM");
  if (!localeInstalled("de_DE.UTF-8") || !localeInstalled("ja_JP.UTF-8")) GTEST_SKIP() << "de_DE or ja_JP is not installed";
  EXPECT_EQ(extendedDateToText(extended(1, 1, 1, 0, 0, 0, 0), "de_DE.UTF-8"), "01.01.0001");
  EXPECT_EQ(extendedDateToText(extended(999, 12, 31, 23, 59, 59, 5000000), "ja_JP.UTF-8"), "0999年12月31日 23時59分59.5秒");
}

TEST(ValueText, NumbersInTheirShortestExactForm) {
  EXPECT_EQ(currencyToText(123400), "12.34");
  EXPECT_EQ(currencyToText(-5000), "-0.5");
  EXPECT_EQ(currencyToText(0), "0");
  EXPECT_EQ(currencyToText(INT64_MIN), "-922337203685477.5808");
  EXPECT_EQ(doubleToText(0.1), "0.1");
  EXPECT_EQ(doubleToText(-0.0), "-0");
  EXPECT_EQ(doubleToText(1e300), "1e+300");
  Variant single;
  single.vt = VT_R4;
  single.real = 0.1f;
  EXPECT_EQ(variantToText(single), "0.1");

  DecimalValue d;
  d.lo64 = 123456;
  d.scale = 2;
  EXPECT_EQ(decimalToText(d), "1234.56");
  d.scale = 8;
  d.negative = true;
  EXPECT_EQ(decimalToText(d), "-0.00123456");
  d.hi32 = 0xFFFFFFFF;
  d.lo64 = UINT64_MAX;
  d.scale = 0;
  d.negative = false;
  EXPECT_EQ(decimalToText(d), "79228162514264337593543950335");
  DecimalValue zero;
  zero.negative = true;
  zero.scale = 3;
  EXPECT_EQ(decimalToText(zero), "0");
}

TEST(ValueText, OtherKinds) {
  Variant bytes;
  bytes.vt = VT_BYTES;
  bytes.bytes = {0x00, 0x4A, 0xFF};
  EXPECT_EQ(variantToText(bytes), "004AFF");
  Variant text;
  text.vt = VT_BSTR;
  text.text = "Grüße 𝄞";
  EXPECT_EQ(variantToText(text), "Grüße 𝄞");
  Variant big;
  big.vt = VT_I8;
  big.integer = INT64_MAX;
  EXPECT_EQ(variantToText(big), "9223372036854775807");
}

TEST(CellValue, FieldClasses) {
  EXPECT_EQ(fieldClass(1), 'L');
  for (int16_t t : {2, 3, 4, 16}) EXPECT_EQ(fieldClass(t), 'N');
  for (int16_t t : {5, 6, 7, 19, 20, 21}) EXPECT_EQ(fieldClass(t), 'F');
  EXPECT_EQ(fieldClass(8), 'D');
  for (int16_t t : {10, 15, 18, 22, 23}) EXPECT_EQ(fieldClass(t), 'C');
  EXPECT_EQ(fieldClass(12), 'M');
  for (int16_t t : {0, 9, 11, 13, 14, 17, 24, 101, -1}) EXPECT_EQ(fieldClass(t), '0');
}
