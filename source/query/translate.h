// Access SQL, parsed, into one SQLite statement: names resolved against the database's tables and
// saved queries, every value typed statically as Access types it, Access's operators, functions,
// text collation, TOP with ties and crosstabs written in SQLite's terms.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source/database_file.h"
#include "source/jet/table_definition.h"
#include "source/linked_tables.h"
#include "source/query/sql_tree.h"

// A value SQLite returned, as the translator needs it back (a crosstab's pivot values).
struct SqlValue {
  enum class Kind { Null, Integer, Real, Text, Blob } kind = Kind::Null;
  int64_t integer = 0;
  double real = 0;
  std::string text;
};

// What the translation asks of the connection it writes for.
class TranslationBackend {
 public:
  virtual ~TranslationBackend() = default;
  // A table's records as SQLite sees them (a virtual table over its cursor): its SQLite name, its
  // columns (named "c0", "c1", ... there, in the table's order) and its declared record count.
  struct Table {
    std::string sqlName;
    std::vector<ColumnInfo> columns;
    uint32_t rowCount = 0;
  };
  virtual Table table(const TableSource& source) = 0;
  // The values of a one-column statement's rows, with ?N bound to the values of `parameters`;
  // false when statements cannot run now (only the shape of a query is asked for).
  virtual bool firstColumn(const std::string& sql, const std::vector<std::string>& parameters,
                           std::vector<SqlValue>& values) = 0;
};

struct TranslatedParameter {
  std::string name;
  int16_t daoType = 0;  // declared, or dbText
};

struct Translation {
  std::string sql;                  // one statement; its result columns are the query's, in order
  std::vector<ColumnInfo> columns;  // named and typed as Access gives them
  std::vector<TranslatedParameter> parameters;  // ?1, ?2, ...: those of the queries it is built on too
  bool columnsKnown = true;         // false for a crosstab whose pivot values could not be read
  // A query that only picks fields of one table, every record of it in its order: the table and
  // each column's index there, to be read straight from its cursor.
  std::optional<TableSource> directTable;
  std::vector<size_t> directColumns;
};

// Translates `query` (named `name` in messages) of `file`. Throws SqlError, with the span of the
// part that failed in `query`'s own SQL or a message that names the saved query it came from.
Translation translateQuery(const std::shared_ptr<DatabaseFile>& file, const std::string& name, const Query& query,
                           TranslationBackend& backend);

// An SQL literal of a value SQLite returned.
std::string sqlLiteral(const SqlValue& value);
