// Extending .xlsx workbooks made by another writer (xlsxwriter): what we do not change stays.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/workbook/read_back.h"

using wbtest::Book;

namespace {

const char* kMakeSource = R"PY(
import sys, xlsxwriter
wb = xlsxwriter.Workbook(sys.argv[1])
bold = wb.add_format({'bold': True, 'bg_color': '#FFFF00', 'border': 1})
money = wb.add_format({'num_format': '#,##0.00', 'italic': True, 'font_name': 'Courier New'})
d = wb.add_worksheet('Data')
d.write_row(0, 0, ['Item', 'Price', 'Qty'], bold)
for i in range(4):
    d.write_string(i + 1, 0, 'item%d' % i)
    d.write_number(i + 1, 1, 1.5 * i, money)
    d.write_number(i + 1, 2, i)
d.write_formula(5, 1, '=SUM(B2:B5)', money, 9)
d.merge_range('E1:G2', 'Merged title', bold)
d.set_column(0, 0, 20)
g = wb.add_worksheet('Gone')
g.write_column(0, 0, [1, 2, 3])
g.write_formula(3, 0, '=SUM(A1:A3)', None, 6)
o = wb.add_worksheet('Other')
o.write(0, 0, 'text with \u00fcn\u00efc\u00f6d\u00e9')
o.write_formula(1, 0, '=Data!B2*2', None, 0)
chart = wb.add_chart({'type': 'column'})
chart.add_series({'values': '=Data!$B$2:$B$5'})
o.insert_chart('C3', chart)
wb.define_name('DataRange', '=Data!$A$1:$C$5')
wb.define_name('GoneRange', '=Gone!$A$1:$A$3')
wb.define_name('Gone!LocalGone', '=Gone!$A$1')
wb.define_name('Other!LocalOther', '=Other!$A$1')
wb.close()
)PY";

// Compares the kept sheets of the source and the result cell by cell and style by style, the
// package entries byte by byte, and prints what differs (nothing when all is well).
const char* kCompare = R"PY(
import sys, zipfile, openpyxl
src, out = sys.argv[1], sys.argv[2]
problems = []
zs, zo = zipfile.ZipFile(src), zipfile.ZipFile(out)
changed = {'[Content_Types].xml', 'xl/workbook.xml', 'xl/_rels/workbook.xml.rels',
           'xl/worksheets/sheet1.xml', 'xl/worksheets/sheet2.xml'}
names_out = set(zo.namelist())
for n in zs.namelist():
    if n in changed:
        continue
    if n not in names_out:
        problems.append('entry lost: ' + n)
    elif zs.read(n) != zo.read(n):
        problems.append('entry changed: ' + n)
if 'xl/worksheets/sheet2.xml' in names_out:
    problems.append('the deleted sheet part is still there')
a, b = openpyxl.load_workbook(src), openpyxl.load_workbook(out)
if b.sheetnames != ['Data', 'Other', 'New']:
    problems.append('sheets: %r' % b.sheetnames)
def style(c):
    return (c.number_format, c.font.b, c.font.i, c.font.name, c.fill.fgColor.rgb, c.fill.fill_type,
            c.border.left.style, c.alignment.horizontal)
for name in ['Data', 'Other']:
    x, y = a[name], b[name]
    for row in x.iter_rows():
        for c in row:
            d = y.cell(row=c.row, column=c.column)
            if c.value != d.value:
                problems.append('%s!%s value %r != %r' % (name, c.coordinate, c.value, d.value))
            if style(c) != style(d):
                problems.append('%s!%s style %r != %r' % (name, c.coordinate, style(c), style(d)))
    if sorted(map(str, x.merged_cells.ranges)) != sorted(map(str, y.merged_cells.ranges)):
        problems.append(name + ' merged cells differ')
    if x.column_dimensions['A'].width != y.column_dimensions['A'].width:
        problems.append(name + ' column width differs')
