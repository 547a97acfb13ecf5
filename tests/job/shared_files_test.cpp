// Every real Access file of the shared test data converts into both formats, and every cell read
// back by an independent workbook reader is the cell its expectation (NAME.expected.json, what a
// mature independent reader sees) calls for, record for record and in the engine's order.
#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>

#include "job/conversion_job.h"
#include "source/jet_format.h"
#include "workbook/export/value_files.h"
#include "tests/job/fixtures.h"

using namespace jobtest;
namespace aw = accesswriter;

namespace {

struct ManifestEntry {
  std::string file, format, password;
  std::vector<std::string> tables;  // user tables in catalog order, when the manifest lists them
};

std::vector<ManifestEntry> readManifest(const std::filesystem::path& dir) {
  std::vector<ManifestEntry> entries;
  std::ifstream in(dir / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, '\t');) cols.push_back(col);
    if (cols.size() < 4) continue;
    ManifestEntry e{cols[0], cols[1], cols[2], {}};
    std::stringstream tables(cols[3]);
    for (std::string item; tables >> item;)
      if (auto eq = item.rfind('='); eq != std::string::npos) e.tables.push_back(item.substr(0, eq));
    entries.push_back(e);
  }
  return entries;
}

double nearestDouble(const std::string& text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// Cuts text to the 32,767 UTF-16 units a cell holds.
std::string cellText(const std::string& text) {
  size_t units = 0, i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    size_t add = len == 4 ? 2 : 1;
    if (units + add > 32767) break;
    units += add;
    i += len;
  }
  return text.substr(0, i);
}

// The text the converter writes in the C locale for an ISO date-time YYYY-MM-DDTHH:MM[:SS[.f]]:
// "YYYY-MM-DD HH:MM:SS", the date left out on day 0 (1899-12-30), the time left out at midnight.
// A Date/Time Extended value keeps up to seven digits of its fraction, trailing zeros dropped; a
// classic Date/Time value is written to the second.
std::string dateCellText(const std::string& iso, bool extended) {
  std::string date = iso.substr(0, 10);
  std::string time = iso.size() >= 16 ? iso.substr(11, 5) : "00:00";
  time += iso.size() >= 19 ? iso.substr(16, 3) : ":00";
  std::string fraction = iso.size() > 20 ? iso.substr(20) : "";
  if (!extended) {
    EXPECT_EQ(fraction.find_first_not_of('0'), std::string::npos) << iso << ": a classic date with a fraction";
  }
  fraction = extended ? fraction.substr(0, 7) : "";
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  bool dayZero = date == "1899-12-30";
  bool midnight = time == "00:00:00" && fraction.empty();
  std::string text = dayZero ? "" : date;
  if (!midnight || dayZero) text += (text.empty() ? "" : " ") + time + (fraction.empty() ? "" : "." + fraction);
  return text;
}

// The cell the converter writes for a value of the expectation: null for no cell, "any text"
// where the expectation leaves the text open (a complex kind of no known meaning).
nlohmann::json expectedCell(const nlohmann::json& v, const std::string& columnType) {
  std::string type = columnType.substr(0, columnType.find('/'));  // a calculated column's result type
  if (v.is_null()) return nullptr;
  if (v.is_boolean()) return boolean(v.get<bool>());
  if (v.is_number()) return num(v.get<double>());
  if (v.is_string()) {
    if (type == "SHORT_DATE_TIME" || type == "EXT_DATE_TIME") return str(dateCellText(v, type == "EXT_DATE_TIME"));
    return str(cellText(v.get<std::string>()));
  }
  if (v.contains("decimal")) return num(nearestDouble(v["decimal"]));
  if (v.contains("bigint")) return num(nearestDouble(v["bigint"]));
  if (v.contains("binary")) {
    std::string hex = v["binary"];
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return str(cellText(hex));
  }
  if (v.contains("complex")) {
    if (v["count"].get<int>() == 0) return nullptr;
    if (v.value("unknown", false)) return "any text";
    return str(cellText(v["complex"]));
  }
  ADD_FAILURE() << "value of an unknown encoding in the expectation: " << v.dump();
  return nullptr;
}

