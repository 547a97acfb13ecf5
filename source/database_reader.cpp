#include "source/database_reader.h"

#include <atomic>

#include "platform/text.h"

namespace {

std::atomic<EngineFlavour> gFlavour{EngineFlavour::Dao36};

constexpr size_t kNameRoom = 256;

// The queries after the tables: all runnable ones for the wizard's list; unattended, those
// /QUERIES=1 asks for (whatever /TABLES= names of the tables) and those /TABLES= names (action
// queries included, which then fail by name).
void listQueries(SourceWindow* owner, ConversionOptions* options) {
  QueryDefs queries = options->database->QueryDefs();
  for (int i = 0; i < queries.Count(); ++i) {
    QueryDef query = queries.Item(i);
    std::string name = query.Name();
    bool runnable = isRunnableQuery(static_cast<QueryKind>(query.Type()));
    if (owner) {
      if (runnable) owner->addQuery(name);
      continue;
    }
    bool named = options->tableFilter && options->tableFilter->find(asciiUpper(";" + name + ";")) != std::string::npos;
    if (named) options->namedQueries += ";" + name + ";";
    if (named || (runnable && options->exportQueries != 0)) options->selectedQueries += ";" + name + ";";
  }
}

// Steps 8 to 12 once the previous database is closed; engine errors propagate to the caller.
int openAndList(SourceWindow* owner, ConversionOptions* options, const DBEngine& engine) {
  std::optional<std::string> connect;
  if (!options->password.empty()) connect = ";pwd=" + options->password;
  options->database = engine.OpenDatabase(options->sourcePath, 1, true, connect);
  TableDefs tables = options->database->TableDefs();
  int count = tables.Count();
  options->selectedQueries.clear();
  options->namedQueries.clear();
  listQueries(owner, options);
  if (count == 0) return 0;
  if (!owner) {
    options->selectedTables = std::string();
    options->selectedTables->reserve(kNameRoom * static_cast<size_t>(count) + 1);
  }
  for (int i = 0; i < tables.Count(); ++i) {
    std::string name = tables.Item(i).Name();
    if (name.rfind("MSys", 0) == 0) continue;
    if (options->tableFilter && options->tableFilter->find(asciiUpper(";" + name + ";")) == std::string::npos) continue;
    if (owner)
      owner->addTable(name);
    else
      *options->selectedTables += ";" + name + ";";
  }
  options->tableFilter.reset();
  if (owner) owner->selectAllTables();
  return 0;
}

}  // namespace

void setReaderEngineFlavour(EngineFlavour flavour) { gFlavour = flavour; }
EngineFlavour readerEngineFlavour() { return gFlavour; }

int OpenSourceDatabase(SourceWindow* owner, ConversionOptions* options, const std::string& path,
                       std::string* failure) {
  DBEngine engine(gFlavour);
  std::string password = owner ? owner->passwordText() : std::string();
  if (path == options->sourcePath && password == options->password) return 0;
  if (owner) options->password = password;
  if (owner) owner->resetTableList();
  try {
    if (options->database) {
      std::shared_ptr<Database> previous = std::move(options->database);
      options->database.reset();
      previous->Close();
    }
    if (!path.empty()) options->sourcePath = path;
    return openAndList(owner, options, engine);
  } catch (const ComError& error) {
    // A database whose table definitions cannot be read is no more use than one that did not open.
    options->database.reset();
    if (failure) *failure = options->sourcePath + ": " + openFailureReason(error);
    if (owner) owner->openFailed(openFailureReason(error));
    return 1;
  }
}
