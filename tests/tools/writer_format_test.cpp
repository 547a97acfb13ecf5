// The catalog, the header password, compressed text, usage maps, and refused input.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/test_support.h"
#include "tests/tools/reader_check.h"
#include "tools/accesswriter/access_writer.h"
#include "tools/accesswriter/encoding.h"

namespace {

using namespace accesswriter;

Options optionsFor(Format format, std::string password = "") {
  Options o;
  o.format = format;
  o.password = std::move(password);
  return o;
}

Table oneRowTable(const std::string& name) {
  return Table{name, {{"Id", FieldType::Long}}, rowsFrom({{int64_t(7)}})};
}

TEST(WriterCatalog, TablesAreListedInTheCallersOrderWithAnyName) {
  const std::vector<std::string> names{"Zebra", "ÄÖÜ Tabelle", "MSysNotes", "with space", "~TMPCLP1",
                                       "USysRibbons", "msysLower", "Alpha", "表"};
  for (Format format : {Format::Jet4, Format::Ace12}) {
    testsupport::ScratchDir dir;
    auto file = dir / (format == Format::Jet4 ? "names.mdb" : "names.accdb");
    std::vector<Table> tables;
    for (const auto& n : names) tables.push_back(oneRowTable(n));
    writeDatabase(file, Options{format, "", 45000.0, true}, tables);

    EXPECT_EQ(writertest::libmdbTables(file), names);
    nlohmann::json dump = testsupport::mdbReaderDump(file);
    std::vector<std::string> seen;
    for (const auto& t : dump["tables"]) {
      seen.push_back(t["name"]);
      EXPECT_EQ(t["rows"], nlohmann::json::parse("[[7]]")) << t["name"];
    }
    EXPECT_EQ(seen, names);
  }
}

TEST(WriterCatalog, DatabaseWithoutTablesOpens) {
  testsupport::ScratchDir dir;
  auto file = dir / "empty.mdb";
  Summary s = writeDatabase(file, {}, {});
  EXPECT_TRUE(s.rowCounts.empty());
  EXPECT_TRUE(writertest::libmdbTables(file).empty());
  EXPECT_TRUE(testsupport::mdbReaderDump(file)["tables"].empty());
}

TEST(WriterCatalog, ManyColumnsSpanSeveralDefinitionPages) {
  testsupport::ScratchDir dir;
  auto file = dir / "wide.accdb";
  Table t{"Wide", {}, {}};
  Row r;
  for (int c = 0; c < 255; ++c) {
    t.fields.push_back({"A rather long column name number " + std::to_string(c), c % 2 ? FieldType::Long : FieldType::Text, 4});
    r.push_back(c % 2 ? Value{int64_t(c)} : Value{std::to_string(c)});
  }
  t.rows = rowsFrom({r});
  writeDatabase(file, optionsFor(Format::Ace12), {t});
  writertest::expectTableReadsBack(file, "", t, 1, [&](uint64_t, Row& row) { row = r; });
}

TEST(WriterPassword, MdbReaderReportsTheStoredPassword) {
  for (Format format : {Format::Jet4, Format::Ace12, Format::Ace16}) {
    for (std::string pw : {std::string("a"), std::string("Secret Ünïcode"), std::string(20, 'z')}) {
      testsupport::ScratchDir dir;
      auto file = dir / (format == Format::Jet4 ? "p.mdb" : "p.accdb");
      Options o{format, pw, 44568.68, true};
      writeDatabase(file, o, {oneRowTable("T")});
      EXPECT_EQ(testsupport::mdbReaderDump(file, pw)["password"], pw);
      // The password is never in the file in the clear, and libmdb still reads the data.
      std::string bytes = testsupport::readFileBytes(file);
      std::u16string units = enc::utf16FromUtf8(pw);
      std::string raw(reinterpret_cast<const char*>(units.data()), units.size() * 2);
      if (units.size() >= 4) {
        EXPECT_EQ(bytes.find(raw), std::string::npos);
      }
      EXPECT_EQ(writertest::libmdbRows(file, "T").at(0).at(0), std::optional<std::string>("7"));
    }
  }
}

TEST(WriterPassword, HeaderIdentifiesTheFormat) {
  struct {
    Format format;
    int version;
    const char* engine;
  } cases[] = {{Format::Jet4, 1, "Standard Jet DB"}, {Format::Ace12, 2, "Standard ACE DB"},
               {Format::Ace16, 5, "Standard ACE DB"}};
  for (const auto& c : cases) {
    testsupport::ScratchDir dir;
    auto file = dir / "h.db";
    writeDatabase(file, optionsFor(c.format), {oneRowTable("T")});
    std::string bytes = testsupport::readFileBytes(file);
    EXPECT_EQ(bytes[0x14], char(c.version));
    EXPECT_EQ(bytes.substr(4, 16), std::string(c.engine, 16));
  }
}

TEST(WriterText, CompressedUnicodeWhereItFitsAndBothReadersAgree) {
  const std::string compressible = "Compressible text value";
  const std::string wide = "Ünïcode Ω not compressible";
  for (bool compress : {true, false}) {
    testsupport::ScratchDir dir;
    auto file = dir / "c.mdb";
    Table t{"T", {{"Text", FieldType::Text, 100}, {"Memo", FieldType::Memo}},
            rowsFrom({{compressible, compressible + " in a memo"}, {wide, wide}, {std::string("ab"), std::string("é")}})};
    writeDatabase(file, Options{Format::Jet4, "", 45000.0, compress}, {t});
    std::string bytes = testsupport::readFileBytes(file);
    std::string packed = "\xFF\xFE" + compressible;
    EXPECT_EQ(bytes.find(packed) != std::string::npos, compress);
    std::u16string units = enc::utf16FromUtf8(wide);
    std::string utf16(reinterpret_cast<const char*>(units.data()), units.size() * 2);
    EXPECT_NE(bytes.find(utf16), std::string::npos) << "non-Latin-1 text stays UTF-16";
    std::vector<Row> rows{{compressible, compressible + " in a memo"}, {wide, wide}, {std::string("ab"), std::string("é")}};
    writertest::expectTableReadsBack(file, "", t, rows.size(), [&](uint64_t i, Row& r) { r = rows[i]; });
  }
}

// Long values on their own pages spread a table's data pages over more pages than an inline
// usage map covers, so the reference kind is written; both readers must still find every row.
TEST(WriterUsageMap, WideSpanUsesReferenceMapAndEveryRecordIsFound) {
  testsupport::ScratchDir dir;
  auto file = dir / "spread.mdb";
  const uint64_t kRows = 4500;
  auto make = [](uint64_t i, Row& row) {
    row = {int64_t(i), std::string(4000, char('A' + i % 26))};
  };
  uint64_t n = 0;
  Table t{"Spread", {{"Id", FieldType::Long}, {"Payload", FieldType::Memo}}, [&](Row& row) {
            if (n == kRows) return false;
            make(n++, row);
            return true;
          }};
  writeDatabase(file, {}, {t});

  // Follow the definition's used-pages pointer to the map row and look at its kind.
  std::string bytes = testsupport::readFileBytes(file);
  auto u16 = [&](size_t at) { return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  uint32_t tdef = 3;  // the first user table's definition follows the catalog's
  uint32_t ptr = u32(tdef * 4096 + 0x37);
  size_t page = ptr >> 8, row = ptr & 0xFF;
  uint32_t start = u16(page * 4096 + 14 + 2 * row);
  EXPECT_EQ(bytes[page * 4096 + start], '\x01') << "reference usage map";

  auto lib = writertest::libmdbRows(file, "Spread");
  ASSERT_EQ(lib.size(), kRows);
  for (uint64_t i = 0; i < kRows; ++i) ASSERT_EQ(lib[i][0], std::to_string(i)) << i;
  nlohmann::json dump = testsupport::mdbReaderDump(file, "", "Spread");
  const auto& rows = dump["tables"][0]["rows"];
  ASSERT_EQ(rows.size(), kRows);
  for (uint64_t i = 0; i < kRows; ++i) {
    ASSERT_EQ(rows[i][0], i);
    ASSERT_EQ(rows[i][1], std::string(4000, char('A' + i % 26)));
  }
}

// What the writer refuses, with the file, table, field and record named, and no file left.
TEST(WriterErrors, BadInputIsRefusedAndNoFileIsLeft) {
  testsupport::ScratchDir dir;
  auto file = dir / "bad.mdb";
  auto expectError = [&](const Options& o, const std::vector<Table>& tables, const std::string& part) {
    try {
      writeDatabase(file, o, tables);
      ADD_FAILURE() << "no error; expected one mentioning " << part;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("bad.mdb"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(file)) << part;
  };
  Table bigint{"T", {{"N", FieldType::BigInt}}, {}};
  expectError({}, {bigint}, "Ace16");
  Table wrongKind{"Orders", {{"Id", FieldType::Long}, {"Name", FieldType::Text, 5}},
                  rowsFrom({{int64_t(1), std::string("ok")}, {int64_t(2), 2.5}})};
  expectError({}, {wrongKind}, "table \"Orders\", record 2, field \"Name\"");
  Table tooLong{"T", {{"Name", FieldType::Text, 5}}, rowsFrom({{std::string("123456")}})};
  expectError({}, {tooLong}, "exceeds the size 5");
  Table outOfRange{"T", {{"B", FieldType::Byte}}, rowsFrom({{int64_t(256)}})};
  expectError({}, {outOfRange}, "out of range");
  Table badDecimal{"T", {{"D", FieldType::Decimal, 255, 5, 2}}, rowsFrom({{Decimal{"1.234"}}})};
  expectError({}, {badDecimal}, "scale");
  Table tooWide{"T", {{"D", FieldType::Decimal, 255, 5, 2}}, rowsFrom({{Decimal{"1234.5"}}})};
  expectError({}, {tooWide}, "precision");
  Table wrongCount{"T", {{"A", FieldType::Long}}, rowsFrom({{int64_t(1), int64_t(2)}})};
  expectError({}, {wrongCount}, "2 values for 1 fields");
  expectError({}, {oneRowTable("Same"), oneRowTable("SAME")}, "used twice");
  expectError({}, {oneRowTable("MSysObjects")}, "catalog");
  expectError(optionsFor(Format::Jet4, std::string(21, 'x')), {}, "20 characters");
  Table dupField{"T", {{"A", FieldType::Long}, {"a", FieldType::Long}}, {}};
  expectError({}, {dupField}, "twice");
  std::vector<Field> fat;
  Row fatRow;
  for (int c = 0; c < 20; ++c) {
    fat.push_back({"F" + std::to_string(c), FieldType::Text, 255});
    fatRow.push_back(std::string(255, 'x'));  // 20 * 257 bytes: more than a record holds
  }
  Table tooBig{"T", fat, rowsFrom({fatRow})};
  expectError(Options{Format::Jet4, "", 45000.0, true}, {tooBig}, "record 1 needs");
  Table badUtf8{"T", {{"S", FieldType::Memo}}, rowsFrom({{std::string("\xC3(")}})};
  expectError({}, {badUtf8}, "UTF-8");
  Table throwing{"T", {{"A", FieldType::Long}}, [](Row&) -> bool { throw Error("source failed"); }};
  expectError({}, {throwing}, "source failed");
}

TEST(WriterErrors, GuidTextRoundTrips) {
  Guid g = guidFromText("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_EQ(g.bytes[0], 0x67);
  EXPECT_EQ(g.bytes[3], 0x01);
  EXPECT_EQ(g.bytes[8], 0x01);
  EXPECT_EQ(guidText(g), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_THROW(guidFromText("{0123}"), Error);
  EXPECT_THROW(guidFromText("{0123456G-89AB-CDEF-0123-456789ABCDEF}"), Error);
}

}  // namespace
