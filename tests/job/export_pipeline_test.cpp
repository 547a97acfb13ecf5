// The export reads records on a thread of its own: what a user sees must stay that of reading them
// one by one on the job's thread (cancel at a record, counters, an engine failure mid-table).
#include <gtest/gtest.h>

#include "job/conversion_job.h"
#include "platform/owner_window.h"
#include "source/engine.h"
#include "tests/job/fixtures.h"
#include "workbook/export/table_export.h"

using namespace jobtest;
namespace aw = accesswriter;

namespace {

// A progress page that records what it is shown and presses Cancel at a given step.
struct RecordingWindow : OwnerWindow {
  ConversionOptions* options;
  int cancelAtStep;
  int steps = 0;
  std::vector<std::string> messages;
  RecordingWindow(ConversionOptions* o, int step) : options(o), cancelAtStep(step) {}
  void showMessage(const std::string& text, const std::string&, MessageIcon) override { messages.push_back(text); }
  void setControlText(int, const std::string&) override {}
  void setProgressRange(int, int32_t, int32_t) override {}
  void setProgressStep(int, int32_t) override {}
  void stepProgress(int) override {
    if (++steps == cancelAtStep) options->cancelRequested = 1;
  }
  void repaint() override {}
};

// A table "Broken" of a number and a memo per record, whose record `broken` has its memo's
// length damaged so that the engine fails on it; then a good table "After".
std::filesystem::path brokenDatabase(const std::filesystem::path& file, int records, int broken) {
  auto next = std::make_shared<int>(0);
  aw::Table table{"Broken", {{"N", FieldType::Long}, {"Note", FieldType::Memo}}, [=](aw::Row& row) {
                    if (*next >= records) return false;
                    int n = (*next)++;
                    row = {aw::Value(int64_t{n}), aw::Value(n == broken ? std::string("BROKEN-RECORD")
                                                                     : "note " + std::to_string(n))};
                    return true;
                  }};
  aw::Options options;
  options.compressText = false;  // the memo's characters stand as UTF-16 in the file
  aw::writeDatabase(file, options, {table, countingTable("After", 3)});
  std::string bytes = testsupport::readFileBytes(file);
  std::string marker;
  for (char c : std::string("BROKEN-RECORD")) marker += std::string{c, '\0'};
  size_t at = bytes.find(marker);
  if (at == std::string::npos || at < 12 || bytes.find(marker, at + 1) != std::string::npos) return {};
  // An inline long value: 3 bytes of length, a flag byte and 8 more before the characters.
  bytes[at - 12] = '\xFF';
  bytes[at - 11] = '\xFF';
  bytes[at - 10] = '\x7F';
  testsupport::writeFileBytes(file, bytes);
  return file;
}

// What reading the table record by record on this thread gives, as the export would write it:
// the rows, and the report of the failure that ends them.
struct SequentialRead {
  nlohmann::json rows = nlohmann::json::array();
  std::string report;
};

SequentialRead readSequentially(const std::filesystem::path& file, const std::string& table) {
  SequentialRead out;
  auto db = DBEngine(EngineFlavour::Dao120).OpenDatabase(file.string());
  auto records = db->OpenRecordset(table);
  try {
    records->MoveFirst();
    Fields fields = records->Fields();
    while (!records->Eof()) {
      nlohmann::json row = nlohmann::json::array();
      try {
        for (int c = 0; c < fields.Count(); ++c) {
          Variant v = fields.Item(c).Value();
          row.push_back(v.vt == VT_BSTR ? str(v.text) : num(static_cast<double>(v.integer)));
        }
      } catch (...) {
        if (!row.empty()) out.rows.push_back(row);
        throw;
      }
      out.rows.push_back(row);
      records->MoveNext();
    }
  } catch (const ComError& e) {
    out.report = formatComErrorReport(e);
  }
  return out;
}

}  // namespace

TEST(ExportPipeline, CancelStopsAtTheSameRecordInBothFormats) {
  testsupport::ScratchDir dir;
  auto db = writeDb(dir / "long.mdb", {countingTable("Long", 5000), countingTable("Later", 5)});
  for (int bookType : {0, 1}) {
    ConversionOptions o;
    openInto(&o, db);
    o.bookType = bookType;
    o.outputPath = (dir / (bookType ? "long.xlsx" : "long.xls")).string();
    RecordingWindow window(&o, 1700);  // well inside the reader's lead, past several batches
    RunConversionJob(&window, &o);
    EXPECT_EQ(o.recordsExported, 1700);
    EXPECT_EQ(o.tablesExported, 1);
    EXPECT_EQ(window.steps, 1700);
    auto book = testsupport::readWorkbook(o.outputPath);
    ASSERT_EQ(sheetNames(book), nlohmann::json::array({"Long"}));
    ASSERT_EQ(book[0]["rows"].size(), 1701u);
    EXPECT_EQ(book[0]["rows"][1700], nlohmann::json::array({num(1700)}));
    EXPECT_TRUE(window.messages.empty());
  }
}

TEST(ExportPipeline, AnEngineFailureMidTableIsReportedAtItsRecord) {
  testsupport::ScratchDir dir;
  auto db = brokenDatabase(dir / "broken.mdb", 3000, 2100);
  ASSERT_FALSE(db.empty()) << "the damaged memo was not found in the written file";
  SequentialRead expected = readSequentially(db, "Broken");
  ASSERT_FALSE(expected.report.empty()) << "the engine read the damaged record without a failure";
  ASSERT_GE(expected.rows.size(), 2000u);  // the failure is met deep in the table, past many batches

  for (int bookType : {0, 1}) {
    ConversionOptions o;
    openInto(&o, db);
    o.bookType = bookType;
    o.outputPath = (dir / (bookType ? "broken.xlsx" : "broken.xls")).string();
    RecordingWindow window(&o, -1);
    RunConversionJob(&window, &o);
    // The same report, once; the records before the failure written and counted; the job goes on.
    EXPECT_EQ(window.messages, std::vector<std::string>{expected.report});
    EXPECT_EQ(o.tablesExported, 2);
    auto book = testsupport::readWorkbook(o.outputPath);
    ASSERT_EQ(sheetNames(book), nlohmann::json::array({"Broken", "After"}));
    nlohmann::json rows = book[0]["rows"];
    ASSERT_EQ(rows.size(), expected.rows.size() + 1);
    rows.erase(rows.begin());  // the header
    EXPECT_EQ(rows, expected.rows);
    size_t whole = expected.rows.size();
    if (!expected.rows.empty() && expected.rows.back().size() < 2) --whole;  // a record cut short is not counted
    EXPECT_EQ(o.recordsExported, static_cast<int32_t>(whole) + 3);
    EXPECT_EQ(book[1]["rows"].size(), 4u);
  }
}
