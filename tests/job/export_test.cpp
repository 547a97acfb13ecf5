#include <gtest/gtest.h>

#include <cstdlib>

#include "job/conversion_job.h"
#include "platform/owner_window.h"
#include "tests/job/fixtures.h"
#include "workbook/export/sheet_placement.h"

using namespace jobtest;
namespace aw = accesswriter;

namespace {

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("LC_ALL", "C", 1); }  // dates as ISO text
  testsupport::ScratchDir dir;
};

// Every kind of field, with a row of values, a row of nulls and a row of edge values.
aw::Table everyType() {
  aw::Guid guid = aw::guidFromText("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  std::vector<aw::Row> rows = {
      {true, int64_t{200}, int64_t{-12345}, int64_t{2000000000}, aw::Currency{123400}, 0.5, 1e300,
       aw::Date{45351.0 + 47100.0 / 86400.0}, std::string("Grüße 𝄞"), std::string(70000, 'm'), aw::Bytes{"\x01\xAB"},
       guid, aw::Decimal{"-1234.56"}},
      {false, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}, Null{}},
      {false, int64_t{0}, int64_t{0}, int64_t{-2147483648LL}, aw::Currency{-5000}, -0.0, 5e-324, aw::Date{0.5},
       std::string(""), std::string("short"), aw::Bytes{""}, Null{}, aw::Decimal{"0"}},
  };
  return {"Types",
          {{"Flag", FieldType::Boolean}, {"Small", FieldType::Byte}, {"Int", FieldType::Integer},
           {"Long", FieldType::Long}, {"Money", FieldType::Currency}, {"Single", FieldType::Single},
           {"Double", FieldType::Double}, {"When", FieldType::DateTime}, {"Name", FieldType::Text, 50},
           {"Notes", FieldType::Memo}, {"Blob", FieldType::Binary}, {"Id", FieldType::Guid},
           {"Price", FieldType::Decimal, 255, 18, 2}},
          aw::rowsFrom(rows)};
}

}  // namespace

TEST_F(ExportTest, EveryTypeToItsCellKindInBothFormats) {
  auto db = writeDb(dir / "types.mdb", {everyType()});
  for (int bookType : {0, 1}) {
    ConversionOptions o;
    openInto(&o, db);
    o.bookType = bookType;
    o.outputPath = (dir / (bookType ? "types.xlsx" : "types.xls")).string();
    EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved);
    EXPECT_EQ(o.tablesExported, 1);
    EXPECT_EQ(o.recordsExported, 3);
    auto book = testsupport::readWorkbook(o.outputPath);
    ASSERT_EQ(book.size(), 1u);
    EXPECT_EQ(book[0]["name"], "Types");
    const auto& rows = book[0]["rows"];
    ASSERT_EQ(rows.size(), 4u);
    nlohmann::json header = nlohmann::json::array();
    for (const char* n : {"Flag", "Small", "Int", "Long", "Money", "Single", "Double", "When", "Name", "Notes",
                          "Blob", "Id", "Price"})
      header.push_back(str(n));
    EXPECT_EQ(rows[0], header);
    const auto& r1 = rows[1];
    EXPECT_EQ(r1[0], boolean(true));
    EXPECT_EQ(r1[1], num(200));
    EXPECT_EQ(r1[2], num(-12345));
    EXPECT_EQ(r1[3], num(2000000000));
    EXPECT_EQ(r1[4], num(12.34));
    EXPECT_EQ(r1[5], num(0.5));
    EXPECT_EQ(r1[6], num(1e300));
    EXPECT_EQ(r1[7], str("2024-02-29 13:05:00"));
    EXPECT_EQ(r1[8], str("Grüße 𝄞"));
    EXPECT_EQ(r1[9], str(std::string(32767, 'm')));  // a cell holds at most 32,767 characters
    EXPECT_EQ(r1[10], str("01AB"));
    EXPECT_EQ(r1[11], str("{01234567-89AB-CDEF-0123-456789ABCDEF}"));
    EXPECT_EQ(r1[12], num(-1234.56));
    // Nulls leave their cells empty; a Yes/No field is never null.
    EXPECT_EQ(rows[2], nlohmann::json::array({boolean(false)}));
    const auto& r3 = rows[3];
    EXPECT_EQ(r3[0], boolean(false));
    EXPECT_EQ(r3[1], num(0));  // zero is a number, not an empty cell
    EXPECT_EQ(r3[3], num(-2147483648.0));
    EXPECT_EQ(r3[4], num(-0.5));
    EXPECT_EQ(r3[6], num(5e-324));
    EXPECT_EQ(r3[7], str("12:00:00"));
    EXPECT_EQ(r3[8], str(""));  // an empty text is a text cell, unlike a null
    EXPECT_EQ(r3[9], str("short"));
    EXPECT_EQ(r3[11], nullptr);
    EXPECT_EQ(r3[12], num(0));
  }
}

