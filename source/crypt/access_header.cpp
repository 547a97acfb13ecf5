#include "source/crypt/access_header.h"

#include "platform/little_endian.h"
#include "source/jet_header_mask.h"

HeaderFacts readHeaderFacts(std::span<const unsigned char> page) {
  HeaderFacts facts;
  if (page.size() < kAccessPageSize || page[0] != 0) return facts;
  facts.version = page[kHeaderVersionOffset];
  if (facts.version > kLastKnownVersion) return facts;
  facts.accessHeader = true;
  for (size_t i = 0; i < 4; ++i) facts.databaseKey[i] = page[kDatabaseKeyOffset + i];
  facts.hasDatabaseKey = facts.databaseKey != std::array<unsigned char, 4>{};
  size_t length = le::get16(page.data() + kEncryptionInfoOffset);
  size_t start = kEncryptionInfoOffset + 2;
  if (start + length > kAccessPageSize) {
    facts.encryptionInfoFits = false;
  } else {
    facts.encryptionInfo = page.subspan(start, length);
  }
  return facts;
}

std::array<unsigned char, 4> pageKey(const std::array<unsigned char, 4>& databaseKey,
                                     uint32_t pageNumber) {
  std::array<unsigned char, 4> key;
  jetfmt::pageKeyBytes(le::get32(databaseKey.data()), pageNumber, key.data());
  return key;
}