nlohmann::json readExpectation(const std::filesystem::path& file) {
  std::ifstream in(file.string() + ".expected.json");
  return nlohmann::json::parse(in);
}

// Compares one converted sheet (header row, then one row per record) with its expected table.
void expectSheetAsExpected(const nlohmann::json& sheet, const nlohmann::json& table, const std::string& where) {
  const auto& rows = sheet["rows"];
  const auto& columns = table["columns"];
  ASSERT_EQ(rows.size(), table["rows"].size() + 1) << where << ": records";
  nlohmann::json header = nlohmann::json::array();
  for (const auto& c : columns) header.push_back(str(c["name"]));
  EXPECT_EQ(rows[0], header) << where << ": header row";
  int wrongRows = 0;
  for (size_t r = 0; r < table["rows"].size(); ++r) {
    const auto& got = rows[r + 1];
    nlohmann::json expected = nlohmann::json::array();
    for (size_t c = 0; c < columns.size(); ++c) {
      nlohmann::json cell = expectedCell(table["rows"][r][c], columns[c]["type"]);
      if (cell == "any text") {
        bool isText = c < got.size() && got[c].is_object() && got[c].contains("s");
        EXPECT_TRUE(isText) << where << " record " << r << " column " << columns[c]["name"];
        cell = isText ? got[c] : nlohmann::json();
      }
      expected.push_back(cell);
    }
    while (!expected.empty() && expected.back().is_null()) expected.erase(expected.size() - 1);
    if (got != expected && ++wrongRows <= 5)
      ADD_FAILURE() << where << " record " << r << ":\n  got      " << got.dump() << "\n  expected " << expected.dump();
  }
  EXPECT_EQ(wrongRows, 0) << where << ": records that differ from the expectation";
}

// What the independent readers find in many workbooks, read in one run of the interpreter.
std::vector<nlohmann::json> readWorkbooks(const std::vector<std::string>& paths) {
  const std::string code =
      "import contextlib, io, json, runpy, sys\n"
      "script, books = sys.argv[1], []\n"
      "for path in sys.argv[2:]:\n"
      "    out = io.StringIO()\n"
      "    sys.argv = [script, path]\n"
      "    with contextlib.redirect_stdout(out):\n"
      "        runpy.run_path(script, run_name='__main__')\n"
      "    books.append(json.loads(out.getvalue()))\n"
      "json.dump(books, sys.stdout)\n";
  std::vector<std::string> args{(testsupport::projectRoot() / "tests" / "support" / "read_workbook.py").string()};
  args.insert(args.end(), paths.begin(), paths.end());
  nlohmann::json books = nlohmann::json::parse(testsupport::runPython(code, args));
  return std::vector<nlohmann::json>(books.begin(), books.end());
}

}  // namespace

