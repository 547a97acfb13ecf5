#include "source/query/run_query.h"

#include <sqlite3.h>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <map>

#include "platform/text.h"
#include "source/dao_types.h"
#include "source/jet/table_cursor.h"
#include "source/query/access_functions.h"
#include "source/query/sql_parser.h"
#include "source/query/sqlite_values.h"
#include "source/query/table_module.h"
#include "source/query/translate.h"

namespace {

constexpr size_t kLongestQuotedPart = 200;
// The page cache a connection keeps in memory (KiB); sorts and temporary tables beyond it go to files.
constexpr int kCacheKiB = 8192;

[[noreturn]] void cannotRun(const SavedQuery& query, const std::string& path, const SqlError& e) {
  std::string part;
  if (e.span.end > e.span.begin && e.span.end <= query.sql.size()) {
    part = query.sql.substr(e.span.begin, e.span.end - e.span.begin);
    if (part.size() > kLongestQuotedPart) part = utf8Prefix(part, kLongestQuotedPart) + "...";
    part = " in \"" + part + "\"";
  }
  throw ComError(daoerror::fromCode(e.daoCode), "DAO.QueryDef",
                 "Query '" + query.name + "' cannot run: " + e.message + part + ": " + path);
}

[[noreturn]] void engineFailed(const SavedQuery& query, const std::string& path, const std::string& what) {
  throw ComError(daoerror::kQueryCannotRun, "DAO.QueryDef", "Query '" + query.name + "' cannot run: " + what + ": " + path);
}

[[noreturn]] void tooFewParameters(const SavedQuery& query, const std::string& path, const std::vector<std::string>& missing) {
  std::string list;
  for (const std::string& m : missing) list += (list.empty() ? "" : ", ") + m;
  throw ComError(daoerror::kTooFewParameters, "DAO.QueryDef",
                 "Query '" + query.name + "' needs values for its parameters: " + list + ": " + path);
}

// How many steps of SQLite's virtual machine pass between two looks at a query's bounds: one
// step may call a function over a long text, so the time is looked at often.
constexpr int kStepsPerCheck = 100;

struct Connection {
  sqlite3* db = nullptr;
  uint64_t checksLeft = UINT64_MAX;  // of a bounded query: looks at the bounds before it stops
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  bool stopped = false;  // a bound was reached
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { sqlite3_close_v2(db); }
};

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt); }
};

// What SQLite says of a failed step, or that the query's step bound stopped it.
std::string failure(const Connection& c) {
  return c.stopped ? std::string("it ran past the bound of its steps or time") : std::string(sqlite3_errmsg(c.db));
}

const std::string* valueOf(const QueryParameterValues& values, const std::string& name) {
  for (const QueryParameterValue& v : values)
    if (asciiEqualsIgnoreCase(v.name, name)) return &v.value;
  return nullptr;
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Binds a parameter's value, given as text, as the type its declaration names. False when the
// text is no value of that type.
bool bindValue(sqlite3_stmt* stmt, int index, int16_t type, const std::string& given) {
  std::string text = trimmed(given);
  switch (type) {
    case dbBoolean: {
      for (const char* t : {"True", "Yes", "On", "-1", "1"})
        if (asciiEqualsIgnoreCase(text, t)) return sqlite3_bind_int(stmt, index, -1) == SQLITE_OK;
      for (const char* f : {"False", "No", "Off", "0"})
        if (asciiEqualsIgnoreCase(text, f)) return sqlite3_bind_int(stmt, index, 0) == SQLITE_OK;
      return false;
    }
    case dbByte:
    case dbInteger:
    case dbLong:
    case dbBigInt: {
      int64_t v = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec == std::errc() && end == text.data() + text.size()) return sqlite3_bind_int64(stmt, index, v) == SQLITE_OK;
      [[fallthrough]];
    }
    case dbCurrency:
    case dbSingle:
    case dbDouble:
    case dbDecimal: {
      char* end = nullptr;
      double v = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !std::isfinite(v)) return false;
      if (type == dbByte || type == dbInteger || type == dbLong || type == dbBigInt) v = std::nearbyint(v);
      return sqlite3_bind_double(stmt, index, v) == SQLITE_OK;
    }
    case dbDate: {
      std::string date = text;
      if (date.size() > 10 && date[10] == 'T') date[10] = ' ';  // 2024-01-31T10:00:00
      double ole = 0;
      if (!parseAccessDate(date, ole)) return false;
      return sqlite3_bind_double(stmt, index, ole) == SQLITE_OK;
    }
    default:
      return sqlite3_bind_text(stmt, index, given.data(), static_cast<int>(given.size()), SQLITE_TRANSIENT) == SQLITE_OK;
  }
}

