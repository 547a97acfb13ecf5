// Every field type, nulls, empty and long values, non-BMP text and large tables, written and
// read back value by value through libmdb and mdb-reader.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/tools/reader_check.h"
#include "tools/accesswriter/access_writer.h"

namespace {

using namespace accesswriter;
using writertest::expectTableReadsBack;

std::vector<Field> allTypeFields(Format format) {
  std::vector<Field> f{{"Flag", FieldType::Boolean},
                       {"Tiny", FieldType::Byte},
                       {"Small", FieldType::Integer},
                       {"Whole", FieldType::Long},
                       {"Money", FieldType::Currency},
                       {"Float Value", FieldType::Single},
                       {"Precise", FieldType::Double},
                       {"When", FieldType::DateTime},
                       {"Label", FieldType::Text, 255},
                       {"Short", FieldType::Text, 5},
                       {"Notes", FieldType::Memo},
                       {"Blob", FieldType::Binary},
                       {"Key", FieldType::Guid},
                       {"Amount", FieldType::Decimal, 255, 18, 2},
                       {"Ratio", FieldType::Decimal, 255, 28, 10}};
  if (format == Format::Ace16) f.push_back({"Big", FieldType::BigInt});
  return f;
}

std::string repeatText(const std::string& unit, size_t units) {
  std::string s;
  for (size_t i = 0; i < units; ++i) s += unit;
  return s;
}

std::string bytesOf(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = char(seed >> 16);
  }
  return s;
}

Guid guidOf(uint64_t i) {
  Guid g;
  for (size_t b = 0; b < 16; ++b) g.bytes[b] = uint8_t(i * 37 + b * 11);
  return g;
}

constexpr uint64_t kAllTypeRows = 40;

// Record i of the all-types table: 0 all null, 1 extremes and empties, 2..4 long values
// across several long-value pages, the rest ordinary values with scattered nulls.
void allTypeRow(const std::vector<Field>& fields, uint64_t i, Row& row) {
  row.assign(fields.size(), Null{});
  if (i == 0) return;
  auto set = [&](const char* name, Value v) {
    for (size_t c = 0; c < fields.size(); ++c)
      if (fields[c].name == name) row[c] = std::move(v);
  };
  if (i == 1) {
    set("Flag", true);
    set("Tiny", int64_t(255));
    set("Small", int64_t(-32768));
    set("Whole", int64_t(INT32_MIN));
    set("Money", Currency{-922337203685477LL * 10000 - 5808});
    set("Float Value", 3.4e38);
    set("Precise", -1.7976931348623157e308);
    set("When", Date{0.0});
    set("Label", std::string());
    set("Short", std::string("12345"));
    set("Notes", std::string());
    set("Blob", Bytes{std::string()});
    set("Key", Guid{});
    set("Amount", Decimal{"-9999999999999999.99"});
    set("Ratio", Decimal{"999999999999999999.9999999999"});
    set("Big", int64_t(INT64_MIN));
    return;
  }
  if (i == 2) {  // compressible memo of 100,000 characters, 10,000 bytes of OLE data
    set("Notes", repeatText("Long memo text, page after page. ", 3031).substr(0, 100000));
    set("Blob", Bytes{bytesOf(10000, 2)});
    set("Label", std::string("𝄞 clef and 😀 outside the BMP"));
    set("Big", int64_t(INT64_MAX));
    set("Flag", false);
    return;
  }
  if (i == 3) {  // one long-value page each; a Greek memo that needs two
    set("Notes", repeatText("a", 1500));
    set("Blob", Bytes{bytesOf(3000, 3)});
    set("Label", repeatText("Ωμέγα ", 42) + "end");
    set("Whole", int64_t(INT32_MAX));
    return;
  }
  if (i == 4) {  // 100,000 characters that stay UTF-16, with surrogate pairs
    set("Notes", repeatText("Ünïcödé 😀 ", 10000));
    set("Label", std::string("line one\nline two\ttabbed \"quoted\""));
    return;
  }
  set("Flag", i % 3 == 0);
  if (i % 5 != 0) set("Tiny", int64_t(i * 7 % 256));
  set("Small", int64_t(i * 1000) - 20000);
  set("Whole", int64_t(i * 123457) - 3000000);
  if (i % 7 != 0) set("Money", Currency{int64_t(i) * 98765 - 1000000});
  set("Float Value", double(i) / 8.0 - 2.0);
  set("Precise", double(i) / 3.0);
  set("When", Date{36526.0 + double(i) * 17.25 + double(i % 24) / 24.0});
  set("Label", "Record " + std::to_string(i) + (i % 2 ? " – Müller" : " plain"));
  if (i % 4 != 0) set("Short", std::to_string(i));
  if (i % 6 != 0) set("Notes", "Short memo " + std::to_string(i) + " ✓");
  if (i % 3 != 0) set("Blob", Bytes{bytesOf(i * 5, uint32_t(i))});
  set("Key", guidOf(i));
  set("Amount", Decimal{std::to_string(i * 1000 + 7) + "." + std::to_string(10 + i)});
  if (i % 8 != 0) set("Ratio", Decimal{"0." + std::to_string(i) + "0001"});
  set("Big", int64_t(i) * 1000000000007LL);
}

