// The engine and the reader on databases written by the test-database writer, whose exact
// contents the tests choose; mdb-reader referees where a value's text form is compared.
#include <cmath>
#include <random>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/little_endian.h"
#include "source/database_reader.h"
#include "source/jet_format.h"
#include "tests/source/engine_test_util.h"
#include "tests/support/test_support.h"
#include "tools/accesswriter/access_writer.h"

namespace aw = accesswriter;

namespace {

aw::Table smallTable(const std::string& name) {
  return aw::Table{name, {{"Id", aw::FieldType::Long}}, aw::rowsFrom({{int64_t{1}}})};
}

TEST(EngineWrittenFiles, NamesInCatalogOrderAndTheMSysSkip) {
  testsupport::ScratchDir dir;
  for (aw::Format format : {aw::Format::Jet4, aw::Format::Ace12}) {
    auto path = dir / (format == aw::Format::Jet4 ? "names.mdb" : "names.accdb");
    aw::Options options;
    options.format = format;
    // Forms, reports, macros and modules are catalog rows too, and no tables: a report's type
    // 0x8004 is no ODBC link's 4.
    options.objects = {{"Invoice", jetfmt::kObjectReport}, {"Orders Form", jetfmt::kObjectForm},
                       {"AutoExec", jetfmt::kObjectMacro}, {"Utilities", jetfmt::kObjectModule}};
    aw::writeDatabase(path, options,
                      {smallTable("B"), smallTable("A"), smallTable("MSysLocal"), smallTable("msysNotes"),
                       smallTable("USysConfig"), smallTable("~TMPCLP1"), smallTable("Größe Ü")});
    ConversionOptions record;
    ASSERT_EQ(OpenSourceDatabase(nullptr, &record, path.string()), 0);
    EXPECT_EQ(record.selectedTables, std::optional<std::string>(";B;;A;;msysNotes;;USysConfig;;~TMPCLP1;;Größe Ü;"));
    // The engine lists the MSys names too: only the reader skips them.
    TableDefs defs = record.database->TableDefs();
    bool sawLocal = false;
    for (int i = 0; i < defs.Count(); ++i) sawLocal |= defs.Item(i).Name() == "MSysLocal";
    EXPECT_TRUE(sawLocal);
  }
}

TEST(EngineWrittenFiles, FilterNamesTablesWithoutRegardToCase) {
  testsupport::ScratchDir dir;
  auto path = dir / "shop.mdb";
  aw::writeDatabase(path, {}, {smallTable("Orders"), smallTable("Customers"), smallTable("Invoices")});
  ConversionOptions record;
  record.tableFilter = ";ORDERS;CUSTOMERS;";
  ASSERT_EQ(OpenSourceDatabase(nullptr, &record, path.string()), 0);
  EXPECT_EQ(record.selectedTables, std::optional<std::string>(";Orders;;Customers;"));
  EXPECT_FALSE(record.tableFilter.has_value());
}

TEST(EngineWrittenFiles, PasswordsBothWays) {
  testsupport::ScratchDir dir;
  for (std::string password : {"secret", "Pässwort ß", "x"}) {
    SCOPED_TRACE(password);
    auto path = dir / "locked.mdb";
    aw::Options options;
    options.password = password;
    aw::writeDatabase(path, options, {smallTable("T")});
    DBEngine engine(EngineFlavour::Dao36);
    EXPECT_NO_THROW(engine.OpenDatabase(path.string(), 1, true, ";pwd=" + password));
    EXPECT_THROW(engine.OpenDatabase(path.string(), 1, true, std::nullopt), ComError);
    EXPECT_THROW(engine.OpenDatabase(path.string(), 1, true, ";pwd=" + password + "x"), ComError);
    EXPECT_THROW(engine.OpenDatabase(path.string(), 1, true, ";pwd=" + password.substr(1)), ComError);
    std::string upper = password;
    upper[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[0])));
    if (upper != password) {
      EXPECT_THROW(engine.OpenDatabase(path.string(), 1, true, ";pwd=" + upper), ComError);
    }
    std::filesystem::remove(path);
  }
}

