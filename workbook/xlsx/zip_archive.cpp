#include "workbook/xlsx/zip_archive.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include "platform/little_endian.h"

namespace {

// minizip file functions over a stream the caller owns: "opening" hands back that stream.
voidpf openHeld(voidpf, const void* file, int) { return const_cast<void*>(file); }
uLong readHeld(voidpf, voidpf f, void* buf, uLong n) {
  return static_cast<uLong>(std::fread(buf, 1, n, static_cast<std::FILE*>(f)));
}
uLong writeHeld(voidpf, voidpf, const void*, uLong) { return 0; }
ZPOS64_T tellHeld(voidpf, voidpf f) {
  return static_cast<ZPOS64_T>(ftello(static_cast<std::FILE*>(f)));
}
long seekHeld(voidpf, voidpf f, ZPOS64_T off, int origin) {
  int how = origin == ZLIB_FILEFUNC_SEEK_CUR ? SEEK_CUR
            : origin == ZLIB_FILEFUNC_SEEK_END ? SEEK_END : SEEK_SET;
  return fseeko(static_cast<std::FILE*>(f), static_cast<off_t>(off), how) == 0 ? 0 : -1;
}
int closeHeld(voidpf, voidpf) { return 0; }
int errorHeld(voidpf, voidpf f) { return std::ferror(static_cast<std::FILE*>(f)); }

constexpr uint64_t kZip64Threshold = 0xFFFFFFFFull - (64ull << 20);
constexpr uint32_t kZip64Marker = 0xFFFFFFFFu;  // a directory size that lives in the zip64 field
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr size_t kExtraHeaderSize = 4;  // u16 id, u16 length, then the field's bytes
constexpr size_t kZip64SizeBytes = 8;   // each size of the zip64 field
constexpr size_t kExtraFieldRoom = 0xFFFF;
constexpr size_t kReadPiece = 1 << 16;

uint32_t dosNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return static_cast<uint32_t>(((tm.tm_year - 80) << 25) | ((tm.tm_mon + 1) << 21) |
                               (tm.tm_mday << 16) | (tm.tm_hour << 11) | (tm.tm_min << 5) |
                               (tm.tm_sec / 2));
}

}  // namespace

bool applyZip64Sizes(const unsigned char* extra, size_t length, uint64_t& size, uint64_t& compressedSize) {
  const bool needSize = size == kZip64Marker, needCompressed = compressedSize == kZip64Marker;
  if (!needSize && !needCompressed) return true;
  for (size_t pos = 0; pos + kExtraHeaderSize <= length;) {
    uint16_t id = le::get16(extra + pos), fieldLength = le::get16(extra + pos + 2);
    const unsigned char* field = extra + pos + kExtraHeaderSize;
    if (pos + kExtraHeaderSize + fieldLength > length) return false;
    if (id == kZip64ExtraId) {
      // Only the sizes the directory entry left out are there, uncompressed first.
      size_t need = (needSize ? kZip64SizeBytes : 0) + (needCompressed ? kZip64SizeBytes : 0);
      if (fieldLength < need) return false;
      if (needSize) size = le::get64(field);
      if (needCompressed) compressedSize = le::get64(field + (needSize ? kZip64SizeBytes : 0));
      return true;
    }
    pos += kExtraHeaderSize + fieldLength;
  }
  return false;
}

ZipReader::~ZipReader() {
  if (unz_) unzClose(unz_);
}

bool ZipReader::open(std::FILE* file, std::string& error) {
  zlib_filefunc64_def ff{};
  ff.zopen64_file = openHeld;
  ff.zread_file = readHeld;
  ff.zwrite_file = writeHeld;
  ff.ztell64_file = tellHeld;
  ff.zseek64_file = seekHeld;
  ff.zclose_file = closeHeld;
  ff.zerror_file = errorHeld;
  file_ = file;
  unz_ = unzOpen2_64(file, &ff);
  if (!unz_) {
    error = "damaged: the zip directory cannot be read";
    return false;
  }
  unz_global_info64 gi;
  if (unzGetGlobalInfo64(unz_, &gi) != UNZ_OK) {
    error = "damaged: the zip directory is broken";
    return false;
  }
  if (gi.number_entry > 100000) {
    error = "too many entries in the zip file";
    return false;
  }
  int rc = unzGoToFirstFile(unz_);
  std::vector<unsigned char> extra(kExtraFieldRoom);
  while (rc == UNZ_OK) {
    unz_file_info64 info;
    char name[1024];
    if (unzGetCurrentFileInfo64(unz_, &info, name, sizeof name, extra.data(), extra.size(), nullptr, 0) != UNZ_OK) {
      error = "damaged: the zip directory is broken";
      return false;
    }
    uint64_t size = info.uncompressed_size, compressedSize = info.compressed_size;
    if (!applyZip64Sizes(extra.data(), std::min<size_t>(info.size_file_extra, extra.size()), size, compressedSize)) {
      error = "damaged: the zip64 sizes of entry " + std::string(name) + " are missing";
      return false;
    }
    unz64_file_pos pos;
    unzGetFilePos64(unz_, &pos);
    ZipEntry e;
    e.name = name;
    e.compressedSize = compressedSize;
    e.size = size;
    e.crc = static_cast<uint32_t>(info.crc);
    e.dosDate = static_cast<uint32_t>(info.dosDate);
    e.externalAttributes = static_cast<uint32_t>(info.external_fa);
    e.method = static_cast<int>(info.compression_method);
    e.flag = static_cast<uint16_t>(info.flag);
    e.directoryPosition = pos.pos_in_zip_directory;
    e.fileNumber = pos.num_of_file;
    entries_.push_back(std::move(e));
    if (entries_.size() > 100000) {
      error = "too many entries in the zip file";
      return false;
    }
    rc = unzGoToNextFile(unz_);
  }
  if (rc != UNZ_END_OF_LIST_OF_FILE) {
    error = "damaged: the zip directory is broken";
    return false;
  }
  return true;
}

