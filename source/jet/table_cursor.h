// Reads one table: its columns in the engine's order, then its records one at a time in the
// order the engine keeps them, each value decoded from the record's own bytes: the walk over the
// usage map, one page read at a time, the rows of each page (deleted rows, overflow pointers),
// and the values of each record. Every length and offset is checked against the page and the
// file before it is used.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "source/database_file.h"
#include "source/jet/long_value.h"
#include "source/jet/row.h"
#include "source/jet/table_definition.h"
#include "source/variant.h"

// Where a record's header row stands: its page and its row on that page.
struct RowLocation {
  uint32_t page = 0;
  uint16_t row = 0;
};

class ComplexColumnValues;

class TableCursor {
 public:
  TableCursor(std::shared_ptr<DatabaseFile> file, const CatalogTable& table);
  ~TableCursor();
  TableCursor(const TableCursor&) = delete;
  TableCursor& operator=(const TableCursor&) = delete;

  const std::vector<ColumnInfo>& columns() const { return definition_.columns; }
  uint32_t declaredRowCount() const { return definition_.rowCount; }

  // Back to before the first record.
  void rewind();
  // The next record's values, one per column; false past the last record.
  bool next(std::vector<Variant>& values);
  // Where the record that next() returned last stands.
  RowLocation location() const { return {currentPage_, lastRow_}; }
  // The record whose header row stands at `at`; false when no record stands there.
  bool readAt(RowLocation at, std::vector<Variant>& values);
  // Decodes only the columns marked true; the others come as VT_EMPTY. Empty: every column.
  void selectColumns(std::vector<bool> wanted) { wanted_ = std::move(wanted); }

 private:
  void open(const CatalogTable& table);
  bool loadPage(uint32_t page);
  uint32_t nextMappedPage(uint32_t after);
  bool loadNextPage();
  unsigned rowCountOfLoadedPage() const;
  bool slotOf(unsigned row, RowSlot& slot) const;
  void loadDataPage(uint32_t page, const char* what);
  RowSlot followOverflow(RowSlot pointer);
  void crackAndDecode(const RowSlot& slot, std::vector<Variant>& values);
  Variant decode(size_t index, const FieldExtent& field);
  Variant decodeBytes(const ColumnInfo& column, const uint8_t* p, size_t size);
  Variant decodeCalculated(const ColumnInfo& column, const uint8_t* p, size_t size);
  void readLongValue(const uint8_t* head, size_t size, const ColumnInfo& column, std::vector<uint8_t>& out);
  [[noreturn]] void damaged(const std::string& what) const;

  std::shared_ptr<DatabaseFile> file_;
  const PageReader& pages_;
  JetVersion version_;
  std::string tableName_;
  uint32_t definitionPage_ = 0;
  TableDefinition definition_;
  std::vector<FieldExtent> fields_;
  std::vector<bool> wanted_;
  std::vector<std::unique_ptr<ComplexColumnValues>> complex_;  // per column, for complex columns
  std::vector<uint8_t> page_;            // the data page loaded last
  uint32_t loadedPage_ = 0;              // its number, 0 for none
  uint32_t currentPage_ = 0;             // the page the walk stands on
  bool pageLoaded_ = false;              // the walk's page is in page_
  bool finished_ = false;
  unsigned row_ = 0;
  uint16_t lastRow_ = 0;
  uint64_t pagesVisited_ = 0;
  bool walkAllPages_ = false;            // the usage map failed: every page is looked at
  std::vector<uint8_t> bitmapPage_;      // the usage bitmap page read last
  uint32_t bitmapPageNumber_ = 0;
  LongValueReader longValues_;
  std::vector<uint8_t> longValueBytes_;  // a memo's bytes, before they become its text
  std::string textBuffer_;               // the buffer the next decoded text goes into
};