TEST(EngineWrittenFiles, EveryTypeExactly) {
  testsupport::ScratchDir dir;
  std::vector<aw::Field> fields = {
      {"Yes", aw::FieldType::Boolean}, {"Byte", aw::FieldType::Byte},     {"Int", aw::FieldType::Integer},
      {"Long", aw::FieldType::Long},   {"Money", aw::FieldType::Currency}, {"Single", aw::FieldType::Single},
      {"Double", aw::FieldType::Double}, {"When", aw::FieldType::DateTime}, {"Text", aw::FieldType::Text, 100},
      {"Memo", aw::FieldType::Memo},   {"Blob", aw::FieldType::Binary},   {"Guid", aw::FieldType::Guid},
      {"Dec", aw::FieldType::Decimal, 255, 28, 4}, {"Big", aw::FieldType::BigInt}};
  aw::Guid guid = aw::guidFromText("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  std::vector<aw::Row> rows = {
      {true, int64_t{255}, int64_t{-32768}, int64_t{-2147483647 - 1}, aw::Currency{-922337203685477580},
       static_cast<double>(0.1f), 0.1, aw::Date{45658.75}, std::string("Grüße, 世界 😀"), std::string("memo"),
       aw::Bytes{std::string("\x00\x01\xff", 3)}, guid, aw::Decimal{"-123456789012345678901234.5678"},
       int64_t{-9223372036854775807 - 1}},
      {false, aw::Null{}, aw::Null{}, aw::Null{}, aw::Null{}, aw::Null{}, aw::Null{}, aw::Null{}, aw::Null{},
       aw::Null{}, aw::Null{}, aw::Null{}, aw::Null{}, aw::Null{}},
      {false, int64_t{0}, int64_t{0}, int64_t{0}, aw::Currency{0}, -0.0, -0.0, aw::Date{-1.5}, std::string(),
       std::string(), aw::Bytes{}, aw::Guid{}, aw::Decimal{"0"}, int64_t{0}},
  };
  auto path = dir / "types.accdb";
  aw::Options options;
  options.format = aw::Format::Ace16;
  aw::writeDatabase(path, options, {aw::Table{"Types", fields, aw::rowsFrom(rows)}});

  auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path.string());
  Fields defs = db->TableDefs().Item("Types").Fields();
  std::vector<int> types;
  for (int i = 0; i < defs.Count(); ++i) types.push_back(defs.Item(i).Type());
  EXPECT_EQ(types, (std::vector<int>{dbBoolean, dbByte, dbInteger, dbLong, dbCurrency, dbSingle, dbDouble, dbDate,
                                     dbText, dbMemo, dbLongBinary, dbGUID, dbDecimal, dbBigInt}));
  auto got = enginetest::readAll(*db, "Types");
  ASSERT_EQ(got.size(), 3u);
  const auto& a = got[0];
  EXPECT_EQ(a[0].vt, VT_BOOL);
  EXPECT_EQ(a[0].integer, -1);
  EXPECT_EQ(a[1].vt, VT_UI1);
  EXPECT_EQ(a[1].integer, 255);
  EXPECT_EQ(a[2].vt, VT_I2);
  EXPECT_EQ(a[2].integer, -32768);
  EXPECT_EQ(a[3].vt, VT_I4);
  EXPECT_EQ(a[3].integer, -2147483647 - 1);
  EXPECT_EQ(a[4].vt, VT_CY);
  EXPECT_EQ(a[4].integer, -922337203685477580);
  EXPECT_EQ(a[5].vt, VT_R4);
  EXPECT_EQ(a[5].real, 0.1);  // the single 0.1f as Access shows it, not 0.10000000149011612
  EXPECT_EQ(a[6].vt, VT_R8);
  EXPECT_EQ(a[6].real, 0.1);
  EXPECT_EQ(a[7].vt, VT_DATE);
  EXPECT_EQ(a[7].real, 45658.75);
  EXPECT_EQ(a[8].vt, VT_BSTR);
  EXPECT_EQ(a[8].text, "Grüße, 世界 😀");
  EXPECT_EQ(a[9].text, "memo");
  EXPECT_EQ(a[10].vt, VT_BYTES);
  EXPECT_EQ(a[10].bytes, (std::vector<uint8_t>{0, 1, 255}));
  EXPECT_EQ(a[11].vt, VT_BSTR);
  EXPECT_EQ(a[11].text, "{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_EQ(a[12].vt, VT_DECIMAL);
  EXPECT_TRUE(a[12].decimal.negative);
  EXPECT_EQ(a[12].decimal.scale, 4);
  unsigned __int128 magnitude = (static_cast<unsigned __int128>(a[12].decimal.hi32) << 64) | a[12].decimal.lo64;
  // 1234567890123456789012345678 ten-thousandths
  unsigned __int128 expected = static_cast<unsigned __int128>(1234567890123456789ull) * 1000000000ull + 12345678ull;
  EXPECT_TRUE(magnitude == expected);
  EXPECT_EQ(a[13].vt, VT_I8);
  EXPECT_EQ(a[13].integer, -9223372036854775807 - 1);

  // Nulls stay nulls (a Yes/No is never null); empty texts and zeros stay values.
  for (size_t i = 1; i < got[1].size(); ++i) EXPECT_EQ(got[1][i].vt, VT_NULL) << i;
  EXPECT_EQ(got[1][0].vt, VT_BOOL);
  EXPECT_EQ(got[2][8].vt, VT_BSTR);
  EXPECT_EQ(got[2][8].text, "");
  EXPECT_EQ(got[2][9].vt, VT_BSTR);
  EXPECT_EQ(got[2][9].text, "");
  EXPECT_TRUE(std::signbit(got[2][5].real));
  EXPECT_TRUE(std::signbit(got[2][6].real));
  EXPECT_EQ(got[2][7].real, -1.5);

  // And mdb-reader agrees cell by cell.
  auto dump = testsupport::mdbReaderDump(path);
  const auto& table = dump["tables"][0];
  for (size_t r = 0; r < got.size(); ++r)
    for (size_t i = 0; i < got[r].size(); ++i) {
      std::string why;
      EXPECT_TRUE(enginetest::sameAsReader(got[r][i], table["rows"][r][i], &why)) << r << "," << i << ": " << why;
    }
}

