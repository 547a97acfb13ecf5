#include "source/query/table_module.h"

#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "source/com_error.h"
#include "source/dao_types.h"
#include "source/jet/table_cursor.h"
#include "source/query/access_functions.h"
#include "source/query/sqlite_values.h"

namespace {

// SQLite's colUsed marks columns 0 to 62 one bit each; its last bit stands for all the others.
constexpr int kColumnBits = 63;

struct AccessTable {
  sqlite3_vtab base{};
  const TableSource* source = nullptr;
  size_t columnCount = 0;
  uint32_t rowCount = 0;
  uint64_t used = 0;  // the union of what every plan of the statement reads
};

struct AccessCursor {
  sqlite3_vtab_cursor base{};
  std::unique_ptr<TableCursor> cursor;
  std::vector<Variant> values;
  bool eof = true;
  sqlite3_int64 rowid = 0;
};

bool isText(int16_t t) { return t == dbText || t == dbMemo || t == dbGUID || t == dbComplexText; }

int fail(sqlite3_vtab* vtab, const char* what) {
  sqlite3_free(vtab->zErrMsg);
  vtab->zErrMsg = sqlite3_mprintf("%s", what);
  return SQLITE_ERROR;
}

int connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** error) {
  auto* sources = static_cast<TableModuleSources*>(aux);
  if (argc < 4) {
    *error = sqlite3_mprintf("access_table needs the index of its table");
    return SQLITE_ERROR;
  }
  size_t index = std::strtoul(argv[3], nullptr, 10);
  if (index >= sources->sources.size()) {
    *error = sqlite3_mprintf("access_table: no table %s", argv[3]);
    return SQLITE_ERROR;
  }
  auto table = std::make_unique<AccessTable>();
  table->source = &sources->sources[index];
  std::string schema = "CREATE TABLE x(";
  try {
    TableCursor cursor(table->source->file, *table->source->table);
    const auto& columns = cursor.columns();
    table->columnCount = columns.size();
    table->rowCount = cursor.declaredRowCount();
    for (size_t c = 0; c < columns.size(); ++c) {
      schema += (c ? ", c" : "c") + std::to_string(c);
      if (isText(columns[c].daoType)) schema += std::string(" COLLATE \"") + kAccessCollation + "\"";
    }
  } catch (const ComError& e) {
    *error = sqlite3_mprintf("%s", e.description().c_str());
    return SQLITE_ERROR;
  } catch (const std::exception& e) {
    *error = sqlite3_mprintf("%s", e.what());
    return SQLITE_ERROR;
  }
  if (table->columnCount == 0) schema += "c0";
  schema += ")";
  int rc = sqlite3_declare_vtab(db, schema.c_str());
  if (rc != SQLITE_OK) return rc;
  *out = &table.release()->base;
  return SQLITE_OK;
}

int disconnect(sqlite3_vtab* vtab) {
  delete reinterpret_cast<AccessTable*>(vtab);
  return SQLITE_OK;
}

int bestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
  auto* table = reinterpret_cast<AccessTable*>(vtab);
  table->used |= info->colUsed;
  // A whole read, every time: the cost SQLite weighs when it orders a join.
  info->estimatedRows = table->rowCount ? table->rowCount : 1;
  info->estimatedCost = static_cast<double>(info->estimatedRows) + 10.0;
  return SQLITE_OK;
}

int open(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out) {
  auto* table = reinterpret_cast<AccessTable*>(vtab);
  auto cursor = std::make_unique<AccessCursor>();
  try {
    cursor->cursor = std::make_unique<TableCursor>(table->source->file, *table->source->table);
    std::vector<bool> wanted(table->columnCount);
    for (size_t c = 0; c < wanted.size(); ++c)
      wanted[c] = (table->used >> (c < kColumnBits ? c : kColumnBits)) & 1;
    cursor->cursor->selectColumns(std::move(wanted));
  } catch (const std::exception& e) {
    return fail(vtab, e.what());
  }
  *out = &cursor.release()->base;
  return SQLITE_OK;
}

int close(sqlite3_vtab_cursor* cursor) {
  delete reinterpret_cast<AccessCursor*>(cursor);
  return SQLITE_OK;
}

int next(sqlite3_vtab_cursor* base) {
  auto* c = reinterpret_cast<AccessCursor*>(base);
  try {
    c->eof = !c->cursor->next(c->values);
  } catch (const std::exception& e) {
    return fail(base->pVtab, e.what());
  }
  ++c->rowid;
  return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* base, int, const char*, int, sqlite3_value**) {
  auto* c = reinterpret_cast<AccessCursor*>(base);
  try {
    c->cursor->rewind();
  } catch (const std::exception& e) {
    return fail(base->pVtab, e.what());
  }
  c->rowid = 0;
  return next(base);
}

int eof(sqlite3_vtab_cursor* base) { return reinterpret_cast<AccessCursor*>(base)->eof; }

int column(sqlite3_vtab_cursor* base, sqlite3_context* context, int index) {
  auto* c = reinterpret_cast<AccessCursor*>(base);
  if (index < 0 || static_cast<size_t>(index) >= c->values.size()) {
    sqlite3_result_null(context);
    return SQLITE_OK;
  }
  resultOfVariant(context, c->values[index]);
  return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor* base, sqlite3_int64* out) {
  *out = reinterpret_cast<AccessCursor*>(base)->rowid;
  return SQLITE_OK;
}

sqlite3_module makeModule() {
  sqlite3_module m{};
  m.iVersion = 1;
  m.xCreate = connect;
  m.xConnect = connect;
  m.xBestIndex = bestIndex;
  m.xDisconnect = disconnect;
  m.xDestroy = disconnect;
  m.xOpen = open;
  m.xClose = close;
  m.xFilter = filter;
  m.xNext = next;
  m.xEof = eof;
  m.xColumn = column;
  m.xRowid = rowid;
  return m;
}

const sqlite3_module kModule = makeModule();

}  // namespace

int registerTableModule(sqlite3* db, TableModuleSources* sources) {
  return sqlite3_create_module_v2(db, kTableModuleName, &kModule, sources, nullptr);
}
