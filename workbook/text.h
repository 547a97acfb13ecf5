// UTF-8 texts as cells and sheet names need them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The text as valid UTF-8 (each invalid byte becomes U+FFFD), cut to at most maxUnits UTF-16
// units without splitting a character.
std::string cleanUtf8(std::string_view text, size_t maxUnits);

// Cuts valid UTF-8 in place where cleanUtf8 would cut it: at its first NUL (where a C string
// ends) and to at most maxUnits UTF-16 units, without splitting a character.
void cutValidUtf8(std::string& text, size_t maxUnits);

// Code points of valid UTF-8 (as made by cleanUtf8).
std::vector<char32_t> codePoints(std::string_view utf8);
std::u16string toUtf16(std::string_view utf8);
size_t utf16Length(std::string_view utf8);

// Whether Excel accepts the name for a sheet (not counting clashes with other sheets).
bool sheetNameAllowed(std::string_view utf8);

// The longest sheet name, in UTF-16 units, and the characters no sheet name may hold.
constexpr size_t kLongestSheetName = 31;
bool refusedInSheetName(char32_t c);
// Names equal without regard to case, as Excel compares sheet names.
bool sameSheetName(std::string_view a, std::string_view b);
