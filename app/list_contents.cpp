#include "app/list_contents.h"

#include <cstdio>
#include <cstring>

#include "app/usage.h"
#include "options/command_line.h"
#include "options/conversion_options.h"
#include "source/database_reader.h"
#include "source/engine.h"
#include "source/open_failure.h"

namespace {

const char* kindName(int16_t type) {
  switch (static_cast<QueryKind>(type)) {
    case QueryKind::Select: return "select";
    case QueryKind::Crosstab: return "crosstab";
    case QueryKind::Delete: return "delete";
    case QueryKind::Update: return "update";
    case QueryKind::Append: return "append";
    case QueryKind::MakeTable: return "make-table";
    case QueryKind::DataDefinition: return "data-definition";
    case QueryKind::PassThrough: return "pass-through";
    case QueryKind::Union: return "union";
  }
  return "unknown";
}

// Line breaks and tabs become single spaces, so that each entry stays on its line.
std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    bool blank = c == '\n' || c == '\r' || c == '\t';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  return out;
}

}  // namespace

std::string listingText(const Database& database) {
  std::string text;
  TableDefs tables = database.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) {
    std::string name = tables.Item(i).Name();
    if (name.rfind("MSys", 0) == 0) continue;
    std::string records;
    try {
      records = std::to_string(database.OpenRecordset(name)->RecordCount()) + " records";
    } catch (const ComError& error) {
      records = "cannot be read: " + error.description();  // a linked table whose file is gone
    }
    text += "table\t" + oneLine(name) + "\t" + oneLine(records) + "\n";
  }
  QueryDefs queries = database.QueryDefs();
  for (int i = 0; i < queries.Count(); ++i) {
    QueryDef query = queries.Item(i);
    std::string parameters;
    for (const QueryParameter& p : query.Parameters()) parameters += (parameters.empty() ? "" : ", ") + p.name;
    text += "query\t" + oneLine(query.Name()) + "\t" + kindName(query.Type()) + "\t" + oneLine(parameters) + "\t" +
            oneLine(query.SQL()) + "\n";
  }
  return text;
}

std::optional<int> answerListRequest(int argc, char** argv, ProgramFlavour flavour) {
  if (argc < 2 || argv[1] == nullptr || std::strcmp(argv[1], "--list") != 0) return std::nullopt;
  ConversionOptions options;
  parseCommandLine(&options, argc - 1, argv + 1);
  const std::string program = programName(flavour);
  if (options.sourcePath.empty()) {
    std::fprintf(stderr, "%s: --list needs a database: %s --list DATABASE [/PASSWORD=TEXT]\n", program.c_str(), program.c_str());
    return 1;
  }
  std::optional<std::string> connect;
  if (!options.password.empty()) connect = ";pwd=" + options.password;
  std::string text;
  try {
    auto database = DBEngine(readerEngineFlavour()).OpenDatabase(options.sourcePath, 1, true, connect);
    text = listingText(*database);
  } catch (const ComError& error) {
    std::fprintf(stderr, "%s: Cannot open the database %s.\n%s: %s\n", program.c_str(), options.sourcePath.c_str(),
                 options.sourcePath.c_str(), openFailureReason(error).c_str());
    return 1;
  }
  bool written = std::fputs(text.c_str(), stdout) >= 0;
  written = std::fflush(stdout) == 0 && written;
  return written ? 0 : 1;
}
