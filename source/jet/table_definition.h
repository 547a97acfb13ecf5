// A table's definition as its definition pages hold it: the row count, the columns in the
// engine's order with their kinds, sizes, flags and places in a row, and the map of the pages
// that hold its records. The index parts of the definition are skipped.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "source/jet_header.h"

class PageReader;

// Damage found while reading the format; the caller adds which table of which file.
struct JetDamage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ColumnInfo {
  std::string name;
  int jetType = 0;          // the column type byte (a calculated column's: its result type)
  int size = 0;
  int scale = 0;
  bool fixed = false;
  bool calculated = false;  // the value is an expression's stored result
  uint8_t extFlags = 0;
  uint8_t flags = 0;        // the descriptor's flags (a memo's hyperlink bit among them)
  int16_t daoType = 0;
  // Where its value stands in a row.
  uint16_t number = 0;      // its bit in the null mask
  uint16_t varIndex = 0;    // its place among the variable-length values
  uint16_t fixedOffset = 0; // its offset in the fixed-length data
};

struct TableDefinition {
  uint32_t rowCount = 0;        // as the definition states it
  unsigned varColumns = 0;      // columns of variable length
  std::vector<ColumnInfo> columns;  // in column-number order
  std::vector<uint8_t> usageMap;    // the map of its data pages, as stored (see jet_format.h)
};

// Reads the definition that starts on `page`, across its continuation pages. Throws JetDamage
// when it cannot be read or does not hold together.
TableDefinition readTableDefinition(const PageReader& pages, JetVersion version, uint16_t codePage, uint32_t page);
