// The user's workbook is never damaged: a workbook that cannot be loaded is refused and left byte
// for byte, a save that fails keeps the old file (overwriting on or off), two processes that
// extend one workbook take turns, and a sheet is replaced only when its successor can be added.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "job/batch_runner.h"
#include "job/conversion_job.h"
#include "tests/job/fixtures.h"
#include "workbook/xl.h"

namespace fs = std::filesystem;
using namespace jobtest;

namespace {

// Files in the folder other than the given ones: temporary files a failed save left behind.
std::vector<std::string> strayFiles(const fs::path& folder, const std::vector<std::string>& expected) {
  std::vector<std::string> stray;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
  }
  return stray;
}

class SafeOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "out");
    db = writeDb(dir / "shop.mdb", {countingTable("Orders", 3), countingTable("Stock", 2)});
  }
  // One job of the database into out, as the batch runner runs it; what it printed goes to err.
  JobOutcome run(const fs::path& out, int bookType, int overwrite, std::string* err = nullptr, int overwriteTable = 0) {
    ConversionOptions o;
    openInto(&o, db);
    o.outputPath = out.string();
    o.bookType = bookType;
    o.overwriteFile = overwrite;
    o.overwriteTable = overwriteTable;
    JobOutcome outcome = JobOutcome::NotSaved;
    std::string printed = capturedStderr([&] { outcome = RunConversionJob(nullptr, &o); });
    if (err) *err = printed;
    return outcome;
  }
  // A workbook of our own with one sheet "Notes".
  fs::path makeBook(const std::string& name, bool xml) {
    fs::path file = dir / "out" / name;
    BookHandle book = xml ? xlCreateXMLBookCA() : xlCreateBookCA();
    xlSheetWriteStrA(xlBookAddSheetA(book, "Notes", nullptr), 0, 0, "keep me", nullptr);
    EXPECT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
    xlBookReleaseA(book);
    return file;
  }
  testsupport::ScratchDir dir;
  fs::path db;
};

}  // namespace

TEST_F(SafeOutputTest, WorkbooksThatCannotBeLoadedAreRefusedAndLeftAlone) {
  struct Case {
    fs::path file;
    int bookType;
    std::string reason;
  };
  std::vector<Case> cases;
  // Ours: a book of the other format under the asked-for name, and a book cut in half.
  fs::path xlsx = makeBook("other.xlsx", true), xls = makeBook("other.xls", false);
  fs::rename(xlsx, dir / "out" / "xlsx-inside.xls");
  fs::rename(xls, dir / "out" / "xls-inside.xlsx");
  cases.push_back({dir / "out" / "xlsx-inside.xls", 0, "the file is an .xlsx workbook, not an .xls one"});
  cases.push_back({dir / "out" / "xls-inside.xlsx", 1, "the file is an .xls workbook, not an .xlsx one"});
  for (bool xml : {false, true}) {
    fs::path whole = makeBook(xml ? "whole.xlsx" : "whole.xls", xml);
    std::string bytes = testsupport::readFileBytes(whole);
    fs::path cut = dir / "out" / (xml ? "cut.xlsx" : "cut.xls");
    testsupport::writeFileBytes(cut, bytes.substr(0, bytes.size() * 2 / 3));
    fs::remove(whole);
    cases.push_back({cut, xml ? 1 : 0, "damaged: "});
  }
  // A bare BIFF record at the start, as Excel 2 to 4 wrote their files.
  testsupport::writeFileBytes(dir / "out" / "biff4.xls", std::string("\x09\x04\x06\x00\x00\x00\x10\x00\x00\x00", 10));
  cases.push_back({dir / "out" / "biff4.xls", 0, "Excel 2 to 4 workbooks (BIFF2 to BIFF4) cannot be extended"});
  fs::path books = sharedBooks();
  if (!books.empty()) {
    for (auto [name, type, reason] : std::vector<std::tuple<std::string, int, std::string>>{
             {"real-world/pass_protected.xlsx", 1, "the workbook is encrypted"},
             {"real-world/issue_385.xls", 0, "the workbook is encrypted"},
             {"real-world/biff5_write.xls", 0, "Excel 95 workbooks (BIFF5) cannot be extended"},
             {"real-world/capitalized_wbook_stream.xls", 0, "Excel 95 workbooks (BIFF5) cannot be extended"},
             {"real-world/issue252.xlsx", 1, "damaged: "},
             {"real-world/OOM_alloc3.xls", 0, "damaged: "}}) {
      fs::path copy = dir / "out" / fs::path(name).filename();
      fs::copy_file(books / name, copy);
      cases.push_back({copy, type, reason});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.filename().string());
    std::string before = testsupport::readFileBytes(c.file);
    std::string err;
    EXPECT_EQ(run(c.file, c.bookType, 0, &err), JobOutcome::NotSaved);
    std::string head = "Error: Cannot load XLS file.\n" + c.file.string() + ": ";
    EXPECT_EQ(err.substr(0, head.size()), head) << err;
    EXPECT_NE(err.find(c.reason), std::string::npos) << err;
    EXPECT_EQ(testsupport::readFileBytes(c.file), before);
  }
  std::vector<std::string> expected;
  for (const Case& c : cases) expected.push_back(c.file.filename().string());
  EXPECT_EQ(strayFiles(dir / "out", expected), std::vector<std::string>{});
}

