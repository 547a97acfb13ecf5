// Workbooks ready to use, on request: /CELLS=TYPED, /LAYOUT=TABLE and /ROWS=N through the whole
// job, read back by openpyxl, xlrd and LibreOffice; and the default output unchanged.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "job/conversion_job.h"
#include "tests/job/fixtures.h"
#include "workbook/export/sheet_placement.h"
#include "workbook/export/typed_cell_value.h"

using namespace jobtest;
namespace aw = accesswriter;
namespace fs = std::filesystem;

namespace {

class TableOptions : public ::testing::Test {
 protected:
  // Dates as ISO text where they stay text; money in euros, the sign after the number.
  void SetUp() override {
    unsetenv("LC_ALL");
    setenv("LANG", "C", 1);
    setenv("LC_TIME", "C", 1);
    setenv("LC_MONETARY", "de_DE.UTF-8", 1);
  }
  void TearDown() override { unsetenv("LC_MONETARY"); }
  testsupport::ScratchDir dir;

  // Converts the database into out with the switches set as given.
  void convert(const fs::path& db, const fs::path& out, bool typed, bool layout, int rows = 0, int overwriteTable = 0) {
    ConversionOptions o;
    openInto(&o, db);
    o.bookType = out.extension() == ".xlsx" ? 1 : 0;
    o.outputPath = out.string();
    o.typedCells = typed;
    o.tableLayout = layout;
    o.rowLimit = rows;
    o.overwriteTable = overwriteTable;
    ASSERT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved) << out;
  }
};

