// Reads one table through libmdb: its columns in design order, then its records one at a time,
// each value decoded from the record's own bytes. Every length and offset libmdb reports is
// checked against the page and the file before it is used.
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
  int mdbType = 0;   // libmdb's column type byte
  int size = 0;
  int scale = 0;
  bool fixed = false;
  int16_t daoType = 0;
};

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

 private:
  void open(const CatalogTable& table);
  void release();
  bool loadNextPage();
  bool crackIsQuiet(int start, size_t length) const;
  Variant decode(const ColumnInfo& column, const MdbField& field);
  std::vector<uint8_t> readLongValue(const uint8_t* head, size_t size, const ColumnInfo& column);
  [[noreturn]] void damaged(const std::string& what) const;

  std::shared_ptr<DatabaseFile> file_;
  std::string tableName_;
  MdbHandle* mdb_ = nullptr;  // a clone with its own page buffers
  MdbCatalogEntry entry_{};
  MdbTableDef* table_ = nullptr;
  std::vector<ColumnInfo> columns_;
  std::vector<MdbField> fields_;
  uint32_t declaredRows_ = 0;
  bool pageLoaded_ = false;
  bool finished_ = false;
  unsigned row_ = 0;
  uint64_t pagesVisited_ = 0;
};