TEST_F(SafeOutputTest, ARefusedBookFailsTheRun) {
  fs::path text = dir / "out" / "book.xlsx";
  testsupport::writeFileBytes(text, std::string("PK\x03\x04 but nothing more", 22));
  ConversionOptions o;
  o.sourcePath = db.string();
  o.outputPath = text.string();
  o.bookType = 1;
  BatchResult result;
  std::string err = capturedStderr([&] { result = RunBatch(&o, BatchCaller::Library); });
  EXPECT_EQ(result.jobsNotSaved, 1);
  EXPECT_FALSE(result.allConverted());  // the libraries return 4, the programs exit with 1
  EXPECT_NE(err.find("Error: Cannot load XLS file.\n"), std::string::npos);
}

TEST_F(SafeOutputTest, AFileThatIsNoWorkbookIsReplaced) {
  for (const char* content : {"", "name;value\nsome;text\n"}) {
    fs::path file = dir / "out" / "notes.xlsx";
    testsupport::writeFileBytes(file, content);
    EXPECT_EQ(run(file, 1, 0), JobOutcome::Saved);
    EXPECT_EQ(sheetNames(testsupport::readWorkbook(file)), nlohmann::json::array({"Orders", "Stock"}));
    fs::remove(file);
  }
}

TEST_F(SafeOutputTest, OddOutputsAreRefusedUntouchedAndNeverHang) {
  fs::path out = dir / "out";
  ASSERT_EQ(mkfifo((out / "pipe.xlsx").c_str(), 0600), 0);
  fs::create_hard_link(db, out / "hard.xlsx");
  fs::rename(writeDb(dir / "other.mdb", {countingTable("T", 1)}), out / "other.xls");
  fs::create_symlink("/dev/null", out / "null.xlsx");
  fs::create_symlink(out / "pipe.xlsx", out / "topipe.xlsx");
  fs::create_directory(out / "folder.xlsx");
  std::vector<std::tuple<fs::path, std::string, std::string>> cases{
      {db, "Cannot load XLS file.", "it is the database being converted"},
      {out / "hard.xlsx", "Cannot load XLS file.", "it is the database being converted"},
      {out / "other.xls", "Cannot load XLS file.", "it is an Access database, not a workbook"},
      {out / "null.xlsx", "Cannot save XLS file.", "it links to /dev/null, a character device, not a regular file"},
      {out / "pipe.xlsx", "Cannot save XLS file.", "it is a named pipe (FIFO), not a regular file"},
      {out / "topipe.xlsx", "Cannot save XLS file.", ", a named pipe (FIFO), not a regular file"},
      {out / "folder.xlsx", "Cannot save XLS file.", "it is a folder, not a regular file"}};
  if (fs::path shared = testsupport::sharedAccessData(); !shared.empty()) {
    fs::copy_file(shared / "ace-agile-encrypted.accdb", out / "encrypted.xlsx");
    cases.push_back({out / "encrypted.xlsx", "Cannot load XLS file.", "it is an Access database, not a workbook"});
  }
  fs::path errFile = dir / "err.txt";
  for (const auto& [file, head, reason] : cases) {
    for (int overwrite : {0, 1}) {
      SCOPED_TRACE(file.filename().string() + (overwrite ? " overwriting" : " extending"));
      bool regular = fs::is_regular_file(file);
      std::string before = regular ? testsupport::readFileBytes(file) : "";
      // In a child with a time limit: a job that blocks on the output ends by SIGALRM.
      pid_t child = fork();
      if (child == 0) {
        alarm(30);
        std::string err;
        JobOutcome outcome = run(file, 1, overwrite, &err);
        testsupport::writeFileBytes(errFile, err);
        _exit(outcome == JobOutcome::NotSaved ? 0 : 1);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status)) << "the job did not end";
      EXPECT_EQ(WEXITSTATUS(status), 0);
      std::string err = testsupport::readFileBytes(errFile);
      EXPECT_EQ(err.rfind("Error: " + head + "\n" + file.string() + ": ", 0), 0u) << err;
      EXPECT_NE(err.find(reason), std::string::npos) << err;
      if (regular) {
        EXPECT_EQ(testsupport::readFileBytes(file), before);
      }
    }
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_fifo(out / "pipe.xlsx"));
  EXPECT_TRUE(fs::is_empty(out / "folder.xlsx"));

  // A link to nothing yet is written through; the longest name the folder takes gets a book.
  fs::create_symlink("made.xlsx", out / "ahead.xlsx");
  EXPECT_EQ(run(out / "ahead.xlsx", 1, 0), JobOutcome::Saved);
  EXPECT_TRUE(fs::is_symlink(out / "ahead.xlsx"));
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(out / "made.xlsx")), nlohmann::json::array({"Orders", "Stock"}));
  fs::path longest = out / (std::string(250, 'b') + ".xlsx");
  EXPECT_EQ(run(longest, 1, 0), JobOutcome::Saved);
  EXPECT_EQ(run(longest, 1, 0), JobOutcome::Saved);  // extended through the same short temporary name
  std::vector<std::string> expected{"pipe.xlsx", "hard.xlsx", "other.xls", "null.xlsx", "topipe.xlsx", "folder.xlsx",
                                    "encrypted.xlsx", "ahead.xlsx", "made.xlsx", longest.filename().string()};
  EXPECT_EQ(strayFiles(out, expected), std::vector<std::string>{});
}

