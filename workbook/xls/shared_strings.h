// The shared string table (SST) of a BIFF8 workbook. Strings of a loaded file keep their bytes
// (rich text runs and phonetic data included); strings written here go, one entry per cell, to a
// temporary file, so memory stays bounded whatever the number of texts. On save the table is laid
// out whole again: one SST record, followed by CONTINUE records only where a record would pass
// the size limit, and an EXTSST index that points into it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace xls {

struct SharedStrings {
  std::string loaded;        // the loaded SST record and its CONTINUE records, headers included
  uint32_t loadedTotal = 0;  // references to strings in the loaded file, as its SST says
  uint32_t loadedUnique = 0; // strings in the loaded table, as counted there
  std::FILE* spool = nullptr;  // strings added here: count, flags and characters, one after another
  uint32_t added = 0;
  ~SharedStrings() {
    if (spool) std::fclose(spool);
  }
  uint32_t count() const { return loadedUnique + added; }
};

// Counts the strings of the loaded table and checks that each is whole; false when it is damaged.
bool readLoadedStrings(SharedStrings& sst, std::string& error);

// Adds a string (UTF-16) and gives its index; false when the temporary file fails.
bool addSharedString(SharedStrings& sst, const std::u16string& text, uint32_t& index, std::string& error);

// Where the saved table's pieces are: its size and, every `stringsPerBucket` strings, the string's
// position from the start of the SST record and from the start of the record that holds it.
struct SstLayout {
  uint64_t size = 0;
  uint16_t stringsPerBucket = 8;
  std::vector<std::pair<uint64_t, uint16_t>> buckets;
};

// Lays the table out; with out set, writes it there too. False when the temporary file fails.
bool layOutSharedStrings(SharedStrings& sst, std::FILE* out, SstLayout& layout, std::string& error);

// The EXTSST body for a table laid out at stream offset sstOffset.
std::string extSstBody(const SstLayout& layout, uint64_t sstOffset);

}  // namespace xls
