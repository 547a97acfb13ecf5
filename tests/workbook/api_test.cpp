// The edges of the C functions: refused names, row order, the formats' limits, failed loads and
// saves that leave everything as it was.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/workbook/read_back.h"

using wbtest::Book;
namespace fs = std::filesystem;

namespace {

std::string repeat(const std::string& unit, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += unit;
  return s;
}

class WorkbookApi : public ::testing::TestWithParam<bool> {
 protected:
  bool xml() const { return GetParam(); }
  std::string ext() const { return xml() ? ".xlsx" : ".xls"; }
  BookHandle create() const { return xml() ? xlCreateXMLBookCA() : xlCreateBookCA(); }
  testsupport::ScratchDir dir;
};

TEST_P(WorkbookApi, SheetNamesExcelRefusesGiveNull) {
  Book book(create());
  EXPECT_STREQ(xlBookErrorMessageA(book), "ok");
  const std::string refused[] = {"", std::string(32, 'a'), "a:b", "a\\b", "a/b", "a?b", "a*b", "a[b",
                                 "a]b", "'quoted", "quoted'", "tab\there",
                                 repeat("\xF0\x9F\x98\x80", 16),  // 32 UTF-16 units
                                 "bad\xFFutf8"};
  for (const std::string& name : refused) {
    EXPECT_EQ(xlBookAddSheetA(book, name.c_str(), nullptr), nullptr) << "accepted \"" << name << "\"";
    EXPECT_STRNE(xlBookErrorMessageA(book), "ok");
  }
  EXPECT_EQ(xlBookAddSheetA(book, nullptr, nullptr), nullptr);
  EXPECT_EQ(xlBookSheetCountA(book), 0);

  std::string emoji = repeat("\xF0\x9F\x98\x80", 15);  // 30 units
  const std::string kept[] = {std::string(31, 'b'), "O'Brien", "Café & Co <1>", "Ärger", emoji,
                              " spaced ", "#1 (2024)"};
  for (const std::string& name : kept) {
    SheetHandle s = xlBookAddSheetA(book, name.c_str(), nullptr);
    ASSERT_NE(s, nullptr) << "refused \"" << name << "\": " << xlBookErrorMessageA(book);
    EXPECT_EQ(xlSheetNameA(s), name);
    xlSheetWriteStrA(s, 0, 0, name.c_str(), nullptr);
  }
  // Equal without regard to case, in Latin and other scripts.
  for (const char* clash : {"bBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB", "o'brien", "CAFÉ & co <1>", "äRGER"})
    EXPECT_EQ(xlBookAddSheetA(book, clash, nullptr), nullptr) << clash;
  EXPECT_EQ(xlBookAddSheetA(book, "copy", xlBookGetSheetA(book, 0)), nullptr);  // no copies

  auto file = dir / ("names" + ext());
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = wbtest::readBack(file);
  ASSERT_EQ(sheets.size(), std::size(kept));
  for (size_t i = 0; i < sheets.size(); ++i) EXPECT_EQ(sheets[i].name, kept[i]);
}

TEST_P(WorkbookApi, RowsOutOfOrderAndCellsBeyondTheLimitsAreRefused) {
  Book book(create());
  SheetHandle s = xlBookAddSheetA(book, "S", nullptr);
  ASSERT_EQ(xlSheetLastRowA(s), 0);
  ASSERT_EQ(xlSheetWriteNumA(s, 5, 0, 1, nullptr), 1);
  EXPECT_EQ(xlSheetWriteNumA(s, 3, 0, 2, nullptr), 0);
  EXPECT_NE(std::string(xlBookErrorMessageA(book)).find("increasing order"), std::string::npos);
  EXPECT_EQ(xlSheetWriteNumA(s, 5, 1, 3, nullptr), 1);  // the same row goes on
  const int rows = xml() ? 1048576 : 65536, cols = xml() ? 16384 : 256;
  EXPECT_EQ(xlSheetWriteNumA(s, 6, cols, 1, nullptr), 0);
  EXPECT_EQ(xlSheetWriteNumA(s, 6, -1, 1, nullptr), 0);
  EXPECT_EQ(xlSheetWriteNumA(s, rows, 0, 1, nullptr), 0);
  EXPECT_NE(std::string(xlBookErrorMessageA(book)).find("outside"), std::string::npos);
  EXPECT_EQ(xlSheetWriteStrA(s, 7, 0, nullptr, nullptr), 0);
  // The last row and column are there to take cells (on a sheet of their own, so the readers
  // are asked for those cells only).
  SheetHandle edge = xlBookAddSheetA(book, "Edge", nullptr);
  EXPECT_EQ(xlSheetWriteNumA(edge, 7, cols - 1, 9, nullptr), 1);
  EXPECT_EQ(xlSheetWriteBoolA(edge, rows - 1, 0, 1, nullptr), 1);
  EXPECT_EQ(xlSheetLastRowA(edge), rows);
  auto file = dir / ("order" + ext());
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
  std::string seen = testsupport::runPython(R"PY(
import sys
path, rows, cols = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
if path.endswith('.xlsx'):
    import openpyxl
    wb = openpyxl.load_workbook(path)
    s, e = wb['S'], wb['Edge']
    print(sorted((c.row - 1, c.column - 1, c.value) for row in s.iter_rows() for c in row
                 if c.value is not None),
          sorted([(7, cols - 1, e.cell(8, cols).value), (rows - 1, 0, e.cell(rows, 1).value)]))
else:
    import xlrd
    wb = xlrd.open_workbook(path)
    s, e = wb.sheet_by_name('S'), wb.sheet_by_name('Edge')
    print([(r, c, s.cell(r, c).value) for r in range(s.nrows) for c in range(s.ncols)
           if s.cell(r, c).ctype != xlrd.XL_CELL_EMPTY],
          sorted([(7, cols - 1, e.cell(7, cols - 1).value), (rows - 1, 0, e.cell(rows - 1, 0).value == 1)]),
          e.nrows, e.ncols)
)PY", {file.string(), std::to_string(rows), std::to_string(cols)});
  std::string r = std::to_string(rows - 1), c = std::to_string(cols - 1);
  if (xml())
    EXPECT_EQ(seen, "[(5, 0, 1), (5, 1, 3)] [(7, " + c + ", 9), (" + r + ", 0, True)]\n");
  else
    EXPECT_EQ(seen, "[(5, 0, 1.0), (5, 1, 3.0)] [(7, " + c + ", 9.0), (" + r + ", 0, True)] " +
                        std::to_string(rows) + " " + std::to_string(cols) + "\n");
}

TEST_P(WorkbookApi, FailedLoadsLeaveTheBookAsItWas) {
  Book book(create());
  SheetHandle kept = xlBookAddSheetA(book, "Kept", nullptr);
  xlSheetWriteNumA(kept, 0, 0, 1, nullptr);
  auto text = dir / ("text" + ext());
  testsupport::writeFileBytes(text, "just some text, not a workbook\n");
  auto other = dir / (xml() ? "other.xls" : "other.xlsx");
  {
    Book o(xml() ? xlCreateBookCA() : xlCreateXMLBookCA());
    xlBookAddSheetA(o, "X", nullptr);
    ASSERT_EQ(xlBookSaveA(o, other.c_str()), 1);
  }
  auto good = dir / ("good" + ext());
  {
    Book g(create());
    xlSheetWriteNumA(xlBookAddSheetA(g, "G", nullptr), 0, 0, 1, nullptr);
    ASSERT_EQ(xlBookSaveA(g, good.c_str()), 1);
  }
  std::string bytes = testsupport::readFileBytes(good);
  auto cut = dir / ("cut" + ext());
  testsupport::writeFileBytes(cut, bytes.substr(0, bytes.size() / 2));
  for (const fs::path& bad : {dir / "missing.xlsx", text, other, cut, dir.path()}) {
    EXPECT_EQ(xlBookLoadA(book, bad.c_str()), 0) << bad;
    std::string message = xlBookErrorMessageA(book);
    EXPECT_NE(message.find(bad.string()), std::string::npos) << message;
    ASSERT_EQ(xlBookSheetCountA(book), 1);
    EXPECT_EQ(xlBookGetSheetA(book, 0), kept);
  }
  EXPECT_EQ(xlSheetWriteNumA(kept, 1, 0, 2, nullptr), 1);
  ASSERT_EQ(xlBookLoadA(book, good.c_str()), 1) << xlBookErrorMessageA(book);
  ASSERT_EQ(xlBookSheetCountA(book), 1);
  EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book, 0)), "G");
  EXPECT_EQ(xlSheetLastRowA(xlBookGetSheetA(book, 0)), 1);
}