TEST_F(ExportTest, HeaderCaptionsAndHeaderOnlyRuns) {
  aw::Table t{"Stock", {{"Price", FieldType::Double}, {"Qty", FieldType::Long}},
              aw::rowsFrom({{1.5, int64_t{3}}, {2.5, int64_t{4}}})};
  auto db = writeDb(dir / "stock.mdb", {t});
  testsupport::writeFileBytes(dir / "stock.ini", "[FIELDS]\nprice=Unit price\n");
  ConversionOptions o;
  openInto(&o, db);
  o.bookType = 1;
  o.exportRecords = 0;
  o.outputPath = (dir / "stock.xlsx").string();
  RunConversionJob(nullptr, &o);
  auto book = testsupport::readWorkbook(o.outputPath);
  EXPECT_EQ(book[0]["rows"], nlohmann::json::array({nlohmann::json::array({str("Unit price"), str("Qty")})}));
  EXPECT_EQ(o.recordsExported, 0);

  // Appending to the existing sheet: with ONLYNEW no second header row.
  o.exportRecords = 1;
  o.headerOnlyForNewSheets = 1;
  RunConversionJob(nullptr, &o);
  book = testsupport::readWorkbook(o.outputPath);
  const auto& rows = book[0]["rows"];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], nlohmann::json::array({num(1.5), num(3)}));
  EXPECT_EQ(o.recordsExported, 2);

  // Without ONLYNEW the header row is written again below the used rows.
  o.headerOnlyForNewSheets = 0;
  o.writeHeader = 1;
  RunConversionJob(nullptr, &o);
  book = testsupport::readWorkbook(o.outputPath);
  ASSERT_EQ(book[0]["rows"].size(), 6u);
  EXPECT_EQ(book[0]["rows"][3][0], str("Unit price"));
}

TEST_F(ExportTest, ContinuationSheetsAtTheRowLimit) {
  auto db = writeDb(dir / "big.accdb", {countingTable("Exact", 65530), countingTable("OneMore", 65531)},
                    aw::Format::Ace12);
  ConversionOptions o;
  openInto(&o, db);
  o.bookType = 1;
  o.outputPath = (dir / "big.xlsx").string();
  int first = nextContinuationNumber();
  RunConversionJob(nullptr, &o);
  auto book = testsupport::readWorkbook(o.outputPath);
  // Exactly 65,530 records under a header still open an (empty) continuation sheet.
  EXPECT_EQ(sheetNames(book), nlohmann::json::array({"Exact", "Exact" + std::to_string(first), "OneMore",
                                                     "OneMore" + std::to_string(first + 1)}));
  EXPECT_EQ(book[0]["rows"].size(), 65531u);
  EXPECT_EQ(book[0]["rows"][65530], nlohmann::json::array({num(65530)}));
  EXPECT_TRUE(book[1]["rows"].empty());
  EXPECT_EQ(book[2]["rows"].size(), 65531u);
  EXPECT_EQ(book[3]["rows"], nlohmann::json::array({nlohmann::json::array({num(65531)})}));  // no header
  EXPECT_EQ(o.recordsExported, 65530 + 65531);
}

namespace {
// A progress page whose user presses Cancel after some records.
struct CancellingWindow : OwnerWindow {
  ConversionOptions* options;
  int stepsBeforeCancel;
  std::vector<std::string> messages;
  std::string label;
  CancellingWindow(ConversionOptions* o, int steps) : options(o), stepsBeforeCancel(steps) {}
  void showMessage(const std::string& text, const std::string&, MessageIcon) override { messages.push_back(text); }
  void setControlText(int id, const std::string& text) override {
    if (id == kTableLabelControl) label = text;
  }
  void setProgressRange(int, int32_t, int32_t) override {}
  void setProgressStep(int, int32_t) override {}
  void stepProgress(int) override {
    if (--stepsBeforeCancel == 0) options->cancelRequested = 1;
  }
  void repaint() override {}
};
}  // namespace