struct Case {
  Format format;
  std::string password;
  const char* file;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.file; }

class WriterRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(WriterRoundTrip, EveryTypeReadsBackInBothReaders) {
  const Case& k = GetParam();
  testsupport::ScratchDir dir;
  auto file = dir / k.file;
  std::vector<Field> fields = allTypeFields(k.format);
  uint64_t n = 0;
  Table all{"All Types", fields, [&](Row& row) {
              if (n == kAllTypeRows) return false;
              allTypeRow(fields, n++, row);
              return true;
            }};
  Table empty{"Empty Table", {{"Nothing", FieldType::Text, 10}}, {}};
  Options o;
  o.format = k.format;
  o.password = k.password;
  Summary s = writeDatabase(file, o, {all, empty});
  ASSERT_EQ(s.rowCounts, (std::vector<uint64_t>{kAllTypeRows, 0}));
  EXPECT_EQ(std::filesystem::file_size(file), s.pages * 4096);

  auto count = testsupport::runCommand({"mdb-count", file.string(), "All Types"});
  EXPECT_EQ(count.out, std::to_string(kAllTypeRows) + "\n") << count.err;
  expectTableReadsBack(file, k.password, all, kAllTypeRows,
                       [&](uint64_t i, Row& row) { allTypeRow(fields, i, row); });
  expectTableReadsBack(file, k.password, empty, 0, [](uint64_t, Row&) {});

  nlohmann::json dump = testsupport::mdbReaderDump(file, k.password);
  if (k.password.empty()) EXPECT_TRUE(dump["password"].is_null());
  else EXPECT_EQ(dump["password"], k.password);
}

INSTANTIATE_TEST_SUITE_P(Formats, WriterRoundTrip,
                         ::testing::Values(Case{Format::Jet4, "", "jet4.mdb"},
                                           Case{Format::Jet4, "Geheim-2024", "jet4pw.mdb"},
                                           Case{Format::Ace12, "", "ace12.accdb"},
                                           Case{Format::Ace12, "pässwörd", "ace12pw.accdb"},
                                           Case{Format::Ace16, "", "ace16.accdb"},
                                           Case{Format::Ace16, "twenty-characters-20", "ace16pw.accdb"}),
                         [](const auto& info) {
                           std::string n = info.param.file;
                           return n.substr(0, n.find('.'));
                         });

// 65,531 records: hundreds of data pages, every value compared in both readers.
void manyRow(uint64_t i, Row& row) {
  row.assign(6, Null{});
  row[0] = int64_t(i + 1);
  row[1] = "Row " + std::to_string(i);
  row[2] = Currency{int64_t(i) * 1234 - 5000000};
  row[3] = Date{40000.0 + double(i) / 96.0};
  row[4] = i % 2 == 0;
  if (i % 10 != 9) row[5] = "memo " + std::to_string(i * 7);
}

void writeManyAndCompare(Format format, const std::string& password, const char* name) {
  testsupport::ScratchDir dir;
  auto file = dir / name;
  const uint64_t kRows = 65531;
  uint64_t n = 0;
  Table t{"Many Rows",
          {{"Id", FieldType::Long},
           {"Label", FieldType::Text, 30},
           {"Amount", FieldType::Currency},
           {"Stamp", FieldType::DateTime},
           {"Even", FieldType::Boolean},
           {"Memo", FieldType::Memo}},
          [&](Row& row) {
            if (n == kRows) return false;
            manyRow(n++, row);
            return true;
          }};
  Options o;
  o.format = format;
  o.password = password;
  writeDatabase(file, o, {t});
  auto count = testsupport::runCommand({"mdb-count", file.string(), "Many Rows"});
  EXPECT_EQ(count.out, "65531\n");
  expectTableReadsBack(file, password, t, kRows, manyRow);
}

TEST(WriterLargeTable, SixtyFiveThousandRecordsJet4WithPassword) {
  writeManyAndCompare(Format::Jet4, "big", "many.mdb");
}

TEST(WriterLargeTable, SixtyFiveThousandRecordsAce12) {
  writeManyAndCompare(Format::Ace12, "", "many.accdb");
}

}  // namespace
