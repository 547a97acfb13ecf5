// What a Recordset reads its records from: a table's cursor, or the rows of a query that the
// SQL engine returns. The recordset adds DAO's state (current record, EOF, closed) on top.
#pragma once

#include <cstdint>
#include <vector>

#include "source/jet/table_definition.h"
#include "source/variant.h"

class RecordStream {
 public:
  virtual ~RecordStream() = default;
  // The result's columns, in order; for a query the fields Access would show (name, daoType).
  virtual const std::vector<ColumnInfo>& columns() const = 0;
  // The number of records as known before they are read (a table's declared count); 0 when it
  // is not known ahead.
  virtual uint32_t knownRecordCount() const = 0;
  // Back to before the first record.
  virtual void rewind() = 0;
  // The next record's values, one per column; false past the last record.
  virtual bool next(std::vector<Variant>& values) = 0;
};
