#include "source/engine.h"

#include "platform/text.h"
#include "source/database_file.h"
#include "source/linked_tables.h"
#include "source/jet_format.h"
#include "source/jet/table_cursor.h"
#include "source/record_stream.h"
#include "source/query/run_query.h"

// The columns and, for a recordset, the current record that Field objects read.
struct RecordState {
  std::vector<ColumnInfo> columns;
  std::vector<Variant> values;
  bool isRecordset = false;
  bool current = false;
  bool closed = false;
  std::string table;
  std::string kind = "table";  // or "query": what messages call `table`
  std::string path;
};

namespace {

[[noreturn]] void raise(int32_t hr, const char* source, const std::string& what, const std::string& path) {
  throw ComError(hr, source, what + ": " + path);
}

// A table's records, as its cursor reads them.
class TableRecords : public RecordStream {
 public:
  TableRecords(std::shared_ptr<DatabaseFile> file, const CatalogTable& table) : cursor_(std::move(file), table) {}
  const std::vector<ColumnInfo>& columns() const override { return cursor_.columns(); }
  uint32_t knownRecordCount() const override { return cursor_.declaredRowCount(); }
  void rewind() override { cursor_.rewind(); }
  bool next(std::vector<Variant>& values) override { return cursor_.next(values); }

 private:
  TableCursor cursor_;
};

}  // namespace

// ---- Field / Fields

int16_t Field::Type() const { return state_->columns.at(index_).daoType; }

std::string Field::Name() const { return state_->columns.at(index_).name; }

int32_t Field::Attributes() const {
  const ColumnInfo& c = state_->columns.at(index_);
  return c.daoType == dbMemo && (c.flags & jetfmt::kColFlagHyperlink) ? dbHyperlinkField : 0;
}

Variant Field::Value() const {
  Variant v;
  ValueInto(v);
  return v;
}

void Field::ValueInto(Variant& out) const {
  const RecordState& s = *state_;
  if (!s.isRecordset)
    raise(daoerror::kNoCurrentRecord, "DAO.Field", "Field '" + s.columns[index_].name + "' of a table definition has no value", s.path);
  if (s.closed) raise(daoerror::kObjectClosed, "DAO.Field", "The recordset of " + s.kind + " '" + s.table + "' is closed", s.path);
  if (!s.current) raise(daoerror::kNoCurrentRecord, "DAO.Field", "No current record in " + s.kind + " '" + s.table + "'", s.path);
  out = s.values.at(index_);
}

int Fields::Count() const { return static_cast<int>(state_->columns.size()); }

Field Fields::Item(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= state_->columns.size())
    raise(daoerror::kItemNotFound, "DAO.Fields", "Item " + std::to_string(index) + " not found in the fields of " + state_->kind + " '" + state_->table + "'", state_->path);
  return Field(state_, static_cast<size_t>(index));
}

Field Fields::Item(const std::string& name) const {
  for (size_t i = 0; i < state_->columns.size(); ++i)
    if (asciiEqualsIgnoreCase(state_->columns[i].name, name)) return Field(state_, i);
  raise(daoerror::kItemNotFound, "DAO.Fields", "Item '" + name + "' not found in the fields of " + state_->kind + " '" + state_->table + "'", state_->path);
}

// ---- TableDef / TableDefs

std::string TableDef::Name() const { return file_->tables.at(index_).name; }

Fields TableDef::Fields() const {
  const CatalogTable& table = file_->tables.at(index_);
  TableSource source = resolveTable(file_, table);
  TableCursor cursor(source.file, *source.table);
  auto state = std::make_shared<RecordState>();
  state->columns = cursor.columns();
  state->table = table.name;
  state->path = source.file->path;
  return ::Fields(state);
}

int TableDefs::Count() const { return static_cast<int>(file_->tables.size()); }

TableDef TableDefs::Item(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= file_->tables.size())
    raise(daoerror::kItemNotFound, "DAO.TableDefs", "Item " + std::to_string(index) + " not found in the table definitions", file_->path);
  return TableDef(file_, static_cast<size_t>(index));
}

TableDef TableDefs::Item(const std::string& name) const {
  for (size_t i = 0; i < file_->tables.size(); ++i)
    if (asciiEqualsIgnoreCase(file_->tables[i].name, name)) return TableDef(file_, i);
  raise(daoerror::kItemNotFound, "DAO.TableDefs", "Item '" + name + "' not found in the table definitions", file_->path);
}

// ---- QueryDef / QueryDefs

std::string QueryDef::Name() const { return file_->queries.at(index_).name; }

int16_t QueryDef::Type() const { return static_cast<int16_t>(file_->queries.at(index_).kind); }

std::string QueryDef::SQL() const { return file_->queries.at(index_).sql; }

std::vector<QueryParameter> QueryDef::Parameters() const {
  const SavedQuery& query = file_->queries.at(index_);
  try {
    return queryParameters(file_, query);
  } catch (const ComError&) {
    return query.parameters;  // SQL that cannot be read: the ones its definition declares
  }
}

