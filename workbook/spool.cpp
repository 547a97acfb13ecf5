#include "workbook/spool.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include <zlib.h>

struct SpoolState {
  std::FILE* file = nullptr;
  bool compressed = false;
  bool failed = false;
  z_stream z{};
  bool zReady = false;
  std::vector<unsigned char> out;
  uint64_t raw = 0, stored = 0;
  uint32_t crc = 0;
  ~SpoolState() {
    if (zReady) deflateEnd(&z);
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
    // Level 1 keeps writing fast; windowBits -15 gives a raw deflate stream.
    if (deflateInit2(&s->z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      if (error) *error = "cannot start compression";
      return false;
    }
    s->zReady = true;
    s->out.resize(1 << 16);
  }
  s_ = std::move(s);
  return true;
}

bool Spool::isOpen() const { return s_ != nullptr; }
bool Spool::failed() const { return !s_ || s_->failed; }
uint64_t Spool::rawSize() const { return s_ ? s_->raw : 0; }
uint32_t Spool::rawCrc() const { return s_ ? s_->crc : 0; }
uint64_t Spool::storedSize() const { return s_ ? s_->stored : 0; }

static bool pump(SpoolState& s, int flush) {
  do {
    s.z.next_out = s.out.data();
    s.z.avail_out = static_cast<uInt>(s.out.size());
    int rc = deflate(&s.z, flush);
    if (rc == Z_STREAM_ERROR) return false;
    size_t n = s.out.size() - s.z.avail_out;
    if (n && std::fwrite(s.out.data(), 1, n, s.file) != n) return false;
    s.stored += n;
  } while (s.z.avail_out == 0);
  return true;
}

// A fresh compressor after a pause: its blocks follow the synced ones and refer to nothing before.
static bool resume(SpoolState& s) {
  if (s.zReady) return true;
  s.z = z_stream{};
  if (deflateInit2(&s.z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  s.zReady = true;
  s.out.resize(1 << 16);
  return true;
}

bool Spool::pause() {
  if (!s_ || !s_->compressed || !s_->zReady) return true;
  if (!sync()) return false;
  deflateEnd(&s_->z);
  s_->zReady = false;
  std::vector<unsigned char>().swap(s_->out);
  return true;
}

bool Spool::write(std::string_view bytes) {
  if (!s_ || s_->failed) return false;
  SpoolState& s = *s_;
  if (bytes.empty()) return true;
  if (s.compressed && !resume(s)) {
    s.failed = true;
    return false;
  }
  s.crc = static_cast<uint32_t>(
      crc32_z(s.crc, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
  s.raw += bytes.size();
  if (!s.compressed) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), s.file) != bytes.size()) s.failed = true;
    s.stored += bytes.size();
    return !s.failed;
  }
  s.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  s.z.avail_in = static_cast<uInt>(bytes.size());
  if (!pump(s, Z_NO_FLUSH)) s.failed = true;
  return !s.failed;
}

bool Spool::sync() {
  if (!s_ || s_->failed) return false;
  if (s_->compressed && s_->zReady && !pump(*s_, Z_SYNC_FLUSH)) s_->failed = true;
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