// The backend of a translation that only asks for the shape of a query: no connection.
class ShapeBackend : public TranslationBackend {
 public:
  Table table(const TableSource& source) override {
    TableCursor cursor(source.file, *source.table);
    return {"t", cursor.columns(), cursor.declaredRowCount()};
  }
  bool firstColumn(const std::string&, const std::vector<std::string>&, std::vector<SqlValue>&) override { return false; }
};

// A connection of its own for one query: its tables as virtual tables, Access's functions and
// collation, sorts and temporary tables in files.
class SqliteBackend : public TranslationBackend {
 public:
  SqliteBackend(const SavedQuery& query, const std::string& path, const QueryParameterValues& values, const QueryBounds& bounds)
      : query_(query), path_(path), values_(values), sources_(std::make_unique<TableModuleSources>()),
        connection_(std::make_unique<Connection>()) {
    // An empty name: a private database on disk, removed when it closes, so that what SQLite
    // spills goes to files too.
    if (sqlite3_open_v2("", &connection_->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
      engineFailed(query_, path_, "SQLite does not open a connection");
    std::string pragmas = "PRAGMA temp_store = FILE; PRAGMA cache_size = -" + std::to_string(kCacheKiB) + ";";
    if (sqlite3_exec(connection_->db, pragmas.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
        registerAccessFunctions(connection_->db) != SQLITE_OK ||
        registerTableModule(connection_->db, sources_.get()) != SQLITE_OK)
      engineFailed(query_, path_, std::string("SQLite cannot be set up: ") + sqlite3_errmsg(connection_->db));
    if (bounds.mostSteps > 0) connection_->checksLeft = bounds.mostSteps / kStepsPerCheck + 1;
    if (bounds.mostMilliseconds > 0)
      connection_->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bounds.mostMilliseconds);
    if (bounds.mostSteps > 0 || bounds.mostMilliseconds > 0) {
      sqlite3_progress_handler(connection_->db, kStepsPerCheck, [](void* state) {
        auto* c = static_cast<Connection*>(state);
        c->stopped = c->checksLeft == 0 || std::chrono::steady_clock::now() > c->deadline;
        if (!c->stopped) --c->checksLeft;
        return c->stopped ? 1 : 0;
      }, connection_.get());
    }
  }

  Table table(const TableSource& source) override {
    auto key = std::make_pair(source.file.get(), source.table->name);
    if (auto it = tables_.find(key); it != tables_.end()) return it->second;
    size_t index = sources_->sources.size();
    sources_->sources.push_back(source);
    Table t;
    t.sqlName = "temp.t" + std::to_string(index);
    std::string create = "CREATE VIRTUAL TABLE " + t.sqlName + " USING " + kTableModuleName + "(" + std::to_string(index) + ")";
    char* error = nullptr;
    if (sqlite3_exec(connection_->db, create.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string what = error ? error : "the table cannot be read";
      sqlite3_free(error);
      throw SqlError{"table '" + source.table->name + "': " + what, {}, 3078};
    }
    TableCursor cursor(source.file, *source.table);
    t.columns = cursor.columns();
    t.rowCount = cursor.declaredRowCount();
    return tables_.emplace(key, t).first->second;
  }

  bool firstColumn(const std::string& sql, const std::vector<std::string>& parameters, std::vector<SqlValue>& out) override {
    Statement s;
    prepare(sql, parameters, nullptr, s);
    int rc;
    while ((rc = sqlite3_step(s.stmt)) == SQLITE_ROW) {
      SqlValue v;
      switch (sqlite3_column_type(s.stmt, 0)) {
        case SQLITE_INTEGER: v.kind = SqlValue::Kind::Integer, v.integer = sqlite3_column_int64(s.stmt, 0); break;
        case SQLITE_FLOAT: v.kind = SqlValue::Kind::Real, v.real = sqlite3_column_double(s.stmt, 0); break;
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
          v.kind = sqlite3_column_type(s.stmt, 0) == SQLITE_TEXT ? SqlValue::Kind::Text : SqlValue::Kind::Blob;
          const char* p = static_cast<const char*>(sqlite3_column_blob(s.stmt, 0));
          v.text.assign(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(s.stmt, 0)));
          break;
        }
        default: break;
      }
      out.push_back(std::move(v));
    }
    if (rc != SQLITE_DONE) engineFailed(query_, path_, failure(*connection_));
    return true;
  }

  // Prepares `sql` with the parameters' values bound; types: as the translation declares them.
  void prepare(const std::string& sql, const std::vector<std::string>& names, const std::vector<TranslatedParameter>* typed,
               Statement& s) {
    if (sqlite3_prepare_v2(connection_->db, sql.c_str(), static_cast<int>(sql.size()), &s.stmt, nullptr) != SQLITE_OK)
      engineFailed(query_, path_, sqlite3_errmsg(connection_->db));
    std::vector<std::string> missing;
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string* given = valueOf(values_, names[i]);
      if (!given) {
        missing.push_back(names[i]);
        continue;
      }
      int16_t type = typed ? (*typed)[i].daoType : declaredType(names[i]);
      if (!bindValue(s.stmt, static_cast<int>(i + 1), type, *given))
        throw ComError(daoerror::kQueryCannotRun, "DAO.QueryDef",
                       "Query '" + query_.name + "': the value '" + *given + "' of parameter '" + names[i] +
                           "' is not of its type: " + path_);
    }
    if (!missing.empty()) tooFewParameters(query_, path_, missing);
  }

