// Shared pieces of the job tests: databases from the test-database writer, opening them into a
// record as the batch runner does, and catching what a run prints on standard error.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "options/conversion_options.h"
#include "source/database_reader.h"
#include "tests/support/test_support.h"
#include "tools/accesswriter/access_writer.h"
#include "workbook/xl.h"

namespace jobtest {

// The shared real workbooks (../shared/testdata/books), or an empty path where they are absent.
inline std::filesystem::path sharedBooks() {
  auto dir = testsupport::projectRoot() / ".." / "shared" / "testdata" / "books";
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) ? std::filesystem::weakly_canonical(dir) : std::filesystem::path();
}

// Sheet names as our own loader finds them (fast; the independent readers check elsewhere). A
// book that does not load gives none, and its reason in `error` when asked for.
inline std::vector<std::string> loadedSheetNames(const std::filesystem::path& file, bool xml,
                                                 std::string* error = nullptr) {
  BookHandle book = xml ? xlCreateXMLBookCA() : xlCreateBookCA();
  std::vector<std::string> names;
  if (xlBookLoadA(book, file.c_str())) {
    for (int i = 0; i < xlBookSheetCountA(book); ++i) names.push_back(xlSheetNameA(xlBookGetSheetA(book, i)));
  } else if (error) {
    *error = xlBookErrorMessageA(book);
  }
  xlBookReleaseA(book);
  return names;
}

using accesswriter::FieldType;
using accesswriter::Null;

inline std::filesystem::path writeDb(const std::filesystem::path& file, const std::vector<accesswriter::Table>& tables,
                                     accesswriter::Format format = accesswriter::Format::Jet4) {
  accesswriter::Options options;
  options.format = format;
  accesswriter::writeDatabase(file, options, tables);
  return file;
}

// A table of one Long column "N" holding 1..count.
inline accesswriter::Table countingTable(const std::string& name, int64_t count) {
  auto next = std::make_shared<int64_t>(0);
  return {name, {{"N", FieldType::Long}}, [next, count](accesswriter::Row& row) {
            if (*next >= count) return false;
            row.assign(1, accesswriter::Value(++*next));
            return true;
          }};
}

// Opens the database into the record without a window, as the batch runner does.
inline void openInto(ConversionOptions* options, const std::filesystem::path& file) {
  options->sourcePath = file.string();
  ASSERT_EQ(OpenSourceDatabase(nullptr, options, ""), 0) << "cannot open " << file;
}

// What `work` printed on standard error.
inline std::string capturedStderr(const std::function<void()>& work) {
  testsupport::ScratchDir dir;
  std::string file = (dir / "stderr").string();
  fflush(stderr);
  int saved = dup(2);
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 2);
  close(fd);
  work();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return testsupport::readFileBytes(file);
}

inline nlohmann::json sheetNames(const nlohmann::json& book) {
  nlohmann::json names = nlohmann::json::array();
  for (const auto& s : book) names.push_back(s["name"]);
  return names;
}

inline nlohmann::json num(double v) { return {{"n", v}}; }
inline nlohmann::json str(const std::string& v) { return {{"s", v}}; }
inline nlohmann::json boolean(bool v) { return {{"b", v}}; }

}  // namespace jobtest