if len(b['Other']._charts) != 1:
    problems.append('the chart is lost')
data = b['Data']
for r in range(4):
    want = ['new%d' % r, r * 0.25, r % 2 == 0]
    got = [data.cell(row=7 + r, column=1 + k).value for k in range(3)]
    if got != want:
        problems.append('appended row %d: %r' % (r, got))
if data.max_row != 10:
    problems.append('Data max_row %d' % data.max_row)
new = b['New']
if new['A1'].value != 'fresh' or new['B2'].value != 7:
    problems.append('new sheet: %r %r' % (new['A1'].value, new['B2'].value))
names = {(n.name, n.localSheetId): n.attr_text for n in b.defined_names.definedName}
want = {('DataRange', None): 'Data!$A$1:$C$5', ('GoneRange', None): '#REF!$A$1:$A$3',
        ('LocalOther', 1): 'Other!$A$1'}
for k, v in want.items():
    if names.get(k) != v:
        problems.append('defined name %r: %r' % (k, names.get(k)))
for k in names:
    if k[0] == 'LocalGone':
        problems.append('the deleted sheet kept its local name')
print('\n'.join(problems), end='')
)PY";

class XlsxExtend : public ::testing::Test {
 protected:
  testsupport::ScratchDir dir;
  std::filesystem::path source = dir / "source.xlsx";
  void SetUp() override { testsupport::runPython(kMakeSource, {source.string()}); }
};

TEST_F(XlsxExtend, KeepsEverythingOfAnotherWritersBook) {
  auto out = dir / "extended.xlsx";
  Book book(xlCreateXMLBookCA());
  ASSERT_EQ(xlBookLoadA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  ASSERT_EQ(xlBookSheetCountA(book), 3);
  EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book, 0)), "Data");
  EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book, 1)), "Gone");
  EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book, 2)), "Other");
  SheetHandle data = xlBookGetSheetA(book, 0);
  EXPECT_EQ(xlSheetLastRowA(data), 6);  // five rows of values, then the formula row
  // Loaded rows are not written over.
  EXPECT_EQ(xlSheetWriteNumA(data, 5, 0, 1, nullptr), 0);
  EXPECT_NE(std::string(xlBookErrorMessageA(book)).find("loaded rows"), std::string::npos);
  for (int r = 0; r < 4; ++r) {
    ASSERT_EQ(xlSheetWriteStrA(data, 6 + r, 0, ("new" + std::to_string(r)).c_str(), nullptr), 1);
    ASSERT_EQ(xlSheetWriteNumA(data, 6 + r, 1, r * 0.25, nullptr), 1);
    ASSERT_EQ(xlSheetWriteBoolA(data, 6 + r, 2, r % 2 == 0, nullptr), 1);
  }
  EXPECT_EQ(xlSheetLastRowA(data), 10);
  ASSERT_EQ(xlBookDelSheetA(book, 1), 1);
  SheetHandle fresh = xlBookAddSheetA(book, "New", nullptr);
  ASSERT_NE(fresh, nullptr);
  xlSheetWriteStrA(fresh, 0, 0, "fresh", nullptr);
  xlSheetWriteNumA(fresh, 1, 1, 7, nullptr);
  ASSERT_EQ(xlBookSaveA(book, out.c_str()), 1) << xlBookErrorMessageA(book);
  EXPECT_EQ(testsupport::runPython(kCompare, {source.string(), out.string()}), "");
}

