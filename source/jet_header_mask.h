// The two uses of RC4 the Jet formats make without a password: the fixed mask over part of the
// header page, and the page encoding of a Jet3 or Jet4 file whose header holds a database key.
// RC4 is its own inverse, so each function both masks and unmasks; the engine, the decryption and
// the test writer all go through these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/little_endian.h"
#include "platform/rc4.h"
#include "source/jet_format.h"

namespace jetfmt {

// Masks or unmasks the header page in place; its version byte, which lies before the masked
// stretch, says how long that stretch is. False, with nothing changed, when the page is too short.
inline bool toggleHeaderMask(uint8_t* page, size_t size) {
  if (size <= kHdrVersion) return false;
  const size_t length = page[kHdrVersion] == kVersionJet3 ? kHdrRc4LengthJet3 : kHdrRc4Length;
  if (size < kHdrRc4Start + length) return false;
  rc4Apply(kHdrRc4Key, sizeof kHdrRc4Key, page + kHdrRc4Start, length);
  return true;
}

// The RC4 key of one page: the database key with the page number XORed in, little-endian.
inline void pageKeyBytes(uint32_t databaseKey, uint32_t page, uint8_t key[4]) {
  le::put32(key, databaseKey ^ page);
}

// Encodes or decodes one page of a file whose header holds a database key (page 0 never is).
inline void togglePageEncoding(uint32_t databaseKey, uint32_t page, uint8_t* bytes, size_t size) {
  uint8_t key[4];
  pageKeyBytes(databaseKey, page, key);
  rc4Apply(key, sizeof key, bytes, size);
}

}  // namespace jetfmt