TEST_F(ExportTest, CancelFinishesTheRecordSkipsLaterTablesAndStillSaves) {
  auto db = writeDb(dir / "three.mdb", {countingTable("A", 5), countingTable("B", 5), countingTable("C", 5)});
  ConversionOptions o;
  openInto(&o, db);
  o.bookType = 1;
  o.outputPath = (dir / "three.xlsx").string();
  CancellingWindow window(&o, 8);  // cancels while the third record of B is written
  RunConversionJob(&window, &o);
  EXPECT_EQ(o.tablesExported, 2);
  EXPECT_EQ(o.recordsExported, 8);
  EXPECT_EQ(window.label, "B -> " + o.outputPath);
  auto book = testsupport::readWorkbook(o.outputPath);
  EXPECT_EQ(sheetNames(book), nlohmann::json::array({"A", "B"}));
  EXPECT_EQ(book[1]["rows"].size(), 4u);  // header and three records
}

TEST_F(ExportTest, SelectionIsCaseSensitiveAndFollowsTheCatalogOrder) {
  auto db = writeDb(dir / "shop.mdb", {countingTable("Orders", 1), countingTable("Order", 1),
                                       countingTable("Customers", 2), countingTable("Staff", 1)});
  ConversionOptions o;
  openInto(&o, db);
  o.selectedTables = ";Customers;;Orders;;Gone;;staff;";
  o.bookType = 1;
  o.outputPath = (dir / "shop.xlsx").string();
  RunConversionJob(nullptr, &o);
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(o.outputPath)), nlohmann::json::array({"Orders", "Customers"}));
  EXPECT_EQ(o.tablesExported, 2);
}

TEST_F(ExportTest, OverwriteModesOfTheOutputFile) {
  auto db = writeDb(dir / "shop.mdb", {countingTable("Orders", 2)});
  std::string out = (dir / "shop.xlsx").string();
  testsupport::runPython(
      "import openpyxl,sys\nb=openpyxl.Workbook()\nb.active.title='Notes'\nb.active['A1']='keep me'\nb.save(sys.argv[1])",
      {out});
  ConversionOptions keep;
  openInto(&keep, db);
  keep.bookType = 1;
  keep.outputPath = out;
  RunConversionJob(nullptr, &keep);
  auto book = testsupport::readWorkbook(out);
  EXPECT_EQ(sheetNames(book), nlohmann::json::array({"Notes", "Orders"}));
  EXPECT_EQ(book[0]["rows"][0][0], str("keep me"));

  for (int mode : {1, 2}) {
    ConversionOptions replace;
    openInto(&replace, db);
    replace.bookType = 1;
    replace.overwriteFile = mode;
    replace.outputPath = out;
    RunConversionJob(nullptr, &replace);
    EXPECT_EQ(sheetNames(testsupport::readWorkbook(out)), nlohmann::json::array({"Orders"}));
  }

  // A text file in the output's place is replaced by the workbook.
  std::string text = (dir / "notes.xls").string();
  testsupport::writeFileBytes(text, "just some text\n");
  ConversionOptions overText;
  openInto(&overText, db);
  overText.outputPath = text;
  EXPECT_EQ(RunConversionJob(nullptr, &overText), JobOutcome::Saved);
  EXPECT_EQ(sheetNames(testsupport::readWorkbook(text)), nlohmann::json::array({"Orders"}));
}

TEST_F(ExportTest, RefusedTableNamesGetDerivedSheetsThatLaterRunsExtend) {
  const std::string cutAtPair = std::string(30, 'x') + "\xF0\x9D\x84\x9E" + "yz";  // 𝄞 would take units 31 and 32
  const std::vector<std::pair<std::string, std::string>> names = {
      {"Tab/2023", "Tab_2023"}, {"Invoices: paid", "Invoices_ paid"}, {"??###", "__###"},
      {"Customer orders and returns 2019", "Customer orders and returns 201"}, {"A/B", "A_B"}, {"a:b", "a_b~2"},
      {"'quoted'", "_quoted_"}, {"Tab\tbed", "Tab_bed"}, {cutAtPair, std::string(30, 'x')}, {"Plain", "Plain"}};
  std::vector<aw::Table> tables;
  for (size_t i = 0; i < names.size(); ++i)
    tables.push_back({names[i].first, {{"N", FieldType::Long}}, aw::rowsFrom({{int64_t(i)}})});
  auto db = writeDb(dir / "names.mdb", tables);
  for (int bookType : {0, 1}) {
    std::string out = (dir / (bookType ? "names.xlsx" : "names.xls")).string();
    // Made, then extended twice: every run lands on the same sheets.
    for (int run = 1; run <= 3; ++run) {
      ConversionOptions o;
      openInto(&o, db);
      o.bookType = bookType;
      o.headerOnlyForNewSheets = 1;
      o.outputPath = out;
      ASSERT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved) << out << " run " << run;
      auto book = testsupport::readWorkbook(out);
      ASSERT_EQ(book.size(), names.size()) << out;
      for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(book[i]["name"], names[i].second) << out;
        ASSERT_EQ(book[i]["rows"].size(), size_t(1 + run)) << names[i].second;
        EXPECT_EQ(book[i]["rows"][size_t(run)], nlohmann::json::array({num(double(i))}));
      }
    }
  }
}

