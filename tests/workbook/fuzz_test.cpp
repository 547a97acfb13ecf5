// Damaged files: mutated copies of valid books are loaded (and, when they load, extended and
// saved). Nothing may crash, and a failed load leaves the book as it was. Seeds are fixed.
#include <algorithm>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "platform/compound_file_format.h"
#include "tests/support/test_support.h"
#include "tests/workbook/read_back.h"

using wbtest::Book;

namespace {

uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}

void put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

void makeValid(bool xml, const std::filesystem::path& file) {
  Book book(xml ? xlCreateXMLBookCA() : xlCreateBookCA());
  for (int k = 0; k < 2; ++k) {
    SheetHandle s = xlBookAddSheetA(book, k ? "Second" : "First", nullptr);
    for (int r = 0; r < 30; ++r) {
      xlSheetWriteNumA(s, r, 0, r * 1.25, nullptr);
      xlSheetWriteStrA(s, r, 1, ("text " + std::to_string(r)).c_str(), nullptr);
      xlSheetWriteBoolA(s, r, 2, r & 1, nullptr);
    }
  }
  ASSERT_EQ(xlBookSaveA(book, file.c_str()), 1) << xlBookErrorMessageA(book);
}

std::string mutate(const std::string& in, std::mt19937& rng) {
  std::string s = in;
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  switch (pick(4)) {
    case 0:  // cut short
      s.resize(pick(s.size()));
      break;
    case 1: {  // a run of random bytes inserted
      std::string junk(1 + pick(64), '\0');
      for (char& c : junk) c = static_cast<char>(pick(256));
      s.insert(pick(s.size()), junk);
      break;
    }
    default:  // a few bytes changed, often into extreme values
      for (size_t n = 1 + pick(8); n; --n) {
        static const char extremes[] = {'\0', '\xFF', '\x7F', '\x80'};
        s[pick(s.size())] = pick(2) ? extremes[pick(4)] : static_cast<char>(pick(256));
      }
  }
  return s;
}

void fuzz(bool xml, const std::filesystem::path& valid, unsigned seed, int rounds) {
  // QUARLEX_FUZZ_ROUNDS runs longer by hand; the suite keeps to the bounded default.
  if (const char* more = std::getenv("QUARLEX_FUZZ_ROUNDS")) rounds = std::max(rounds, std::atoi(more));
  testsupport::ScratchDir dir;
  std::string bytes = testsupport::readFileBytes(valid);
  std::mt19937 rng(seed);
  int loaded = 0;
  for (int i = 0; i < rounds; ++i) {
    auto file = dir / (xml ? "m.xlsx" : "m.xls");
    testsupport::writeFileBytes(file, mutate(bytes, rng));
    Book book(xml ? xlCreateXMLBookCA() : xlCreateBookCA());
    SheetHandle mine = xlBookAddSheetA(book, "Mine", nullptr);
    if (!xlBookLoadA(book, file.c_str())) {
      ASSERT_EQ(xlBookSheetCountA(book), 1) << "round " << i;
      ASSERT_EQ(xlBookGetSheetA(book, 0), mine) << "round " << i;
      continue;
    }
    ++loaded;
    for (int k = 0; k < xlBookSheetCountA(book); ++k) {
      SheetHandle s = xlBookGetSheetA(book, k);
      xlSheetWriteStrA(s, xlSheetLastRowA(s), 0, "added", nullptr);
    }
    if (xlBookSheetCountA(book) > 1) xlBookDelSheetA(book, 0);
    xlBookAddSheetA(book, "Added", nullptr);
    const auto saved = dir / (xml ? "out.xlsx" : "out.xls");
    if (!xlBookSaveA(book, saved.c_str())) continue;
    // What was saved loads again.
    Book again(xml ? xlCreateXMLBookCA() : xlCreateBookCA());
    ASSERT_TRUE(xlBookLoadA(again, saved.c_str())) << "round " << i << ": " << xlBookErrorMessageA(again);
  }
  ::testing::Test::RecordProperty("loaded", loaded);
}

TEST(XlsxFuzz, MutatedPackagesNeitherCrashNorChangeTheBook) {
  testsupport::ScratchDir dir;
  auto valid = dir / "valid.xlsx";
  makeValid(true, valid);
  fuzz(true, valid, 20240601, 300);
  // The same package with its entries stored, not compressed, so the damage reaches the XML.
  auto stored = dir / "stored.xlsx";
  testsupport::runPython(R"PY(
import sys, zipfile
src = zipfile.ZipFile(sys.argv[1])
with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_STORED) as out:
    for n in src.namelist():
        out.writestr(n, src.read(n))
)PY", {valid.string(), stored.string()});
  fuzz(true, stored, 7, 300);
}

TEST(XlsFuzz, MutatedCompoundFilesNeitherCrashNorChangeTheBook) {
  testsupport::ScratchDir dir;
  auto valid = dir / "valid.xls";
  makeValid(false, valid);
  fuzz(false, valid, 1234, 400);

  // A fuzzer's finding: the root's tree reached the Workbook stream only through a free entry,
  // which a save drops, so the saved book had no Workbook stream. Such a directory is refused.
  std::string bytes = testsupport::readFileBytes(valid);
  const size_t directory = (le32(bytes, cfb::kHdrFirstDirectorySector) + 1) * cfb::kHeaderSize;
  ASSERT_EQ(static_cast<uint8_t>(bytes[directory + 2 * cfb::kEntrySize + cfb::kDirType]), cfb::kEmpty);
  put32(bytes, directory + cfb::kDirChild, 2);                            // root -> free entry 2
  put32(bytes, directory + 2 * cfb::kEntrySize + cfb::kDirLeft, 1);       // free entry -> Workbook
  const auto damaged = dir / "through-free.xls";
  testsupport::writeFileBytes(damaged, bytes);
  Book book(xlCreateBookCA());
  if (xlBookLoadA(book, damaged.c_str())) {
    ASSERT_TRUE(xlBookSaveA(book, (dir / "resaved.xls").c_str())) << xlBookErrorMessageA(book);
    Book again(xlCreateBookCA());
    EXPECT_TRUE(xlBookLoadA(again, (dir / "resaved.xls").c_str())) << xlBookErrorMessageA(again);
  } else {
    EXPECT_STREQ(xlBookErrorMessageA(book), (damaged.string() + ": not an .xls workbook (no Workbook stream)").c_str());
  }
}

}  // namespace
