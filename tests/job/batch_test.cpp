#include <gtest/gtest.h>

#include "job/batch_runner.h"
#include "tests/job/fixtures.h"

using namespace jobtest;

TEST(BatchNames, DerivedFromTheFolderAndTheDatabaseName) {
  EXPECT_EQ(deriveOutputPath("/out/", "/data/sales.mdb"), "/out/sales.xls");
  EXPECT_EQ(deriveOutputPath("/out", "/data/sales.mdb"), "/outsales.xls");  // no separator is added
  EXPECT_EQ(deriveOutputPath("", "/data/sales.mdb"), "sales.xls");
  EXPECT_EQ(deriveOutputPath("/out/", "/data/sales"), "/out/sales.xls");
  EXPECT_EQ(deriveOutputPath("/out/", "/data/sales.2024.accdb"), "/out/sales.2024.xls");
  // A dot in the folder's name is not the database's extension.
  EXPECT_EQ(deriveOutputPath("/srv/v1.2/", "/data/sales"), "/srv/v1.2/sales.xls");
}

TEST(BatchNames, ExtensionFollowsTheBookType) {
  EXPECT_EQ(alignExtensionWithBookType("report.xlsx", 0), "report.xls");
  EXPECT_EQ(alignExtensionWithBookType("report.XLS", 1), "report.XLSx");
  EXPECT_EQ(alignExtensionWithBookType("report.xls", 0), "report.xls");
  EXPECT_EQ(alignExtensionWithBookType("report.xlsx", 1), "report.xlsx");
  EXPECT_EQ(alignExtensionWithBookType("report.xlsm", 1), "report.xlsm");
}

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir / "data");
    std::filesystem::create_directories(dir / "out");
    writeDb(dir / "data" / "sales.mdb", {countingTable("Sales", 3)});
    writeDb(dir / "data" / "stock.MDB", {countingTable("Stock", 2)});
    writeDb(dir / "data" / ".hidden.mdb", {countingTable("Hidden", 1)});
    testsupport::writeFileBytes(dir / "data" / "notes.txt", "not a database");
  }
  std::string data(const std::string& name) { return (dir / "data" / name).string(); }
  testsupport::ScratchDir dir;
};

TEST_F(BatchTest, WildcardWithOutputFolderWritesOneWorkbookPerDatabase) {
  ConversionOptions o;
  o.sourcePath = data("*.mdb");
  o.outputFolder = (dir / "out").string() + "/";
  o.bookType = 1;
  BatchResult r = RunBatch(&o, BatchCaller::Program);
  EXPECT_EQ(r.matched, 2);  // letter case ignored; names beginning with "." passed over
  EXPECT_EQ(r.code(), 0);
  EXPECT_TRUE(r.allConverted());
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(dir / "out" / "sales.xlsx")), nlohmann::json::array({"Sales"}));
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(dir / "out" / "stock.xlsx")), nlohmann::json::array({"Stock"}));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / ".hidden.xlsx"));
  EXPECT_EQ(o.tablesExported, 2);
  EXPECT_EQ(o.recordsExported, 5);
  EXPECT_TRUE(o.database);  // the program keeps the last database open

  // A name beginning with "." is converted when it is named, or matched by a pattern that begins
  // with "." itself, as a shell would; never "." and "..".
  for (const std::string& pattern : {data(".hidden.mdb"), data(".*")}) {
    ConversionOptions named;
    named.sourcePath = pattern;
    named.outputFolder = (dir / "out").string() + "/";
    BatchResult hidden = RunBatch(&named, BatchCaller::Library);
    EXPECT_EQ(hidden.matched, 1) << pattern;
    EXPECT_TRUE(hidden.allConverted()) << pattern;
    EXPECT_EQ(sheetNames(testsupport::readWorkbook(dir / "out" / ".hidden.xls")), nlohmann::json::array({"Hidden"}));
  }
}

TEST_F(BatchTest, OneGivenOutputCollectsEveryDatabase) {
  ConversionOptions o;
  o.sourcePath = data("s*.?db");
  o.outputPath = (dir / "out" / "all.xlsx").string();
  BatchResult r = RunBatch(&o, BatchCaller::Library);
  EXPECT_EQ(r.code(), 0);
  EXPECT_EQ(o.outputPath, (dir / "out" / "all.xls").string());  // type 0 drops the x
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(o.outputPath)), nlohmann::json::array({"Sales", "Stock"}));
  EXPECT_FALSE(o.database);  // the library closes each database after its job

  ConversionOptions replace;
  replace.sourcePath = data("s*.?db");
  replace.outputPath = (dir / "out" / "all.xls").string();
  replace.overwriteFile = 1;
  RunBatch(&replace, BatchCaller::Library);
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(replace.outputPath)), nlohmann::json::array({"Stock"}));
}

TEST_F(BatchTest, FailedOpensAreCountedAndSkipped) {
  std::filesystem::create_directories(dir / "data" / "archive.mdb");
  testsupport::writeFileBytes(dir / "data" / "broken.mdb", std::string(8192, 'x'));
  ConversionOptions o;
  o.sourcePath = data("*.mdb");
  o.outputFolder = (dir / "out").string() + "/";
  BatchResult r = RunBatch(&o, BatchCaller::Library);
  EXPECT_EQ(r.matched, 4);
  EXPECT_EQ(r.failedToOpen, 2);
  EXPECT_EQ(r.code(), 3);
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "sales.xls"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "stock.xls"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "broken.xls"));
}

TEST_F(BatchTest, NothingMatchingIsNoFailure) {
  ConversionOptions o;
  o.sourcePath = data("*.accdb");
  o.outputPath = (dir / "out" / "x.xls").string();
  BatchResult r = RunBatch(&o, BatchCaller::Library);
  EXPECT_EQ(r.matched, 0);
  EXPECT_EQ(r.code(), 0);
  o.sourcePath = data("missing.mdb");
  EXPECT_EQ(RunBatch(&o, BatchCaller::Library).matched, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}

TEST_F(BatchTest, TableFilterAppliesToTheFirstDatabaseThatHasTables) {
  writeDb(dir / "data" / "a.mdb", {countingTable("Orders", 1), countingTable("Staff", 1), countingTable("Other", 1)});
  writeDb(dir / "data" / "b.mdb", {countingTable("Orders", 1), countingTable("More", 1)});
  ConversionOptions o;
  o.sourcePath = data("?.mdb");
  o.outputFolder = (dir / "out").string() + "/";
  o.tableFilter = ";ORDERS;STAFF;";
  RunBatch(&o, BatchCaller::Program);
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(dir / "out" / "a.xls")), nlohmann::json::array({"Orders", "Staff"}));
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(dir / "out" / "b.xls")), nlohmann::json::array({"Orders", "More"}));
  EXPECT_FALSE(o.tableFilter);
}