TEST_P(WorkbookApi, FailedSavesKeepTheExistingFile) {
  Book book(create());
  EXPECT_EQ(xlBookSaveA(book, (dir / ("empty" + ext())).c_str()), 0);  // a book needs a sheet
  EXPECT_FALSE(fs::exists(dir / ("empty" + ext())));
  SheetHandle s = xlBookAddSheetA(book, "S", nullptr);
  xlSheetWriteStrA(s, 0, 0, "v", nullptr);
  auto nowhere = dir / "no such folder" / ("x" + ext());
  EXPECT_EQ(xlBookSaveA(book, nowhere.c_str()), 0);
  EXPECT_NE(std::string(xlBookErrorMessageA(book)).find(nowhere.string()), std::string::npos);
  // A target that cannot be replaced: the rename fails, and nothing is left behind.
  auto blocked = dir / ("blocked" + ext());
  fs::create_directory(blocked);
  testsupport::writeFileBytes(blocked / "inside", "keep me");
  EXPECT_EQ(xlBookSaveA(book, blocked.c_str()), 0);
  EXPECT_EQ(testsupport::readFileBytes(blocked / "inside"), "keep me");
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(dir.path())) entries += e.path() != blocked;
  EXPECT_EQ(entries, 0u) << "a temporary file was left behind";
  // The book is still good after failed saves.
  auto file = dir / ("fine" + ext());
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
  EXPECT_STREQ(xlBookErrorMessageA(book), "ok");
  auto sheets = wbtest::readBack(file);
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0].cells.at({0, 0}).text, "v");
}

