// The compound file around an .xls workbook: a save rewrites only the root Workbook stream, the
// shared-string table is laid out whole again each time, and books extended again and again stay
// readable by xlrd, openpyxl and LibreOffice.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/workbook/read_back.h"
#include "workbook/xls/compound_file.h"
#include "workbook/xls/records.h"

namespace fs = std::filesystem;
using wbtest::Book;

namespace {

std::string compoundTool() { return (testsupport::projectRoot() / "tests" / "support" / "compound_file.py").string(); }

nlohmann::json listStreams(const fs::path& file) {
  auto r = testsupport::runCommand({testsupport::python(), compoundTool(), "list", file.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.exitCode == 0 ? nlohmann::json::parse(r.out) : nlohmann::json::object();
}

// A one-sheet .xls of our own, and its Workbook stream as a file of its own.
fs::path bookStream(const testsupport::ScratchDir& dir, const std::string& sheet, double value) {
  fs::path book = dir / (sheet + ".xls"), stream = dir / (sheet + ".stream");
  Book b(xlCreateBookCA());
  xlSheetWriteNumA(xlBookAddSheetA(b, sheet.c_str(), nullptr), 0, 0, value, nullptr);
  EXPECT_EQ(xlBookSaveA(b, book.c_str()), 1);
  auto r = testsupport::runCommand({testsupport::python(), compoundTool(), "read", book.string(), "Workbook"});
  testsupport::writeFileBytes(stream, r.out);
  return stream;
}

fs::path bytesFile(const testsupport::ScratchDir& dir, const std::string& name, size_t size, char seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + (i >> 8));
  fs::path file = dir / name;
  testsupport::writeFileBytes(file, bytes);
  return file;
}

wbtest::ReadCell at(wbtest::ReadSheet& sheet, int row, int col) { return sheet.cells[{row, col}]; }
wbtest::ReadCell at(std::map<std::pair<int, int>, wbtest::ReadCell>& cells, int row, int col) { return cells[{row, col}]; }

// The records of the root Workbook stream, by our own compound file reader.
std::vector<uint16_t> recordTypes(const fs::path& file, std::string* stream = nullptr) {
  xls::CompoundFile cf;
  std::string error, data;
  EXPECT_TRUE(xls::openCompoundFile(file.string(), 1u << 30, cf, error)) << error;
  int entry = xls::findRootStream(cf, "Workbook");
  EXPECT_GE(entry, 0);
  if (entry < 0 || !xls::readStream(cf, static_cast<size_t>(entry), data, error)) return {};
  std::vector<uint16_t> types;
  xls::RecordView r;
  for (size_t off = 0; xls::readRecord(data, off, r); off += 4 + r.body.size()) types.push_back(r.type);
  if (stream) *stream = data;
  return types;
}

}  // namespace

TEST(XlsContainer, OtherStreamsAndStoragesAreKeptByteForByte) {
  testsupport::ScratchDir dir;
  // A workbook with a VBA project, an embedded workbook (whose own Workbook stream must never be
  // taken for the root's), summary information and a custom stream, small and large alike.
  fs::path source = dir / "source.xls";
  std::vector<std::string> parts = {
      "Workbook=" + bookStream(dir, "Root", 1).string(),
      "MBD0012AB34/Workbook=" + bookStream(dir, "Embedded", 2).string(),
      "MBD0012AB34/\x01Ole=" + bytesFile(dir, "ole", 20, 1).string(),
      "MBD0012AB34/\x03ObjInfo=" + bytesFile(dir, "objinfo", 6, 2).string(),
      "_VBA_PROJECT_CUR/VBA/dir=" + bytesFile(dir, "dir", 623, 3).string(),
      "_VBA_PROJECT_CUR/VBA/Module1=" + bytesFile(dir, "module", 9000, 4).string(),
      "_VBA_PROJECT_CUR/PROJECT=" + bytesFile(dir, "project", 400, 5).string(),
      "\x05SummaryInformation=" + bytesFile(dir, "summary", 248, 6).string(),
      "CustomData=" + bytesFile(dir, "custom", 5000, 7).string()};
  std::vector<std::string> argv{testsupport::python(), compoundTool(), "build", source.string()};
  argv.insert(argv.end(), parts.begin(), parts.end());
  auto r = testsupport::runCommand(argv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  nlohmann::json before = listStreams(source);

  fs::path out = dir / "out.xls";
  fs::copy_file(source, out);
  for (int round = 0; round < 2; ++round) {
    Book book(xlCreateBookCA());
    ASSERT_EQ(xlBookLoadA(book, out.c_str()), 1) << xlBookErrorMessageA(book);
    ASSERT_EQ(xlBookSheetCountA(book), 1 + round);
    EXPECT_STREQ(xlSheetNameA(xlBookGetSheetA(book, 0)), "Root");
    SheetHandle s = xlBookAddSheetA(book, ("New" + std::to_string(round)).c_str(), nullptr);
    xlSheetWriteStrA(s, 0, 0, "added", nullptr);
    xlSheetWriteNumA(s, 1, 0, 42, nullptr);
    ASSERT_EQ(xlBookSaveA(book, out.c_str()), 1) << xlBookErrorMessageA(book);
  }
  nlohmann::json after = listStreams(out);
  for (auto& [path, entry] : before.items()) {
    if (path == "Workbook") continue;
    EXPECT_EQ(after[path], entry) << path;
  }
  EXPECT_EQ(after.size(), before.size());
  EXPECT_NE(after["Workbook"], before["Workbook"]);
  auto sheets = wbtest::readBack(out);
  ASSERT_EQ(sheets.size(), 3u);
  EXPECT_EQ(sheets[0].name, "Root");
  EXPECT_EQ(at(sheets[0], 0, 0).number, 1);
  EXPECT_EQ(sheets[2].name, "New1");
  EXPECT_EQ(at(sheets[2], 0, 0).text, "added");
}

TEST(XlsContainer, BooksExtendedAgainAndAgainStayReadable) {
  testsupport::ScratchDir dir;
  for (bool xml : {false, true}) {
    SCOPED_TRACE(xml ? "xlsx" : "xls");
    fs::path file = dir / (xml ? "grow.xlsx" : "grow.xls");
    {
      Book b(xml ? xlCreateXMLBookCA() : xlCreateBookCA());
      xlSheetWriteNumA(xlBookAddSheetA(b, "Start", nullptr), 0, 0, 0, nullptr);
      ASSERT_EQ(xlBookSaveA(b, file.c_str()), 1);
    }
    // Numbers first (the shared-string table of the .xls stays empty), then texts, then texts
    // long enough that the table passes one record's size.
    const int kRounds = 7;
    for (int round = 0; round < kRounds; ++round) {
      Book b(xml ? xlCreateXMLBookCA() : xlCreateBookCA());
      ASSERT_EQ(xlBookLoadA(b, file.c_str()), 1) << xlBookErrorMessageA(b);
      SheetHandle start = xlBookGetSheetA(b, 0);
      int row = xlSheetLastRowA(start);
      SheetHandle s = xlBookAddSheetA(b, ("R" + std::to_string(round)).c_str(), nullptr);
      for (int i = 0; i < 20; ++i) {
        if (round < 2) {
          xlSheetWriteNumA(s, i, 0, round * 100 + i, nullptr);
        } else {
          std::string text = "r" + std::to_string(round) + "-" + std::to_string(i);
          if (round >= 5) text += std::string(900, static_cast<char>('a' + i % 26)) + "ü";
          xlSheetWriteStrA(s, i, 0, text.c_str(), nullptr);
        }
      }
      xlSheetWriteStrA(start, row, 0, ("appended " + std::to_string(round)).c_str(), nullptr);
      ASSERT_EQ(xlBookSaveA(b, file.c_str()), 1) << xlBookErrorMessageA(b);
    }
    auto sheets = wbtest::readBack(file);  // xlrd or openpyxl
    ASSERT_EQ(sheets.size(), 1u + kRounds);
    for (int round = 0; round < kRounds; ++round) {
      auto& cells = sheets[1 + round].cells;
      for (int i = 0; i < 20; i += 7) {
        if (round < 2) {
          EXPECT_EQ(at(cells, i, 0).number, round * 100 + i);
        } else {
          std::string text = "r" + std::to_string(round) + "-" + std::to_string(i);
          if (round >= 5) text += std::string(900, static_cast<char>('a' + i % 26)) + "ü";
          EXPECT_EQ(at(cells, i, 0).text, text) << round << " " << i;
        }
      }
      EXPECT_EQ(at(sheets[0], 1 + round, 0).text, "appended " + std::to_string(round));
    }
    if (!xml) {
      // One SST record while the table fits in it; CONTINUE records only past the record size.
      std::string stream;
      auto types = recordTypes(file, &stream);
      auto sst = std::find(types.begin(), types.end(), xls::kSst);
      ASSERT_NE(sst, types.end());
      size_t continues = 0;
      for (auto t = sst + 1; t != types.end() && *t == xls::kContinue; ++t) ++continues;
      EXPECT_GE(continues, 1u);  // the long texts of the last rounds pass 8,224 bytes
      EXPECT_EQ(std::count(types.begin(), types.end(), xls::kSst), 1);
      EXPECT_EQ(std::count(types.begin(), types.end(), xls::kExtSst), 1);
    }
  }
  // LibreOffice opens both, in one start of it.
  std::vector<std::string> args{testsupport::python(),
                                (testsupport::projectRoot() / "tests" / "support" / "calc_read.py").string(),
                                "--max-rows", "30"};
  for (const char* name : {"grow.xls", "grow.xlsx"}) args.push_back((dir / name).string());
  auto r = testsupport::runCommand(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto seen = nlohmann::json::parse(r.out);
  for (const char* name : {"grow.xls", "grow.xlsx"}) {
    SCOPED_TRACE(name);
    auto calc = seen[(dir / name).string()];
    ASSERT_FALSE(calc.contains("error")) << calc["error"];
    ASSERT_EQ(calc["sheets"].size(), 8u);
    EXPECT_EQ(calc["sheets"][3]["rows"][0][0]["s"], "r2-0");
    EXPECT_EQ(calc["sheets"][1]["rows"][19][0]["n"], 19);
    EXPECT_EQ(calc["sheets"][0]["rows"][7][0]["s"], "appended 6");
  }
}

TEST(XlsContainer, FirstTextsOfALoadedBookGoIntoOneSstRecord) {
  testsupport::ScratchDir dir;
  fs::path file = dir / "numbers.xls";
  {
    Book b(xlCreateBookCA());
    xlSheetWriteNumA(xlBookAddSheetA(b, "N", nullptr), 0, 0, 1, nullptr);
    ASSERT_EQ(xlBookSaveA(b, file.c_str()), 1);
  }
  {
    Book b(xlCreateBookCA());
    ASSERT_EQ(xlBookLoadA(b, file.c_str()), 1);
    xlSheetWriteStrA(xlBookAddSheetA(b, "T", nullptr), 0, 0, "first text", nullptr);
    ASSERT_EQ(xlBookSaveA(b, file.c_str()), 1);
  }
  auto types = recordTypes(file);
  auto sst = std::find(types.begin(), types.end(), xls::kSst);
  ASSERT_NE(sst, types.end());
  EXPECT_NE(sst[1], xls::kContinue);
  auto sheets = wbtest::readBack(file);
  ASSERT_EQ(sheets.size(), 2u);
  EXPECT_EQ(at(sheets[1], 0, 0).text, "first text");
}
