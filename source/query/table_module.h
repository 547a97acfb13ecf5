// The SQLite virtual table over our reader: a table's records, read through its TableCursor as
// SQLite asks for them (never held whole), decoding only the columns the statement uses.
#pragma once

#include <deque>
#include <string>

#include "source/linked_tables.h"

struct sqlite3;

// The tables one connection reads; a virtual table's argument is its index here.
struct TableModuleSources {
  std::deque<TableSource> sources;
};

// Registers the module "access_table" on `db`; `sources` outlives the connection.
int registerTableModule(sqlite3* db, TableModuleSources* sources);

// Columns of the virtual tables are named c0, c1, ...; texts compare with Access's collation.
inline constexpr const char* kTableModuleName = "access_table";