TEST(SharedFiles, EveryFileConvertsAsItsExpectationSaysInBothFormats) {
  REQUIRE_SHARED_ACCESS_DATA();
  setenv("LC_ALL", "C", 1);
  auto dir = testsupport::sharedAccessData();
  testsupport::ScratchDir out;
  struct Converted {
    std::string path;
    std::vector<std::string> sheets;  // wanted sheet names, in order; sorted when the order is unknown
    bool sorted = false;
    std::map<std::string, nlohmann::json> tables;
  };
  std::vector<Converted> books;
  int converted = 0, encrypted = 0;
  for (const ManifestEntry& entry : readManifest(dir)) {
    SCOPED_TRACE(entry.file);
    nlohmann::json expectation = readExpectation(dir / entry.file);
    std::map<std::string, nlohmann::json> expectedTables;
    for (const auto& t : expectation["tables"]) expectedTables[t["name"]] = t;
    ConversionOptions o;
    o.sourcePath = (dir / entry.file).string();
    o.password = entry.password;
    ASSERT_EQ(OpenSourceDatabase(nullptr, &o, ""), 0) << entry.file << " did not open";
    if (entry.format.find("encrypted") != std::string::npos) ++encrypted;
    if (expectedTables.empty()) {
      // No table, no sheet: said so, and nothing is saved.
      o.outputPath = (out / (entry.file + ".xlsx")).string();
      o.bookType = 1;
      std::string err = capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::NotSaved); });
      EXPECT_EQ(err, "Error: The database " + o.sourcePath + " has no tables.\n");
      EXPECT_FALSE(std::filesystem::exists(o.outputPath));
      ++converted;
      continue;
    }
    // One sheet per user table, in catalog order where the manifest gives it.
    Converted book;
    book.tables = expectedTables;
    for (const std::string& t : entry.tables)
      if (t.rfind("MSys", 0) != 0) book.sheets.push_back(t);
    if (entry.tables.empty()) {
      for (const auto& [name, table] : expectedTables) book.sheets.push_back(name);
      book.sorted = true;
    }
    for (int bookType : {0, 1}) {
      o.bookType = bookType;
      o.overwriteFile = 1;
      o.outputPath = (out / (entry.file + (bookType ? ".xlsx" : ".xls"))).string();
      EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved);
      book.path = o.outputPath;
      books.push_back(book);
    }
    ++converted;
  }
  EXPECT_GE(converted, 28);
  EXPECT_EQ(encrypted, 2);
  std::vector<std::string> paths;
  for (const Converted& b : books) paths.push_back(b.path);
  std::vector<nlohmann::json> read = readWorkbooks(paths);
  ASSERT_EQ(read.size(), books.size());
  for (size_t i = 0; i < books.size(); ++i) {
    std::vector<std::string> sheetNames;
    for (const auto& s : read[i]) sheetNames.push_back(s["name"]);
    if (books[i].sorted) std::sort(sheetNames.begin(), sheetNames.end());
    EXPECT_EQ(sheetNames, books[i].sheets) << books[i].path;
    if (sheetNames != books[i].sheets) continue;
    for (const auto& sheet : read[i])
      expectSheetAsExpected(sheet, books[i].tables.at(sheet["name"]), books[i].path + " sheet " + sheet["name"].get<std::string>());
  }
}

namespace {

// Every hyperlink of a workbook: per sheet, [row, column, cell text, target, hashes of its files].
nlohmann::json readLinks(const std::string& book) {
  std::string script = (testsupport::projectRoot() / "tests" / "support" / "read_links.py").string();
  return nlohmann::json::parse(testsupport::runPython("import runpy, sys\nsys.argv = sys.argv[1:]\n"
                                                      "runpy.run_path(sys.argv[0], run_name='__main__')\n",
                                                      {script, book}));
}

std::vector<nlohmann::json> readWholeValues(const std::filesystem::path& file) {
  std::vector<nlohmann::json> entries;
  std::ifstream in(file.string() + ".files.jsonl");
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) entries.push_back(nlohmann::json::parse(line));
  return entries;
}

size_t filesUnder(const std::filesystem::path& folder) {
  size_t n = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) n += e.is_regular_file();
  return n;
}

}  // namespace