Fields QueryDef::Fields() const {
  const SavedQuery& query = file_->queries.at(index_);
  auto state = std::make_shared<RecordState>();
  state->columns = queryColumns(file_, query, {});
  state->table = query.name;
  state->kind = "query";
  state->path = file_->path;
  return ::Fields(state);
}

std::shared_ptr<Recordset> QueryDef::OpenRecordset(const QueryParameterValues& values) const {
  const SavedQuery& query = file_->queries.at(index_);
  auto records = std::shared_ptr<Recordset>(new Recordset(file_, openQueryRecords(file_, query, values), query.name, file_->path));
  records->state_->kind = "query";
  return records;
}

int QueryDefs::Count() const { return static_cast<int>(file_->queries.size()); }

QueryDef QueryDefs::Item(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= file_->queries.size())
    raise(daoerror::kItemNotFound, "DAO.QueryDefs", "Item " + std::to_string(index) + " not found in the query definitions", file_->path);
  return QueryDef(file_, static_cast<size_t>(index));
}

QueryDef QueryDefs::Item(const std::string& name) const {
  for (size_t i = 0; i < file_->queries.size(); ++i)
    if (asciiEqualsIgnoreCase(file_->queries[i].name, name)) return QueryDef(file_, i);
  raise(daoerror::kItemNotFound, "DAO.QueryDefs", "Item '" + name + "' not found in the query definitions", file_->path);
}

// ---- Recordset

Recordset::Recordset(std::shared_ptr<DatabaseFile> file, std::unique_ptr<RecordStream> stream, const std::string& name,
                     const std::string& path)
    : file_(std::move(file)), stream_(std::move(stream)), state_(std::make_shared<RecordState>()) {
  state_->columns = stream_->columns();
  state_->isRecordset = true;
  state_->table = name;
  state_->path = path;
  MoveFirst();
}

Recordset::~Recordset() = default;

bool Recordset::Eof() const { return state_->closed || !state_->current; }

int32_t Recordset::RecordCount() const {
  if (state_->closed) raise(daoerror::kObjectClosed, "DAO.Recordset", "The recordset of " + state_->kind + " '" + state_->table + "' is closed", state_->path);
  uint32_t n = stream_->knownRecordCount();
  return n > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(n);
}

Fields Recordset::Fields() const { return ::Fields(state_); }

void Recordset::MoveFirst() {
  if (state_->closed) raise(daoerror::kObjectClosed, "DAO.Recordset", "The recordset of " + state_->kind + " '" + state_->table + "' is closed", state_->path);
  stream_->rewind();
  state_->current = false;
  state_->current = stream_->next(state_->values);
}

void Recordset::MoveNext() {
  if (state_->closed) raise(daoerror::kObjectClosed, "DAO.Recordset", "The recordset of " + state_->kind + " '" + state_->table + "' is closed", state_->path);
  if (!state_->current) raise(daoerror::kNoCurrentRecord, "DAO.Recordset", "No current record in " + state_->kind + " '" + state_->table + "'", state_->path);
  state_->current = false;
  state_->current = stream_->next(state_->values);
}

void Recordset::Close() {
  state_->closed = true;
  state_->current = false;
  state_->values.clear();
  stream_.reset();
}

// ---- Database / DBEngine

Database::Database(std::shared_ptr<DatabaseFile> file, EngineFlavour flavour)
    : file_(std::move(file)), path_(file_->path), flavour_(flavour) {}

TableDefs Database::TableDefs() const {
  if (!file_) raise(daoerror::kObjectClosed, "DAO.Database", "The database is closed", path_);
  return ::TableDefs(file_);
}

QueryDefs Database::QueryDefs() const {
  if (!file_) raise(daoerror::kObjectClosed, "DAO.Database", "The database is closed", path_);
  return ::QueryDefs(file_);
}

std::shared_ptr<Recordset> Database::OpenRecordset(const std::string& tableName) const {
  if (!file_) raise(daoerror::kObjectClosed, "DAO.Database", "The database is closed", path_);
  for (const CatalogTable& table : file_->tables) {
    if (!asciiEqualsIgnoreCase(table.name, tableName)) continue;
    TableSource source = resolveTable(file_, table);  // a linked table's records are in its own file
    return std::shared_ptr<Recordset>(new Recordset(
        source.file, std::make_unique<TableRecords>(source.file, *source.table), table.name, source.file->path));
  }
  raise(daoerror::kTableNotFound, "DAO.Database", "Could not find table '" + tableName + "'", path_);
}

void Database::Close() { file_.reset(); }

std::shared_ptr<Database> DBEngine::OpenDatabase(const std::string& path, int32_t, bool,
                                                 const std::optional<std::string>& connect) const {
  std::string password = connect ? passwordFromConnect(*connect) : std::string();
  return std::shared_ptr<Database>(new Database(openDatabaseFile(path, password), flavour_));
}

std::string passwordFromConnect(const std::string& connect) {
  // Connect texts are ;-separated; the password runs to the end, unquoted, as typed.
  size_t pos = 0;
  for (;;) {
    if (asciiStartsWithIgnoreCase(std::string_view(connect).substr(pos), "pwd=")) return connect.substr(pos + 4);
    size_t semi = connect.find(';', pos);
    if (semi == std::string::npos) return {};
    pos = semi + 1;
  }
}