TEST_P(WorkbookApi, DeletingSheetsShiftsTheRest) {
  Book book(create());
  SheetHandle a = xlBookAddSheetA(book, "A", nullptr);
  xlBookAddSheetA(book, "B", nullptr);
  SheetHandle c = xlBookAddSheetA(book, "C", nullptr);
  xlSheetWriteNumA(a, 0, 0, 1, nullptr);
  xlSheetWriteNumA(c, 0, 0, 3, nullptr);
  EXPECT_EQ(xlBookDelSheetA(book, 3), 0);
  EXPECT_EQ(xlBookDelSheetA(book, -1), 0);
  EXPECT_EQ(xlBookDelSheetA(book, 1), 1);
  ASSERT_EQ(xlBookSheetCountA(book), 2);
  EXPECT_EQ(xlBookGetSheetA(book, 1), c);
  EXPECT_EQ(xlBookGetSheetA(book, 2), nullptr);
  EXPECT_NE(xlBookAddSheetA(book, "b", nullptr), nullptr);  // the name is free again
  auto file = dir / ("del" + ext());
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = wbtest::readBack(file);
  ASSERT_EQ(sheets.size(), 3u);
  EXPECT_EQ(sheets[0].name, "A");
  EXPECT_EQ(sheets[1].name, "C");
  EXPECT_EQ(sheets[2].name, "b");
  EXPECT_EQ(sheets[1].cells.at({0, 0}).number, 3);
  EXPECT_TRUE(sheets[2].cells.empty());
}

TEST(WorkbookApiNull, NullHandlesAreHarmless) {
  EXPECT_EQ(xlBookSheetCountA(nullptr), 0);
  EXPECT_EQ(xlBookGetSheetA(nullptr, 0), nullptr);
  EXPECT_EQ(xlBookLoadA(nullptr, "x"), 0);
  EXPECT_EQ(xlBookSaveA(nullptr, "x"), 0);
  EXPECT_EQ(xlSheetWriteNumA(nullptr, 0, 0, 1, nullptr), 0);
  EXPECT_EQ(xlSheetNameA(nullptr), nullptr);
  EXPECT_EQ(xlSheetLastRowA(nullptr), 0);
  xlBookReleaseA(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Formats, WorkbookApi, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "xlsx" : "xls"; });

}  // namespace