// With /FILES=1 every whole value an independent reader decodes is in BOOK_files/, byte for byte,
// and its cell links to it (the file, or the record's folder); a second run into the same
// workbook adds its own files and links and overwrites none of the first run's.
TEST(SharedFiles, WholeValuesGoToLinkedFilesInBothFormats) {
  REQUIRE_SHARED_ACCESS_DATA();
  auto dir = testsupport::sharedAccessData();
  testsupport::ScratchDir out;
  for (std::string name : {"whole-values-ace12.accdb", "attachments-ace14.accdb", "ace-attachments.accdb",
                           "complexDataTestV2010.accdb"}) {
    SCOPED_TRACE(name);
    std::vector<nlohmann::json> wanted = readWholeValues(dir / name);
    ASSERT_FALSE(wanted.empty());
    nlohmann::json expectation = readExpectation(dir / name);
    for (int bookType : {0, 1}) {
      ConversionOptions o;
      o.valueFiles = 1;
      o.bookType = bookType;
      o.outputPath = (out / (name + (bookType ? ".xlsx" : ".xls"))).string();
      openInto(&o, dir / name);
      for (int run = 1; run <= 2; ++run) {
        o.selectedTables.reset();
        ASSERT_EQ(OpenSourceDatabase(nullptr, &o, ""), 0);
        std::string err = capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved); });
        EXPECT_EQ(err, "");
        nlohmann::json links = readLinks(o.outputPath);
        for (const nlohmann::json& value : wanted) {
          // The column of the value's field; the records of each run follow their header row.
          int column = -1;
          for (const auto& t : expectation["tables"])
            if (t["name"] == value["table"])
              for (size_t c = 0; c < t["columns"].size(); ++c)
                if (t["columns"][c]["name"] == value["column"]) column = static_cast<int>(c);
          int found = 0;
          for (const auto& link : links[value["table"].get<std::string>()]) {
            if (link[1] != column) continue;
            for (const auto& hash : link[4]) found += hash == value["sha256"];
          }
          // Each run's cell reaches it; a record's two files of one content count twice.
          EXPECT_GE(found, run) << value.dump();
        }
        for (const auto& [sheet, cells] : links.items())
          for (const auto& link : cells) {
            std::string target = link[3];
            EXPECT_EQ(target.rfind(valueFilesFolder(std::filesystem::path(o.outputPath).filename().string()) + "/", 0), 0u)
                << target;
            EXPECT_EQ(target.find(".."), std::string::npos) << target;
            EXPECT_FALSE(link[4].empty()) << "a link to no file: " << target;
          }
      }
      std::filesystem::path files = valueFilesFolder(o.outputPath);
      EXPECT_EQ(filesUnder(files) % 2, 0u);
    }
  }
  // Both formats and both runs wrote into the same folders: four copies of each value, none lost.
  EXPECT_EQ(filesUnder(out / "attachments-ace14.accdb_files"), 4 * readWholeValues(dir / "attachments-ace14.accdb").size());

  // Each run that replaces the book (/OVERWRITE=1) leaves exactly the files the new book links
  // to, found by the old book's links; a file of someone else in the folder stays.
  for (std::string name : {"whole-values-ace12.accdb", "attachments-ace14.accdb"})
    for (int bookType : {0, 1}) {
      SCOPED_TRACE(name + (bookType ? " .xlsx" : " .xls"));
      ConversionOptions o;
      o.valueFiles = o.overwriteFile = 1;
      o.bookType = bookType;
      // Each format a folder of its own: the folder's name leaves out the book's extension.
      o.outputPath = (out / ((bookType ? "replaced-x-" : "replaced-") + name + (bookType ? ".xlsx" : ".xls"))).string();
      std::filesystem::path files = valueFilesFolder(o.outputPath), stranger = files / "mine.txt";
      openInto(&o, dir / name);
      for (int run = 1; run <= 3; ++run) {
        o.selectedTables.reset();
        ASSERT_EQ(OpenSourceDatabase(nullptr, &o, ""), 0);
        EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved);
        if (run == 1) testsupport::writeFileBytes(stranger, "mine");
      }
      std::set<std::string> linked, present;
      const nlohmann::json links = readLinks(o.outputPath);
      for (const auto& [sheet, cells] : links.items())
        for (const auto& link : cells) {
          std::filesystem::path target = out / link[3].get<std::string>();
          if (!std::filesystem::is_directory(target)) linked.insert(target.string());
          else
            for (const auto& e : std::filesystem::directory_iterator(target)) linked.insert(e.path().string());
        }
      for (const auto& e : std::filesystem::recursive_directory_iterator(files))
        if (e.is_regular_file() && e.path() != stranger) present.insert(e.path().string());
      EXPECT_FALSE(linked.empty());
      EXPECT_EQ(present, linked);
      EXPECT_TRUE(std::filesystem::exists(stranger));
    }

  // A front end's link to the table: its attachments come from the back end beside it.
  std::filesystem::copy_file(dir / "attachments-ace14.accdb", out / "back.accdb");
  aw::Options front;
  front.format = aw::Format::Ace12;
  front.links = {{"Linked", "C:\\Data\\back.accdb", "Table1", ""}};
  front.objects = {{"Invoice", jetfmt::kObjectReport}, {"Main", jetfmt::kObjectForm}};  // no tables: nothing said
  aw::writeDatabase(out / "front.accdb", front, {});
  ConversionOptions o;
  o.valueFiles = 1;
  o.bookType = 1;
  o.outputPath = (out / "front.xlsx").string();
  openInto(&o, out / "front.accdb");
  EXPECT_EQ(capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved); }), "");
  const nlohmann::json links = readLinks(o.outputPath);
  size_t linked = 0;
  for (const nlohmann::json& value : readWholeValues(dir / "attachments-ace14.accdb"))
    for (const auto& link : links["Linked"])
      for (const auto& hash : link[4]) linked += hash == value["sha256"];
  EXPECT_GE(linked, readWholeValues(dir / "attachments-ace14.accdb").size());
}

