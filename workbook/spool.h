// An append-only temporary file that holds serialised rows (or other records) until the book is
// saved, so memory stays bounded by one row. With compression on, the bytes are kept as a raw deflate stream made
// of non-final blocks, which the zip writer copies as it stands in front of a final block.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct SpoolState;

class Spool {
 public:
  Spool();
  ~Spool();
  Spool(Spool&&) noexcept;
  Spool& operator=(Spool&&) noexcept;
  // Starts the spool; false (with a message) when no temporary file can be made.
  bool open(bool compressed, std::string* error);
  bool isOpen() const;
  bool write(std::string_view bytes);
  // Ends the current deflate block on a byte boundary so the stored bytes can be copied out.
  bool sync();
  // Syncs and frees the compressor until the next write, for a sheet that is no longer being
  // written: many finished sheets then cost a file each, not a compressor each.
  bool pause();
  uint64_t rawSize() const;     // bytes written
  uint32_t rawCrc() const;      // CRC-32 of the bytes written; compressed spools only (zip needs it)
  uint64_t storedSize() const;  // bytes in the file (compressed when compressed)
  // Streams the stored bytes to out, which returns false to stop.
  bool copyStored(const std::function<bool(const char*, size_t)>& out) const;
  bool failed() const;

 private:
  std::unique_ptr<SpoolState> s_;
};

// A temporary file in $TMPDIR (or /tmp), already unlinked; null on failure.
std::FILE* openTemporaryFile();
