#include "options/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "options/conversion_options.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr std::array<std::string_view, 5> kDatabaseExtensions{".mdb", ".accdb", ".accde", ".accdt", ".accdr"};
constexpr std::array<std::string_view, 4> kWorkbookExtensions{".xls", ".xlsx", ".xlsb", ".xlsm"};
// Arguments of this length or shorter are never paths or folders.
constexpr size_t kShortestPath = 4;

bool endsWithAny(std::string_view arg, const auto& extensions) {
  for (auto ext : extensions)
    if (asciiEndsWithIgnoreCase(arg, ext)) return true;
  return false;
}

// PARAMETERS=Name=Value;Name2=Value2: each ';'-separated item is cut at its first '='; an item
// without one is left out, and a later value of the same name replaces the earlier one.
QueryParameterValues parameterValues(std::string_view v) {
  QueryParameterValues values;
  while (!v.empty()) {
    size_t semi = v.find(';');
    std::string_view item = v.substr(0, semi);
    v = semi == std::string_view::npos ? std::string_view() : v.substr(semi + 1);
    size_t eq = item.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    std::string name(item.substr(0, eq));
    std::erase_if(values, [&name](const QueryParameterValue& p) { return asciiEqualsIgnoreCase(p.name, name); });
    values.push_back({name, std::string(item.substr(eq + 1))});
  }
  return values;
}

// A ROWS= value: decimal digits only, at least 1; larger than any sheet is cut to the largest
// limit. 0 for anything else, which leaves the setting as it was.
int32_t rowLimitValue(std::string_view v) {
  if (v.empty()) return 0;
  int64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return 0;
    n = std::min<int64_t>(n * 10 + (c - '0'), kLargestRowLimit);
  }
  return static_cast<int32_t>(n);
}

enum class Form { Exact, Prefix };

struct Switch {
  std::string_view name;
  Form form;
  void (*apply)(ConversionOptions*, std::string_view value);
};