// A value file that cannot be written (the file size limit stands in for a full disk) fails the
// table with the file and the system's reason; the workbook is still saved whole.
TEST(SharedFiles, ValueFileThatCannotBeWrittenFailsTheRun) {
  REQUIRE_SHARED_ACCESS_DATA();
  testsupport::ScratchDir out;
  std::string book = (out / "full.xlsx").string();
  std::string errFile = (out / "stderr").string();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    ConversionOptions o;
    o.valueFiles = 1;
    o.bookType = 1;
    o.outputPath = book;
    o.sourcePath = (testsupport::sharedAccessData() / "whole-values-ace12.accdb").string();
    if (OpenSourceDatabase(nullptr, &o, "") != 0) _exit(3);
    // Room for the workbook's own temporary files, not for the 85,599 bytes of the long memo.
    rlimit limit{60000, 60000};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(static_cast<int>(RunConversionJob(nullptr, &o)));
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  // The disk failed, not the data: nothing of the job is kept, not even its folder of files.
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(JobOutcome::NotSaved));
  std::string err = testsupport::readFileBytes(errFile);
  EXPECT_NE(err.find("Error: Cannot write the file of a value.\n" + (out / "full_files").string() +
                     "/Documents/row2_Body.txt: File too large"),
            std::string::npos)
      << err;
  EXPECT_FALSE(std::filesystem::exists(out / "full_files"));
  EXPECT_FALSE(std::filesystem::exists(book));
}

// Without /FILES=1 an unattended run tells of the values it cut; with /CELLS=TYPED a hyperlink
// field is a link cell showing its text, a rich-text memo its plain text and an OLE object its kind.
TEST(SharedFiles, TypedLinksAndPlainTextAndTheCutReported) {
  REQUIRE_SHARED_ACCESS_DATA();
  testsupport::ScratchDir out;
  std::vector<std::string> books;
  for (int bookType : {0, 1}) {
    ConversionOptions o;
    o.typedCells = 1;
    o.bookType = bookType;
    o.outputPath = (out / (bookType ? "typed.xlsx" : "typed.xls")).string();
    openInto(&o, testsupport::sharedAccessData() / "whole-values-ace12.accdb");
    std::string err = capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved); });
    EXPECT_EQ(err, "Note: " + o.sourcePath + ", table \"Documents\": 1 value was longer than a cell holds (32,767 characters) and cut; "
                   "/FILES=1 keeps such values whole as files beside the workbook\n");
    nlohmann::json links = readLinks(o.outputPath)["Documents"];
    ASSERT_EQ(links.size(), 2u) << links.dump();
    EXPECT_EQ(links[0][0], 1);
    EXPECT_EQ(links[0][1], 4);
    EXPECT_EQ(links[0][2], "Project site");
    EXPECT_EQ(links[0][3], "https://example.org/projects?id=1");
    EXPECT_EQ(links[1][2], "mailto:office@example.org");
    EXPECT_EQ(links[1][3], "mailto:office@example.org");
    nlohmann::json sheet = readWorkbooks({o.outputPath})[0][0];
    ASSERT_EQ(sheet["name"], "Documents");
    EXPECT_EQ(sheet["rows"][1][5], str("Bold start & end\nsecond line"));
    EXPECT_EQ(sheet["rows"][2][5], str("plain <tag>"));
    // OLE objects by their kind, as Access's datasheet shows them.
    EXPECT_EQ(sheet["rows"][1][2], str("Package (scan 1.png)"));
    EXPECT_EQ(sheet["rows"][2][2], str("Package"));
    EXPECT_EQ(sheet["rows"][3][2], str("Acrobat Document"));
    books.push_back(o.outputPath);
  }
  // What a person sees in a spreadsheet program: the link's text that opens its address, and the
  // rich text's words on their lines.
  std::vector<std::string> args{testsupport::python(), (testsupport::projectRoot() / "tests/support/calc_read.py").string()};
  args.insert(args.end(), books.begin(), books.end());
  auto calc = testsupport::runCommand(args);
  ASSERT_EQ(calc.exitCode, 0) << calc.err;
  nlohmann::json seen = nlohmann::json::parse(calc.out);
  for (const std::string& book : books) {
    SCOPED_TRACE(book);
    const nlohmann::json& rows = seen[book]["sheets"][0]["rows"];
    // Link cells in the link look: underlined.
    EXPECT_EQ(rows[1][4], (nlohmann::json{{"s", "Project site"}, {"link", "https://example.org/projects?id=1"},
                                          {"underline", true}}));
    EXPECT_EQ(rows[2][4], (nlohmann::json{{"s", "mailto:office@example.org"}, {"link", "mailto:office@example.org"},
                                          {"underline", true}}));
    EXPECT_EQ(rows[1][5], (nlohmann::json{{"s", "Bold start & end\nsecond line"}}));
  }
}

