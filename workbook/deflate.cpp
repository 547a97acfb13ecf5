#include "workbook/deflate.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

namespace {

// igzip's level 1 compresses several times faster than zlib's level 1 at about its ratio.
constexpr uint32_t kLevel = 1;
constexpr size_t kLevelBufferSize = ISAL_DEF_LVL1_DEFAULT;
// Input is compressed in chunks of this size; the output buffer is as large.
constexpr size_t kChunk = 1 << 16;

}  // namespace

uint32_t crc32Update(uint32_t crc, const void* data, size_t n) {
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), n);
}

// The state and buffers are left uninitialised (igzip's init sets what it reads), and a stream
// that is done hands its compressor on to the next one: a small part then touches only the little
// of the buffers it uses, and the many parts of a save share the same pages instead of each
// faulting in fresh ones.
struct DeflateStream::Compressor {
  isal_zstream z;
  std::unique_ptr<uint8_t[]> levelBuffer = std::make_unique_for_overwrite<uint8_t[]>(kLevelBufferSize);
  std::unique_ptr<uint8_t[]> out = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
  void start() {
    isal_deflate_init(&z);
    z.level = kLevel;
    z.level_buf = levelBuffer.get();
    z.level_buf_size = static_cast<uint32_t>(kLevelBufferSize);
    z.gzip_flag = IGZIP_DEFLATE;
  }
};

// Compressors kept for the next streams; a sheet's spool and the head and tail of a sheet being
// saved are the most that run at once. Never destroyed, so a stream may end at any time, even
// while the program exits.
struct DeflateStream::Spares {
  static constexpr size_t kKept = 2;
  std::mutex mutex;
  std::unique_ptr<Compressor> kept[kKept];
  size_t count = 0;
};

DeflateStream::Spares& DeflateStream::spares() {
  static Spares* spares = new Spares;
  return *spares;
}

std::unique_ptr<DeflateStream::Compressor> DeflateStream::takeCompressor() {
  std::unique_ptr<Compressor> c;
  {
    Spares& s = spares();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.count) c = std::move(s.kept[--s.count]);
  }
  if (!c) c.reset(new (std::nothrow) Compressor);
  if (c) c->start();
  return c;
}

void DeflateStream::giveBack(std::unique_ptr<Compressor> c) {
  if (!c) return;
  Spares& s = spares();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.count < Spares::kKept) s.kept[s.count++] = std::move(c);
}

DeflateStream::DeflateStream(Sink sink) : sink_(std::move(sink)) {}
DeflateStream::~DeflateStream() { giveBack(std::move(z_)); }

bool DeflateStream::compress(int flushMode, bool last) {
  if (failed_) return false;
  if (!z_) {
    z_ = takeCompressor();
    if (!z_) return !(failed_ = true);
  }
  isal_zstream& z = z_->z;
  z.next_in = reinterpret_cast<uint8_t*>(pending_.data());
  z.avail_in = static_cast<uint32_t>(pending_.size());
  z.flush = static_cast<uint16_t>(flushMode);
  z.end_of_stream = last ? 1 : 0;
  // igzip returns when the input is used up or the output is full; a full output buffer means
  // it may hold more, and the last call only ends once the final block is out.
  for (;;) {
    z.next_out = z_->out.get();
    z.avail_out = static_cast<uint32_t>(kChunk);
    if (isal_deflate(&z) != COMP_OK) return !(failed_ = true);
    size_t produced = kChunk - z.avail_out;
    if (produced && !sink_(reinterpret_cast<const char*>(z_->out.get()), produced)) return !(failed_ = true);
    bool done = z.avail_out != 0 && z.avail_in == 0;
    if (last) done = z.internal_state.state == ZSTATE_END;
    if (done) break;
  }
  pending_.clear();
  return true;
}

bool DeflateStream::write(const char* data, size_t n) {
  if (failed_) return false;
  crc_ = crc32Update(crc_, data, n);
  size_ += n;
  while (n) {
    if (pending_.capacity() < kChunk) pending_.reserve(kChunk);
    size_t take = std::min(n, kChunk - pending_.size());
    pending_.append(data, take);
    data += take;
    n -= take;
    if (pending_.size() == kChunk && !compress(NO_FLUSH, false)) return false;
  }
  return true;
}

bool DeflateStream::sync(bool independent) {
  if (failed_) return false;
  if (!z_ && pending_.empty()) return true;  // nothing since the last sync
  return compress(independent ? FULL_FLUSH : SYNC_FLUSH, false);
}

bool DeflateStream::release() {
  if (!sync(true)) return false;
  giveBack(std::move(z_));
  std::string().swap(pending_);
  return true;
}

bool DeflateStream::finish() {
  bool ok = compress(NO_FLUSH, true);
  giveBack(std::move(z_));
  return ok;
}

std::string deflateWhole(std::string_view bytes, bool* ok) {
  std::string packed;
  DeflateStream stream([&](const char* p, size_t n) {
    packed.append(p, n);
    return true;
  });
  *ok = stream.write(bytes.data(), bytes.size()) && stream.finish();
  if (!*ok) packed.clear();
  return packed;
}
