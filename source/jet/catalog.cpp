#include "source/jet/catalog.h"

#include <map>

#include "platform/text.h"
#include "source/com_error.h"
#include "source/dao_types.h"
#include "source/jet/query_catalog.h"
#include "source/jet/table_cursor.h"
#include "source/jet_format.h"

namespace {

constexpr uint32_t kCatalogPage = jetfmt::kCatalogPage;
constexpr int kObjectTypeTable = jetfmt::kObjectTable;
constexpr uint32_t kSystemObjectFlags = jetfmt::kFlagSystemObject | jetfmt::kFlagHiddenObject;
constexpr uint64_t kMaxCatalogRows = 1000000;

int columnIndex(const TableCursor& cursor, const char* name) {
  const auto& cols = cursor.columns();
  for (size_t i = 0; i < cols.size(); ++i)
    if (cols[i].name == name) return static_cast<int>(i);
  return -1;
}

// The template tables ACE names a complex column's kind by.
int16_t complexKindOf(const std::string& templateName) {
  static const std::map<std::string, int16_t> kinds = {
      {"MSysComplexType_Attachment", dbAttachment}, {"MSysComplexType_UnsignedByte", dbComplexByte},
      {"MSysComplexType_Short", dbComplexInteger},  {"MSysComplexType_Long", dbComplexLong},
      {"MSysComplexType_IEEESingle", dbComplexSingle}, {"MSysComplexType_IEEEDouble", dbComplexDouble},
      {"MSysComplexType_GUID", dbComplexGUID},      {"MSysComplexType_Decimal", dbComplexDecimal},
      {"MSysComplexType_Text", dbComplexText}};
  auto it = kinds.find(templateName);
  return it == kinds.end() ? static_cast<int16_t>(dbAttachment) : it->second;
}

// Which kind each complex column is and where its values are, from MSysComplexColumns; columns
// it does not name stay attachments without values.
void readComplexColumns(const std::shared_ptr<DatabaseFile>& file, const std::map<uint32_t, std::string>& namesById) {
  const CatalogTable* complex = nullptr;
  for (const CatalogTable& t : file->tables)
    if (t.name == "MSysComplexColumns" && t.kind == TableKind::Local) complex = &t;
  if (!complex) return;
  TableCursor cursor(file, *complex);
  int column = columnIndex(cursor, "ColumnName"), type = columnIndex(cursor, "ComplexTypeObjectID"),
      table = columnIndex(cursor, "ConceptualTableID"), flat = columnIndex(cursor, "FlatTableID");
  if (column < 0 || type < 0 || table < 0 || flat < 0) return;
  std::vector<Variant> row;
  uint64_t rows = 0;
  while (cursor.next(row) && ++rows <= kMaxCatalogRows) {
    if (row[column].vt != VT_BSTR || row[type].isNull() || row[table].isNull()) continue;
    auto name = namesById.find(static_cast<uint32_t>(row[type].integer) & jetfmt::kCatalogIdMask);
    ComplexColumn info;
    info.daoType = name == namesById.end() ? static_cast<int16_t>(dbAttachment) : complexKindOf(name->second);
    info.column = row[column].text;
    if (!row[flat].isNull()) {
      uint32_t page = static_cast<uint32_t>(row[flat].integer) & jetfmt::kCatalogIdMask;
      if (auto valueTable = namesById.find(page); valueTable != namesById.end()) {
        info.valueTable = valueTable->second;
        info.valueTablePage = page;
      }
    }
    file->complexColumns[{static_cast<uint32_t>(row[table].integer) & jetfmt::kCatalogIdMask, row[column].text}] = info;
  }
}

// An Access file's link names no other kind of file before its first ';'.
bool isAccessConnect(const std::string& connect) {
  std::string kind = connect.substr(0, connect.find(';'));
  return kind.empty() || asciiEqualsIgnoreCase(kind, jetfmt::kAccessConnectKind);
}

}  // namespace

void readCatalog(const std::shared_ptr<DatabaseFile>& file) {
  CatalogTable objects;
  objects.name = "MSysObjects";
  objects.definitionPage = kCatalogPage;
  TableCursor cursor(file, objects);
  std::vector<Variant> row;
  int id = columnIndex(cursor, "Id"), name = columnIndex(cursor, "Name"), type = columnIndex(cursor, "Type"),
      flags = columnIndex(cursor, "Flags"), database = columnIndex(cursor, "Database"),
      connect = columnIndex(cursor, "Connect"), foreignName = columnIndex(cursor, "ForeignName");
  auto textOf = [&row](int column) { return column >= 0 && row[column].vt == VT_BSTR ? row[column].text : std::string(); };
  if (id < 0 || name < 0 || type < 0 || flags < 0)
    throw ComError(daoerror::kUnrecognizedFormat, "DAO.DBEngine", "The database's catalog is damaged: " + file->path,
                   std::string(openreason::kDamagedPrefix) + "the catalog lacks its columns");
  uint64_t rows = 0;
  std::map<uint32_t, std::string> namesById;
  std::vector<QueryObject> queries;
  while (cursor.next(row)) {
    if (++rows > kMaxCatalogRows)
      throw ComError(daoerror::kDatabaseCorrupt, "DAO.DBEngine", "The database's catalog is damaged: " + file->path,
                     std::string(openreason::kDamagedPrefix) + "the catalog never ends");
    if (row[type].isNull() || row[id].isNull() || row[name].vt != VT_BSTR) continue;
    const int64_t objectType = row[type].integer & jetfmt::kObjectTypeMask;
    CatalogTable table;
    table.name = row[name].text;
    table.flags = row[flags].isNull() ? 0 : static_cast<uint32_t>(row[flags].integer);
    if (objectType == jetfmt::kObjectLinkedTable || objectType == jetfmt::kObjectOdbcTable) {
      table.linkedDatabase = textOf(database);
      table.foreignName = textOf(foreignName);
      table.connect = textOf(connect);
      table.kind = objectType == jetfmt::kObjectOdbcTable ? TableKind::OdbcLink
                   : isAccessConnect(table.connect)     ? TableKind::AccessLink
                                                        : TableKind::OtherLink;
      if ((table.flags & kSystemObjectFlags) == 0) file->tables.push_back(std::move(table));
      continue;
    }
    if (objectType == jetfmt::kObjectQuery) {
      queries.push_back({static_cast<uint32_t>(row[id].integer) & jetfmt::kCatalogIdMask, table.name, table.flags});
      continue;
    }
    if (objectType != kObjectTypeTable) continue;
    table.definitionPage = static_cast<uint32_t>(row[id].integer) & jetfmt::kCatalogIdMask;
    namesById[table.definitionPage] = table.name;
    // Hidden system tables (the complex-value tables of ACE among them) are not table
    // definitions the user sees; the MSys tables are.
    if ((table.flags & kSystemObjectFlags) && table.name.rfind("MSys", 0) != 0) continue;
    file->tables.push_back(std::move(table));
  }
  readComplexColumns(file, namesById);
  readQueryCatalog(file, queries);
}
