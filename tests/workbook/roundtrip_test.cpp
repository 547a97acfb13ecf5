// Cells written by the layer, read back by openpyxl (.xlsx) and xlrd (.xls): types and values.
#include <cfloat>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/workbook/read_back.h"

using wbtest::Book;
using wbtest::readBack;

namespace {

struct Expected {
  int row, col;
  std::string type;
  double number = 0;
  std::string text;
};

class WorkbookRoundTrip : public ::testing::TestWithParam<bool> {
 protected:
  bool xml() const { return GetParam(); }
  std::string ext() const { return xml() ? ".xlsx" : ".xls"; }
  BookHandle create() const { return xml() ? xlCreateXMLBookCA() : xlCreateBookCA(); }

  void expectCells(const wbtest::ReadSheet& sheet, const std::vector<Expected>& want) {
    for (const Expected& e : want) {
      auto it = sheet.cells.find({e.row, e.col});
      ASSERT_NE(it, sheet.cells.end()) << "no cell at " << e.row << "," << e.col << " on " << sheet.name;
      const wbtest::ReadCell& got = it->second;
      EXPECT_EQ(got.type, e.type) << "cell " << e.row << "," << e.col;
      if (e.type == "n" || e.type == "b") {
        // Bit-exact numbers; -0.0 and denormals included.
        uint64_t a, b;
        std::memcpy(&a, &got.number, 8);
        std::memcpy(&b, &e.number, 8);
        EXPECT_EQ(a, b) << "cell " << e.row << "," << e.col << ": " << got.number << " vs " << e.number;
      } else {
        std::string text = xml() ? wbtest::unescapeExcel(got.text) : got.text;
        EXPECT_EQ(text, e.text) << "cell " << e.row << "," << e.col;
      }
    }
  }
};

std::string repeatUnits(const std::string& unit, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += unit;
  return s;
}

TEST_P(WorkbookRoundTrip, NumbersBooleansAndTextsReadBackExactly) {
  testsupport::ScratchDir dir;
  auto file = dir / ("values" + ext());
  Book book(create());
  ASSERT_NE(book.h, nullptr);
  SheetHandle s = xlBookAddSheetA(book, "Values", nullptr);
  ASSERT_NE(s, nullptr);
  const double numbers[] = {0.0, -0.0, 1.0, -1.5, DBL_MAX, -DBL_MAX, DBL_MIN, 4.9406564584124654e-324,
                            2.2250738585072009e-308, 1e-300, 9007199254740993.0, 18446744073709551616.0,
                            123456789012345678.0, 0.1, 1.0 / 3.0, 12.34, 1e20, -123456.789e100};
  std::vector<Expected> want;
  int row = 0;
  for (double n : numbers) {
    ASSERT_EQ(xlSheetWriteNumA(s, row, 0, n, nullptr), 1);
    want.push_back({row, 0, "n", n, ""});
    ++row;
  }
  ASSERT_EQ(xlSheetWriteBoolA(s, row, 0, 1, nullptr), 1);
  ASSERT_EQ(xlSheetWriteBoolA(s, row, 1, 0, nullptr), 1);
  ASSERT_EQ(xlSheetWriteBoolA(s, row, 2, -1, nullptr), 1);  // true, as Access gives it
  want.push_back({row, 0, "b", 1, ""});
  want.push_back({row, 1, "b", 0, ""});
  want.push_back({row, 2, "b", 1, ""});
  ++row;
  const std::string texts[] = {
      "", "plain", "  leading and trailing  ", "tab\tand\nnew line", "ampersand & <tags> \"quotes\" 'apos'",
      "Zürich – Ελληνικά – Кириллица – 日本語", "beyond the plane: \xF0\x9F\x98\x80 \xF0\x9D\x84\x9E",
      "_x0041_ looks like an escape", "carriage\rreturn"};
  for (const std::string& t : texts) {
    ASSERT_EQ(xlSheetWriteStrA(s, row, 3, t.c_str(), nullptr), 1);
    want.push_back({row, 3, "s", 0, t});
    ++row;
  }
  // Cells of one row in any column order; a second write to a cell replaces the first.
  ASSERT_EQ(xlSheetWriteNumA(s, row, 5, 5, nullptr), 1);
  ASSERT_EQ(xlSheetWriteNumA(s, row, 1, 1, nullptr), 1);
  ASSERT_EQ(xlSheetWriteStrA(s, row, 5, "replaced", nullptr), 1);
  want.push_back({row, 1, "n", 1, ""});
  want.push_back({row, 5, "s", 0, "replaced"});
  ++row;
  // Rows may be skipped.
  row += 100;
  ASSERT_EQ(xlSheetWriteNumA(s, row, 200, 42, nullptr), 1);
  want.push_back({row, 200, "n", 42, ""});
  EXPECT_EQ(xlSheetLastRowA(s), row + 1);
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);

  auto sheets = readBack(file);
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0].name, "Values");
  expectCells(sheets[0], want);
  EXPECT_EQ(sheets[0].cells.size(), want.size());  // the replaced cell is there once
}

