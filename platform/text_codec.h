// The one text codec: UTF-8 in and out, UTF-16, the compressed Unicode form Access stores texts
// in, and single-byte code pages. Decoding never fails: what cannot be decoded becomes U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Appends one code point (at most U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

// Decodes the UTF-8 character at text[at]: its length, or 0 for an invalid or overlong sequence,
// a surrogate or a code point above U+10FFFF.
size_t decodeUtf8Char(std::string_view text, size_t at, char32_t& codePoint);

// UTF-16 units of UTF-8 text; every invalid byte becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);
// The same, or false (and the byte offset of the fault in `badAt`) for malformed UTF-8.
bool utf8ToUtf16Strict(std::string_view utf8, std::u16string& out, size_t* badAt = nullptr);

// UTF-8 of UTF-16 units; lone surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view units);

// UTF-8 of UTF-16LE bytes; an odd last byte is dropped.
std::string decodeUtf16Le(const uint8_t* data, size_t length);

// A Jet4 or ACE text: UTF-16LE, or the compressed form that starts FF FE (runs of one-byte
// characters and of UTF-16 units, switched by a 0 byte).
std::string decodeAccessText(const uint8_t* data, size_t length);
// The same into out, whose buffer is reused.
void decodeAccessTextInto(std::string& out, const uint8_t* data, size_t length);

// The stored bytes of a Jet4 or ACE text: UTF-16LE, or, when `compress` is set and every unit is
// in 0x01..0xFF and compression saves space, FF FE followed by one byte per unit.
std::vector<uint8_t> encodeAccessText(std::u16string_view units, bool compress);

// UTF-8 of single bytes in a Windows code page (1252 when it is 0 or unknown to the system).
std::string decodeCodePageText(const uint8_t* data, size_t length, uint16_t codePage);

// Whether decodeCodePageText decodes the code page itself rather than as 1252.
bool canDecodeCodePage(uint16_t codePage);
