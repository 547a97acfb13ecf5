// Every real Access file of the shared test data converts into both formats, and every cell read
// back by an independent workbook reader equals what mdb-reader reads from the database.
#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <sstream>

#include "job/conversion_job.h"
#include "tests/job/fixtures.h"

using namespace jobtest;

namespace {

struct ManifestEntry {
  std::string file, format, password;
};

std::vector<ManifestEntry> readManifest(const std::filesystem::path& dir) {
  std::vector<ManifestEntry> entries;
  std::ifstream in(dir / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, '\t');) cols.push_back(col);
    if (cols.size() >= 3) entries.push_back({cols[0], cols[1], cols[2]});
  }
  return entries;
}

double nearestDouble(const std::string& text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// Cuts text to the 32,767 UTF-16 units a cell holds.
std::string cellText(const std::string& text) {
  size_t units = 0, i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    size_t add = len == 4 ? 2 : 1;
    if (units + add > 32767) break;
    units += add;
    i += len;
  }
  return text.substr(0, i);
}

// The cell that the converter writes for a value as mdb-reader encodes it; "skip" for values whose
// text is the converter's own choice (attachments).
nlohmann::json expectedCell(const nlohmann::json& v, const std::string& type) {
  if (v.is_null()) return nullptr;
  if (v.is_boolean()) return boolean(v.get<bool>());
  if (v.is_number()) return num(v.get<double>());
  if (v.is_string()) return str(cellText(v.get<std::string>()));
  if (v.contains("decimal")) return num(nearestDouble(v["decimal"]));
  if (v.contains("bigint")) return num(nearestDouble(v["bigint"]));
  if (v.contains("bytes")) {
    std::string hex = v["bytes"];
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return str(cellText(hex));
  }
  if (v.contains("date")) {
    std::string iso = v["date"];  // 1974-09-21T13:05:00.000Z, as the C locale writes it
    std::string date = iso.substr(0, 10), time = iso.substr(11, 8);
    if (date == "1899-12-30") return str(time);
    return str(time == "00:00:00" ? date : date + " " + time);
  }
  (void)type;
  return "skip";
}

}  // namespace

TEST(SharedFiles, EveryFileThatOpensConvertsCellForCell) {
  REQUIRE_SHARED_ACCESS_DATA();
  setenv("LC_ALL", "C", 1);
  auto dir = testsupport::sharedAccessData();
  testsupport::ScratchDir out;
  int converted = 0;
  for (const ManifestEntry& entry : readManifest(dir)) {
    SCOPED_TRACE(entry.file);
    ConversionOptions o;
    o.sourcePath = (dir / entry.file).string();
    o.password = entry.password;
    if (OpenSourceDatabase(nullptr, &o, "") != 0) {
      // Only the encrypted kinds may still be out of reach of the engine.
      EXPECT_NE(entry.format.find("encrypted"), std::string::npos) << entry.file << " did not open";
      continue;
    }
    auto reference = testsupport::mdbReaderDump(dir / entry.file, entry.password);
    if (reference["tables"].empty()) {
      // No table, no sheet: a workbook needs at least one, so there is nothing to save.
      o.outputPath = (out / (entry.file + ".xlsx")).string();
      o.bookType = 1;
      std::string err = capturedStderr([&] { EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::NotSaved); });
      EXPECT_EQ(err, "Error: Cannot save XLS file.\n" + o.outputPath + ": a workbook needs at least one sheet\n");
      EXPECT_FALSE(std::filesystem::exists(o.outputPath));
      ++converted;
      continue;
    }
    for (int bookType : {0, 1}) {
      o.bookType = bookType;
      o.overwriteFile = 1;
      o.outputPath = (out / (entry.file + (bookType ? ".xlsx" : ".xls"))).string();
      EXPECT_EQ(RunConversionJob(nullptr, &o), JobOutcome::Saved);
      auto book = testsupport::readWorkbook(o.outputPath);
      ASSERT_EQ(book.size(), reference["tables"].size());
      for (size_t t = 0; t < book.size(); ++t) {
        const auto& table = reference["tables"][t];
        const auto& rows = book[t]["rows"];
        EXPECT_EQ(book[t]["name"], table["name"]);
        ASSERT_EQ(rows.size(), table["rows"].size() + 1) << table["name"];
        for (size_t c = 0; c < table["columns"].size(); ++c)
          EXPECT_EQ(rows[0][c], str(table["columns"][c]["name"]));
        for (size_t r = 0; r < table["rows"].size(); ++r) {
          nlohmann::json expected = nlohmann::json::array();
          for (size_t c = 0; c < table["columns"].size(); ++c) {
            nlohmann::json cell = expectedCell(table["rows"][r][c], table["columns"][c]["type"]);
            if (cell == "skip") {
              // An attachment field's text is the converter's own; it must still be a text or empty.
              const auto& got = c < rows[r + 1].size() ? rows[r + 1][c] : nlohmann::json();
              EXPECT_TRUE(got.is_null() || got.contains("s")) << got;
              cell = got;
            }
            expected.push_back(cell);
          }
          while (!expected.empty() && expected.back().is_null()) expected.erase(expected.size() - 1);
          EXPECT_EQ(rows[r + 1], expected) << table["name"] << " row " << r;
        }
      }
    }
    ++converted;
  }
  EXPECT_GE(converted, 14);
}
