#include "app/usage.h"

#include <cstdio>
#include <cstring>

#ifndef QUARLEX_VERSION
#error "QUARLEX_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

// %1 stands for the program's name. Columns stay within 80 characters.
constexpr const char* kUsage = R"(Usage: %1 [DATABASE] [WORKBOOK | FOLDER/] [SWITCH...]
       %1 DATABASE WORKBOOK [SWITCH...] /SILENT
       %1 "PATTERN" FOLDER/ [SWITCH...] /BATCH
       %1 --list DATABASE [/PASSWORD=TEXT]
       %1 --help | --version

Converts Microsoft Access databases into Excel workbooks, one sheet per table
(and per saved query with /QUERIES=1). --list prints each table with its
records and each query with its kind, parameters and SQL, one per line.
Without /SILENT (or /BATCH with a wildcard) the wizard opens with the paths
given already filled in.

  DATABASE   a path ending in .mdb, .accdb, .accde, .accdt or .accdr; * and ?
             in its file name convert every matching database in turn
  WORKBOOK   a path ending in .xls, .xlsx, .xlsb or .xlsm (.xlsm is written
             macro-enabled; .xlsb, and .xlsm with /TYPE=ANY, are refused)
  FOLDER/    an existing folder, a path ending in /, or any other path: the
             folder of a batch's workbooks, each named after its database

Switches begin with / or -, their names in any case; unknown ones are ignored.
  /SILENT              convert at once, without the wizard
  /BATCH               with a wildcard DATABASE: convert every match unattended
  /TYPE=2007           write .xlsx (the workbook's extension follows the type)
  /TYPE=ANY            write .xls (the default)
  /OVERWRITE=1         replace an existing workbook (0, the default: add to it)
  /OVERWRITETABLE=1    replace a sheet named like a table (0: append its rows)
  /TABLES=A;B          convert only these tables or saved queries (default: all)
  /QUERIES=1           also every select, union and crosstab query, after tables
  /PARAMETERS=N=V;N2=V2  values of the queries' parameters
  /PASSWORD=TEXT       the database password
  /CODEPAGE=N          an Access 97 database's code page, if its header errs
  /HEADER=0            no header row of field names (1, the default: write it)
  /ONLYNEW=1           header row only on sheets the conversion adds
  /RECORDS=0           header rows only, no records
  /CELLS=TYPED         date cells, money and decimal formats, exact big integers
  /LAYOUT=TABLE        bold frozen header row, autofilter, fitted column widths
  /ROWS=N              rows per sheet before a continuation sheet (65,530)
  /FILES=1             values no cell holds whole, as files in BOOK_files/
  /STATUS=FILE         keep the run's progress in FILE (INI format)
  /STATUS              the same, in status.log beside the program
  /OPEN=0              the wizard does not offer to open the new workbook
  /WAIT                with /BATCH the wizard waits on its last page
Accepted without effect: /ONLYFIELDS=, /COLUMNS=, /ORDER=, /MAXLEN=, /LOG.

Exit status:
  0  everything asked for was converted (also a wildcard that matched nothing),
     or the wizard ran
  1  a database did not open, a table of /TABLES= is not in it, a query of
     /TABLES= cannot run (an action query, a parameter without a value), a
     workbook could not be written (an Access database or anything but a
     regular file is never written over), a table failed, a plain DATABASE
     does not exist, or the wizard could not be shown
  130, 143, 129  stopped by SIGINT (Ctrl-C), SIGTERM or SIGHUP: nothing of
     the workbook being written was kept; a second signal ends at once

Status file: section [QUARLEX], key Result. An unattended run ends with
"Successful" or "Failed"; while it runs the key holds "Conversion In Progress"
(a database started) or "Failed" (a table started), so a run that was killed
leaves one of those.

Examples:
  %1 /data/shop.accdb /data/shop.xlsx /TYPE=2007 /SILENT
  %1 "/data/*.mdb" /data/out/ /BATCH /STATUS=/tmp/run.ini

More in the manual page %1(1).
)";

std::string withName(std::string text, const std::string& name) {
  for (std::size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1", at + name.size()))
    text.replace(at, 2, name);
  return text;
}

}  // namespace

const char* programName(ProgramFlavour flavour) {
  return flavour == ProgramFlavour::Access2007 ? "quarlex2007" : "quarlex";
}

std::string versionText(ProgramFlavour flavour) { return std::string(programName(flavour)) + " " + QUARLEX_VERSION; }

std::string usageText(ProgramFlavour flavour) { return withName(kUsage, programName(flavour)); }

std::optional<int> answerInformationRequest(int argc, char** argv, ProgramFlavour flavour) {
  if (argc != 2 || argv[1] == nullptr) return std::nullopt;
  std::string text;
  if (std::strcmp(argv[1], "--help") == 0)
    text = usageText(flavour);
  else if (std::strcmp(argv[1], "--version") == 0)
    text = versionText(flavour) + "\n";
  else
    return std::nullopt;
  // Like other tools, a failed write (a full disk, > /dev/full) gives exit status 1.
  bool written = std::fputs(text.c_str(), stdout) >= 0;
  written = std::fflush(stdout) == 0 && written;
  return written ? 0 : 1;
}