  void setTypes(const std::vector<TranslatedParameter>& parameters) { types_ = parameters; }

  std::unique_ptr<TableModuleSources> takeSources() { return std::move(sources_); }
  std::unique_ptr<Connection> takeConnection() { return std::move(connection_); }

 private:
  int16_t declaredType(const std::string& name) const {
    for (const auto& p : types_)
      if (asciiEqualsIgnoreCase(p.name, name)) return p.daoType;
    return dbText;
  }

  const SavedQuery& query_;
  std::string path_;
  const QueryParameterValues& values_;
  std::unique_ptr<TableModuleSources> sources_;
  std::unique_ptr<Connection> connection_;
  std::map<std::pair<const DatabaseFile*, std::string>, Table> tables_;
  std::vector<TranslatedParameter> types_;
};

// The rows SQLite returns for a query, as Variants of its columns' types.
class QueryRecords : public RecordStream {
 public:
  QueryRecords(std::unique_ptr<TableModuleSources> sources, std::unique_ptr<Connection> connection,
               std::unique_ptr<Statement> statement, std::vector<ColumnInfo> columns, std::string name, std::string path)
      : sources_(std::move(sources)), connection_(std::move(connection)), statement_(std::move(statement)),
        columns_(std::move(columns)), name_(std::move(name)), path_(std::move(path)) {}
  ~QueryRecords() override {
    statement_.reset();  // before its connection, and the connection before the tables it reads
    connection_.reset();
  }
  const std::vector<ColumnInfo>& columns() const override { return columns_; }
  uint32_t knownRecordCount() const override { return 0; }
  void rewind() override { sqlite3_reset(statement_->stmt); }
  bool next(std::vector<Variant>& values) override {
    int rc = sqlite3_step(statement_->stmt);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW)
      throw ComError(daoerror::kQueryCannotRun, "DAO.QueryDef", "Query '" + name_ + "' failed: " + failure(*connection_) + ": " + path_);
    values.resize(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) variantOfColumn(statement_->stmt, static_cast<int>(i), columns_[i], values[i]);
    return true;
  }

 private:
  std::unique_ptr<TableModuleSources> sources_;
  std::unique_ptr<Connection> connection_;
  std::unique_ptr<Statement> statement_;
  std::vector<ColumnInfo> columns_;
  std::string name_, path_;
};

