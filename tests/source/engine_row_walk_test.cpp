// The walk over a table's rows on files of the test-database writer whose row offsets the tests
// then edit as Access does: a deleted row is no record, an overflow pointer brings the record's
// moved data to where the pointer stands, and pointers that loop or lead out of the table's data
// pages are reported as damage, never followed blindly.
#include <cstring>
#include <set>

#include <gtest/gtest.h>

#include "source/jet_format.h"
#include "tests/source/engine_test_util.h"
#include "tests/support/test_support.h"
#include "tools/accesswriter/access_writer.h"

namespace aw = accesswriter;

namespace {

constexpr int kRecords = 400;  // several data pages of records

uint16_t get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t get32(const std::string& b, size_t at) { return get16(b, at) | (static_cast<uint32_t>(get16(b, at + 2)) << 16); }
void put16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

// A table "T" of records 1..kRecords, each with a text long enough to spread them over pages.
std::string writeTable(const std::filesystem::path& path, aw::Format format) {
  std::vector<aw::Row> rows;
  for (int i = 1; i <= kRecords; ++i) rows.push_back({int64_t{i}, "record " + std::to_string(i) + std::string(40, 'x')});
  aw::Options options;
  options.format = format;
  aw::writeDatabase(path, options, {aw::Table{"T", {{"N", aw::FieldType::Long}, {"Text", aw::FieldType::Text}}, aw::rowsFrom(rows)}});
  return testsupport::readFileBytes(path);
}

// The data pages that hold table T's records, in file order.
std::vector<uint32_t> dataPagesOfT(const std::string& file) {
  std::vector<uint32_t> pages;
  for (uint32_t p = 1; (p + 1) * jetfmt::kPageSize <= file.size(); ++p) {
    size_t at = size_t{p} * jetfmt::kPageSize;
    if (static_cast<uint8_t>(file[at]) != jetfmt::kPageData) continue;
    uint32_t owner = get32(file, at + jetfmt::kDpOwner);
    // Page 1 holds the usage maps (owner 0); the catalog's records belong to its definition page.
    if (owner == 0 || owner == jetfmt::kCatalogPage || std::memcmp(&file[at + jetfmt::kDpOwner], jetfmt::kLvalTag, 4) == 0) continue;
    pages.push_back(p);
  }
  return pages;
}

size_t rowOffsetAt(uint32_t page, unsigned row) { return size_t{page} * jetfmt::kPageSize + jetfmt::kDpRowOffsets + 2 * row; }
size_t rowStart(const std::string& file, uint32_t page, unsigned row) {
  return size_t{page} * jetfmt::kPageSize + (get16(file, rowOffsetAt(page, row)) & jetfmt::kRowOffsetMask);
}

// The N of every record the engine returns, in order; or the damage it reports.
std::vector<int64_t> recordNumbers(const std::filesystem::path& path, std::string* damage = nullptr) {
  std::vector<int64_t> out;
  try {
    auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path.string());
    for (const auto& row : enginetest::readAll(*db, "T")) out.push_back(row[0].integer);
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find(path.string()), std::string::npos) << e.description();
    if (damage) *damage = e.description();
  }
  return out;
}

// The records 1..kRecords in order, without the ones named.
std::vector<int64_t> allBut(std::set<int64_t> left) {
  std::vector<int64_t> out;
  for (int64_t i = 1; i <= kRecords; ++i)
    if (!left.count(i)) out.push_back(i);
  return out;
}

class RowWalk : public ::testing::TestWithParam<aw::Format> {};

TEST_P(RowWalk, DeletedRowsAreNoRecords) {
  testsupport::ScratchDir dir;
  auto path = dir / "deleted.mdb";
  std::string file = writeTable(path, GetParam());
  auto pages = dataPagesOfT(file);
  ASSERT_GE(pages.size(), 3u);
  // The third record and the first record of the second page are deleted; their bytes stay.
  unsigned firstPageRows = get16(file, size_t{pages[0]} * jetfmt::kPageSize + jetfmt::kDpRowCount);
  put16(file, rowOffsetAt(pages[0], 2), get16(file, rowOffsetAt(pages[0], 2)) | jetfmt::kRowNotARecord);
  put16(file, rowOffsetAt(pages[1], 0), get16(file, rowOffsetAt(pages[1], 0)) | jetfmt::kRowNotARecord);
  testsupport::writeFileBytes(path, file);
  EXPECT_EQ(recordNumbers(path), allBut({3, static_cast<int64_t>(firstPageRows) + 1}));
}

