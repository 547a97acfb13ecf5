#include "source/linked_tables.h"

#include <filesystem>
#include <string_view>
#include <vector>
#include <system_error>

#include "platform/paths.h"
#include "platform/text.h"
#include "source/com_error.h"
#include "source/open_failure.h"

namespace {

constexpr const char* kSource = "DAO.TableDef";
constexpr int kMostLinksFollowed = 8;  // a chain of links this long loops back on itself
constexpr std::string_view kPasswordKey = "PWD=";

// The ;-separated parts of a connection text.
std::vector<std::string> connectParts(const std::string& connect) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    size_t semi = connect.find(';', start);
    parts.push_back(connect.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
    if (semi == std::string::npos) return parts;
    start = semi + 1;
  }
}

std::string linkPassword(const std::string& connect) {
  for (const std::string& part : connectParts(connect))
    if (asciiStartsWithIgnoreCase(part, kPasswordKey)) return part.substr(kPasswordKey.size());
  return {};
}

bool isFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

[[noreturn]] void fail(int32_t hr, const CatalogTable& table, const std::string& what, const std::string& where) {
  throw ComError(hr, kSource, "Linked table '" + table.name + "': " + what + " (linked from " + where + ")");
}

// The linked Access file of the table, opened once per linking database.
std::shared_ptr<DatabaseFile> openLinkedFile(const std::shared_ptr<DatabaseFile>& file, const CatalogTable& table) {
  const std::string beside = folderOf(file->path) + fileNameOfStoredPath(table.linkedDatabase);
  const std::string lookedFor = "looked for at " + table.linkedDatabase + (beside != table.linkedDatabase ? " and at " + beside : "");
  std::string found = isFile(table.linkedDatabase) ? table.linkedDatabase : isFile(beside) ? beside : std::string();
  if (found.empty()) fail(daoerror::kFileNotFound, table, "the linked database was not found, " + lookedFor, file->path);
  std::error_code ec;
  if (std::filesystem::equivalent(found, file->path, ec)) return file;  // a link into its own file
  std::string password = linkPassword(table.connect);
  if (password.empty()) password = file->password;
  std::string key = found + '\n' + password;
  if (auto known = file->linkedFiles.find(key); known != file->linkedFiles.end()) return known->second;
  try {
    std::shared_ptr<DatabaseFile> linked = openDatabaseFile(found, password, file->textCodePage);
    file->linkedFiles[key] = linked;
    return linked;
  } catch (const ComError& error) {
    throw ComError(error.hresult(), kSource,
                   "Linked table '" + table.name + "': the linked database " + found + " cannot be opened: " +
                       openFailureReason(error) + " (" + lookedFor + "; linked from " + file->path + ")");
  }
}

TableSource resolveFrom(const std::shared_ptr<DatabaseFile>& file, const CatalogTable& table, int hops);

}  // namespace

std::string connectWithoutPassword(const std::string& connect) {
  std::string kept;
  bool first = true;
  for (const std::string& part : connectParts(connect)) {
    if (asciiStartsWithIgnoreCase(part, kPasswordKey)) continue;
    if (!first) kept += ';';
    kept += part;
    first = false;
  }
  return kept;
}

TableSource resolveTable(const std::shared_ptr<DatabaseFile>& file, const CatalogTable& table) {
  return resolveFrom(file, table, 0);
}

namespace {

TableSource resolveFrom(const std::shared_ptr<DatabaseFile>& file, const CatalogTable& table, int hops) {
  switch (table.kind) {
    case TableKind::Local: return {file, &table};
    case TableKind::OdbcLink:
      fail(daoerror::kOdbcConnectFailed, table,
           "tables of ODBC sources are not read; its source is " + connectWithoutPassword(table.connect), file->path);
    case TableKind::OtherLink:
      fail(daoerror::kNoInstallableIsam, table,
           "it lives in " + table.linkedDatabase + ", which is not an Access database (" +
               connectWithoutPassword(table.connect) + "); only tables of Access databases are read",
           file->path);
    case TableKind::AccessLink: break;
  }
  if (hops >= kMostLinksFollowed)
    fail(daoerror::kTableNotFound, table, "its links go on through more than " + std::to_string(kMostLinksFollowed) +
                                               " tables; they loop", file->path);
  std::shared_ptr<DatabaseFile> linked = openLinkedFile(file, table);
  const std::string& foreign = table.foreignName.empty() ? table.name : table.foreignName;
  for (const CatalogTable& candidate : linked->tables) {
    if (!asciiEqualsIgnoreCase(candidate.name, foreign)) continue;
    return resolveFrom(linked, candidate, hops + 1);
  }
  fail(daoerror::kTableNotFound, table, "the linked database " + linked->path + " holds no table '" + foreign + "'",
       file->path);
}

}  // namespace
