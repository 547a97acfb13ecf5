// Reading a table's records on a thread of their own while the caller writes them: the reader
// fills batches of records, the caller takes them in order through a bounded hand-over, so memory
// stays bounded by a few batches whatever the table's size. The first records are read on the
// caller's thread, one at a time: a small table is over before a thread and its batches (fresh
// memory, hundreds of page faults in a new process) would pay for themselves.
//
// The caller sees the records exactly as if it read them itself: the same values in the same
// order, and a failure of the reader (any exception) thrown on the caller's thread at the point
// where its own read would have thrown it, after the records before it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "source/variant.h"

// What the reader reads from: a cursor over records with a fixed number of fields.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  virtual bool atEnd() = 0;          // no current record
  // A field of the current record, into a value of a batch: its buffers are reused.
  virtual void readValue(int field, Variant& into) = 0;
  virtual void moveNext() = 0;
};

// The current record as the caller sees it: its values in field order. When the reader failed
// part way through the record, only the values read before the failure are here and `failed` is
// set; the caller writes them and then calls rethrowFailure().
struct RecordView {
  Variant* values = nullptr;
  int count = 0;
  bool failed = false;
};

class RecordPipeline {
 public:
  // Starts reading from the source's current record. The source is used by the reader thread
  // alone until the pipeline is destroyed.
  RecordPipeline(RecordSource& source, int fieldCount);
  // Stops the reader and waits for it; records it read ahead are dropped.
  ~RecordPipeline();
  RecordPipeline(const RecordPipeline&) = delete;
  RecordPipeline& operator=(const RecordPipeline&) = delete;

  bool atEnd();                   // past the last record
  RecordView current();           // the current record (not at the end)
  [[noreturn]] void rethrowFailure();
  void moveNext();                // to the next record; throws what the reader's move threw
  void stop();                    // the same as destruction, earlier

  // Batches close at this many records, values (wide tables) or bytes of texts and byte arrays,
  // and at most this many full batches wait for the caller.
  static constexpr size_t kBatchRecords = 1024;
  static constexpr size_t kBatchValues = 10240;
  static constexpr size_t kBatchBytes = 1 << 20;
  static constexpr size_t kWaitingBatches = 8;
  // Text and byte buffers up to this size stay with their value slot for the next batch, and
  // larger ones up to kBatchBytes in all per batch.
  static constexpr size_t kKeptBufferBytes = 256;
  // Records (and at most values) read on the caller's thread before the reader thread starts.
  static constexpr size_t kDirectRecords = 4096;
  static constexpr size_t kDirectValues = 40960;

 private:
  struct Batch {
    std::vector<Variant> values;  // fieldCount per record
    size_t records = 0;           // complete records
    bool last = false;            // no batch follows
    std::exception_ptr failure;   // why the records end here, when not at the table's end
    int partial = -1;             // values of a record cut short by the failure; -1: the move failed
  };
  void read();
  // Reads records into the batch until it closes at maxRecords or the limits above.
  void fill(Batch& batch, size_t maxRecords);
  void readDirect();  // the next record into batch_, on the caller's thread
  std::unique_ptr<Batch> takeFree();
  void hand(std::unique_ptr<Batch> batch);
  void settle();  // a batch in hand that holds the current position

  RecordSource& source_;
  const int fieldCount_;
  std::mutex mutex_;
  std::condition_variable filled_, emptied_;
  std::deque<std::unique_ptr<Batch>> full_;
  std::vector<std::unique_ptr<Batch>> free_;
  bool stopping_ = false;
  std::unique_ptr<Batch> batch_;  // the caller's
  size_t index_ = 0;              // record within batch_
  size_t directRecords_ = 0;      // read on the caller's thread so far
  std::thread reader_;
};