TEST(EngineWrittenFiles, LongMemosAndBinariesComeWhole) {
  testsupport::ScratchDir dir;
  std::string memo;
  for (int i = 0; memo.size() < 200000; ++i) memo += "Zeile " + std::to_string(i) + " — äöü €\n";
  std::string ascii(150000, 'a');
  for (size_t i = 0; i < ascii.size(); ++i) ascii[i] = static_cast<char>('a' + i % 26);
  std::string blob(70000, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7919 % 251);
  auto path = dir / "long.mdb";
  aw::writeDatabase(path, {},
                    {aw::Table{"Long",
                               {{"Id", aw::FieldType::Long}, {"Memo", aw::FieldType::Memo}, {"Blob", aw::FieldType::Binary}},
                               aw::rowsFrom({{int64_t{1}, memo, aw::Bytes{blob}},
                                             {int64_t{2}, ascii, aw::Null{}},
                                             {int64_t{3}, std::string(4000, 'x'), aw::Bytes{std::string(3000, 'y')}}})}});
  auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase(path.string());
  auto rows = enginetest::readAll(*db, "Long");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0][1].text == memo) << rows[0][1].text.size() << " of " << memo.size();
  EXPECT_TRUE(rows[0][2].bytes == std::vector<uint8_t>(blob.begin(), blob.end()));
  EXPECT_TRUE(rows[1][1].text == ascii);
  EXPECT_EQ(rows[1][2].vt, VT_NULL);
  EXPECT_EQ(rows[2][1].text, std::string(4000, 'x'));
  EXPECT_EQ(rows[2][2].bytes.size(), 3000u);
}

TEST(EngineWrittenFiles, TableOf65531Records) {
  testsupport::ScratchDir dir;
  auto path = dir / "big.accdb";
  int64_t next = 0;
  aw::Options options;
  options.format = aw::Format::Ace12;
  aw::writeDatabase(path, options,
                    {aw::Table{"Big", {{"Id", aw::FieldType::Long}, {"Name", aw::FieldType::Text, 20}},
                               [&](aw::Row& row) {
                                 if (next == 65531) return false;
                                 row = {next, "r" + std::to_string(next)};
                                 ++next;
                                 return true;
                               }}});
  auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path.string());
  auto rs = db->OpenRecordset("Big");
  EXPECT_EQ(rs->RecordCount(), 65531);
  Fields fields = rs->Fields();
  int64_t expected = 0;
  bool allRight = true;
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
    Variant id = fields.Item(0).Value();
    Variant name = fields.Item(1).Value();
    allRight &= id.integer == expected && name.text == "r" + std::to_string(expected);
    ++expected;
  }
  EXPECT_EQ(expected, 65531);
  EXPECT_TRUE(allRight);
  EXPECT_THROW(rs->MoveNext(), ComError);
  EXPECT_THROW(fields.Item(0).Value(), ComError);
  rs->MoveFirst();
  EXPECT_EQ(fields.Item(0).Value().integer, 0);
}

}  // namespace

