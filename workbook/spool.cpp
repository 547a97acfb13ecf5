#include "workbook/spool.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "workbook/deflate.h"

struct SpoolState {
  std::FILE* file = nullptr;
  bool compressed = false;
  bool failed = false;
  std::unique_ptr<DeflateStream> deflate;  // compressed spools only
  uint64_t raw = 0, stored = 0;
  uint32_t crc = 0;
  ~SpoolState() {
    deflate.reset();
    if (file) std::fclose(file);
  }
};

std::FILE* openTemporaryFile() {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/quarlex-spool-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) return nullptr;
  unlink(pattern.c_str());
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
    s->deflate = std::make_unique<DeflateStream>([state](const char* p, size_t n) {
      if (std::fwrite(p, 1, n, state->file) != n) return false;
      state->stored += n;
      return true;
    });
  }
  s_ = std::move(s);
  return true;
}

bool Spool::isOpen() const { return s_ != nullptr; }
bool Spool::failed() const { return !s_ || s_->failed; }
uint64_t Spool::rawSize() const { return s_ ? s_->raw : 0; }
uint32_t Spool::rawCrc() const { return s_ ? s_->crc : 0; }
uint64_t Spool::storedSize() const { return s_ ? s_->stored : 0; }

bool Spool::pause() {
  if (!s_ || !s_->compressed) return true;
  if (s_->failed || !s_->deflate->release()) s_->failed = true;
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
  s.crc = crc32Update(s.crc, bytes.data(), bytes.size());
  if (std::fwrite(bytes.data(), 1, bytes.size(), s.file) != bytes.size()) s.failed = true;
  s.stored += bytes.size();
  return !s.failed;
}

bool Spool::sync() {
  if (!s_ || s_->failed) return false;
  if (s_->compressed && !s_->deflate->sync()) s_->failed = true;
  if (std::fflush(s_->file) != 0) s_->failed = true;
  return !s_->failed;
}

bool Spool::copyStored(const std::function<bool(const char*, size_t)>& out) const {
  if (!s_ || s_->failed) return false;
  std::FILE* f = s_->file;
  if (std::fflush(f) != 0) return false;
  std::vector<char> buf(1 << 16);
  uint64_t left = s_->stored;
  off_t pos = 0;
  while (left) {
    size_t want = left < buf.size() ? static_cast<size_t>(left) : buf.size();
    ssize_t got = pread(fileno(f), buf.data(), want, pos);
    if (got <= 0) return false;
    if (!out(buf.data(), static_cast<size_t>(got))) return false;
    pos += got;
    left -= static_cast<uint64_t>(got);
  }
  return true;
}
