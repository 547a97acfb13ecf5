// The hand-over between the thread that reads records and the one that writes them: the writer
// sees every record in order and every failure where its own read would have met it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "source/com_error.h"
#include "workbook/export/record_pipeline.h"

namespace {

// Records 0, 1, 2, ... with `fields` values each: field 0 the record number, the others texts
// (by default every 100th record a long one, so batches also close by size). It fails where it is told to.
struct ScriptedSource : RecordSource {
  int records;
  int fields;
  int failValueAt = -1, failValueField = 0;  // value(failValueField) of this record throws
  int failMoveAfter = -1;                     // the move past this record throws
  int current = 0;
  int longEvery = 100;        // every so many records have long texts; 0: none
  size_t longSize = 100000;
  bool scattered = false;     // long texts at scattered records, about one in longEvery
  std::atomic<int> valuesRead{0};

  ScriptedSource(int r, int f) : records(r), fields(f) {}
  bool atEnd() override { return current >= records; }
  void readValue(int field, Variant& v) override {
    if (current == failValueAt && field == failValueField)
      throw ComError(static_cast<int32_t>(0x800A0BCD), "DAO.Field", "damaged record " + std::to_string(current));
    ++valuesRead;
    // Written over what the slot held before, into its buffers, as the engine does.
    v.text.clear();
    if (field == 0) {
      v.vt = VT_I4;
      v.integer = current;
    } else {
      v.vt = VT_BSTR;
      unsigned at = scattered ? static_cast<unsigned>(current) * 2654435761u >> 8 : static_cast<unsigned>(current);
      bool isLong = longEvery > 0 && at % static_cast<unsigned>(longEvery) == 0;
      v.text.assign(isLong ? longSize : 8, static_cast<char>('a' + field % 26));
      v.text += std::to_string(current);
    }
  }
  void moveNext() override {
    if (current == failMoveAfter) throw std::runtime_error("move failed after " + std::to_string(current));
    ++current;
  }
};

// Reads everything as the export does; returns the record numbers seen, in order.
std::vector<int64_t> drain(RecordPipeline& pipeline, int fields) {
  std::vector<int64_t> seen;
  for (; !pipeline.atEnd(); pipeline.moveNext()) {
    RecordView r = pipeline.current();
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.count, fields);
    if (fields > 0) seen.push_back(r.values[0].integer);
    for (int c = 1; c < r.count; ++c)
      EXPECT_EQ(r.values[c].text.substr(r.values[c].text.size() - std::to_string(seen.back()).size()),
                std::to_string(seen.back()));
  }
  return seen;
}

}  // namespace

TEST(RecordPipeline, EveryRecordInOrderAcrossBatches) {
  // Small tables are read on the caller's thread, longer ones go on on the reader thread.
  const int direct = static_cast<int>(RecordPipeline::kDirectRecords);
  for (int count : {0, 1, 511, direct - 1, direct, direct + 1, direct + 1025, 20000}) {
    ScriptedSource source(count, 3);
    RecordPipeline pipeline(source, 3);
    std::vector<int64_t> seen = drain(pipeline, 3);
    ASSERT_EQ(seen.size(), static_cast<size_t>(count)) << count;
    for (int i = 0; i < count; ++i) ASSERT_EQ(seen[static_cast<size_t>(i)], i);
    EXPECT_TRUE(pipeline.atEnd());  // asking again changes nothing
  }
}

TEST(RecordPipeline, RecordsWithoutFieldsStillCount) {
  ScriptedSource source(1300, 0);
  RecordPipeline pipeline(source, 0);
  int records = 0;
  for (; !pipeline.atEnd(); pipeline.moveNext()) {
    EXPECT_EQ(pipeline.current().count, 0);
    ++records;
  }
  EXPECT_EQ(records, 1300);
}

// Failures where the caller reads the records itself and where the reader thread does.
const int kFailAt[] = {1234, static_cast<int>(RecordPipeline::kDirectRecords) + 1234};

TEST(RecordPipeline, AFailedValueCutsItsRecordShortThere) {
  for (int at : kFailAt) {
    ScriptedSource source(at + 2000, 4);
    source.failValueAt = at;
    source.failValueField = 2;
    RecordPipeline pipeline(source, 4);
    int records = 0;
    for (; !pipeline.atEnd(); pipeline.moveNext()) {
      RecordView r = pipeline.current();
      if (r.failed) {
        // The values read before the failure, then the failure itself.
        EXPECT_EQ(records, at);
        ASSERT_EQ(r.count, 2);
        EXPECT_EQ(r.values[0].integer, at);
        try {
          pipeline.rethrowFailure();
          ADD_FAILURE() << "no failure";
        } catch (const ComError& e) {
          EXPECT_EQ(static_cast<uint32_t>(e.hresult()), 0x800A0BCDu);
          EXPECT_EQ(e.source(), "DAO.Field");
          EXPECT_EQ(e.description(), "damaged record " + std::to_string(at));
        }
        break;
      }
      EXPECT_EQ(r.values[0].integer, records);
      ++records;
    }
    EXPECT_EQ(records, at);
  }
}

