#include <fcntl.h>
#include "workbook/spool.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/atomic_file.h"
#include "platform/write_whole.h"
#include "workbook/deflate.h"

namespace {
// Bytes go to the file in pieces of this size rather than the system's 4 KB: fewer writes.
constexpr size_t kSpoolBuffer = 64 * 1024;
// Stored bytes are read back in pieces of at most this size.
constexpr size_t kCopyPiece = 1 << 20;
}  // namespace

struct SpoolState {
  std::FILE* file = nullptr;  // written through its descriptor, never through stdio
  std::string pending;        // bytes not yet in the file; freed while the spool is paused
  bool compressed = false;
  bool failed = false;
  std::unique_ptr<DeflateStream> deflate;  // compressed spools only
  uint64_t raw = 0, stored = 0;
  uint32_t crc = 0;
  ~SpoolState() {
    deflate.reset();
    if (file) std::fclose(file);
  }
  bool store(const char* p, size_t n) {
    stored += n;
    if (pending.size() + n <= kSpoolBuffer) {
      if (pending.capacity() < kSpoolBuffer) pending.reserve(kSpoolBuffer);
      pending.append(p, n);
      return true;
    }
    if (!flush()) return false;
    if (n >= kSpoolBuffer) return writeWhole(fileno(file), p, n);
    pending.append(p, n);
    return true;
  }
  bool flush() {
    bool ok = writeWhole(fileno(file), pending.data(), pending.size());
    pending.clear();
    return ok;
  }
};

// A file without a name where the file system allows one; else a named one, unlinked at once. A
// name that cannot be removed fails the spool: it would stay in the folder for good.
std::FILE* openTemporaryFile() {
  const char* dir = std::getenv("TMPDIR");
  const std::string folder = dir && *dir ? dir : "/tmp";
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && !temporaryFilesUnsupported(errno)) return nullptr;
  if (fd < 0) {
    std::string pattern = folder + "/quarlex-spool-XXXXXX";
    fd = mkstemp(pattern.data());
    if (fd < 0) return nullptr;
    if (unlink(pattern.c_str()) != 0) {
      int why = errno;
      close(fd);
      unlink(pattern.c_str());
      errno = why;
      return nullptr;
    }
  }
  std::FILE* f = fdopen(fd, "w+b");
  if (!f) close(fd);
  return f;
}

Spool::Spool() = default;
Spool::~Spool() = default;
Spool::Spool(Spool&&) noexcept = default;
Spool& Spool::operator=(Spool&&) noexcept = default;

bool Spool::open(bool compressed, std::string* error) {
  auto s = std::make_unique<SpoolState>();
  s->file = openTemporaryFile();
  if (!s->file) {
    if (error) *error = std::string("cannot create a temporary file: ") + std::strerror(errno);
    return false;
  }
  s->compressed = compressed;
  if (compressed) {
    SpoolState* state = s.get();
    s->deflate = std::make_unique<DeflateStream>([state](const char* p, size_t n) { return state->store(p, n); });
  }
  s_ = std::move(s);
  return true;
}

bool Spool::isOpen() const { return s_ != nullptr; }
bool Spool::failed() const { return !s_ || s_->failed; }
uint64_t Spool::rawSize() const { return s_ ? s_->raw : 0; }
uint32_t Spool::rawCrc() const { return s_ && s_->compressed ? s_->crc : 0; }
uint64_t Spool::storedSize() const { return s_ ? s_->stored : 0; }

bool Spool::pause() {
  if (!s_) return true;
  if (s_->failed || (s_->compressed && !s_->deflate->release()) || !s_->flush()) s_->failed = true;
  std::string().swap(s_->pending);
  return !s_->failed;
}

bool Spool::write(std::string_view bytes) {
  if (!s_ || s_->failed) return false;
  SpoolState& s = *s_;
  if (bytes.empty()) return true;
  s.raw += bytes.size();
  if (s.compressed) {
    // The compressor counts the CRC of its input.
    if (!s.deflate->write(bytes.data(), bytes.size())) s.failed = true;
    s.crc = s.deflate->crc();
    return !s.failed;
  }
  if (!s.store(bytes.data(), bytes.size())) s.failed = true;
  return !s.failed;
}

bool Spool::sync() {
  if (!s_ || s_->failed) return false;
  if (s_->compressed && !s_->deflate->sync()) s_->failed = true;
  if (!s_->failed && !s_->flush()) s_->failed = true;
  return !s_->failed;
}

bool Spool::copyStored(const std::function<bool(const char*, size_t)>& out) const {
  if (!s_ || s_->failed) return false;
  if (!s_->flush()) {
    s_->failed = true;
    return false;
  }
  int fd = fileno(s_->file);
  // Not zero-filled: the reads fill it.
  const size_t piece = static_cast<size_t>(std::min<uint64_t>(s_->stored, kCopyPiece));
  std::unique_ptr<char[]> buf = std::make_unique_for_overwrite<char[]>(piece);
  uint64_t left = s_->stored;
  off_t pos = 0;
  while (left) {
    size_t want = left < piece ? static_cast<size_t>(left) : piece;
    ssize_t got = pread(fd, buf.get(), want, pos);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    if (!out(buf.get(), static_cast<size_t>(got))) return false;
    pos += got;
    left -= static_cast<uint64_t>(got);
  }
  return true;
}