namespace {

// Long-value chains and many data pages, damaged at random: ComError or success, never more.
TEST(EngineWrittenFiles, MutatedLongValueChainsNeverCrash) {
  testsupport::ScratchDir dir;
  auto path = dir / "chains.mdb";
  std::vector<aw::Row> rows;
  for (int i = 0; i < 40; ++i) rows.push_back({int64_t{i}, std::string(1000 + i * 900, static_cast<char>('a' + i % 26))});
  aw::writeDatabase(path, {}, {aw::Table{"Chains", {{"Id", aw::FieldType::Long}, {"Memo", aw::FieldType::Memo}}, aw::rowsFrom(rows)}});
  const std::string original = testsupport::readFileBytes(path);
  std::mt19937 random(20261207);
  int failed = 0;
  for (int iteration = 0; iteration < 150; ++iteration) {
    std::string bytes = original;
    for (int f = 0, n = 1 + static_cast<int>(random() % 16); f < n; ++f) {
      size_t at = 4096 + random() % (bytes.size() - 4096);
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
    }
    auto copy = dir / "mutated.mdb";
    testsupport::writeFileBytes(copy, bytes);
    try {
      auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase(copy.string());
      for (int t = 0; t < db->TableDefs().Count(); ++t) enginetest::readAll(*db, db->TableDefs().Item(t).Name());
    } catch (const ComError& e) {
      EXPECT_NE(e.description().find(copy.string()), std::string::npos);
      ++failed;
    }
  }
  EXPECT_GT(failed, 0);
}

}  // namespace

namespace {

// A page's worth of text: seven uncompressed Text(255) fields fill most of a 4 KB page.
std::string pageText(int row, int field) {
  std::string t = std::to_string(row) + "/" + std::to_string(field) + ":";
  while (t.size() < 255) t += static_cast<char>('a' + (row * 7 + field + static_cast<int>(t.size())) % 26);
  return t;
}

}  // namespace

// Pages read one by one from the file: a table of 4,200 one-record pages (more than an inline
// usage map can span, so its map refers to bitmap pages), memos on long-value pages of one row and
// of several, in a plain Jet4 file and in one whose pages are RC4-encoded with the header's key.
TEST(EngineWrittenFiles, EncodedPagesAndBitmapUsageMapsReadAsWritten) {
  testsupport::ScratchDir dir;
  const int kRows = 4200;
  std::vector<aw::Field> fields = {{"Id", aw::FieldType::Long}, {"Memo", aw::FieldType::Memo}};
  for (int f = 0; f < 7; ++f) fields.push_back({"T" + std::to_string(f), aw::FieldType::Text, 255});
  auto memoOf = [](int row) {
    if (row % 50 == 0) return std::string(6000 + row % 7, static_cast<char>('A' + row % 26));  // several pages
    if (row % 10 == 0) return std::string(1500, static_cast<char>('a' + row % 26));             // one page
    return "m" + std::to_string(row);
  };
  auto source = [&] {
    auto next = std::make_shared<int>(0);
    return aw::RowSource([next, memoOf](aw::Row& row) {
      if (*next >= kRows) return false;
      int r = (*next)++;
      row = {int64_t{r}, memoOf(r)};
      for (int f = 0; f < 7; ++f) row.push_back(pageText(r, f));
      return true;
    });
  };
  for (uint32_t key : {0u, 0x5EC2E7A1u}) {
    SCOPED_TRACE(key);
    auto path = dir / ("pages-" + std::to_string(key) + ".mdb");
    aw::Options options;
    options.compressText = false;
    options.pageKey = key;
    aw::Summary written = aw::writeDatabase(path, options, {aw::Table{"Pages", fields, source()}, smallTable("After")});
    ASSERT_GT(written.pages, 4200u);
    auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase(path.string());
    auto got = enginetest::readAll(*db, "Pages");
    ASSERT_EQ(got.size(), static_cast<size_t>(kRows));
    for (int r = 0; r < kRows; ++r) {
      const auto& rec = got[static_cast<size_t>(r)];
      ASSERT_EQ(rec.size(), 9u);
      ASSERT_EQ(rec[0].integer, r);
      ASSERT_EQ(rec[1].text, memoOf(r)) << r;
      for (int f = 0; f < 7; ++f) ASSERT_EQ(rec[2 + static_cast<size_t>(f)].text, pageText(r, f)) << r << " " << f;
    }
    auto after = enginetest::readAll(*db, "After");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0][0].integer, 1);
  }
}