TEST_F(ExportTest, ASaveFailureIsReported) {
  auto db = writeDb(dir / "shop.mdb", {countingTable("Good", 1)});
  ConversionOptions unsaved;
  openInto(&unsaved, db);
  unsaved.outputPath = (dir / "no" / "such" / "folder.xls").string();
  std::string err = capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &unsaved), JobOutcome::NotSaved); });
  EXPECT_NE(err.find("Error: Cannot save XLS file.\n"), std::string::npos);
}

TEST_F(ExportTest, LinkedTablesBringTheRecordsOfTheirBackEnds) {
  aw::Options back;
  back.password = "back pw";
  aw::writeDatabase(dir / "back.mdb", back,
                    {countingTable("Customers", 2), {"Orders", {{"Item", FieldType::Text, 20}},
                                                      aw::rowsFrom({{std::string("tea")}, {std::string("jam")}})}});
  aw::Options shared;  // opened with the job's own password, as its link stores none
  shared.password = "job pw";
  aw::writeDatabase(dir / "shared.mdb", shared, {countingTable("T", 3)});
  aw::Options front;
  front.format = aw::Format::Ace12;
  const std::string backPath = (dir / "back.mdb").string();
  front.links = {{"Kunden", "C:\\Data\\back.mdb", "Customers", ";PWD=back pw"},  // found beside the front end
                 {"Orders", backPath, "ORDERS", ";PWD=back pw"},
                 {"Shared", "D:\\x\\shared.mdb", "T", ""},
                 {"Gone", "C:\\Data\\missing.accdb", "X", ""},
                 {"Sheet", "C:\\Data\\book.xlsx", "Sheet1$", "Excel 12.0 Xml;HDR=YES;DATABASE=C:\\Data\\book.xlsx"},
                 {"Remote", "", "dbo.Sales", "ODBC;DSN=Sales;UID=bob;PWD=hunter2;", true}};
  aw::writeDatabase(dir / "front.accdb", front, {countingTable("Local", 1)});

  ConversionOptions o;
  o.password = "job pw";
  openInto(&o, dir / "front.accdb");
  EXPECT_EQ(o.selectedTables, ";Local;;Kunden;;Orders;;Shared;;Gone;;Sheet;;Remote;");
  o.bookType = 1;
  o.outputPath = (dir / "front.xlsx").string();
  std::string err = capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::TableFailed); });
  auto book = testsupport::readWorkbook(o.outputPath);
  EXPECT_EQ(sheetNames(book), nlohmann::json::array({"Local", "Kunden", "Orders", "Shared"}));
  EXPECT_EQ(book[1]["rows"], nlohmann::json::parse(R"([[{"s":"N"}],[{"n":1.0}],[{"n":2.0}]])"));
  EXPECT_EQ(book[2]["rows"], nlohmann::json::parse(R"([[{"s":"Item"}],[{"s":"tea"}],[{"s":"jam"}]])"));
  EXPECT_EQ(book[3]["rows"].size(), 4u);
  EXPECT_EQ(o.tablesExported, 7);
  // Each table that cannot be followed fails alone, naming its file and where it was looked for.
  EXPECT_NE(err.find("Linked table 'Gone': the linked database was not found, looked for at C:\\Data\\missing.accdb and at " +
                     (dir / "missing.accdb").string()), std::string::npos) << err;
  EXPECT_NE(err.find("Linked table 'Sheet': it lives in C:\\Data\\book.xlsx, which is not an Access database"),
            std::string::npos) << err;
  EXPECT_NE(err.find("ODBC;DSN=Sales;UID=bob"), std::string::npos) << err;
  EXPECT_EQ(err.find("hunter2"), std::string::npos) << err;

  // The back end's password is its own: a wrong one fails that table with the reason.
  ConversionOptions wrong;
  front.links = {{"Kunden", backPath, "Customers", ";PWD=guess"}};
  aw::writeDatabase(dir / "front2.accdb", front, {countingTable("Local", 1)});
  openInto(&wrong, dir / "front2.accdb");
  wrong.outputPath = (dir / "front2.xls").string();
  err = capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &wrong), JobOutcome::TableFailed); });
  EXPECT_NE(err.find("the linked database " + backPath + " cannot be opened: the password is wrong"), std::string::npos)
      << err;
}