// Tested in this order; every entry that matches takes effect.
const Switch kSwitches[] = {
    {"OVERWRITETABLE=1", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteTable = 1; }},
    {"OVERWRITETABLE=0", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteTable = 0; }},
    {"OVERWRITETABLE=YES", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteTable = 1; }},
    {"OVERWRITETABLE=NO", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteTable = 0; }},
    {"OVERWRITETABLE=SKIP", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteTable = 2; }},
    {"TYPE=ANY", Form::Exact, [](ConversionOptions* o, std::string_view) { o->bookType = 0; }},
    {"TYPE=2007", Form::Exact, [](ConversionOptions* o, std::string_view) { o->bookType = 1; }},
    {"PASSWORD=", Form::Prefix, [](ConversionOptions* o, std::string_view v) { o->password = v; }},
    {"TABLES=*", Form::Exact, [](ConversionOptions* o, std::string_view) { o->tableFilter.reset(); }},
    {"TABLES=", Form::Prefix,
     [](ConversionOptions* o, std::string_view v) {
       if (v != "*") o->tableFilter = ";" + asciiUpper(v) + ";";
     }},
    {"ONLYFIELDS=*", Form::Exact, [](ConversionOptions* o, std::string_view) { o->onlyFields.reset(); }},
    {"ONLYFIELDS=", Form::Prefix,
     [](ConversionOptions* o, std::string_view v) {
       if (v != "*") o->onlyFields = ";" + asciiUpper(v) + ";";
     }},
    {"HEADER=1", Form::Exact, [](ConversionOptions* o, std::string_view) { o->writeHeader = 1; }},
    {"HEADER=0", Form::Exact, [](ConversionOptions* o, std::string_view) { o->writeHeader = 0; }},
    {"ONLYNEW=1", Form::Exact, [](ConversionOptions* o, std::string_view) { o->headerOnlyForNewSheets = 1; }},
    {"ONLYNEW=0", Form::Exact, [](ConversionOptions* o, std::string_view) { o->headerOnlyForNewSheets = 0; }},
    {"COLUMNS=", Form::Prefix,
     [](ConversionOptions* o, std::string_view v) {
       if (!v.empty() && v[0] >= '0' && v[0] <= '9') {
         o->columnList = std::string(v);
         o->firstColumn = leadingDecimal(v, 0);
         auto dash = v.find('-');
         o->lastColumn = dash == std::string_view::npos ? o->firstColumn : leadingDecimal(v.substr(dash + 1), 0);
       } else {
         o->columnList = "," + asciiUpper(v) + ",";
       }
     }},
    {"ORDER=", Form::Prefix,
     [](ConversionOptions* o, std::string_view v) { o->sortOrder = utf8Prefix(v, kSortOrderMaxLength); }},
    {"RECORDS=0", Form::Exact, [](ConversionOptions* o, std::string_view) { o->exportRecords = 0; }},
    {"LOG", Form::Exact, [](ConversionOptions* o, std::string_view) { o->logEnabled = 1; }},
    {"STATUS=", Form::Prefix, [](ConversionOptions* o, std::string_view v) { o->statusFile = v; }},
    {"STATUS", Form::Exact,
     [](ConversionOptions* o, std::string_view) { o->statusFile = folderOf(executablePath()) + "status.log"; }},
    {"MAXLEN=", Form::Prefix, [](ConversionOptions* o, std::string_view v) { o->maxLength = leadingDecimal(v, 0); }},
    {"OVERWRITE=1", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteFile = 1; }},
    {"OVERWRITE=0", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteFile = 0; }},
    {"OVERWRITE=2", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteFile = 2; }},
    {"OVERWRITE=YES", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteFile = 1; }},
    {"OVERWRITE=NO", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteFile = 0; }},
    {"OVERWRITE=SKIP", Form::Exact, [](ConversionOptions* o, std::string_view) { o->overwriteFile = 2; }},
    {"OPEN=1", Form::Exact, [](ConversionOptions* o, std::string_view) { o->openOutput = 1; }},
    {"OPEN=0", Form::Exact, [](ConversionOptions* o, std::string_view) { o->openOutput = 0; }},
    {"WAIT", Form::Exact, [](ConversionOptions* o, std::string_view) { o->wait = 1; }},
    {"BATCH", Form::Exact, [](ConversionOptions* o, std::string_view) { o->batch = 1; }},
    {"SILENT", Form::Exact, [](ConversionOptions* o, std::string_view) { o->silent = 1; }},
    {"CELLS=TYPED", Form::Exact, [](ConversionOptions* o, std::string_view) { o->typedCells = 1; }},
    {"LAYOUT=TABLE", Form::Exact, [](ConversionOptions* o, std::string_view) { o->tableLayout = 1; }},
    {"ROWS=", Form::Prefix,
     [](ConversionOptions* o, std::string_view v) {
       if (int32_t rows = rowLimitValue(v); rows > 0) o->rowLimit = rows;
     }},
    {"FILES=1", Form::Exact, [](ConversionOptions* o, std::string_view) { o->valueFiles = 1; }},
    {"FILES=0", Form::Exact, [](ConversionOptions* o, std::string_view) { o->valueFiles = 0; }},
    {"QUERIES=1", Form::Exact, [](ConversionOptions* o, std::string_view) { o->exportQueries = 1; }},
    {"QUERIES=0", Form::Exact, [](ConversionOptions* o, std::string_view) { o->exportQueries = 0; }},
    {"PARAMETERS=", Form::Prefix, [](ConversionOptions* o, std::string_view v) { o->parameters = parameterValues(v); }},
};

// Applies every switch entry that matches; false when none does.
bool applySwitch(ConversionOptions* options, std::string_view name) {
  bool matched = false;
  for (const Switch& s : kSwitches) {
    if (s.form == Form::Exact ? asciiEqualsIgnoreCase(name, s.name) : asciiStartsWithIgnoreCase(name, s.name)) {
      s.apply(options, name.substr(s.form == Form::Prefix ? s.name.size() : name.size()));
      matched = true;
    }
  }
  return matched;
}

// An absolute folder such as /srv/out/ begins with the switch prefix "/"; no switch name holds a
// "/" before its "=", so such an argument is a folder rather than an unknown switch.
bool looksLikeAbsoluteFolder(std::string_view arg) {
  if (arg.size() <= kShortestPath || arg[0] != '/') return false;
  auto slash = arg.find('/', 1);
  return slash != std::string_view::npos && slash < arg.find('=');
}

// A folder as Linux users name one: an argument that ends in "/" or names an existing folder is
// the output folder whatever its length.
bool namesFolder(std::string_view arg) { return !arg.empty() && (arg.back() == '/' || isExistingFolder(std::string(arg))); }

// Derived workbook names follow the folder directly, so an existing folder gets the "/" that
// joins them; any other folder text is kept as written.
std::string asOutputFolder(std::string_view arg) {
  std::string folder(arg);
  if (folder.back() != '/' && isExistingFolder(folder)) folder += '/';
  return folder;
}