TEST_F(SafeOutputTest, OverwritingKeepsTheOldBookUntilTheNewOneIsWhole) {
  for (bool xml : {false, true}) {
    fs::path file = makeBook(xml ? "book.xlsx" : "book.xls", xml);
    std::string before = testsupport::readFileBytes(file);
    // A job with no table to write saves nothing, and the old book stays.
    ConversionOptions o;
    openInto(&o, db);
    o.selectedTables = std::string(";Missing;");
    o.outputPath = file.string();
    o.bookType = xml;
    o.overwriteFile = 1;
    std::string err = capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::NotSaved); });
    EXPECT_EQ(err, "Error: Cannot save XLS file.\n" + file.string() + ": a workbook needs at least one sheet\n");
    EXPECT_EQ(testsupport::readFileBytes(file), before);
    // A job that writes replaces it whole, keeping its permissions.
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(run(file, xml, 1), JobOutcome::Saved);
    EXPECT_EQ(loadedSheetNames(file, xml), (std::vector<std::string>{"Orders", "Stock"}));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::remove(file);
  }
  EXPECT_EQ(strayFiles(dir / "out", {}), std::vector<std::string>{});
}

TEST_F(SafeOutputTest, AFailedSaveKeepsTheOldBook) {
  // A table large enough that its book passes the file size limit set below.
  db = writeDb(dir / "big.mdb", {countingTable("Orders", 20000)});
  for (bool xml : {false, true}) {
    for (int overwrite : {0, 1}) {
      SCOPED_TRACE(std::string(xml ? "xlsx" : "xls") + (overwrite ? " overwriting" : " extending"));
      fs::path file = makeBook(xml ? "book.xlsx" : "book.xls", xml);
      std::string before = testsupport::readFileBytes(file);
      fs::path errFile = dir / "err.txt";
      pid_t child = fork();
      if (child == 0) {
        // Writes past 64 KiB fail with EFBIG instead of ending the process.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string err;
        JobOutcome outcome = run(file, xml, overwrite, &err);
        FILE* f = fopen(errFile.c_str(), "w");
        fputs(err.c_str(), f);
        fclose(f);
        _exit(outcome == JobOutcome::NotSaved ? 0 : 1);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0) << "the job did not report the failed save";
      std::string err = testsupport::readFileBytes(errFile);
      std::string head = "Error: Cannot save XLS file.\n" + file.string() + ": ";
      EXPECT_NE(err.find(head), std::string::npos) << err;
      EXPECT_NE(err.find("File too large"), std::string::npos) << err;  // the system's reason
      EXPECT_EQ(testsupport::readFileBytes(file), before);
      EXPECT_EQ(strayFiles(dir / "out", {file.filename().string()}), std::vector<std::string>{});
      fs::remove(file);
    }
  }
}

