// The shared string table (SST) of a BIFF8 workbook. Strings of a loaded file keep their bytes
// (rich text runs and phonetic data included); strings written here are framed into records as
// they come, one entry per cell, and the whole records go to a temporary file, so memory stays
// bounded whatever the number of texts and a save only copies them. The table is one SST record,
// followed by CONTINUE records only where a record would pass the size limit, and an EXTSST
// index that points into it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "workbook/spool.h"

namespace xls {

// Where the table's strings stand: every `stringsPerBucket` strings, the string's position from
// the start of the SST record and from the start of the record that holds it.
struct SstIndex {
  uint16_t stringsPerBucket = 8;
  std::vector<std::pair<uint64_t, uint16_t>> buckets;
};

struct SharedStrings {
  std::string loaded;        // the loaded SST record and its CONTINUE records, headers included
  uint32_t loadedTotal = 0;  // references to strings in the loaded file, as its SST says
  uint32_t loadedUnique = 0; // strings in the loaded table, as counted there
  uint32_t added = 0;
  uint32_t count() const { return loadedUnique + added; }

  // The table as framed so far: whole records in `records` (their counts not yet filled in),
  // then the body of the record being filled.
  bool started = false;      // the loaded strings are framed (they come first)
  Spool records;
  std::string body;
  uint32_t framed = 0;       // strings framed
  SstIndex index;
  std::u16string scratch;    // a text being added, as UTF-16
};

// Counts the strings of the loaded table and checks that each is whole; false when it is damaged.
bool readLoadedStrings(SharedStrings& sst, std::string& error);

// Adds a string (UTF-16) and gives its index; false when the temporary file fails.
bool addSharedString(SharedStrings& sst, std::u16string_view text, uint32_t& index, std::string& error);
// The same for valid UTF-8.
bool addSharedStringUtf8(SharedStrings& sst, std::string_view utf8, uint32_t& index, std::string& error);

// The bytes of the SST record and its CONTINUE records as a save writes them.
bool sharedStringsSize(SharedStrings& sst, uint64_t& size, std::string& error);
// Writes the table to out, with its counts; the table can grow afterwards and be written again.
bool writeSharedStrings(SharedStrings& sst, std::FILE* out, std::string& error);

// The EXTSST body for the table written at stream offset sstOffset.
std::string extSstBody(const SstIndex& index, uint64_t sstOffset);

}  // namespace xls
