// Text helpers: letter case folding of a to z only (other bytes, UTF-8 included, stay as they
// are), prefix and suffix tests, and cutting UTF-8 text without splitting a character.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_codec.h"

std::string asciiUpper(std::string_view text);
bool asciiEqualsIgnoreCase(std::string_view a, std::string_view b);
bool asciiStartsWithIgnoreCase(std::string_view text, std::string_view prefix);
bool asciiEndsWithIgnoreCase(std::string_view text, std::string_view suffix);


// The longest prefix of at most maxBytes bytes that does not end inside a UTF-8 sequence.
std::string utf8Prefix(std::string_view text, size_t maxBytes);

// The leading decimal number of a text (blanks, then an optional sign, then digits), clamped to
// the 32-bit range; `fallback` when the text has no digits there.
int32_t leadingDecimal(std::string_view text, int32_t fallback);