TEST_P(RowWalk, AnOverflowedRecordStandsWhereItsPointerIs) {
  testsupport::ScratchDir dir;
  auto path = dir / "overflow.mdb";
  std::string file = writeTable(path, GetParam());
  auto pages = dataPagesOfT(file);
  ASSERT_GE(pages.size(), 3u);
  unsigned firstPageRows = get16(file, size_t{pages[0]} * jetfmt::kPageSize + jetfmt::kDpRowCount);
  unsigned secondPageRows = get16(file, size_t{pages[1]} * jetfmt::kPageSize + jetfmt::kDpRowCount);
  // Record 2 grew: its data moved to the row of record 5 on the same page, and record 1's data
  // moved to the last row of the third page. The moved rows are no records where they stand.
  auto pointTo = [&](uint32_t fromPage, unsigned fromRow, uint32_t toPage, unsigned toRow) {
    size_t at = rowStart(file, fromPage, fromRow);
    file[at + jetfmt::kOverflowRow] = static_cast<char>(toRow);
    file[at + jetfmt::kOverflowPage] = static_cast<char>(toPage & 0xFF);
    file[at + jetfmt::kOverflowPage + 1] = static_cast<char>((toPage >> 8) & 0xFF);
    file[at + jetfmt::kOverflowPage + 2] = static_cast<char>(toPage >> 16);
    put16(file, rowOffsetAt(fromPage, fromRow), get16(file, rowOffsetAt(fromPage, fromRow)) | jetfmt::kRowOverflow);
    put16(file, rowOffsetAt(toPage, toRow), get16(file, rowOffsetAt(toPage, toRow)) | jetfmt::kRowNotARecord);
  };
  unsigned thirdPageRows = get16(file, size_t{pages[2]} * jetfmt::kPageSize + jetfmt::kDpRowCount);
  pointTo(pages[0], 1, pages[0], 4);
  pointTo(pages[0], 0, pages[2], thirdPageRows - 1);
  testsupport::writeFileBytes(path, file);
  int64_t lastOfThird = firstPageRows + secondPageRows + thirdPageRows;
  std::vector<int64_t> want = allBut({1, 2, 5, lastOfThird});
  want.insert(want.begin(), {lastOfThird, 5});
  EXPECT_EQ(recordNumbers(path), want);
}

TEST_P(RowWalk, PointersThatLoopOrLeaveTheTableAreDamage) {
  testsupport::ScratchDir dir;
  auto path = dir / "pointers.mdb";
  const std::string original = writeTable(path, GetParam());
  auto pages = dataPagesOfT(original);
  ASSERT_GE(pages.size(), 2u);
  struct Case {
    uint32_t page;
    unsigned row;
    const char* says;
  };
  for (Case c : {Case{pages[0], 0, "loop"}, Case{0, 0, "outside the file"},
                 Case{jetfmt::kCatalogPage, 0, "holds none of the table's records"},
                 Case{static_cast<uint32_t>(original.size() / jetfmt::kPageSize) + 5, 0, "outside the file"},
                 Case{pages[1], 250, "leads to no row"}}) {
    SCOPED_TRACE(c.says);
    std::string file = original;
    size_t at = rowStart(file, pages[0], 0);
    file[at + jetfmt::kOverflowRow] = static_cast<char>(c.row);
    file[at + jetfmt::kOverflowPage] = static_cast<char>(c.page & 0xFF);
    file[at + jetfmt::kOverflowPage + 1] = static_cast<char>((c.page >> 8) & 0xFF);
    file[at + jetfmt::kOverflowPage + 2] = static_cast<char>(c.page >> 16);
    put16(file, rowOffsetAt(pages[0], 0), get16(file, rowOffsetAt(pages[0], 0)) | jetfmt::kRowOverflow);
    testsupport::writeFileBytes(path, file);
    std::string damage;
    EXPECT_TRUE(recordNumbers(path, &damage).empty());
    EXPECT_NE(damage.find("damaged"), std::string::npos) << damage;
    EXPECT_NE(damage.find(c.says), std::string::npos) << damage;
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, RowWalk, ::testing::Values(aw::Format::Jet4, aw::Format::Ace12),
                         [](const auto& info) { return info.param == aw::Format::Jet4 ? "Jet4" : "Ace12"; });

}  // namespace
