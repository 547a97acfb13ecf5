// One table: its column layout, its definition pages, and the stream of rows onto data and
// long-value pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/accesswriter/access_writer.h"
#include "tools/accesswriter/page_file.h"

namespace accesswriter {

struct ColumnLayout {
  Field field;
  uint8_t typeCode = 0;
  bool fixed = true;
  bool longValue = false;    // memo and OLE: a 12-byte reference in the row
  bool compressed = false;   // text stored in the compressed Unicode form where it fits
  uint16_t number = 0;       // position in the null mask
  uint16_t fixedOffset = 0;  // fixed columns: offset after the column count
  uint16_t varIndex = 0;     // variable columns: index in the offset table
  uint16_t length = 0;       // stored bytes (fixed) or maximum bytes (text)
};

struct TableLayout {
  std::string name;
  bool system = false;
  std::vector<ColumnLayout> columns;
  uint16_t fixedSize = 0;
  uint16_t varCount = 0;
  std::vector<uint32_t> definitionPages;  // first is the table's page (its catalog Id)
  std::vector<uint8_t> definition;        // logical definition bytes, first page's header included
  // Filled while writing:
  uint64_t rowCount = 0;
  std::vector<uint32_t> dataPages;        // in ascending order
};

// Lays out the columns and builds the definition (counts and map pointers patched later);
// throws Error naming the file and table when a field is not valid for the format.
TableLayout layoutTable(const std::string& file, const Table& table, const Options& options,
                        bool system);

// Reserves the definition pages for a laid-out table.
void reserveDefinitionPages(PageFile& file, TableLayout& layout);

// Writes the definition pages once the row count and the map pointers are known.
void writeDefinition(PageFile& file, TableLayout& layout, uint32_t usageMapRow, uint32_t freeMapRow);

// Streams rows onto the table's data pages and long values onto its long-value pages.
class TableStream {
 public:
  TableStream(PageFile& file, TableLayout& layout);
  void add(const Row& row);
  void finish();

 private:
  uint32_t storeLongValue(const std::vector<uint8_t>& data, uint8_t& kind);
  void addCalculated(size_t column, const Value& value);
  [[noreturn]] void fail(size_t column, const std::string& why) const;

  PageFile& file_;
  TableLayout& t_;
  RowPage data_;
  RowPage lval_;
  RowPage chunk_;
  std::vector<uint8_t> fixed_;
  std::vector<std::vector<uint8_t>> var_;  // per variable column
  std::vector<uint8_t> mask_;
  std::vector<uint8_t> row_;
  std::vector<uint8_t> ownerTag_;
};

}  // namespace accesswriter