namespace {

// The cell a query's value becomes, for values of the independent engine's results (which say no
// column types): date-times are ISO texts there, written to the second here.
nlohmann::json expectedQueryCell(const nlohmann::json& v) {
  if (v.is_string()) {
    std::string s = v;
    if (s.size() >= 19 && s[4] == '-' && s[10] == 'T') return str(dateCellText(s.substr(0, 19), false));
  }
  return expectedCell(v, "");
}

}  // namespace

// /QUERIES=1 puts every select, union and crosstab query on a sheet of its own after the tables,
// in both formats; each query the independent engine ran arrives with its rows. Where that engine
// and Access differ, Access holds: "Products by Category" (`Discontinued <> 1`, Yes being -1)
// keeps every product; rounding ties of CCur may differ in the last cent (told, not failed: the
// engine test pins values).
TEST(SharedFiles, SavedQueriesBecomeSheetsInBothFormats) {
  REQUIRE_SHARED_ACCESS_DATA();
  setenv("LC_ALL", "C", 1);
  auto dir = testsupport::sharedAccessData().parent_path() / "queries";
  testsupport::ScratchDir out;
  struct Expected {
    std::string book, query;
    nlohmann::json columns, rows;
    bool ordered = false;
  };
  std::vector<Expected> expected;
  std::vector<std::string> paths;
  for (const ManifestEntry& entry : readManifest(dir)) {
    std::ifstream in((dir / entry.file).string() + ".queries.jsonl");
    std::vector<nlohmann::json> queries;
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) queries.push_back(nlohmann::json::parse(line));
    for (int bookType : {0, 1}) {
      ConversionOptions o;
      o.sourcePath = (dir / entry.file).string();
      o.exportQueries = 1;
      ASSERT_EQ(OpenSourceDatabase(nullptr, &o, ""), 0) << entry.file;
      o.bookType = bookType;
      o.overwriteFile = 1;
      o.outputPath = (out / (entry.file + (bookType ? ".xlsx" : ".xls"))).string();
      // Queries that cannot run (a missing table, an aggregate in WHERE, a union without FROM)
      // fail alone: the workbook holds the others. "Invoices", which that engine could not run,
      // runs here as in Access.
      bool runsAll = std::none_of(queries.begin(), queries.end(), [](const auto& q) {
        std::string error = q.value("error", "");
        return error.find("unknown name") != std::string::npos || error.find("incompatible") != std::string::npos ||
               error.find("could not read") != std::string::npos;
      });
      capturedStderr([&] {
        EXPECT_EQ(RunConversionJob(nullptr, &o), runsAll ? JobOutcome::Saved : JobOutcome::TableFailed) << o.outputPath;
      });
      paths.push_back(o.outputPath);
      for (const auto& q : queries)
        if (q.contains("rows"))
          expected.push_back({o.outputPath, q["query"], q["columns"], q["rows"], q["sql"].get<std::string>().find("ORDER BY") != std::string::npos});
    }
  }
  std::vector<nlohmann::json> read = readWorkbooks(paths);
  std::map<std::string, const nlohmann::json*> sheets;  // book + sheet name
  for (size_t i = 0; i < paths.size(); ++i)
    for (const auto& s : read[i]) sheets[paths[i] + "|" + s["name"].get<std::string>()] = &s;
  int same = 0;
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.book + " query " + e.query);
    auto it = sheets.find(e.book + "|" + e.query);
    ASSERT_NE(it, sheets.end()) << "no sheet";
    const auto& rows = (*it->second)["rows"];
    nlohmann::json header = nlohmann::json::array();
    for (const auto& c : e.columns) header.push_back(str(c));
    if (e.rows.empty()) {
      EXPECT_EQ(rows.size(), 1u);
      same += rows.size() == 1;
      continue;
    }
    ASSERT_GE(rows.size(), 1u);
    EXPECT_EQ(rows[0], header);
    size_t records = e.query == "Products by Category" ? 77 : e.rows.size();
    EXPECT_EQ(rows.size(), records + 1);
    if (records != e.rows.size()) continue;
    std::vector<std::string> got, want;
    for (size_t r = 1; r < rows.size(); ++r) got.push_back(rows[r].dump());
    for (const auto& row : e.rows) {
      nlohmann::json cells = nlohmann::json::array();
      for (const auto& v : row) cells.push_back(expectedQueryCell(v));
      while (!cells.empty() && cells.back().is_null()) cells.erase(cells.size() - 1);
      want.push_back(cells.dump());
    }
    if (!e.ordered) {
      std::sort(got.begin(), got.end());
      std::sort(want.begin(), want.end());
    }
    same += got == want;
  }
  std::cout << "query sheets with the independent engine's rows: " << same << " of " << expected.size() << "\n";
  EXPECT_GE(same, 2 * 18);
}

