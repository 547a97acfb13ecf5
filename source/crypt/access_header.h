// Where the header page (page 0) of a Jet4 or ACE database keeps what decryption needs.
// Page 0 itself is never encrypted by the database password; part of it is masked with a fixed
// RC4 key, which every reader removes: jetfmt::toggleHeaderMask.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "source/jet_format.h"

// The header facts, by their names in the one format header.
inline constexpr size_t kAccessPageSize = jetfmt::kPageSize;             // Jet4 and ACE pages
inline constexpr size_t kHeaderVersionOffset = jetfmt::kHdrVersion;     // 0 Jet3, 1 Jet4, 2.. ACE 12, 14, ...
inline constexpr unsigned kFirstAceVersion = jetfmt::kVersionAce12;
inline constexpr unsigned kLastKnownVersion = jetfmt::kVersionAce17;
inline constexpr size_t kDatabaseKeyOffset = jetfmt::kHdrDbKey;         // inside the masked region
inline constexpr size_t kEncryptionInfoOffset = jetfmt::kHdrEncryptionInfo;  // u16 length, then the provider's bytes

// What an unmasked header page says about encryption. Lengths are checked against the page.
struct HeaderFacts {
  bool accessHeader = false;  // page type 0 and a known version, whole page present
  unsigned version = 0;
  std::array<unsigned char, 4> databaseKey{};
  bool hasDatabaseKey = false;                 // not all zero
  std::span<const unsigned char> encryptionInfo;  // empty when absent
  bool encryptionInfoFits = true;              // its stated length stays inside the page
};

HeaderFacts readHeaderFacts(std::span<const unsigned char> unmaskedPage);

// The per-page key: the database key with the page number XORed in, little-endian.
std::array<unsigned char, 4> pageKey(const std::array<unsigned char, 4>& databaseKey,
                                     uint32_t pageNumber);