namespace {
// A calculated result in the wrapper Access puts around it: a header, the length, the data, then
// three spare bytes; `length` may claim more than the data holds.
aw::Bytes wrapped(const std::string& data, uint32_t length) {
  std::string w(20, '\0');
  for (int i = 0; i < 4; ++i) w[16 + i] = char(length >> (8 * i));
  return aw::Bytes{w + data + std::string(3, '\0')};
}
}  // namespace

TEST(EngineWrittenFiles, ShortCalculatedValuesReadAsAccessShowsThem) {
  testsupport::ScratchDir dir;
  auto path = dir / "calc.accdb";
  aw::Options options;
  options.format = aw::Format::Ace16;
  aw::Field rich{"IsRich", aw::FieldType::Boolean};
  aw::Field score{"Score", aw::FieldType::Long};
  aw::Field ratio{"Ratio", aw::FieldType::Decimal};
  rich.calculated = score.calculated = ratio.calculated = true;
  // Results of divisions, each with the scale it was stored with; 29 digits after the point are
  // no decimal at all.
  const std::vector<std::string> ratios = {"19230.7692307692", "56505085819.424791296572280180",
                                           "0.3333333333333333333333333333", "-2.50", "0"};
  std::vector<aw::Row> ratioRows;
  for (const auto& r : ratios) ratioRows.push_back({aw::Decimal{r}});
  std::string tooFine(16, '\0');
  tooFine[0] = 14, tooFine[2] = 29, tooFine[12] = 1;
  aw::writeDatabase(path, options,
                    {{"Staff", {rich, score},
                      aw::rowsFrom({{true, int64_t{7}},                               // wrapped, as Access writes them
                                    {aw::Bytes{""}, aw::Bytes{""}},                  // no data at all
                                    {wrapped("", 0), wrapped("", 0)},               // a wrapper without data
                                    {aw::Bytes{"\x01"}, aw::Bytes{std::string("\x2A\0\0\0", 4)}}})},  // the value itself
                     {"Broken", {score}, aw::rowsFrom({{wrapped("\x01\x02", 8)}})},  // claims 8, holds 2
                     {"Ratios", {ratio}, aw::rowsFrom(ratioRows)},
                     {"TooFine", {ratio}, aw::rowsFrom({{wrapped(tooFine, 16)}})}});
  auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path.string());
  auto rows = enginetest::readAll(*db, "Staff");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(db->TableDefs().Item("Staff").Fields().Item(0).Type(), dbBoolean);
  const std::vector<std::pair<int64_t, std::optional<int64_t>>> expected = {{-1, 7}, {0, {}}, {0, {}}, {-1, 42}};
  for (size_t r = 0; r < rows.size(); ++r) {
    EXPECT_EQ(rows[r][0].vt, VT_BOOL) << r;
    EXPECT_EQ(rows[r][0].integer, expected[r].first) << r;
    if (expected[r].second) {
      EXPECT_EQ(rows[r][1].vt, VT_I4) << r;
      EXPECT_EQ(rows[r][1].integer, *expected[r].second) << r;
    } else {
      EXPECT_TRUE(rows[r][1].isNull()) << r;
    }
  }
  try {
    enginetest::readAll(*db, "Broken");
    ADD_FAILURE() << "a wrapper stating more than it holds is damage";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("value of column 'Score' states 8 bytes but holds 5"), std::string::npos)
        << e.description();
  }
  auto got = enginetest::readAll(*db, "Ratios");
  ASSERT_EQ(got.size(), ratios.size());
  for (size_t r = 0; r < got.size(); ++r)
    EXPECT_EQ(enginetest::toReaderJson(got[r][0]), (nlohmann::json{{"decimal", ratios[r]}})) << r;
  try {
    enginetest::readAll(*db, "TooFine");
    ADD_FAILURE() << "a decimal of 29 digits after the point is damage";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("'Ratio' has 29 digits after the point"), std::string::npos) << e.description();
  }
}