TEST_F(SafeOutputTest, TwoProcessesExtendingOneBookBothLand) {
  constexpr int kRounds = 6;
  for (bool xml : {false, true}) {
    SCOPED_TRACE(xml ? "xlsx" : "xls");
    fs::path file = dir / "out" / (xml ? "shared.xlsx" : "shared.xls");
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
      // Each process's databases are written before the race starts.
      std::vector<fs::path> dbs;
      for (int r = 0; r < kRounds; ++r) {
        std::string table = "P" + std::to_string(p) + "R" + std::to_string(r);
        dbs.push_back(writeDb(dir / (table + ".mdb"), {countingTable(table, 50)}));
      }
      pid_t child = fork();
      if (child == 0) {
        bool ok = true;
        for (const fs::path& source : dbs) {
          ConversionOptions o;
          o.sourcePath = source.string();
          o.outputPath = file.string();
          o.bookType = xml;
          ok = RunBatch(&o, BatchCaller::Library).allConverted() && ok;
        }
        _exit(ok ? 0 : 1);
      }
      children.push_back(child);
    }
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<std::string> names = loadedSheetNames(file, xml);
    EXPECT_EQ(names.size(), 2u * kRounds);
    for (int p = 0; p < 2; ++p)
      for (int r = 0; r < kRounds; ++r) {
        std::string table = "P" + std::to_string(p) + "R" + std::to_string(r);
        EXPECT_NE(std::find(names.begin(), names.end(), table), names.end()) << table << " was lost";
      }
  }
  EXPECT_EQ(strayFiles(dir / "out", {"shared.xls", "shared.xlsx"}), std::vector<std::string>{});
}

TEST_F(SafeOutputTest, ASheetIsReplacedOnlyWhenItsSuccessorCanBeAdded) {
  // Two sheets that Excel would take for one name: the table's new sheet can never be added.
  fs::path file = dir / "out" / "clash.xlsx";
  testsupport::runPython(
      "import openpyxl, sys, zipfile\n"
      "b = openpyxl.Workbook(); b.active.title = 'Orders'; b.active['A1'] = 'old'\n"
      "b.create_sheet('Stoxx')['A1'] = 'other'\n"
      "b.save(sys.argv[1] + '.tmp')\n"
      "with zipfile.ZipFile(sys.argv[1] + '.tmp') as src, zipfile.ZipFile(sys.argv[1], 'w') as dst:\n"
      "    for i in src.infolist():\n"
      "        data = src.read(i.filename)\n"
      "        if i.filename == 'xl/workbook.xml': data = data.replace(b'Stoxx', b'ORDERS')\n"
      "        dst.writestr(i, data)\n",
      {file.string()});
  fs::remove(file.string() + ".tmp");
  std::string err;
  EXPECT_EQ(run(file, 1, 0, &err, 1), JobOutcome::TableFailed);
  EXPECT_NE(err.find("Error: Cannot create a sheet.\n" + file.string() + ": "), std::string::npos) << err;
  auto book = testsupport::readWorkbook(file);
  EXPECT_EQ(sheetNames(book), nlohmann::json::array({"Orders", "ORDERS", "Stock"}));
  EXPECT_EQ(book[0]["rows"][0][0], str("old"));
}
