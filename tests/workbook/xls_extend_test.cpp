// Extending .xls workbooks made by another writer (xlwt): what we do not change stays.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/workbook/read_back.h"

using wbtest::Book;

namespace {

const char* kMakeSource = R"PY(
import sys, xlwt
wb = xlwt.Workbook(encoding='utf-8')
bold = xlwt.easyxf('font: bold on, name Arial; pattern: pattern solid, fore_colour yellow; borders: left thin')
money = xlwt.easyxf('font: italic on, name Courier New', num_format_str='#,##0.00')
d = wb.add_sheet('Data')
for c, t in enumerate(['Item', 'Price', 'Qty']):
    d.write(0, c, t, bold)
for i in range(4):
    d.write(i + 1, 0, 'item%d' % i)
    d.write(i + 1, 1, 1.5 * i, money)
    d.write(i + 1, 2, i)
d.write(5, 1, xlwt.Formula('SUM(B2:B5)'), money)
d.write_merge(0, 1, 4, 6, 'Merged title', bold)
d.col(0).width = 20 * 256
g = wb.add_sheet('Gone')
for i in range(3):
    g.write(i, 0, i + 1)
o = wb.add_sheet('Other')
o.write(0, 0, 'text with \u00fcn\u00efc\u00f6d\u00e9 \u65e5\u672c')
o.write(1, 0, xlwt.Formula('Data!B2*2'))
wb.save(sys.argv[1])
)PY";

const char* kCompare = R"PY(
import sys, xlrd
src, out = sys.argv[1], sys.argv[2]
problems = []
a = xlrd.open_workbook(src, formatting_info=True)
b = xlrd.open_workbook(out, formatting_info=True)
if b.sheet_names() != ['Data', 'Other', 'New']:
    problems.append('sheets: %r' % b.sheet_names())
def style(book, sheet, r, c):
    xf = book.xf_list[sheet.cell_xf_index(r, c)]
    f = book.font_list[xf.font_index]
    fmt = book.format_map[xf.format_key].format_str
    return (f.bold, f.italic, f.name, fmt, xf.background.pattern_colour_index, xf.border.left_line_style)
for name in ['Data', 'Other']:
    x, y = a.sheet_by_name(name), b.sheet_by_name(name)
    for r in range(x.nrows):
        for c in range(x.ncols):
            p, q = x.cell(r, c), y.cell(r, c)
            if (p.ctype, p.value) != (q.ctype, q.value):
                problems.append('%s %d,%d: %r != %r' % (name, r, c, p, q))
            if style(a, x, r, c) != style(b, y, r, c):
                problems.append('%s %d,%d style %r != %r' % (name, r, c, style(a, x, r, c), style(b, y, r, c)))
    if sorted(x.merged_cells) != sorted(y.merged_cells):
        problems.append(name + ' merged cells differ')
    if x.colinfo_map.get(0) and x.colinfo_map[0].width != y.colinfo_map[0].width:
        problems.append(name + ' column width differs')
data = b.sheet_by_name('Data')
if data.nrows != 10:
    problems.append('Data has %d rows' % data.nrows)
for r in range(4):
    got = [data.cell(6 + r, k).value for k in range(3)]
    if got != ['new%d' % r, r * 0.25, 1 if r % 2 == 0 else 0] or data.cell(6 + r, 2).ctype != xlrd.XL_CELL_BOOLEAN:
        problems.append('appended row %d: %r' % (r, got))
new = b.sheet_by_name('New')
if new.cell(0, 0).value != 'fresh' or new.cell(1, 1).value != 7:
    problems.append('new sheet: %r' % new.row(0))
print('\n'.join(problems), end='')
)PY";

class XlsExtend : public ::testing::Test {
 protected:
  testsupport::ScratchDir dir;
  std::filesystem::path source = dir / "source.xls";
  void SetUp() override {
    auto probe = testsupport::runCommand({testsupport::python(), "-c", "import xlwt"});
    if (probe.exitCode != 0) GTEST_SKIP() << "python3-xlwt is not installed: no other .xls writer";
    testsupport::runPython(kMakeSource, {source.string()});
  }
};

TEST_F(XlsExtend, KeepsEverythingOfAnotherWritersBook) {
  auto out = dir / "extended.xls";
  Book book(xlCreateBookCA());
  ASSERT_EQ(xlBookLoadA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  ASSERT_EQ(xlBookSheetCountA(book), 3);
  EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book, 1)), "Gone");
  SheetHandle data = xlBookGetSheetA(book, 0);
  EXPECT_EQ(xlSheetLastRowA(data), 6);
  EXPECT_EQ(xlSheetWriteNumA(data, 2, 0, 1, nullptr), 0);  // among the loaded rows
  for (int r = 0; r < 4; ++r) {
    ASSERT_EQ(xlSheetWriteStrA(data, 6 + r, 0, ("new" + std::to_string(r)).c_str(), nullptr), 1);
    ASSERT_EQ(xlSheetWriteNumA(data, 6 + r, 1, r * 0.25, nullptr), 1);
    ASSERT_EQ(xlSheetWriteBoolA(data, 6 + r, 2, r % 2 == 0, nullptr), 1);
  }
  ASSERT_EQ(xlBookDelSheetA(book, 1), 1);
  SheetHandle fresh = xlBookAddSheetA(book, "New", nullptr);
  ASSERT_NE(fresh, nullptr);
  xlSheetWriteStrA(fresh, 0, 0, "fresh", nullptr);
  xlSheetWriteNumA(fresh, 1, 1, 7, nullptr);
  ASSERT_EQ(xlBookSaveA(book, out.c_str()), 1) << xlBookErrorMessageA(book);
  EXPECT_EQ(testsupport::runPython(kCompare, {source.string(), out.string()}), "");

  // Our own output loads again, with the appended rows counted as loaded ones.
  Book again(xlCreateBookCA());
  ASSERT_EQ(xlBookLoadA(again, out.c_str()), 1) << xlBookErrorMessageA(again);
  ASSERT_EQ(xlBookSheetCountA(again), 3);
  EXPECT_EQ(xlSheetLastRowA(xlBookGetSheetA(again, 0)), 10);
  EXPECT_EQ(xlSheetLastRowA(xlBookGetSheetA(again, 2)), 2);
}

TEST_F(XlsExtend, SavingTwiceAndOverTheLoadedFile) {
  Book book(xlCreateBookCA());
  ASSERT_EQ(xlBookLoadA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  SheetHandle other = xlBookGetSheetA(book, 2);
  ASSERT_EQ(xlSheetLastRowA(other), 2);
  xlSheetWriteStrA(other, 2, 0, "one", nullptr);
  ASSERT_EQ(xlBookSaveA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  xlSheetWriteStrA(other, 3, 0, "two", nullptr);
  ASSERT_EQ(xlBookSaveA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = wbtest::readBack(source);
  ASSERT_EQ(sheets.size(), 3u);
  EXPECT_EQ(sheets[2].rows, 4);
  ASSERT_TRUE(sheets[2].cells.count({2, 0}) && sheets[2].cells.count({3, 0}));
  EXPECT_EQ(sheets[2].cells.at({2, 0}).text, "one");
  EXPECT_EQ(sheets[2].cells.at({3, 0}).text, "two");
  EXPECT_EQ(sheets[2].cells.at({0, 0}).text, "text with \u00fcn\u00efc\u00f6d\u00e9 \u65e5\u672c");
}

}  // namespace
