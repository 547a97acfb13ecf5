// Long values (memo and OLE): a reference in the record, and the bytes either inline after it,
// in one row of a long-value page, or in a chain of such rows. The page read last is kept, since
// the next value often lies on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "source/jet_header.h"

class PageReader;

class LongValueReader {
 public:
  LongValueReader(const PageReader& pages, JetVersion version);

  // The value whose reference `head` (`size` bytes, at least jetfmt::kLvRefSize) begins, into
  // `out`. Throws JetDamage naming `column` when the value is missing, cut short or loops.
  void read(const uint8_t* head, size_t size, const std::string& column, std::vector<uint8_t>& out);

 private:
  bool findRow(uint32_t pageRow, size_t& start, size_t& length);

  const PageReader& pages_;
  JetVersion version_;
  std::vector<uint8_t> page_;
  uint32_t pageNumber_ = 0;  // of page_, 0 for none
};
