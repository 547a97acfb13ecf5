// Reads one table: its columns in design order, then its records one at a time in the order the
// engine keeps them, each value decoded from the record's own bytes. libmdb reads the table's
// definition and cracks a record into its fields; the walk over the usage map, the page reads
// (one pread each) and the walk over the rows of a page (deleted rows, overflow pointers) are ours. Every length and offset is checked against the page and the file
// before it is used.
#pragma once

#include "source/libmdb.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "source/database_file.h"
#include "source/variant.h"

struct ColumnInfo {
  std::string name;
  int mdbType = 0;   // the column type byte (a calculated column's: its result type)
  int size = 0;
  int scale = 0;
  bool fixed = false;
  bool calculated = false;  // the value is an expression's stored result
  uint8_t extFlags = 0;
  uint8_t flags = 0;        // the descriptor's flags (a memo's hyperlink bit among them)
  int16_t daoType = 0;
};

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

  const std::vector<ColumnInfo>& columns() const { return columns_; }
  uint32_t declaredRowCount() const { return declaredRows_; }

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
  struct RowSlot {
    uint16_t flags = 0;
    unsigned start = 0;
    unsigned length = 0;
  };

  void open(const CatalogTable& table);
  void readColumnFlags(uint32_t definitionPage);
  void release();
  bool readPage(uint32_t page, uint8_t* into) const;
  bool loadPage(uint32_t page);
  uint32_t nextMappedPage(uint32_t after);
  bool loadNextPage();
  unsigned rowCountOfPage() const;
  bool slotOf(const uint8_t* page, unsigned row, RowSlot& slot) const;
  bool slotOf(unsigned row, RowSlot& slot) const { return slotOf(mdb_->pg_buf, row, slot); }  // the loaded page
  void loadDataPage(uint32_t page, const char* what);
  RowSlot followOverflow(RowSlot pointer);
  void crackAndDecode(const RowSlot& slot, std::vector<Variant>& values);
  bool crackIsQuiet(int start, size_t length) const;
  Variant decode(size_t index, const MdbField& field);
  Variant decodeBytes(const ColumnInfo& column, const uint8_t* p, size_t size);
  Variant decodeCalculated(const ColumnInfo& column, const uint8_t* p, size_t size);
  bool findLongValueRow(uint32_t pageRow, size_t& start, size_t& length);
  std::vector<uint8_t> readLongValue(const uint8_t* head, size_t size, const ColumnInfo& column);
  void readLongValue(const uint8_t* head, size_t size, const ColumnInfo& column, std::vector<uint8_t>& out);
  [[noreturn]] void damaged(const std::string& what) const;

  std::shared_ptr<DatabaseFile> file_;
  std::string tableName_;
  uint32_t definitionPage_ = 0;
  MdbHandle* mdb_ = nullptr;  // a clone with its own page buffers
  MdbCatalogEntry entry_{};
  MdbTableDef* table_ = nullptr;
  std::vector<ColumnInfo> columns_;
  std::vector<MdbField> fields_;
  std::vector<bool> wanted_;
  std::vector<std::unique_ptr<ComplexColumnValues>> complex_;  // per column, for complex columns
  uint32_t declaredRows_ = 0;
  uint32_t currentPage_ = 0;
  bool pageLoaded_ = false;
  bool finished_ = false;
  unsigned row_ = 0;
  uint16_t lastRow_ = 0;
  uint64_t pagesVisited_ = 0;
  int fd_ = -1;                          // the file as libmdb opened it; read with pread only
  uint64_t fileBytes_ = 0;
  bool walkAllPages_ = false;            // the usage map failed: every page is looked at
  std::vector<uint8_t> bitmapPage_;      // the usage bitmap page read last
  uint32_t bitmapPageNumber_ = 0;
  std::vector<uint8_t> longValuePage_;   // the long-value page read last
  std::vector<uint8_t> longValueBytes_;  // a memo's bytes, before they become its text
  std::string textBuffer_;               // the buffer the next decoded text goes into
  uint32_t longValuePageNumber_ = 0;
};