namespace {

// Part names compare without regard to ASCII case in a package; some writers put backslashes
// where the zip names need slashes.
bool samePartName(const std::string& entry, const std::string& part) {
  if (entry.size() != part.size()) return false;
  for (size_t i = 0; i < entry.size(); ++i) {
    char a = entry[i] == '\\' ? '/' : entry[i], b = part[i];
    if (a != b && std::tolower(static_cast<unsigned char>(a)) != std::tolower(static_cast<unsigned char>(b)))
      return false;
  }
  return true;
}

}  // namespace

const ZipEntry* ZipReader::find(const std::string& name) const {
  for (auto& e : entries_)
    if (e.name == name) return &e;
  for (auto& e : entries_)
    if (samePartName(e.name, name)) return &e;
  return nullptr;
}

static bool seekTo(void* unz, const ZipEntry& e) {
  unz64_file_pos pos{e.directoryPosition, e.fileNumber};
  return unzGoToFilePos64(unz, &pos) == UNZ_OK;
}

// minizip finds the entry's data behind its local header; the bytes are read here, so the
// directory's sizes (zip64 ones included) decide how many.
bool ZipReader::readStored(const ZipEntry& e, const std::function<bool(const char*, size_t)>& sink,
                           std::string& error) {
  int method = 0, level = 0;
  if (!seekTo(unz_, e) || unzOpenCurrentFile2(unz_, &method, &level, 1) != UNZ_OK) {
    error = "cannot open entry " + e.name;
    return false;
  }
  ZPOS64_T start = unzGetCurrentFileZStreamPos64(unz_);
  unzCloseCurrentFile(unz_);
  if (start == 0 || fseeko(file_, static_cast<off_t>(start), SEEK_SET) != 0) {
    error = "cannot open entry " + e.name;
    return false;
  }
  std::vector<char> buf(kReadPiece);
  for (uint64_t left = e.compressedSize; left > 0;) {
    size_t want = left < buf.size() ? static_cast<size_t>(left) : buf.size();
    size_t got = std::fread(buf.data(), 1, want, file_);
    if (got != want) {
      error = "damaged: zip entry " + e.name + " is cut short";
      return false;
    }
    left -= got;
    if (!sink(buf.data(), got)) {
      if (error.empty()) error = "stopped reading " + e.name;
      return false;
    }
  }
  return true;
}

bool ZipReader::stream(const ZipEntry& e, const std::function<bool(const char*, size_t)>& sink,
                       std::string& error) {
  if (e.method != 0 && e.method != Z_DEFLATED) {
    error = "entry " + e.name + " uses an unsupported compression";
    return false;
  }
  const std::string undecodable = "damaged: zip entry " + e.name + " cannot be decompressed";
  z_stream z{};
  if (e.method == Z_DEFLATED && inflateInit2(&z, -MAX_WBITS) != Z_OK) {
    error = "cannot open entry " + e.name;
    return false;
  }
  std::vector<char> out(kReadPiece);
  uint64_t total = 0;
  uint32_t crc = 0;
  bool ended = e.method != Z_DEFLATED;
  auto deliver = [&](const char* p, size_t n) {
    total += n;
    crc = crc32Update(crc, p, n);
    return sink(p, n);
  };
  bool ok = readStored(e, [&](const char* p, size_t n) {
    if (e.method != Z_DEFLATED) return deliver(p, n);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
    z.avail_in = static_cast<uInt>(n);
    while (z.avail_in > 0 && !ended) {
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = static_cast<uInt>(out.size());
      int rc = inflate(&z, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        error = undecodable;
        return false;
      }
      size_t made = out.size() - z.avail_out;
      if (made > 0 && !deliver(out.data(), made)) return false;
      ended = rc == Z_STREAM_END;
      if (rc == Z_BUF_ERROR && made == 0) break;
    }
    return true;
  }, error);
  // The last input may leave output behind.
  while (ok && !ended) {
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_NO_FLUSH);
    size_t made = out.size() - z.avail_out;
    if (made > 0 && !deliver(out.data(), made)) ok = false;
    if (rc == Z_STREAM_END) ended = true;
    else if (made == 0) break;
  }
  if (e.method == Z_DEFLATED) inflateEnd(&z);
  if (ok && (!ended || total != e.size)) {
    error = undecodable;
    ok = false;
  }
  if (ok && crc != e.crc) {
    error = "damaged: zip entry " + e.name + " fails its checksum";
    ok = false;
  }
  return ok;
}

