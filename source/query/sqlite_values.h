// Values between our reader and SQLite, as source/query/access_functions.h says they stand there:
// a field's Variant into an SQLite result, and an SQLite value back into a Variant of the static
// type Access gives the query's column.
#pragma once

#include <cstdint>

#include "source/jet/table_definition.h"
#include "source/variant.h"

struct sqlite3_context;
struct sqlite3_stmt;

void resultOfVariant(sqlite3_context* context, const Variant& value);

// Column `index` of the row `statement` stands on, as a value of `column`'s type: dates from OLE
// doubles, Yes/No as -1 or 0, currency rounded to four places, numbers Access types as text as
// their text.
void variantOfColumn(sqlite3_stmt* statement, int index, const ColumnInfo& column, Variant& out);