TEST_P(WorkbookRoundTrip, LongAndDamagedTextsStayValid) {
  testsupport::ScratchDir dir;
  auto file = dir / ("texts" + ext());
  Book book(create());
  SheetHandle s = xlBookAddSheetA(book, "Texts", nullptr);
  ASSERT_NE(s, nullptr);
  std::vector<Expected> want;
  // Longer than a cell: cut at 32,767 UTF-16 units.
  std::string ascii = repeatUnits("abcdefghij", 4000);
  std::string cutAscii = ascii.substr(0, 32767);
  // Four-byte characters are two units each: the cut must not split the last pair.
  std::string astral = repeatUnits("\xF0\x9F\x98\x80", 17000);
  std::string cutAstral = repeatUnits("\xF0\x9F\x98\x80", 16383);
  std::string bmp = repeatUnits("\xE2\x82\xAC", 33000);  // euro signs, one unit each
  std::string cutBmp = repeatUnits("\xE2\x82\xAC", 32767);
  std::string exact = repeatUnits("x", 32767);
  // Invalid UTF-8: stray continuation bytes, a cut sequence, an encoded surrogate, overlong form.
  std::string bad = std::string("a\x80") + "b\xE2\x82" + "c\xED\xA0\x80" + "d\xC0\xAF" + "e\xFF";
  std::string badFixed = "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                         "d\xEF\xBF\xBD\xEF\xBF\xBD" "e\xEF\xBF\xBD";
  // Characters XML cannot hold.
  std::string controls = std::string("nul?\x01\x02\x08\x0B\x0C\x1F|") + "\xEF\xBF\xBE|\xEF\xBF\xBF";
  struct { const std::string& in; const std::string& out; } cases[] = {
      {ascii, cutAscii}, {astral, cutAstral}, {bmp, cutBmp}, {exact, exact}, {bad, badFixed},
      {controls, controls}};
  int row = 0;
  for (auto& c : cases) {
    ASSERT_EQ(xlSheetWriteStrA(s, row, 0, c.in.c_str(), nullptr), 1);
    want.push_back({row++, 0, "s", 0, c.out});
  }
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = readBack(file);
  ASSERT_EQ(sheets.size(), 1u);
  expectCells(sheets[0], want);
}

TEST_P(WorkbookRoundTrip, InfinityAndNanBecomeNumErrors) {
  testsupport::ScratchDir dir;
  auto file = dir / ("errors" + ext());
  Book book(create());
  SheetHandle s = xlBookAddSheetA(book, "E", nullptr);
  ASSERT_EQ(xlSheetWriteNumA(s, 0, 0, INFINITY, nullptr), 1);
  ASSERT_EQ(xlSheetWriteNumA(s, 0, 1, NAN, nullptr), 1);
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = readBack(file);
  ASSERT_EQ(sheets.size(), 1u);
  expectCells(sheets[0], {{0, 0, "e", 0, "#NUM!"}, {0, 1, "e", 0, "#NUM!"}});
}

TEST_P(WorkbookRoundTrip, SeveralSheetsOfManyRowsEachKeepEveryRow) {
  testsupport::ScratchDir dir;
  auto file = dir / ("rows" + ext());
  Book book(create());
  const int rows = 65531;
  for (int k = 0; k < 3; ++k) {
    SheetHandle s = xlBookAddSheetA(book, ("Part" + std::to_string(k)).c_str(), nullptr);
    ASSERT_NE(s, nullptr);
    for (int r = 0; r < rows; ++r) {
      xlSheetWriteNumA(s, r, 0, r + k * 1e6, nullptr);
      if (r % 1000 == 0) xlSheetWriteStrA(s, r, 1, ("row " + std::to_string(r)).c_str(), nullptr);
    }
    EXPECT_EQ(xlSheetLastRowA(s), rows);
  }
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = readBack(file);
  ASSERT_EQ(sheets.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(sheets[k].rows, rows);
    EXPECT_EQ(sheets[k].cells.size(), static_cast<size_t>(rows + 66));
    expectCells(sheets[k], {{0, 0, "n", k * 1e6, ""}, {rows - 1, 0, "n", rows - 1 + k * 1e6, ""},
                            {65000, 1, "s", 0, "row 65000"}});
  }
}

TEST_P(WorkbookRoundTrip, SheetsWrittenInTurnsKeepTheirRows) {
  testsupport::ScratchDir dir;
  auto file = dir / ("turns" + ext());
  Book book(create());
  SheetHandle a = xlBookAddSheetA(book, "A", nullptr), b = xlBookAddSheetA(book, "B", nullptr);
  for (int turn = 0; turn < 6; ++turn)
    for (SheetHandle s : {a, b})
      for (int r = turn * 500; r < (turn + 1) * 500; ++r) {
        ASSERT_EQ(xlSheetWriteNumA(s, r, 0, r + (s == b ? 0.5 : 0), nullptr), 1);
        ASSERT_EQ(xlSheetWriteStrA(s, r, 1, (std::string(xlSheetNameA(s)) + std::to_string(r)).c_str(), nullptr), 1);
      }
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = readBack(file);
  ASSERT_EQ(sheets.size(), 2u);
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(sheets[k].cells.size(), 6000u);
    for (int r = 0; r < 3000; r += 499)
      expectCells(sheets[k], {{r, 0, "n", r + k * 0.5, ""}, {r, 1, "s", 0, (k ? "B" : "A") + std::to_string(r)}});
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, WorkbookRoundTrip, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "xlsx" : "xls"; });

}  // namespace
