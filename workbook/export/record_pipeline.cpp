#include "workbook/export/record_pipeline.h"

namespace {

// What a value adds to a batch beyond its fixed size: its text and bytes.
size_t heldBytes(const Variant& v) { return v.text.size() + v.bytes.size(); }

template <typename Buffer>
void keepBuffer(Buffer& buffer, size_t& keptLarge) {
  const size_t room = buffer.capacity();
  if (room <= RecordPipeline::kKeptBufferBytes) return;
  if (keptLarge + room <= RecordPipeline::kBatchBytes) {
    keptLarge += room;
    return;
  }
  Buffer().swap(buffer);
}

}  // namespace

RecordPipeline::RecordPipeline(RecordSource& source, int fieldCount)
    : source_(source), fieldCount_(fieldCount < 0 ? 0 : fieldCount) {
  // Every batch there will ever be, made here: the reader then never fails for want of one, and
  // memory stays bounded by them.
  // The reader thread starts once the caller has read the first records itself.
  for (size_t i = 0; i < kWaitingBatches + 2; ++i) free_.push_back(std::make_unique<Batch>());
}

RecordPipeline::~RecordPipeline() { stop(); }

void RecordPipeline::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  emptied_.notify_all();
  if (reader_.joinable()) reader_.join();
}

std::unique_ptr<RecordPipeline::Batch> RecordPipeline::takeFree() {
  std::unique_lock<std::mutex> lock(mutex_);
  emptied_.wait(lock, [this] { return stopping_ || !free_.empty(); });
  if (stopping_) return nullptr;
  std::unique_ptr<Batch> batch = std::move(free_.back());
  free_.pop_back();
  return batch;
}

void RecordPipeline::hand(std::unique_ptr<Batch> batch) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    full_.push_back(std::move(batch));
  }
  filled_.notify_one();
}

void RecordPipeline::fill(Batch& batch, size_t maxRecords) {
  const size_t width = static_cast<size_t>(fieldCount_);
  batch.records = 0;
  batch.last = false;
  batch.failure = nullptr;
  batch.partial = -1;
  size_t bytes = 0;
  size_t keptLarge = 0;  // room of the larger buffers the batch's slots keep
  // The same calls in the same order as a caller reading the records itself would make.
  try {
    while (batch.records < maxRecords && batch.records * width < kBatchValues && bytes < kBatchBytes) {
      if (source_.atEnd()) {
        batch.last = true;
        break;
      }
      size_t base = batch.records * width;
      if (batch.values.size() < base + width) batch.values.resize(base + width);
      for (int c = 0; c < fieldCount_; ++c) {
        Variant& slot = batch.values[base + static_cast<size_t>(c)];
        // A slot keeps its buffers from batch to batch; larger ones only while the batch's
        // share of them stays within the batch size, so a run of long memos is not kept.
        keepBuffer(slot.text, keptLarge);
        keepBuffer(slot.bytes, keptLarge);
        try {
          source_.readValue(c, slot);
        } catch (...) {
          batch.partial = c;
          throw;
        }
        bytes += heldBytes(slot);
      }
      ++batch.records;
      source_.moveNext();
    }
  } catch (...) {
    batch.failure = std::current_exception();
    batch.last = true;
  }
}

void RecordPipeline::read() {
  for (std::unique_ptr<Batch> batch = takeFree(); batch; batch = takeFree()) {
    fill(*batch, kBatchRecords);
    bool last = batch->last;
    hand(std::move(batch));
    if (last) return;
  }
}

void RecordPipeline::readDirect() {
  if (!batch_) {
    batch_ = std::move(free_.back());
    free_.pop_back();
  }
  fill(*batch_, 1);
  index_ = 0;
  directRecords_ += batch_->records;
}

void RecordPipeline::settle() {
  const size_t width = static_cast<size_t>(fieldCount_);
  while (!batch_ || (index_ == batch_->records && !batch_->last)) {
    if (!reader_.joinable()) {
      if (directRecords_ < kDirectRecords && directRecords_ * width < kDirectValues) {
        readDirect();
        continue;
      }
      // The table goes on: from here the reader thread reads ahead.
      reader_ = std::thread([this] { read(); });
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (batch_) {
      free_.push_back(std::move(batch_));
      emptied_.notify_one();
    }
    filled_.wait(lock, [this] { return !full_.empty(); });
    batch_ = std::move(full_.front());
    full_.pop_front();
    index_ = 0;
  }
}

bool RecordPipeline::atEnd() {
  settle();
  if (index_ < batch_->records) return false;
  if (!batch_->failure) return true;
  if (batch_->partial >= 0) return false;  // a record cut short is still a record
  rethrowFailure();
}

RecordView RecordPipeline::current() {
  settle();
  Variant* values = batch_->values.data() + index_ * static_cast<size_t>(fieldCount_);
  if (index_ < batch_->records) return {values, fieldCount_, false};
  return {values, batch_->partial < 0 ? 0 : batch_->partial, true};
}

void RecordPipeline::rethrowFailure() { std::rethrow_exception(batch_->failure); }

void RecordPipeline::moveNext() {
  settle();
  if (index_ < batch_->records) ++index_;
  settle();
  // The reader's move to this record failed: the caller's own move throws it.
  if (index_ == batch_->records && batch_->failure && batch_->partial < 0) rethrowFailure();
}
