#include "source/database_file.h"

#include "source/com_error.h"
#include "source/quiet_stderr.h"
#include "source/table_cursor.h"

namespace {

constexpr uint32_t kCatalogPage = 2;
constexpr int kObjectTypeTable = 1;
constexpr uint32_t kSystemObjectFlags = 0x80000002u;
constexpr uint64_t kMaxCatalogRows = 1000000;

int columnIndex(const TableCursor& cursor, const char* name) {
  const auto& cols = cursor.columns();
  for (size_t i = 0; i < cols.size(); ++i)
    if (cols[i].name == name) return static_cast<int>(i);
  return -1;
}

void readCatalog(const std::shared_ptr<DatabaseFile>& file) {
  CatalogTable objects{"MSysObjects", kCatalogPage, 0};
  TableCursor cursor(file, objects);
  int id = columnIndex(cursor, "Id"), name = columnIndex(cursor, "Name"), type = columnIndex(cursor, "Type"),
      flags = columnIndex(cursor, "Flags");
  if (id < 0 || name < 0 || type < 0 || flags < 0)
    throw ComError(daoerror::kUnrecognizedFormat, "DAO.DBEngine", "The database's catalog is damaged: " + file->path);
  std::vector<Variant> row;
  uint64_t rows = 0;
  while (cursor.next(row)) {
    if (++rows > kMaxCatalogRows)
      throw ComError(daoerror::kDatabaseCorrupt, "DAO.DBEngine", "The database's catalog is damaged: " + file->path);
    if (row[type].isNull() || row[id].isNull() || row[name].vt != VT_BSTR) continue;
    if ((row[type].integer & 0x7F) != kObjectTypeTable) continue;
    CatalogTable table;
    table.name = row[name].text;
    table.definitionPage = static_cast<uint32_t>(row[id].integer) & 0x00FFFFFFu;
    table.flags = row[flags].isNull() ? 0 : static_cast<uint32_t>(row[flags].integer);
    // Hidden system tables (the complex-value tables of ACE among them) are not table
    // definitions the user sees; the MSys tables are.
    if ((table.flags & kSystemObjectFlags) && table.name.rfind("MSys", 0) != 0) continue;
    file->tables.push_back(std::move(table));
  }
}

}  // namespace

DatabaseFile::~DatabaseFile() {
  if (mdb) {
    QuietStderr quiet;
    mdb_close(mdb);
  }
}

std::shared_ptr<DatabaseFile> openDatabaseFile(const std::string& path, const std::string& password) {
  auto file = std::make_shared<DatabaseFile>();
  file->path = path;
  file->header = readJetHeader(path);
  checkDatabasePassword(file->header, password, path);
  {
    QuietStderr quiet;
    file->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  }
  if (!file->mdb) throw ComError(daoerror::kUnrecognizedFormat, "DAO.DBEngine", "Unrecognized database format: " + path);
  if (static_cast<uint64_t>(file->mdb->fmt->pg_size) != file->header.pageSize)
    throw ComError(daoerror::kUnrecognizedFormat, "DAO.DBEngine", "Unrecognized database format: " + path);
  readCatalog(file);
  return file;
}
