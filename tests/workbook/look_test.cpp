// Cell formats and sheet looks of xl.h, read back by openpyxl and xlrd: number formats, bold,
// column widths, frozen panes, autofilters with their names; and a loaded book's own styles
// kept exactly where they were.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"
#include "tests/workbook/read_back.h"

using wbtest::Book;
namespace fs = std::filesystem;

namespace {

nlohmann::json readLooks(const fs::path& file) {
  auto r = testsupport::runCommand(
      {testsupport::python(), (testsupport::projectRoot() / "tests/support/read_looks.py").string(), file.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.exitCode == 0 ? nlohmann::json::parse(r.out) : nlohmann::json::object();
}

fs::path excelBook(const std::string& folder, const std::string& name) {
  fs::path p = testsupport::projectRoot() / ".." / "shared" / "testdata" / "books" / folder / name;
  return fs::exists(p) ? p : fs::path();
}

class WorkbookLook : public ::testing::TestWithParam<bool> {
 protected:
  bool xml() const { return GetParam(); }
  std::string ext() const { return xml() ? ".xlsx" : ".xls"; }
  BookHandle create() const { return xml() ? xlCreateXMLBookCA() : xlCreateBookCA(); }
  testsupport::ScratchDir dir;
};

TEST_P(WorkbookLook, FormatsPanesFiltersAndWidthsReadBack) {
  fs::path file = dir / ("look" + ext());
  {
    Book book(create());
    SheetHandle first = xlBookAddSheetA(book, "Plain", nullptr);
    ASSERT_TRUE(xlSheetWriteNumA(first, 0, 0, 1, nullptr));
    SheetHandle sheet = xlBookAddSheetA(book, "It's a table", nullptr);
    FormatHandle bold = xlBookAddFormatA(book, nullptr);
    ASSERT_NE(bold, nullptr);
    ASSERT_TRUE(xlFormatSetBoldA(bold, 1));
    FormatHandle date = xlBookAddFormatA(book, nullptr);
    ASSERT_TRUE(xlFormatSetNumFormatCodeA(date, "yyyy-mm-dd"));
    FormatHandle boldMoney = xlBookAddFormatA(book, bold);  // a copy, then changed
    ASSERT_TRUE(xlFormatSetNumFormatCodeA(boldMoney, "#,##0.00##"));
    EXPECT_EQ(xlBookFormatSizeA(book), 3);
    EXPECT_EQ(xlBookFormatA(book, 2), boldMoney);
    EXPECT_STREQ(xlFormatNumFormatCodeA(bold), "");
    EXPECT_EQ(xlFormatBoldA(boldMoney), 1);

    ASSERT_TRUE(xlSheetWriteStrA(sheet, 0, 0, "When", bold));
    ASSERT_TRUE(xlSheetWriteStrA(sheet, 0, 1, "Amount", bold));
    ASSERT_TRUE(xlSheetWriteNumA(sheet, 1, 0, 45351, date));
    ASSERT_TRUE(xlSheetWriteNumA(sheet, 1, 1, 1234.5, boldMoney));
    ASSERT_TRUE(xlSheetWriteBoolA(sheet, 2, 1, 1, nullptr));
    ASSERT_TRUE(xlSheetSetColA(sheet, 0, 2, 12, nullptr, 0));
    ASSERT_TRUE(xlSheetSetColA(sheet, 0, 0, 20.5, nullptr, 0));  // the later setting wins
    ASSERT_TRUE(xlSheetSplitA(sheet, 1, 0));
    ASSERT_TRUE(xlSheetSetAutoFilterA(sheet, 0, 2, 0, 1));
    EXPECT_FALSE(xlSheetSetColA(sheet, 0, 0, 300, nullptr, 0));
    EXPECT_FALSE(xlSheetSetColA(sheet, 2, 1, 5, nullptr, 0));
    ASSERT_TRUE(xlBookSaveA(book, file.c_str())) << xlBookErrorMessageA(book);
  }
  auto looks = readLooks(file);
  const auto& plain = looks["sheets"][0];
  EXPECT_EQ(plain["frozen"], nullptr);
  EXPECT_EQ(plain["filter"], nullptr);
  EXPECT_TRUE(plain["widths"].empty());
  const auto& s = looks["sheets"][1];
  EXPECT_EQ(s["name"], "It's a table");
  EXPECT_EQ(s["frozen"], nlohmann::json::array({0, 1}));
  EXPECT_EQ(s["filter"], "A1:B3");
  EXPECT_EQ(s["widths"]["0"], 20.5);
  EXPECT_EQ(s["widths"]["1"], 12);
  EXPECT_EQ(s["widths"]["2"], 12);
  const auto& c = s["cells"];
  EXPECT_EQ(c["A1"]["bold"], true);
  EXPECT_EQ(c["B1"]["bold"], true);
  EXPECT_EQ(c["A2"]["fmt"], "yyyy-mm-dd");
  EXPECT_EQ(c["A2"]["v"], 45351);
  EXPECT_EQ(c["A2"]["bold"], false);
  EXPECT_EQ(c["B2"]["fmt"], "#,##0.00##");
  EXPECT_EQ(c["B2"]["bold"], true);
  EXPECT_EQ(c["B3"]["fmt"], "General");
  EXPECT_EQ(c["B3"]["v"], true);
  // Excel's name for the range, local to its sheet.
  bool named = false;
  for (const auto& n : looks["names"])
    if ((n[0] == "_xlnm._FilterDatabase" || n[0] == "_FilterDatabase") && n[1] == 1) {
      named = true;
      EXPECT_NE(n[2].get<std::string>().find("$A$1:$B$3"), std::string::npos) << n;
      EXPECT_NE(n[2].get<std::string>().find("'It''s a table'!"), std::string::npos) << n;
    }
  EXPECT_TRUE(named) << looks["names"];
}

TEST_P(WorkbookLook, LoadedSheetsKeepTheirLookAndFormatsMoveAfterALoad) {
  fs::path file = dir / ("base" + ext());
  {
    Book book(create());
    ASSERT_TRUE(xlSheetWriteNumA(xlBookAddSheetA(book, "Old", nullptr), 0, 0, 7, nullptr));
    ASSERT_TRUE(xlBookSaveA(book, file.c_str()));
  }
  Book book(create());
  FormatHandle pct = xlBookAddFormatA(book, nullptr);  // made before the load
  ASSERT_TRUE(xlFormatSetNumFormatCodeA(pct, "0.0%"));
  ASSERT_TRUE(xlBookLoadA(book, file.c_str()));
  SheetHandle old = xlBookGetSheetA(book, 0);
  EXPECT_FALSE(xlSheetSplitA(old, 1, 0));
  EXPECT_FALSE(xlSheetSetColA(old, 0, 0, 10, nullptr, 0));
  EXPECT_FALSE(xlSheetSetAutoFilterA(old, 0, 1, 0, 0));
  ASSERT_TRUE(xlSheetWriteNumA(old, 1, 0, 0.25, pct));
  Book other(create());
  FormatHandle foreign = xlBookAddFormatA(other, nullptr);
  EXPECT_FALSE(xlSheetWriteNumA(old, 2, 0, 1, foreign));
  EXPECT_EQ(xlBookAddFormatA(book, foreign), nullptr);
  EXPECT_FALSE(xlFormatSetNumFormatCodeA(pct, std::string(256, '0').c_str()));
  ASSERT_TRUE(xlBookSaveA(book, file.c_str())) << xlBookErrorMessageA(book);
  auto looks = readLooks(file);
  EXPECT_EQ(looks["sheets"][0]["cells"]["A1"]["fmt"], "General");
  EXPECT_EQ(looks["sheets"][0]["cells"]["A2"]["fmt"], "0.0%");
  EXPECT_EQ(looks["sheets"][0]["frozen"], nullptr);
}

// Excel reads no more than 4,050 cell formats of an .xls file; a new book holds 16 of its own.
TEST(WorkbookLookLimits, XlsCellFormatsStopWhereExcelStops) {
  Book book(xlCreateBookCA());
  int added = 0;
  while (xlBookAddFormatA(book, nullptr)) ++added;
  EXPECT_EQ(added, 4050 - 16);
  EXPECT_NE(std::string(xlBookErrorMessageA(book)).find("4,050"), std::string::npos);
  testsupport::ScratchDir dir;
  SheetHandle sheet = xlBookAddSheetA(book, "Last", nullptr);
  FormatHandle last = xlBookFormatA(book, added - 1);
  ASSERT_TRUE(xlFormatSetNumFormatCodeA(last, "0.000"));
  ASSERT_TRUE(xlSheetWriteNumA(sheet, 0, 0, 1.5, last));
  fs::path file = dir / "many.xls";
  ASSERT_TRUE(xlBookSaveA(book, file.c_str()));
  auto looks = readLooks(file);
  EXPECT_EQ(looks["cellFormats"], 4050);
  EXPECT_EQ(looks["sheets"][0]["cells"]["A1"]["fmt"], "0.000");
}

INSTANTIATE_TEST_SUITE_P(BothFormats, WorkbookLook, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "xlsx" : "xls"; });

// Books made by other programs: their cells keep their formats and fonts, and the number of
// their cell formats grows only by the formats added.
TEST(WorkbookLookLoaded, ForeignBooksKeepTheirStyles) {
  struct Case {
    fs::path path;
    bool xml;
  };
  std::vector<Case> cases = {{excelBook("excel", "format01.xlsx"), true},
                             {excelBook("excel", "format12.xlsx"), true},
                             {excelBook("real-world", "Formate.xls"), false},
                             {excelBook("libreoffice", "format12.xls"), false}};
  testsupport::ScratchDir dir;
  int tested = 0;
  for (const Case& c : cases) {
    if (c.path.empty()) continue;
    ++tested;
    fs::path file = dir / c.path.filename();
    fs::copy_file(c.path, file);
    auto before = readLooks(file);
    {
      Book book(c.xml ? xlCreateXMLBookCA() : xlCreateBookCA());
      ASSERT_TRUE(xlBookLoadA(book, file.c_str())) << xlBookErrorMessageA(book);
      FormatHandle bold = xlBookAddFormatA(book, nullptr);
      ASSERT_NE(bold, nullptr) << xlBookErrorMessageA(book);
      xlFormatSetBoldA(bold, 1);
      FormatHandle date = xlBookAddFormatA(book, nullptr);
      xlFormatSetNumFormatCodeA(date, "yyyy-mm-dd hh:mm:ss");
      SheetHandle sheet = xlBookAddSheetA(book, "Added", nullptr);
      ASSERT_TRUE(xlSheetWriteStrA(sheet, 0, 0, "When", bold));
      ASSERT_TRUE(xlSheetWriteNumA(sheet, 1, 0, 45351.5, date));
      ASSERT_TRUE(xlSheetSplitA(sheet, 1, 0));
      ASSERT_TRUE(xlSheetSetAutoFilterA(sheet, 0, 1, 0, 0));
      ASSERT_TRUE(xlBookSaveA(book, file.c_str())) << xlBookErrorMessageA(book);
    }
    auto after = readLooks(file);
    SCOPED_TRACE(c.path.string());
    ASSERT_EQ(after["sheets"].size(), before["sheets"].size() + 1);
    for (size_t i = 0; i < before["sheets"].size(); ++i) EXPECT_EQ(after["sheets"][i], before["sheets"][i]);
    EXPECT_EQ(after["cellFormats"].get<int>(), before["cellFormats"].get<int>() + 2);
    for (const auto& n : before["names"]) {
      bool kept = false;
      for (const auto& m : after["names"]) kept = kept || m == n;
      EXPECT_TRUE(kept) << n;
    }
    const auto& added = after["sheets"].back();
    EXPECT_EQ(added["cells"]["A1"]["bold"], true);
    EXPECT_EQ(added["cells"]["A2"]["fmt"], "yyyy-mm-dd hh:mm:ss");
    EXPECT_EQ(added["frozen"], nlohmann::json::array({0, 1}));
    EXPECT_EQ(added["filter"], "A1:A2");
  }
  if (tested == 0) GTEST_SKIP() << "../shared/testdata/books is absent";
}

}  // namespace
