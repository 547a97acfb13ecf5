// The database engine: DBEngine, Database, TableDefs, TableDef, Fields, Field and Recordset over
// our reader of the Access format (source/jet). Objects are shared handles; a Database stays readable while any object taken from it
// lives. Every failure is a ComError that names the file. Linked tables are listed like any
// other; their fields and records come from the Access file they are linked to.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source/com_error.h"
#include "source/dao_types.h"
#include "source/saved_query.h"
#include "source/variant.h"

struct DatabaseFile;
struct CatalogTable;
class RecordStream;
struct RecordState;

// The two engines a deliverable can create. Both read every format; the flavour is recorded.
enum class EngineFlavour { Dao36, Dao120 };

class Field {
 public:
  int16_t Type() const;
  std::string Name() const;
  int32_t Attributes() const;  // dbHyperlinkField, or 0
  // The current record's value; a field of a table definition, or a recordset without a current
  // record, raises ComError.
  Variant Value() const;
  // The same into a value the caller keeps, whose text and byte buffers are reused.
  void ValueInto(Variant& out) const;

 private:
  friend class Fields;
  Field(std::shared_ptr<RecordState> state, size_t index) : state_(std::move(state)), index_(index) {}
  std::shared_ptr<RecordState> state_;
  size_t index_;
};

class Fields {
 public:
  int Count() const;
  Field Item(int index) const;  // from 0
  Field Item(const std::string& name) const;

 private:
  friend class TableDef;
  friend class QueryDef;
  friend class Recordset;
  explicit Fields(std::shared_ptr<RecordState> state) : state_(std::move(state)) {}
  std::shared_ptr<RecordState> state_;
};

class TableDef {
 public:
  std::string Name() const;
  ::Fields Fields() const;  // in design order

 private:
  friend class TableDefs;
  TableDef(std::shared_ptr<DatabaseFile> file, size_t index) : file_(std::move(file)), index_(index) {}
  std::shared_ptr<DatabaseFile> file_;
  size_t index_;
};

class TableDefs {
 public:
  int Count() const;
  TableDef Item(int index) const;  // from 0, in catalog order
  TableDef Item(const std::string& name) const;  // letter case of a to z ignored

 private:
  friend class Database;
  explicit TableDefs(std::shared_ptr<DatabaseFile> file) : file_(std::move(file)) {}
  std::shared_ptr<DatabaseFile> file_;
};

class Recordset {
 public:
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // True past the last record ("EOF" in DAO; EOF is a C macro).
  bool Eof() const;
  int32_t RecordCount() const;
  ::Fields Fields() const;
  void MoveFirst();
  void MoveNext();
  void Close();

 private:
  friend class Database;
  friend class QueryDef;
  // `name`: the table's name in the database it was opened through (a linked table's own name),
  // or the query's; `path` the file messages name.
  Recordset(std::shared_ptr<DatabaseFile> file, std::unique_ptr<RecordStream> stream, const std::string& name,
            const std::string& path);
  std::shared_ptr<DatabaseFile> file_;
  std::unique_ptr<RecordStream> stream_;
  std::shared_ptr<RecordState> state_;
};

// A saved query, as DAO's QueryDef: its definition from the catalog, and its records as the SQL
// engine returns them. Only select, union and crosstab queries open; the database is never written.
class QueryDef {
 public:
  std::string Name() const;
  int16_t Type() const;  // QueryKind's DAO value
  std::string SQL() const;
  std::vector<QueryParameter> Parameters() const;
  // The result's fields, without reading its records (a crosstab without PIVOT ... IN reads its
  // pivot values, for which parameters need values). Parameters(): declared ones, then the names
  // it uses that nothing of the database has, with those of the queries it is built on.
  ::Fields Fields() const;
  // The query's records; ComError naming the query and the file when it cannot run (an action
  // query, a missing parameter value, SQL the engine cannot translate).
  std::shared_ptr<Recordset> OpenRecordset(const QueryParameterValues& values = {}) const;

 private:
  friend class QueryDefs;
  QueryDef(std::shared_ptr<DatabaseFile> file, size_t index) : file_(std::move(file)), index_(index) {}
  std::shared_ptr<DatabaseFile> file_;
  size_t index_;
};

class QueryDefs {
 public:
  int Count() const;
  QueryDef Item(int index) const;  // from 0, in catalog order
  QueryDef Item(const std::string& name) const;  // letter case of a to z ignored

 private:
  friend class Database;
  explicit QueryDefs(std::shared_ptr<DatabaseFile> file) : file_(std::move(file)) {}
  std::shared_ptr<DatabaseFile> file_;
};

class AttachmentFiles;

class Database {
 public:
  ::TableDefs TableDefs() const;
  ::QueryDefs QueryDefs() const;  // the saved queries but the hidden ones
  // All records of the named table (a bare table name), in stored order.
  std::shared_ptr<Recordset> OpenRecordset(const std::string& tableName) const;
  void Close();
  const std::string& path() const { return path_; }
  EngineFlavour flavour() const { return flavour_; }
  // The files of a table's attachment field, read whole one at a time (source/whole_values.h);
  // null for a field of another kind.
  std::unique_ptr<AttachmentFiles> OpenAttachments(const std::string& tableName, const std::string& fieldName) const;

 private:
  friend class DBEngine;
  Database(std::shared_ptr<DatabaseFile> file, EngineFlavour flavour);
  std::shared_ptr<DatabaseFile> file_;  // empty once closed
  std::string path_;
  EngineFlavour flavour_;
};

class DBEngine {
 public:
  explicit DBEngine(EngineFlavour flavour) : flavour_(flavour) {}
  EngineFlavour flavour() const { return flavour_; }

  // Opens `path` for reading. `options` and `readOnly` are accepted as DAO takes them; the file is
  // never written either way. `connect` is left out or ";pwd=" followed by the password.
  std::shared_ptr<Database> OpenDatabase(const std::string& path, int32_t options = 0, bool readOnly = true,
                                         const std::optional<std::string>& connect = std::nullopt) const;

 private:
  EngineFlavour flavour_;
};

// The password a connect text carries: what follows "pwd=" (letter case ignored) up to its end,
// or empty when there is none.
std::string passwordFromConnect(const std::string& connect);