// A query's sheet named like a table's continuation sheet ("Table1" and a query "Table142421")
// is the query's: replacing the table's sheets in both formats leaves it, rows and all. The
// database, writable here, is byte for byte what it was after its queries ran.
TEST(SharedFiles, AQuerySheetIsNoTablesContinuation) {
  REQUIRE_SHARED_ACCESS_DATA();
  testsupport::ScratchDir out;
  const auto db = out / "renamed.mdb";
  {
    std::ifstream in((testsupport::sharedAccessData().parent_path() / "queries" / "queryTestV2003.mdb").string(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto utf16 = [](const std::string& s) {
      std::string u;
      for (char c : s) u += std::string{c, '\0'};
      return u;
    };
    size_t renamed = 0;
    for (size_t at; (at = bytes.find(utf16("SelectQuery"))) != std::string::npos; ++renamed)
      bytes.replace(at, 22, utf16("Table142421"));
    ASSERT_GT(renamed, 0u);
    std::ofstream(db.string(), std::ios::binary) << bytes;
  }
  const std::string original = testsupport::readFileBytes(db);
  for (int bookType : {0, 1}) {
    const std::string book = (out / (bookType ? "q.xlsx" : "q.xls")).string();
    for (int run = 0; run < 2; ++run) {
      ConversionOptions o;
      o.sourcePath = db.string();
      o.exportQueries = run == 0;
      ASSERT_EQ(OpenSourceDatabase(nullptr, &o, ""), 0);
      if (run == 1) o.selectedTables = std::string(";Table1;"), o.selectedQueries.clear();
      o.bookType = bookType;
      o.overwriteFile = run == 0;
      o.overwriteTable = 1;
      o.outputPath = book;
      capturedStderr([&] { RunConversionJob(nullptr, &o); });
    }
    std::vector<std::string> names;
    const std::vector<nlohmann::json> read = readWorkbooks({book});
    for (const auto& sheet : read[0]) names.push_back(sheet["name"]);
    EXPECT_NE(std::find(names.begin(), names.end(), "Table142421"), names.end()) << book;
    EXPECT_NE(std::find(names.begin(), names.end(), "Table1"), names.end()) << book;
  }
  EXPECT_EQ(testsupport::readFileBytes(db), original);
}