TEST(RecordPipeline, AFailedMoveIsThrownByTheMoveAfterItsRecord) {
  for (int at : kFailAt) {
    ScriptedSource source(at + 2000, 2);
    source.failMoveAfter = at;
    RecordPipeline pipeline(source, 2);
    int records = 0;
    std::string failure;
    try {
      for (; !pipeline.atEnd(); pipeline.moveNext()) {
        EXPECT_EQ(pipeline.current().values[0].integer, records);
        ++records;
      }
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
    EXPECT_EQ(records, at + 1);  // the record was read whole; the move past it failed
    EXPECT_EQ(failure, "move failed after " + std::to_string(at));
  }
}

TEST(RecordPipeline, AFailureBeyondWhereTheWriterStopsIsNeverSeen) {
  ScriptedSource source(100000, 2);
  source.failValueAt = 3000;
  RecordPipeline pipeline(source, 2);
  for (int i = 0; i < 10; ++i) pipeline.moveNext();
  EXPECT_EQ(pipeline.current().values[0].integer, 10);
  pipeline.stop();  // as after a cancel: no throw, the reader ends
}

TEST(RecordPipeline, TheReaderStaysABoundedWayAheadAndStopsPromptly) {
  ScriptedSource source(1000000, 2);
  const size_t direct = RecordPipeline::kDirectRecords;
  {
    RecordPipeline pipeline(source, 2);
    // The caller reads the first records itself: nothing is read ahead of it.
    for (size_t i = 0; i + 1 < direct; ++i) pipeline.moveNext();
    EXPECT_EQ(static_cast<size_t>(source.current), direct);
    pipeline.moveNext();  // the reader thread takes over
    EXPECT_EQ(pipeline.current().values[0].integer, static_cast<int64_t>(direct));
    // Give the reader time to run as far ahead as the hand-over lets it.
    for (int i = 0; i < 200 && source.valuesRead.load() < 2 * 20000 + 2 * static_cast<int>(direct); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  size_t limit = direct + (RecordPipeline::kWaitingBatches + 2) * RecordPipeline::kBatchRecords;
  EXPECT_GT(static_cast<size_t>(source.current), direct + RecordPipeline::kBatchRecords);
  EXPECT_LE(static_cast<size_t>(source.current), limit);
  EXPECT_LT(source.current, 1000000);
}

TEST(RecordPipeline, AWideTableHasShortBatches) {
  ScriptedSource source(100000, 300);
  source.longEvery = 0;
  // A wide table leaves the caller's thread after fewer records, as many values as a narrow one.
  const size_t direct = RecordPipeline::kDirectValues / 300 + 1;
  {
    RecordPipeline pipeline(source, 300);
    for (size_t i = 0; i + 1 < direct; ++i) pipeline.moveNext();
    EXPECT_EQ(static_cast<size_t>(source.current), direct);
    pipeline.moveNext();
    EXPECT_EQ(pipeline.current().count, 300);
    for (int i = 0; i < 200 && source.valuesRead.load() < 300 * 5000; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  size_t perBatch = RecordPipeline::kBatchValues / 300 + 1;
  EXPECT_GT(static_cast<size_t>(source.current), direct + perBatch);
  EXPECT_LE(static_cast<size_t>(source.current), direct + (RecordPipeline::kWaitingBatches + 2) * perBatch);
}

// Value slots keep their buffers from batch to batch, but not the room of every long text they
// once held: when long texts land on ever other slots, a batch keeps at most a batch's worth.
TEST(RecordPipeline, SlotsKeepNoMoreRoomThanABatchHolds) {
  ScriptedSource source(30000, 2);
  source.longEvery = 17;
  source.longSize = 200000;
  source.scattered = true;
  RecordPipeline pipeline(source, 2);
  size_t shortValues = 0, roomyShortValues = 0;
  for (int64_t record = 0; !pipeline.atEnd(); pipeline.moveNext(), ++record) {
    RecordView r = pipeline.current();
    ASSERT_EQ(r.values[0].integer, record);
    ASSERT_EQ(r.values[1].text.substr(r.values[1].text.size() - std::to_string(record).size()), std::to_string(record));
    if (record < 10000 || r.values[1].text.size() > RecordPipeline::kKeptBufferBytes) continue;
    ++shortValues;
    if (r.values[1].text.capacity() > RecordPipeline::kKeptBufferBytes) ++roomyShortValues;
  }
  ASSERT_GT(shortValues, 15000u);
  // A batch closes after five or six long texts and may keep the room of five (about 2% of the
  // short texts then sit in a roomy buffer); keeping every slot's room leaves over 10% there.
  EXPECT_LT(roomyShortValues, shortValues / 20) << roomyShortValues << " of " << shortValues;
}