nlohmann::json readLooks(const fs::path& file, int rows = 20) {
  auto r = testsupport::runCommand({testsupport::python(), (testsupport::projectRoot() / "tests/support/read_looks.py").string(),
                                    "--rows", std::to_string(rows), file.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.exitCode == 0 ? nlohmann::json::parse(r.out) : nlohmann::json::object();
}

nlohmann::json readWithCalc(const std::vector<fs::path>& files) {
  std::vector<std::string> argv{testsupport::python(), (testsupport::projectRoot() / "tests/support/calc_read.py").string(),
                                "--max-rows", "20"};
  for (const auto& f : files) argv.push_back(f.string());
  auto r = testsupport::runCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.exitCode == 0 ? nlohmann::json::parse(r.out) : nlohmann::json::object();
}

constexpr double kDayAndTime = 45351.0 + 47100.0 / 86400.0;       // 2024-02-29 13:05:00
constexpr double kMilliseconds = 45351.0 + 3723.456 / 86400.0;     // 2024-02-29 01:02:03.456
const std::string kLongNote(80, 'n');
const std::string kEuroFormat = std::string(kCurrencyFormat) + "\" \u20AC\"";

aw::Table typedTable() {
  std::vector<aw::Row> rows = {
      {aw::Date{kDayAndTime}, aw::Currency{123456}, aw::Decimal{"-1234.56"}, aw::Decimal{"1234567890123456789012"},
       int64_t{9007199254740993}, true, std::string("a"), kLongNote},
      {aw::Date{44200.0}, aw::Currency{-5000}, aw::Decimal{"0"}, aw::Decimal{"123456789012345"}, int64_t{42}, false,
       Null{}, Null{}},
      {aw::Date{0.5}, Null{}, aw::Decimal{"12.5"}, Null{}, int64_t{-9007199254740993}, false, Null{}, Null{}},
      {aw::Date{16.0}, Null{}, Null{}, Null{}, int64_t{9007199254740992}, false, Null{}, Null{}},
      {aw::Date{kMilliseconds}, Null{}, Null{}, Null{}, Null{}, true, Null{}, Null{}},
  };
  return {"Typed",
          {{"When", FieldType::DateTime}, {"Money", FieldType::Currency}, {"Price", FieldType::Decimal, 255, 18, 2},
           {"Big", FieldType::Decimal, 255, 28, 0}, {"Huge", FieldType::BigInt}, {"Flag", FieldType::Boolean},
           {"Name", FieldType::Text, 50}, {"Notes", FieldType::Memo}},
          aw::rowsFrom(rows)};
}

void expectTypedCells(const nlohmann::json& sheet, bool xls) {
  const auto& c = sheet["cells"];
  EXPECT_NEAR(c["A2"]["v"].get<double>(), kDayAndTime, 1e-9);
  EXPECT_EQ(c["A2"]["fmt"], kDateTimeFormat);
  EXPECT_EQ(c["A3"]["v"], 44200);
  EXPECT_EQ(c["A3"]["fmt"], kDateFormat);
  EXPECT_EQ(c["A4"]["v"], 0.5);
  EXPECT_EQ(c["A4"]["fmt"], kTimeFormat);
  EXPECT_EQ(c["A5"]["v"], "1900-01-15");  // before 1900-03-01: a text, as by default
  EXPECT_NEAR(c["A6"]["v"].get<double>() * 86400000.0, kMilliseconds * 86400000.0, 0.01);  // to the millisecond
  EXPECT_EQ(c["B2"]["v"], 12.3456);
  EXPECT_EQ(c["B2"]["fmt"], kEuroFormat);
  EXPECT_EQ(c["B3"]["v"], -0.5);
  // Decimals show the digits the value has, not the field's scale.
  EXPECT_EQ(c["C2"]["v"], -1234.56);
  EXPECT_EQ(c["C2"]["fmt"], "0.00");
  EXPECT_EQ(c["C3"]["fmt"], "0");
  EXPECT_EQ(c["C4"]["v"], 12.5);
  EXPECT_EQ(c["C4"]["fmt"], "0.0");
  EXPECT_EQ(c["D2"]["v"], "1234567890123456789012");  // over 15 digits: the exact text
  EXPECT_EQ(c["D3"]["v"], 123456789012345);
  EXPECT_EQ(c["D3"]["fmt"], "0");
  EXPECT_EQ(c["E2"]["v"], "9007199254740993");  // beyond 2^53
  EXPECT_EQ(c["E3"]["v"], 42);
  EXPECT_EQ(c["E4"]["v"], "-9007199254740993");
  EXPECT_EQ(c["E5"]["v"], 9007199254740992.0);  // 2^53 itself is exact
  // Yes/No: boolean cells in .xlsx; in .xls 1 and 0 that the format shows as TRUE and FALSE.
  EXPECT_EQ(c["F2"]["v"], xls ? nlohmann::json(1) : nlohmann::json(true));
  EXPECT_EQ(c["F3"]["v"], xls ? nlohmann::json(0) : nlohmann::json(false));
  EXPECT_EQ(c["F2"]["fmt"], kBooleanFormat);
}

}  // namespace

TEST_F(TableOptions, TypedCellsAndTableLayoutInBothFormats) {
  auto db = writeDb(dir / "typed.accdb", {typedTable()}, aw::Format::Ace16);
  fs::path xlsx = dir / "typed.xlsx", xls = dir / "typed.xls";
  convert(db, xlsx, true, true);
  convert(db, xls, true, true);
  for (const fs::path& file : {xlsx, xls}) {
    SCOPED_TRACE(file.string());
    auto looks = readLooks(file);
    ASSERT_EQ(looks["sheets"].size(), 1u);
    const auto& sheet = looks["sheets"][0];
    expectTypedCells(sheet, file.extension() == ".xls");
    for (const char* cell : {"A1", "B1", "H1"}) EXPECT_EQ(sheet["cells"][cell]["bold"], true) << cell;
    EXPECT_EQ(sheet["cells"]["A2"]["bold"], false);
    EXPECT_EQ(sheet["frozen"], nlohmann::json::array({0, 1}));
    EXPECT_EQ(sheet["filter"], "A1:H6");
    ASSERT_EQ(sheet["widths"].size(), 8u);
    EXPECT_EQ(sheet["widths"]["0"], 19 + 2);   // the date and time format, and room for the button
    EXPECT_EQ(sheet["widths"]["6"], 4 + 2);    // the title "Name" is wider than "a"
    EXPECT_EQ(sheet["widths"]["7"], 60);       // capped
  }

  // LibreOffice sees date cells, formatted money, a bold header and the filter in both; the
  // frozen pane of the .xls shows in what LibreOffice makes of it.
  auto calc = readWithCalc({xlsx, xls});
  for (const fs::path& file : {xlsx, xls}) {
    SCOPED_TRACE(file.string());
    const auto& sheet = calc[file.string()]["sheets"][0];
    const auto& rows = sheet["rows"];
    EXPECT_EQ(rows[0][0]["bold"], true);
    EXPECT_EQ(rows[1][0]["fmt"], "YYYY-MM-DD HH:MM:SS");
    EXPECT_NEAR(rows[1][0]["n"].get<double>(), kDayAndTime, 1e-9);
    EXPECT_EQ(rows[2][0]["fmt"], "YYYY-MM-DD");
    EXPECT_EQ(rows[3][0]["fmt"], "HH:MM:SS");
    EXPECT_EQ(rows[1][1]["fmt"], kEuroFormat);
    // Money with its sign, decimals without the field's trailing zeros, Yes/No as words.
    EXPECT_EQ(rows[1][1]["shown"], "12.3456 \u20AC");
    EXPECT_EQ(rows[3][2]["shown"], "12.5");
    // LibreOffice reads an .xlsx boolean as =TRUE(), the .xls one as a number shown by its format.
    auto shown = [](const nlohmann::json& cell) { return cell.value("shown", cell.value("v", std::string())); };
    EXPECT_EQ(shown(rows[1][5]), "TRUE");
    EXPECT_EQ(shown(rows[2][5]), "FALSE");
    EXPECT_EQ(rows[1][3]["s"], "1234567890123456789012");
    EXPECT_EQ(sheet["filters"], nlohmann::json::array({"A1:H6"}));
    EXPECT_GT(sheet["widths"][7].get<int>(), sheet["widths"][5].get<int>());
  }
  EXPECT_EQ(calc[xlsx.string()]["sheets"][0]["frozen"], nlohmann::json::array({0, 1}));
  testsupport::ScratchDir profile, converted;
  auto r = testsupport::runCommand({"soffice", "--headless", "-env:UserInstallation=file://" + profile.path().string(),
                                    "--convert-to", "xlsx", "--outdir", converted.path().string(), xls.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto back = readLooks(converted / "typed.xlsx");
  EXPECT_EQ(back["sheets"][0]["frozen"], nlohmann::json::array({0, 1}));
  EXPECT_EQ(back["sheets"][0]["filter"], "A1:H6");
}

TEST_F(TableOptions, EachSwitchAlone) {
  auto db = writeDb(dir / "typed.accdb", {typedTable()}, aw::Format::Ace16);
  fs::path typedOnly = dir / "typed.xlsx", layoutOnly = dir / "layout.xls";
  convert(db, typedOnly, true, false);
  convert(db, layoutOnly, false, true);
  auto typed = readLooks(typedOnly)["sheets"][0];
  expectTypedCells(typed, false);
  EXPECT_EQ(typed["frozen"], nullptr);
  EXPECT_EQ(typed["filter"], nullptr);
  EXPECT_TRUE(typed["widths"].empty());
  EXPECT_EQ(typed["cells"]["A1"]["bold"], false);
  auto layout = readLooks(layoutOnly)["sheets"][0];
  EXPECT_EQ(layout["cells"]["A2"]["v"], "2024-02-29 13:05:00");  // dates stay texts
  EXPECT_EQ(layout["cells"]["B2"]["fmt"], "General");
  EXPECT_EQ(layout["cells"]["A1"]["bold"], true);
  EXPECT_EQ(layout["frozen"], nlohmann::json::array({0, 1}));
  EXPECT_EQ(layout["filter"], "A1:H6");
}

// A table of 25 records beside a table named like its continuation sheet, with /ROWS=10 and
// /LAYOUT=TABLE, into each format twice replacing the table and twice appending to it: every
// sheet of the table has its header, frozen pane and filter and no more than the limit, the
// other table keeps its own sheet, and the table's sheets hold exactly its records of each run.
TEST_F(TableOptions, ContinuationSheetsAcrossRuns) {
  for (const char* name : {"rows.xls", "rows.xlsx"}) {
    SCOPED_TRACE(name);
    // The name the table's second continuation sheet would take.
    const std::string other = "Rows" + std::to_string(nextContinuationNumber() + 1);
    auto db = writeDb(dir / (name + std::string(".mdb")), {countingTable("Rows", 25), countingTable(other, 1)});
    for (int run = 0; run < 4; ++run) {
      convert(db, dir / name, false, true, 10, run < 2 ? 1 : 0);
      std::vector<double> records;
      for (const auto& sheet : testsupport::readWorkbook(dir / name)) {
        const std::string sheetName = sheet["name"];
        if (sheetName == other) {
          EXPECT_EQ(sheet["rows"].size(), run < 2 ? 2u : 2u * run);
          continue;
        }
        EXPECT_EQ(sheetName.rfind("Rows", 0), 0u);
        EXPECT_LE(sheet["rows"].size(), 11u) << sheetName;
        for (const auto& row : sheet["rows"])
          if (row[0].contains("n")) records.push_back(row[0]["n"]);
      }
      std::vector<double> expected;
      for (int copy = 0; copy < (run < 2 ? 1 : run); ++copy)
        for (int n = 1; n <= 25; ++n) expected.push_back(n);
      EXPECT_EQ(records, expected) << "run " << run;
      if (run != 1) continue;
      auto looks = readLooks(dir / name);
      ASSERT_EQ(looks["sheets"].size(), 4u);
      EXPECT_EQ(looks["sheets"][3]["name"], other);
      for (int i : {0, 1, 2}) {
        const auto& sheet = looks["sheets"][i];
        EXPECT_EQ(sheet["cells"]["A1"]["v"], "N");
        EXPECT_EQ(sheet["cells"]["A1"]["bold"], true);
        EXPECT_EQ(sheet["frozen"], nlohmann::json::array({0, 1}));
        EXPECT_EQ(sheet["filter"], i == 2 ? "A1:A6" : "A1:A11");
        EXPECT_EQ(sheet["widths"]["0"], looks["sheets"][0]["widths"]["0"]);
      }
      EXPECT_EQ(looks["sheets"][2]["cells"]["A6"]["v"], 25);
    }
  }
}

TEST(TableRowLimit, CutToEachFormatsLastRow) {
  EXPECT_EQ(lastRecordRowFor(0, 0), kLastRecordRow);
  EXPECT_EQ(lastRecordRowFor(0, 1), kLastRecordRow);
  EXPECT_EQ(lastRecordRowFor(100, 0), 100);
  EXPECT_EQ(lastRecordRowFor(1048575, 0), 65535);
  EXPECT_EQ(lastRecordRowFor(1048575, 1), 1048575);
  EXPECT_EQ(lastRecordRowFor(70000, 1), 70000);
}

TEST_F(TableOptions, AMillionRecordsOnOneXlsxSheet) {
  auto db = writeDb(dir / "million.mdb", {countingTable("Million", 1000000)});
  fs::path out = dir / "million.xlsx";
  convert(db, out, false, false, 1048575);
  // The sheets and the last row, without reading a million cells.
  std::string text = testsupport::runPython(R"py(
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
sheets = re.findall(r'<sheet ', z.read('xl/workbook.xml').decode())
with z.open('xl/worksheets/sheet1.xml') as f:
    head = f.read(600).decode()
    data = f.read()
last = re.search(r'<v>([^<]+)</v></c></row></sheetData>', data[-300:].decode()).group(1)
print(len(sheets), re.search(r'<dimension ref="([^"]+)"', head).group(1), float(last))
)py", {out.string()});
  EXPECT_EQ(text, "1 A1:A1000001 1000000.0\n");
}

TEST(TypedDates, WhatExcelCanHoldAsADate) {
  EXPECT_EQ(excelDateOfOleDay(60).shape, DateShape::None);   // 1900-02-28: Excel's day 60 is another day
  EXPECT_EQ(excelDateOfOleDay(61).shape, DateShape::Date);   // 1900-03-01
  EXPECT_EQ(excelDateOfOleDay(0.25).shape, DateShape::Time);
  EXPECT_EQ(excelDateOfOleDay(0).shape, DateShape::Time);
  EXPECT_EQ(excelDateOfOleDay(-1.5).shape, DateShape::None);
  EXPECT_EQ(excelDateOfOleDay(2958465.5).shape, DateShape::DateTime);  // 9999-12-31 12:00
  EXPECT_EQ(excelDateOfOleDay(2958465.9999999999).shape, DateShape::None);  // rounds into the year 10000
  ExcelDate nearMidnight = excelDateOfOleDay(45351.999999999);  // 23:59:59.9999: the next day
  EXPECT_EQ(nearMidnight.shape, DateShape::Date);
  EXPECT_EQ(nearMidnight.serial, 45352);

  ExtendedDateValue v{2024, 2, 29, 13, 5, 0, 1234567};
  ExcelDate d = excelDateOfExtended(v);
  EXPECT_EQ(d.shape, DateShape::DateTime);
  EXPECT_NEAR(d.serial * 86400000.0, (kDayAndTime)*86400000.0 + 123, 0.01);  // 0.1234567 s to the millisecond
  EXPECT_EQ(excelDateOfExtended({1, 1, 1, 0, 0, 0, 0}).shape, DateShape::None);
  EXPECT_EQ(excelDateOfExtended({1899, 12, 30, 6, 0, 0, 0}).shape, DateShape::Time);
  EXPECT_EQ(excelDateOfExtended({1900, 3, 1, 0, 0, 0, 0}).serial, 61);
  EXPECT_EQ(excelDateOfExtended({9999, 12, 31, 23, 59, 59, 9996000}).shape, DateShape::None);
  EXPECT_EQ(excelDateOfExtended({2024, 13, 1, 0, 0, 0, 0}).shape, DateShape::None);
}

// Extended dates reach the cells as the engine hands them over.
TEST_F(TableOptions, ExtendedDateCells) {
  fs::path file = dir / "extended.xlsx";
  BookHandle book = xlCreateXMLBookCA();
  SheetHandle sheet = xlBookAddSheetA(book, "Dates", nullptr);
  TypedFormats formats{book, {}};
  auto ext = [](ExtendedDateValue v) {
    Variant value;
    value.vt = VT_EXT_DATE;
    value.extendedDate = v;
    return value;
  };
  writeTypedCellValue(formats, sheet, 0, 0, 8, ext({2024, 2, 29, 13, 5, 0, 1234567}));
  writeTypedCellValue(formats, sheet, 1, 0, 8, ext({2021, 1, 4, 0, 0, 0, 0}));
  writeTypedCellValue(formats, sheet, 2, 0, 8, ext({1, 1, 1, 0, 0, 0, 5000000}));
  ASSERT_TRUE(xlBookSaveA(book, file.c_str()));
  xlBookReleaseA(book);
  auto c = readLooks(file)["sheets"][0]["cells"];
  EXPECT_EQ(c["A1"]["fmt"], kDateTimeFormat);
  EXPECT_NEAR(c["A1"]["v"].get<double>() * 86400000.0, kDayAndTime * 86400000.0 + 123, 0.01);
  EXPECT_EQ(c["A2"]["fmt"], kDateFormat);
  EXPECT_EQ(c["A2"]["v"], 44200);
  EXPECT_EQ(c["A3"]["fmt"], "General");
  EXPECT_NE(c["A3"]["v"].get<std::string>().find("0001-01-01"), std::string::npos);
}

// An Excel-made book extended with the switches keeps its sheets, cells and styles.
TEST_F(TableOptions, ExtendingAnExcelBookKeepsItsCellsAndStyles) {
  fs::path source = testsupport::projectRoot() / ".." / "shared" / "testdata" / "books" / "excel" / "format01.xlsx";
  if (!fs::exists(source)) GTEST_SKIP() << "../shared/testdata/books is absent";
  auto db = writeDb(dir / "typed.accdb", {typedTable()}, aw::Format::Ace16);
  fs::path out = dir / "book.xlsx";
  fs::copy_file(source, out);
  auto before = readLooks(out);
  convert(db, out, true, true);
  auto after = readLooks(out);
  ASSERT_EQ(after["sheets"].size(), before["sheets"].size() + 1);
  for (size_t i = 0; i < before["sheets"].size(); ++i) EXPECT_EQ(after["sheets"][i], before["sheets"][i]);
  const auto& added = after["sheets"].back();
  expectTypedCells(added, false);
  EXPECT_EQ(added["cells"]["A1"]["bold"], true);
  EXPECT_EQ(added["frozen"], nlohmann::json::array({0, 1}));
  EXPECT_EQ(added["filter"], "A1:H6");
  auto calc = readWithCalc({out});
  EXPECT_FALSE(calc[out.string()].contains("error"));
}

// Typed dates added to a book of the 1904 date system count its days, so readers that follow the
// book's own system (openpyxl's epoch, xlrd's datemode) read back the dates that were written.
TEST_F(TableOptions, TypedDatesFollowTheBooksDateSystem) {
  fs::path books = testsupport::projectRoot() / ".." / "shared" / "testdata" / "books" / "real-world";
  if (!fs::exists(books / "date_1904.xls")) GTEST_SKIP() << "../shared/testdata/books is absent";
  auto db = writeDb(dir / "typed.accdb", {typedTable()}, aw::Format::Ace16);
  for (const char* name : {"date_1904.xls", "date_1904.xlsx"}) {
    SCOPED_TRACE(name);
    fs::path out = dir / name;
    fs::copy_file(books / name, out);
    convert(db, out, true, false);
    std::string dates = testsupport::runPython(R"py(
import sys, datetime
path = sys.argv[1]
if path.endswith('.xlsx'):
    import openpyxl
    ws = openpyxl.load_workbook(path)['Typed']
    cells = [ws.cell(row=r, column=1).value for r in range(2, 7)]
else:
    import xlrd
    book = xlrd.open_workbook(path)
    sh = book.sheet_by_name('Typed')
    cells = [xlrd.xldate.xldate_as_datetime(sh.cell_value(r, 0), book.datemode)
             if sh.cell_type(r, 0) == xlrd.XL_CELL_DATE else sh.cell_value(r, 0) for r in range(1, 6)]
print([c.strftime('%Y-%m-%d %H:%M:%S') if isinstance(c, datetime.datetime) else str(c) for c in cells[:2]], cells[3])
)py", {out.string()});
    // 1900-01-15 has no day in the 1904 system: it stays a text.
    EXPECT_EQ(dates, "['2024-02-29 13:05:00', '2021-01-04 00:00:00'] 1900-01-15\n");
  }
}
