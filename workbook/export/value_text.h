// The text of a field value, as the platform's variant conversion would write it: numbers in
// their shortest exact form, dates and times in the user's locale (ISO 8601 in the C and POSIX
// locales), byte arrays as hexadecimal digits.
#pragma once

#include <string>

#include "source/variant.h"

std::string variantToText(const Variant& value);

// The locale whose dates the user reads, from LC_ALL, LC_TIME or LANG; "" when none is set. A
// table's export looks it up once rather than once a value.
std::string userTimeLocaleName();

// The date and time of an OLE day number (days since 1899-12-30, the fraction the time of day):
// the date part is left out when it is day 0, the time part when it is midnight.
// An empty `localeName` means the user's locale from LC_ALL, LC_TIME or LANG.
std::string oleDateToText(double day, const std::string& localeName = "");
// The same into text, whose buffer is reused.
void oleDateToTextInto(std::string& text, double day, const std::string& localeName = "");

// A Date/Time Extended value (years 1 to 9999) in the same form, its fraction of a second (up
// to seven digits, trailing zeros dropped) right after the seconds when it is not zero.
std::string extendedDateToText(const ExtendedDateValue& value, const std::string& localeName = "");

std::string currencyToText(int64_t tenThousandths);
std::string doubleToText(double value);