namespace {

// The first page of `bytes` whose type byte is `type` and that holds `marker`.
size_t pageHolding(const std::string& bytes, uint8_t type, const std::string& marker) {
  for (size_t at = 4096; at + 4096 <= bytes.size(); at += 4096)
    if (static_cast<uint8_t>(bytes[at]) == type &&
        std::string_view(bytes).substr(at, 4096).find(marker) != std::string_view::npos)
      return at / 4096;
  return 0;
}

std::string utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

}  // namespace

// Damage where the reader reads the format itself: a table definition, a record's layout, a
// catalog entry that names no definition, a page past the end of an encoded file. Each fails its
// own table with the reason and the file; the other table still reads.
TEST(EngineWrittenFiles, DamagedDefinitionsRowsAndPagesFailTheirTableOnly) {
  testsupport::ScratchDir dir;
  auto rows = [] { return aw::rowsFrom({{int64_t{1}, std::string("one"), std::string("memo")}}); };
  std::vector<aw::Field> fields = {{"Id", aw::FieldType::Long}, {"BadText", aw::FieldType::Text, 20}, {"Note", aw::FieldType::Memo}};
  for (aw::Format format : {aw::Format::Jet4, aw::Format::Ace12}) {
    auto path = dir / "clean.mdb";
    aw::Options options;
    options.format = format;
    options.compressText = false;
    aw::writeDatabase(path, options, {smallTable("Good"), aw::Table{"Bad", fields, rows()}});
    const std::string clean = testsupport::readFileBytes(path);
    const size_t definition = pageHolding(clean, 0x02, utf16("BadText"));
    ASSERT_GT(definition, 2u);
    size_t data = 0;
    for (size_t at = 4096; at + 4096 <= clean.size() && !data; at += 4096)
      if (clean[at] == 0x01 && le::get32(clean.data() + at + 4) == definition) data = at / 4096;
    ASSERT_GT(data, 0u);
    auto patched = [&](size_t page, size_t offset, std::initializer_list<uint8_t> patch) {
      std::string bytes = clean;
      for (uint8_t b : patch) bytes[page * 4096 + offset++] = static_cast<char>(b);
      return bytes;
    };
    const size_t row0 = le::get16(clean.data() + data * 4096 + 0x0E) & 0x1FFF;
    const size_t row0End = 4096;  // the first row ends at the page's end
    struct Case {
      std::string bytes, reason;
    } cases[] = {
        {patched(definition, 0x2D, {0, 0}), "implausible column count 0"},
        {patched(definition, 0x04, {0xF0, 0xFF, 0xFF, 0x00}), "its definition pages point outside the file or loop"},
        {patched(definition, 0x00, {0x01}), "cannot read the table definition"},
        // The variable-column count, just before the one-byte null mask, far larger than the row.
        {patched(data, row0End - 1 - 2, {0xFF, 0x00}), "a record's layout is invalid"},
        {patched(data, row0, {0xFF, 0xFF}), "a record's layout is invalid"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.reason);
      auto copy = dir / "damaged.mdb";
      testsupport::writeFileBytes(copy, c.bytes);
      auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase(copy.string());
      EXPECT_EQ(enginetest::readAll(*db, "Good").size(), 1u);
      try {
        enginetest::readAll(*db, "Bad");
        ADD_FAILURE() << "the damage went unnoticed";
      } catch (const ComError& e) {
        EXPECT_NE(e.description().find("table 'Bad': " + c.reason), std::string::npos) << e.description();
        EXPECT_NE(e.description().find(copy.string()), std::string::npos) << e.description();
      }
    }
  }
  // Files cut short, plain and with RC4-encoded pages: a page of records past the end is damage
  // (the catalog's, here), not the end of a table nor zeros decoded into something else.
  for (uint32_t key : {0u, 0x1234ABCDu}) {
    auto cut = dir / "cut.mdb";
    aw::Options options;
    options.pageKey = key;
    aw::Summary written = aw::writeDatabase(cut, options, {smallTable("Good"), aw::Table{"Bad", fields, rows()}});
    std::string bytes = testsupport::readFileBytes(cut);
    testsupport::writeFileBytes(cut, bytes.substr(0, (written.pages - 1) * 4096));
    try {
      auto db = DBEngine(EngineFlavour::Dao36).OpenDatabase(cut.string());
      ADD_FAILURE() << "the cut went unnoticed";
    } catch (const ComError& e) {
      EXPECT_NE(e.description().find("lies past the end of the file"), std::string::npos) << e.description();
    }
  }
}
