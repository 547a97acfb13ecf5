// The shared string table of a BIFF8 workbook. Strings of a loaded file stay as their records
// stand; strings written here are appended, one entry per cell, to records kept in a temporary
// file, so memory stays bounded whatever the number of texts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace xls {

struct SharedStrings {
  std::string loaded;        // the loaded SST record and its CONTINUE records, headers included
  uint32_t loadedTotal = 0, loadedUnique = 0;
  std::FILE* spool = nullptr;  // finished records of the strings added here
  uint64_t spoolBytes = 0;
  std::string current;       // body of the record being filled
  bool currentIsFirst = true;  // no SST record exists yet: the first record made here is one
  uint32_t added = 0;
  ~SharedStrings() {
    if (spool) std::fclose(spool);
  }
  uint32_t count() const { return loadedUnique + added; }
};

// Adds a string (UTF-16) and gives its index; false when the temporary file fails.
bool addSharedString(SharedStrings& sst, const std::u16string& text, uint32_t& index, std::string& error);

// Size of the table as saved, and the writing of it.
uint64_t sharedStringsSize(const SharedStrings& sst);
bool writeSharedStrings(SharedStrings& sst, std::FILE* out);

}  // namespace xls
