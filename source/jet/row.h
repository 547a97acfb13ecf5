// The rows of a data page and the fields of a record's row: where each row stands on its page,
// and where each column's value stands in a record. Only offsets are computed here; every one is
// checked against the row before it is handed out.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "source/jet_header.h"
#include "source/jet/table_definition.h"

// Where a row stands on its page: its offset flags, its first byte and its length.
struct RowSlot {
  uint16_t flags = 0;
  unsigned start = 0;
  unsigned length = 0;
};

// The number of rows a data page says it holds (not checked).
unsigned rowCountOfPage(const uint8_t* page, JetVersion version);
// Row `row` of a data page; false when its extent does not fit the page.
bool rowSlot(const uint8_t* page, uint32_t pageSize, JetVersion version, unsigned row, RowSlot& slot);

// The page a page/row pointer (of a long value, a usage map) names.
uint32_t pointedPage(uint32_t pageRow);
// The row a page/row pointer names on its page, already read into `page`; false when that page
// is no data page or the row does not fit it.
bool pointedRow(const uint8_t* page, uint32_t pageSize, JetVersion version, uint32_t pageRow, RowSlot& slot);

// One column's value in a record: null, or `size` bytes from `start` (an offset on the page).
// A Yes/No value is its null bit: `isNull` false means Yes.
struct FieldExtent {
  bool isNull = true;
  unsigned start = 0;
  unsigned size = 0;
};

// Cracks the record in `slot` of `page` into one extent per column of `definition`, in its
// order. A column the record was written without (added later) is null. Throws JetDamage when
// the row's own counts or offsets do not fit it.
void crackRow(const TableDefinition& definition, JetVersion version, const uint8_t* page, const RowSlot& slot,
              std::vector<FieldExtent>& fields);
