// The one codec for what we compress into .xlsx packages: raw deflate streams and CRC-32, both
// from ISA-L's igzip. zlib stays only where a loaded book's entries are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// CRC-32 (the zip and gzip one) of the bytes, continuing from crc (0 to start).
uint32_t crc32Update(uint32_t crc, const void* data, size_t n);

// A raw deflate stream fed in pieces. Input is gathered into large chunks before it is compressed,
// so many small writes cost no more than a few large ones; the compressed bytes go to the sink,
// which returns false to stop. Size and CRC-32 count the uncompressed bytes.
class DeflateStream {
 public:
  using Sink = std::function<bool(const char*, size_t)>;
  explicit DeflateStream(Sink sink);
  ~DeflateStream();
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  bool write(const char* data, size_t n);
  bool write(std::string_view s) { return write(s.data(), s.size()); }
  // Ends the blocks so far on a byte boundary (non-final blocks): the bytes sent to the sink can
  // then be copied and continued. With `independent`, later blocks refer to nothing before.
  bool sync(bool independent = false);
  // Syncs with independent blocks and frees the compressor until the next write.
  bool release();
  // Ends the stream with a final block.
  bool finish();

  uint64_t size() const { return size_; }
  uint32_t crc() const { return crc_; }
  bool failed() const { return failed_; }

 private:
  struct Compressor;
  // A compressor ready for a new stream (a spare one when there is one), and handed
  // back to the spares when a stream is done with it.
  static std::unique_ptr<Compressor> takeCompressor();
  static void giveBack(std::unique_ptr<Compressor> c);
  struct Spares;
  static Spares& spares();
  bool compress(int flushMode, bool last);
  Sink sink_;
  std::unique_ptr<Compressor> z_;
  std::string pending_;  // input not yet compressed
  uint64_t size_ = 0;
  uint32_t crc_ = 0;
  bool failed_ = false;
};

// The bytes compressed whole as one raw deflate stream; empty with ok false on failure.
std::string deflateWhole(std::string_view bytes, bool* ok);