TEST_F(XlsxExtend, UntouchedBookIsCopiedEntryForEntry) {
  auto out = dir / "copy.xlsx";
  Book book(xlCreateXMLBookCA());
  ASSERT_EQ(xlBookLoadA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  ASSERT_EQ(xlBookSaveA(book, out.c_str()), 1) << xlBookErrorMessageA(book);
  std::string same = testsupport::runPython(R"PY(
import sys, zipfile
a, b = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
print(a.namelist() == b.namelist() and all(a.read(n) == b.read(n) for n in a.namelist()))
)PY", {source.string(), out.string()});
  EXPECT_EQ(same, "True\n");
}

TEST_F(XlsxExtend, SavingTwiceAndOverTheLoadedFileKeepsOneCopyOfEachRow) {
  Book book(xlCreateXMLBookCA());
  ASSERT_EQ(xlBookLoadA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  SheetHandle other = xlBookGetSheetA(book, 2);
  int first = xlSheetLastRowA(other);
  ASSERT_EQ(first, 2);
  xlSheetWriteStrA(other, first, 0, "one", nullptr);
  ASSERT_EQ(xlBookSaveA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  xlSheetWriteStrA(other, first, 1, "same row, after a save", nullptr);
  xlSheetWriteStrA(other, first + 1, 0, "two", nullptr);
  ASSERT_EQ(xlBookSaveA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  ASSERT_EQ(xlBookSaveA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = wbtest::readBack(source);
  ASSERT_EQ(sheets.size(), 3u);
  const auto& cells = sheets[2].cells;
  EXPECT_EQ(sheets[2].rows, 4);
  ASSERT_TRUE(cells.count({2, 0}) && cells.count({2, 1}) && cells.count({3, 0}));
  EXPECT_EQ(cells.at({2, 0}).text, "one");
  EXPECT_EQ(cells.at({2, 1}).text, "same row, after a save");
  EXPECT_EQ(cells.at({3, 0}).text, "two");
  // Loading the saved file again sees the rows as loaded rows.
  Book again(xlCreateXMLBookCA());
  ASSERT_EQ(xlBookLoadA(again, source.c_str()), 1) << xlBookErrorMessageA(again);
  EXPECT_EQ(xlSheetLastRowA(xlBookGetSheetA(again, 2)), 4);
}

// A package written with a namespace prefix, an empty <sheetData/> and no dimension, as some
// writers do: the rows we add must use the part's prefix and open the element.
TEST(XlsxExtendPrefixed, RowsGoIntoPrefixedAndEmptySheetData) {
  testsupport::ScratchDir dir;
  auto source = dir / "prefixed.xlsx";
  testsupport::runPython(R"PY(
import sys, zipfile
main = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
parts = {
 '[Content_Types].xml': '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/a.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/b.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>',
 '_rels/.rels': '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="r1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="/xl/workbook.xml"/></Relationships>',
 'xl/workbook.xml': '<?xml version="1.0" encoding="UTF-8"?><x:workbook xmlns:x="%s" xmlns:rr="%s"><x:sheets><x:sheet name="Empty" sheetId="5" rr:id="s1"/><x:sheet name="Rows" sheetId="9" rr:id="s2"/></x:sheets></x:workbook>' % (main, rel),
 'xl/_rels/workbook.xml.rels': '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="s1" Type="%s/worksheet" Target="worksheets/a.xml"/><Relationship Id="s2" Type="%s/worksheet" Target="/xl/worksheets/b.xml"/></Relationships>' % (rel, rel),
 'xl/worksheets/a.xml': '<?xml version="1.0" encoding="UTF-8"?><x:worksheet xmlns:x="%s"><x:dimension ref="A1"/><x:sheetData/></x:worksheet>' % main,
 'xl/worksheets/b.xml': '<?xml version="1.0" encoding="UTF-8"?><x:worksheet xmlns:x="%s"><x:sheetData><x:row r="3"><x:c r="B3" t="inlineStr"><x:is><x:t>old</x:t></x:is></x:c></x:row></x:sheetData></x:worksheet>' % main,
}
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for n, t in parts.items():
        z.writestr(n, t)
)PY", {source.string()});
  auto out = dir / "out.xlsx";
  Book book(xlCreateXMLBookCA());
  ASSERT_EQ(xlBookLoadA(book, source.c_str()), 1) << xlBookErrorMessageA(book);
  ASSERT_EQ(xlBookSheetCountA(book), 2);
  SheetHandle empty = xlBookGetSheetA(book, 0), rows = xlBookGetSheetA(book, 1);
  EXPECT_EQ(xlSheetLastRowA(empty), 0);
  EXPECT_EQ(xlSheetLastRowA(rows), 3);
  xlSheetWriteStrA(empty, 0, 0, "first", nullptr);
  xlSheetWriteNumA(empty, 1, 2, 2.5, nullptr);
  xlSheetWriteBoolA(rows, 3, 0, 1, nullptr);
  ASSERT_NE(xlBookAddSheetA(book, "Third", nullptr), nullptr);
  ASSERT_EQ(xlBookSaveA(book, out.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = wbtest::readBack(out);
  ASSERT_EQ(sheets.size(), 3u);
  EXPECT_EQ(sheets[0].cells.at({0, 0}).text, "first");
  EXPECT_EQ(sheets[0].cells.at({1, 2}).number, 2.5);
  EXPECT_EQ(sheets[1].cells.at({2, 1}).text, "old");
  EXPECT_EQ(sheets[1].cells.at({3, 0}).type, "b");
  EXPECT_EQ(sheets[2].name, "Third");
  std::string dims = testsupport::runPython(R"PY(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
a = z.read('xl/worksheets/a.xml').decode()
print(a[a.index('<x:dimension'):a.index('<x:sheetData>') + 13])
)PY", {out.string()});
  EXPECT_EQ(dims, "<x:dimension ref=\"A1:C2\"/><x:sheetData>\n");
}

}  // namespace

// A package whose entries give their sizes in zip64 extra fields, as writers do for parts past
// 2 GiB: the same book, rewritten with those fields in its local headers and its directory.
TEST_F(XlsxExtend, SizesInZip64ExtraFieldsLoadLikeAnyOther) {
  std::filesystem::path zip64 = dir / "zip64.xlsx";
  testsupport::runPython(R"PY(
import sys, zipfile, zlib, struct
zin, out, central = zipfile.ZipFile(sys.argv[1]), open(sys.argv[2], 'wb'), b''
entries = zin.infolist()
for info in entries:
    data = zin.read(info.filename)
    co = zlib.compressobj(6, zlib.DEFLATED, -15)
    packed = co.compress(data) + co.flush()
    crc, name, offset = zlib.crc32(data), info.filename.encode(), out.tell()
    extra = struct.pack('<HHQQ', 1, 16, len(data), len(packed))
    out.write(struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, 8, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF,
                          len(name), len(extra)) + name + extra + packed)
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 45, 45, 0, 8, 0, 0x21, crc, 0xFFFFFFFF,
                           0xFFFFFFFF, len(name), len(extra), 0, 0, 0, 0, offset) + name + extra
start = out.tell()
out.write(central)
out.write(struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(entries), len(entries), len(central), start, 0))
)PY",
                         {source.string(), zip64.string()});
  Book book(xlCreateXMLBookCA());
  ASSERT_EQ(xlBookLoadA(book, zip64.c_str()), 1) << xlBookErrorMessageA(book);
  ASSERT_EQ(xlBookSheetCountA(book), 3);
  SheetHandle data = xlBookGetSheetA(book, 0);
  EXPECT_EQ(xlSheetLastRowA(data), 6);
  ASSERT_EQ(xlSheetWriteStrA(data, 6, 0, "appended", nullptr), 1);
  ASSERT_EQ(xlBookSaveA(book, zip64.c_str()), 1) << xlBookErrorMessageA(book);
  auto sheets = wbtest::readBack(zip64);
  ASSERT_EQ(sheets.size(), 3u);
  EXPECT_EQ(sheets[0].cells.at({1, 0}).text, "item0");
  EXPECT_EQ(sheets[0].cells.at({6, 0}).text, "appended");
  EXPECT_EQ(sheets[2].cells.at({0, 0}).text, "text with \u00fcn\u00efc\u00f6d\u00e9");
}