bool ZipReader::read(const ZipEntry& e, size_t limit, std::string& out, std::string& error) {
  out.clear();
  return stream(e, [&](const char* p, size_t n) {
    if (out.size() + n > limit) {
      error = "entry " + e.name + " is too large";
      return false;
    }
    out.append(p, n);
    return true;
  }, error);
}

bool ZipReader::streamStored(const ZipEntry& e,
                             const std::function<bool(const char*, size_t)>& sink,
                             std::string& error) {
  return readStored(e, sink, error);
}

// What failed, with the system's reason when the failing call left one in errno.
static std::string failure(const std::string& what) {
  return errno ? what + ": " + std::strerror(errno) : what;
}

ZipWriter::~ZipWriter() {
  if (zip_) zipClose(zip_, nullptr);
}

bool ZipWriter::open(const std::string& path, std::string& error) {
  errno = 0;
  zip_ = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip_) error = failure("cannot write " + path);
  return zip_ != nullptr;
}

static bool openEntry(void* zip, const std::string& name, uint32_t dosDate, uint32_t attributes,
                      int method, uint64_t bigness) {
  zip_fileinfo zi{};
  zi.dosDate = dosDate;
  zi.external_fa = attributes;
  int zip64 = bigness >= kZip64Threshold ? 1 : 0;
  return zipOpenNewFileInZip4_64(zip, name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, method,
                                 method ? Z_DEFAULT_COMPRESSION : 0, 1, -MAX_WBITS, 8,
                                 Z_DEFAULT_STRATEGY, nullptr, 0, 20, 0, zip64) == ZIP_OK;
}

bool ZipWriter::addStored(const ZipEntry& like, const std::function<bool()>& fill,
                          std::string& error) {
  uint64_t big = like.size > like.compressedSize ? like.size : like.compressedSize;
  errno = 0;
  if (!openEntry(zip_, like.name, like.dosDate, like.externalAttributes, like.method, big)) {
    error = failure("cannot add " + like.name);
    return false;
  }
  bool ok = fill();
  if (zipCloseFileInZipRaw64(zip_, like.size, like.crc) != ZIP_OK) ok = false;
  if (!ok && error.empty()) error = failure("cannot copy " + like.name);
  return ok;
}

bool ZipWriter::writeStored(const char* data, size_t n) {
  while (n) {
    unsigned chunk = n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n);
    if (zipWriteInFileInZip(zip_, data, chunk) != ZIP_OK) return false;
    data += chunk;
    n -= chunk;
  }
  return true;
}

bool ZipWriter::addBytes(const std::string& name, const std::string& bytes, std::string& error) {
  bool packedOk = false;
  std::string packed = deflateWhole(bytes, &packedOk);
  if (!packedOk) {
    error = "cannot compress " + name;
    return false;
  }
  uint32_t crc = crc32Update(0, bytes.data(), bytes.size());
  errno = 0;
  if (!openEntry(zip_, name, dosNow(), 0, Z_DEFLATED, bytes.size()) || !writeStored(packed.data(), packed.size()) ||
      zipCloseFileInZipRaw64(zip_, bytes.size(), crc) != ZIP_OK) {
    error = failure("cannot write " + name);
    return false;
  }
  return true;
}

bool ZipWriter::beginDeflated(const std::string& name, uint64_t sizeHint, std::string& error) {
  errno = 0;
  if (!openEntry(zip_, name, dosNow(), 0, Z_DEFLATED, sizeHint + sizeHint / 64)) {
    error = failure("cannot write " + name);
    return false;
  }
  return true;
}

bool ZipWriter::endDeflated(uint64_t size, uint32_t crc, std::string& error) {
  errno = 0;
  if (zipCloseFileInZipRaw64(zip_, size, crc) != ZIP_OK) {
    error = failure("cannot finish a zip entry");
    return false;
  }
  return true;
}

bool ZipWriter::close(std::string& error) {
  errno = 0;
  int rc = zipClose(zip_, nullptr);
  zip_ = nullptr;
  if (rc != ZIP_OK) error = failure("cannot finish the zip file");
  return rc == ZIP_OK;
}

DeflateToZip::DeflateToZip(ZipWriter& zip)
    : deflate_([&zip](const char* p, size_t n) { return zip.writeStored(p, n); }) {}
