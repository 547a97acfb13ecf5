// The compound file around an .xls workbook: a save rewrites only the root Workbook stream, the
// shared-string table and its index are whole and right each time, and books extended again and
// again stay readable by xlrd, openpyxl and LibreOffice.
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

namespace {

// Where each string of a stream's shared-string table starts: from the start of the stream and
// from the start of the record that holds it. Walks the SST record and its CONTINUE records the
// way a reader does: characters that run on into a record are preceded by a high-byte flag, the
// rest (headers, rich text runs, phonetic data) simply goes on.
struct StringStart {
  uint64_t inStream;
  uint16_t inRecord;
};
std::vector<StringStart> sharedStringStarts(const std::string& stream, uint32_t& total, uint32_t& unique) {
  std::vector<xls::RecordView> recs;
  xls::RecordView r;
  for (size_t off = 0; xls::readRecord(stream, off, r); off += 4 + r.body.size()) {
    if (r.type == xls::kSst || (!recs.empty() && r.type == xls::kContinue)) recs.push_back(r);
    else if (!recs.empty()) break;
  }
  std::vector<StringStart> starts;
  if (recs.empty() || recs[0].body.size() < 8) return starts;
  total = le::get32(recs[0].body.data());
  unique = le::get32(recs[0].body.data() + 4);
  size_t rec = 0, pos = 8;
  auto body = [&] { return recs[rec].body; };
  auto nextRecord = [&] { return ++rec < recs.size() ? (pos = 0, true) : false; };
  auto skip = [&](size_t n) {
    while (n) {
      if (pos == body().size() && !nextRecord()) return false;
      size_t take = std::min(n, body().size() - pos);
      pos += take;
      n -= take;
    }
    return true;
  };
  auto byte = [&](uint8_t& b) {
    if (pos == body().size() && !nextRecord()) return false;
    b = static_cast<uint8_t>(body()[pos++]);
    return true;
  };
  for (uint32_t i = 0; i < unique; ++i) {
    if (pos == body().size() && !nextRecord()) break;
    starts.push_back({recs[rec].offset + 4 + pos, static_cast<uint16_t>(4 + pos)});
    uint8_t lo, hi, flags;
    if (!byte(lo) || !byte(hi) || !byte(flags)) break;
    size_t left = lo | hi << 8, runs = 0, ext = 0;
    uint8_t b[4];
    if (flags & 0x08) {
      if (!byte(b[0]) || !byte(b[1])) break;
      runs = b[0] | b[1] << 8;
    }
    if (flags & 0x04) {
      for (uint8_t& x : b)
        if (!byte(x)) return starts;
      ext = b[0] | b[1] << 8 | b[2] << 16 | static_cast<size_t>(b[3]) << 24;
    }
    bool wide = flags & 0x01;
    while (left) {
      if (pos == body().size()) {
        uint8_t flag;
        if (!nextRecord() || !byte(flag)) return starts;
        wide = flag & 0x01;
      }
      size_t unit = wide ? 2 : 1, take = std::min(left, (body().size() - pos) / unit);
      if (take == 0) return starts;
      pos += take * unit;
      left -= take;
    }
    if (!skip(runs * 4 + ext)) break;
  }
  return starts;
}

}  // namespace

// The EXTSST index: at most 128 entries, each pointing at the first string of its bucket, for
// tables of a few strings, of thousands, and for a loaded table extended with more, with long
// and wide strings that run on over record boundaries.
TEST(XlsContainer, TheStringIndexPointsAtTheFirstStringOfEachBucket) {
  testsupport::ScratchDir dir;
  fs::path file = dir / "strings.xls";
  auto text = [](int i) {
    std::string t = "s" + std::to_string(i);
    if (i % 97 == 0) t += std::string(3000 + i % 500, 'x');  // runs on into a CONTINUE record
    if (i % 13 == 0) t += "\xE2\x82\xAC\xF0\x9F\x98\x80";    // wide: a euro sign and a surrogate pair
    return t;
  };
  struct Step { int from, to; bool load; };
  for (Step step : {Step{0, 5, false}, Step{5, 3000, true}, Step{3000, 20000, true}}) {
    SCOPED_TRACE(step.to);
    Book b(xlCreateBookCA());
    if (step.load) {
      ASSERT_EQ(xlBookLoadA(b, file.c_str()), 1) << xlBookErrorMessageA(b);
    }
    SheetHandle s = xlBookAddSheetA(b, ("S" + std::to_string(step.to)).c_str(), nullptr);
    for (int i = step.from; i < step.to; ++i) xlSheetWriteStrA(s, i - step.from, 0, text(i).c_str(), nullptr);
    ASSERT_EQ(xlBookSaveA(b, file.c_str()), 1) << xlBookErrorMessageA(b);

    std::string stream;
    auto types = recordTypes(file, &stream);
    uint32_t total = 0, unique = 0;
    auto starts = sharedStringStarts(stream, total, unique);
    EXPECT_EQ(unique, static_cast<uint32_t>(step.to));
    EXPECT_EQ(total, static_cast<uint32_t>(step.to));
    ASSERT_EQ(starts.size(), static_cast<size_t>(step.to));
    EXPECT_EQ(static_cast<size_t>(std::count(types.begin(), types.end(), xls::kLabelSst)), starts.size());

    xls::RecordView r;
    std::string_view ext;
    for (size_t off = 0; xls::readRecord(stream, off, r); off += 4 + r.body.size())
      if (r.type == xls::kExtSst) ext = r.body;
    ASSERT_GE(ext.size(), 2u);
    uint16_t perBucket = le::get16(ext.data());
    EXPECT_GE(perBucket, 8u);
    size_t buckets = (ext.size() - 2) / 8;
    EXPECT_EQ(buckets, (starts.size() + perBucket - 1) / perBucket);
    EXPECT_LE(buckets, 128u);
    for (size_t k = 0; k < buckets; ++k) {
      const StringStart& first = starts[k * perBucket];
      EXPECT_EQ(le::get32(ext.data() + 2 + 8 * k), first.inStream) << "bucket " << k;
      EXPECT_EQ(le::get16(ext.data() + 6 + 8 * k), first.inRecord) << "bucket " << k;
    }
  }
  auto sheets = wbtest::readBack(file);
  ASSERT_EQ(sheets.size(), 3u);
  EXPECT_EQ(at(sheets[2], 16999, 0).text, text(19999));
  EXPECT_EQ(at(sheets[1], 2994, 0).text, text(2999));
  EXPECT_EQ(at(sheets[0], 4, 0).text, text(4));
}
