// Helpers shared by the test executables: where the shared Access files are,
// scratch folders, and running the independent readers (python3, node) as child processes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace testsupport {

// Folder of real Access files made by Access, or an empty path when this checkout has none.
std::filesystem::path sharedAccessData();

// Skips the current test when ../shared/testdata is absent (a clone outside the workplace).
#define REQUIRE_SHARED_ACCESS_DATA()                                                      \
  do {                                                                                    \
    if (::testsupport::sharedAccessData().empty())                                        \
      GTEST_SKIP() << "../shared/testdata/access is absent: real Access files not tested"; \
  } while (0)

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int exitCode = -1;  // -1 when the program could not be started or died of a signal
  std::string out;
  std::string err;
};

// Runs argv[0] (searched on PATH) with the given arguments, feeding it nothing on standard input.
// extraEnv entries are NAME=VALUE texts added to this process's environment.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv = {});

// Debian's interpreter, which has python3-openpyxl, python3-xlrd and python3-xlsxwriter.
std::string python();

// Runs a python snippet with the given arguments (sys.argv[1:]); fails the test when it fails.
std::string runPython(const std::string& code, const std::vector<std::string>& args = {});

// What mdb-reader reads from an Access file (see tests/js/mdb_dump.mjs for the encoding).
// An empty table name dumps every user table.
nlohmann::json mdbReaderDump(const std::filesystem::path& file, const std::string& password = "",
                             const std::string& table = "");

// What an independent reader (openpyxl for .xlsx, xlrd for .xls) finds in a workbook, as
// tests/support/read_workbook.py prints it: [{"name", "rows": [[null | {"n"} | {"s"} | {"b"}]]}].
nlohmann::json readWorkbook(const std::filesystem::path& file);

// Whole file as bytes / text.
std::string readFileBytes(const std::filesystem::path& file);
void writeFileBytes(const std::filesystem::path& file, const std::string& bytes);

// The project's root folder (tests run there).
std::filesystem::path projectRoot();

}  // namespace testsupport
