// RC4 as the Jet file header and page encoding use it (a 4-byte key, no drop).
#pragma once

#include <cstddef>
#include <cstdint>

void rc4Apply(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length);
