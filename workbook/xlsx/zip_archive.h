// Reading and writing the zip container of a package (minizip underneath). Entries we do not
// change are copied as their stored bytes; entries we make are written as raw deflate streams.
// An entry's bytes are read by us from where minizip finds them, with the sizes of the zip64
// extra field where the directory holds 0xFFFFFFFF (which minizip 1.1 does not read on 64-bit
// systems), so parts past 2 GiB load like any other.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <zlib.h>

#include "workbook/deflate.h"

struct ZipEntry {
  std::string name;
  uint64_t compressedSize = 0, size = 0;
  uint32_t crc = 0, dosDate = 0, externalAttributes = 0;
  int method = 0;
  uint16_t flag = 0;
  uint64_t directoryPosition = 0, fileNumber = 0;  // where minizip finds it again
};

// The sizes of a zip64 extended-information extra field (header 0x0001) put in place of those of
// the directory entry that hold 0xFFFFFFFF, in the field's order. False when such a field is
// missing or too short for the sizes it must give.
bool applyZip64Sizes(const unsigned char* extra, size_t length, uint64_t& size, uint64_t& compressedSize);

// A zip file read through a stream we hold open, so the file may be replaced on disk meanwhile.
class ZipReader {
 public:
  ~ZipReader();
  bool open(std::FILE* file, std::string& error);  // the reader does not own the file
  const std::vector<ZipEntry>& entries() const { return entries_; }
  const ZipEntry* find(const std::string& name) const;
  // The entry's content, refused beyond limit bytes.
  bool read(const ZipEntry& e, size_t limit, std::string& out, std::string& error);
  // The entry's content in pieces; sink returns false to stop. The CRC is checked at the end.
  bool stream(const ZipEntry& e, const std::function<bool(const char*, size_t)>& sink,
              std::string& error);
  // The entry's stored (compressed) bytes.
  bool streamStored(const ZipEntry& e, const std::function<bool(const char*, size_t)>& sink,
                    std::string& error);

 private:
  // Reads the entry's stored bytes from the file, in pieces, as sink takes them.
  bool readStored(const ZipEntry& e, const std::function<bool(const char*, size_t)>& sink, std::string& error);

  void* unz_ = nullptr;
  std::FILE* file_ = nullptr;
  std::vector<ZipEntry> entries_;
};

class ZipWriter {
 public:
  ~ZipWriter();
  bool open(const std::string& path, std::string& error);
  // An entry whose stored bytes come from sink calls made by fill.
  bool addStored(const ZipEntry& like, const std::function<bool()>& fill, std::string& error);
  bool writeStored(const char* data, size_t n);
  // A small entry compressed here in one piece.
  bool addBytes(const std::string& name, const std::string& bytes, std::string& error);
  // An entry whose stored deflate bytes fill writes; uncompressed size and CRC given after.
  bool beginDeflated(const std::string& name, uint64_t sizeHint, std::string& error);
  bool endDeflated(uint64_t size, uint32_t crc, std::string& error);
  bool close(std::string& error);

 private:
  void* zip_ = nullptr;
};

// Compresses pieces into raw deflate blocks written to a ZipWriter entry; finish() ends the
// stream with a final block, flush() ends a run of non-final blocks on a byte boundary and hands
// the compressor on (a sheet's head is flushed before its tail starts, so the two share one).
class DeflateToZip {
 public:
  explicit DeflateToZip(ZipWriter& zip);
  bool write(const char* data, size_t n) { return deflate_.write(data, n); }
  bool write(const std::string& s) { return write(s.data(), s.size()); }
  bool flush() { return deflate_.release(); }  // later blocks stand alone
  bool finish() { return deflate_.finish(); }
  uint64_t size() const { return deflate_.size(); }
  uint32_t crc() const { return deflate_.crc(); }

 private:
  DeflateStream deflate_;
};