// A query that only picks fields of one table: its records straight from the table's cursor,
// decoding only the fields it picks.
class DirectRecords : public RecordStream {
 public:
  DirectRecords(const TableSource& source, std::vector<size_t> picked, std::vector<ColumnInfo> columns)
      : cursor_(source.file, *source.table), picked_(std::move(picked)), columns_(std::move(columns)) {
    std::vector<bool> wanted(cursor_.columns().size());
    for (size_t c : picked_) wanted[c] = true;
    cursor_.selectColumns(std::move(wanted));
    identity_ = picked_.size() == wanted.size();
    for (size_t i = 0; i < picked_.size() && identity_; ++i) identity_ = picked_[i] == i;
  }
  const std::vector<ColumnInfo>& columns() const override { return columns_; }
  uint32_t knownRecordCount() const override { return cursor_.declaredRowCount(); }
  void rewind() override { cursor_.rewind(); }
  bool next(std::vector<Variant>& values) override {
    if (identity_) return cursor_.next(values);
    if (!cursor_.next(row_)) return false;
    values.resize(picked_.size());
    for (size_t i = 0; i < picked_.size(); ++i) values[i] = row_[picked_[i]];
    return true;
  }

 private:
  TableCursor cursor_;
  std::vector<size_t> picked_;
  std::vector<ColumnInfo> columns_;
  bool identity_ = false;
  std::vector<Variant> row_;
};

std::shared_ptr<Query> parsed(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query) {
  if (!isRunnableQuery(query.kind))
    throw ComError(daoerror::kQueryCannotRun, "DAO.QueryDef",
                   "Query '" + query.name + "' is an action query; only select, union and crosstab queries run: " + file->path);
  try {
    return parseAccessSql(query.sql);
  } catch (const SqlError& e) {
    cannotRun(query, file->path, e);
  }
}

Translation shapeOf(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query) {
  auto tree = parsed(file, query);
  ShapeBackend backend;
  try {
    return translateQuery(file, query.name, *tree, backend);
  } catch (const SqlError& e) {
    cannotRun(query, file->path, e);
  }
}

}  // namespace

std::unique_ptr<RecordStream> openQueryRecords(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query,
                                               const QueryParameterValues& values, const QueryBounds& bounds) {
  Translation shape = shapeOf(file, query);
  std::vector<std::string> missing;
  for (const auto& p : shape.parameters)
    if (!valueOf(values, p.name)) missing.push_back(p.name);
  if (!missing.empty()) tooFewParameters(query, file->path, missing);
  if (shape.directTable) return std::make_unique<DirectRecords>(*shape.directTable, shape.directColumns, shape.columns);
  auto tree = parsed(file, query);
  SqliteBackend backend(query, file->path, values, bounds);
  backend.setTypes(shape.parameters);
  Translation t;
  try {
    t = translateQuery(file, query.name, *tree, backend);
  } catch (const SqlError& e) {
    cannotRun(query, file->path, e);
  }
  backend.setTypes(t.parameters);
  auto statement = std::make_unique<Statement>();
  std::vector<std::string> names;
  for (const auto& p : t.parameters) names.push_back(p.name);
  backend.prepare(t.sql, names, &t.parameters, *statement);
  return std::make_unique<QueryRecords>(backend.takeSources(), backend.takeConnection(), std::move(statement),
                                        std::move(t.columns), query.name, file->path);
}

std::vector<QueryParameter> queryParameters(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query) {
  std::vector<QueryParameter> out;
  for (const auto& p : shapeOf(file, query).parameters) out.push_back({p.name, p.daoType});
  return out;
}

std::vector<std::string> missingParameters(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query,
                                           const QueryParameterValues& values) {
  std::vector<std::string> missing;
  for (const auto& p : shapeOf(file, query).parameters)
    if (!valueOf(values, p.name)) missing.push_back(p.name);
  return missing;
}

std::vector<ColumnInfo> queryColumns(const std::shared_ptr<DatabaseFile>& file, const SavedQuery& query,
                                     const QueryParameterValues& values) {
  Translation shape = shapeOf(file, query);
  if (shape.columnsKnown) return shape.columns;
  return openQueryRecords(file, query, values)->columns();
}
