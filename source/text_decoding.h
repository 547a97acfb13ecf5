// Text values as Jet stores them, decoded to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A Jet4/ACE text: UTF-16LE, or the compressed form that starts FF FE (runs of one-byte
// characters and of UTF-16 units, switched by a 0 byte). Lone surrogates become U+FFFD.
std::string decodeJet4Text(const uint8_t* data, size_t length);

// A Jet3 text: single bytes in the database's code page (1252 when it is 0 or unknown).
std::string decodeJet3Text(const uint8_t* data, size_t length, uint16_t codePage);