void parseArgument(ConversionOptions* options, std::string_view arg) {
  const bool switchPrefix = !arg.empty() && (arg[0] == '/' || arg[0] == '-');
  if (arg.size() > kShortestPath && endsWithAny(arg, kDatabaseExtensions)) {
    options->sourcePath = arg;
  } else if (arg.size() > kShortestPath && endsWithAny(arg, kWorkbookExtensions)) {
    options->outputPath = arg;
  } else if (!switchPrefix && !arg.empty() && (arg.size() > kShortestPath || namesFolder(arg))) {
    options->outputFolder = asOutputFolder(arg);
  } else if (switchPrefix) {
    // A lone "/" or "-" is no folder, only a switch prefix with nothing after it.
    if (!applySwitch(options, arg.substr(1)) && arg.size() > 1 && (looksLikeAbsoluteFolder(arg) || namesFolder(arg)))
      options->outputFolder = asOutputFolder(arg);
  }
}

// A blank would cut the argument in two when the text is used again; such a part is quoted.
std::string argumentText(const std::string& text) {
  return text.find_first_of(" \t") == std::string::npos ? text : "\"" + text + "\"";
}

// The table list holds ";", which a shell takes for the end of a command: it is always quoted.
std::string tablesArgument(const std::string& filter) { return "\"/TABLES=" + filter + "\" "; }

}  // namespace

void parseCommandLine(ConversionOptions* options, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (argv[i]) parseArgument(options, argv[i]);
}

std::string buildCommandLine(const ConversionOptions* options) {
  const std::string ending = "\n/SILENT ";
  std::string text;
  // Parts are kept whole: one that does not fit is left out, never cut, and the ending always fits.
  auto append = [&](const std::string& part) {
    if (text.size() + part.size() + ending.size() <= kCommandLineMaxLength) text += part;
  };
  append(argumentText(options->sourcePath) + " ");
  append(argumentText(!options->outputFolder.empty() ? options->outputFolder : options->outputPath) + " ");
  if (!options->password.empty()) append(argumentText("/PASSWORD=" + options->password) + " ");

  std::string rest;
  rest += options->overwriteFile != 0 ? "/OVERWRITE=1 " : "/OVERWRITE=0 ";
  if (options->exportRecords == 0) rest += "/RECORDS=0 ";
  if (options->maxLength != 0) rest += "/MAXLEN=" + std::to_string(options->maxLength) + " ";
  rest += options->headerOnlyForNewSheets != 0 ? "/ONLYNEW=1 " : "/ONLYNEW=0 ";
  rest += options->bookType != 0 ? "/TYPE=2007 " : "/TYPE=ANY ";
  if (!options->sortOrder.empty()) rest += argumentText("/ORDER=" + options->sortOrder) + " ";
  if (!options->statusFile.empty()) rest += argumentText("/STATUS=" + options->statusFile) + " ";
  rest += options->openOutput != 0 ? "/OPEN=1 " : "/OPEN=0 ";
  if (options->typedCells != 0) rest += "/CELLS=TYPED ";
  if (options->tableLayout != 0) rest += "/LAYOUT=TABLE ";
  if (options->rowLimit > 0) rest += "/ROWS=" + std::to_string(options->rowLimit) + " ";
  if (options->valueFiles != 0) rest += "/FILES=1 ";
  if (options->exportQueries != 0) rest += "/QUERIES=1 ";
  if (!options->parameters.empty()) {
    std::string list;
    for (const QueryParameterValue& p : options->parameters) list += (list.empty() ? "" : ";") + p.name + "=" + p.value;
    rest += "\"/PARAMETERS=" + list + "\" ";  // ';' ends a shell command: always quoted
  }
  if (options->batch != 0) rest += "/BATCH ";
  if (options->wait != 0) rest += "/WAIT ";

  if (options->tableFilter) {
    // The filter takes what the parts after it leave; it is cut after its last whole name that
    // fits, so the text never names a table that was not in the filter.
    std::string filter = *options->tableFilter;
    size_t room = kCommandLineMaxLength - std::min(kCommandLineMaxLength, text.size() + rest.size() + ending.size());
    std::string part = tablesArgument(filter);
    while (part.size() > room && filter.size() > 1) {
      auto cut = filter.rfind(';', filter.size() - 2);
      filter = cut == std::string::npos || cut == 0 ? std::string() : filter.substr(0, cut + 1);
      part = filter.empty() ? std::string() : tablesArgument(filter);
    }
    if (part.size() <= room) text += part;
  }
  append(rest);
  text += ending;
  return text;
}
