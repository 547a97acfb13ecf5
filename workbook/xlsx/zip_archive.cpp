#include "workbook/xlsx/zip_archive.h"

#include <cctype>
#include <cstring>
#include <ctime>

#include <minizip/unzip.h>
#include <minizip/zip.h>

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

uint32_t dosNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return static_cast<uint32_t>(((tm.tm_year - 80) << 25) | ((tm.tm_mon + 1) << 21) |
                               (tm.tm_mday << 16) | (tm.tm_hour << 11) | (tm.tm_min << 5) |
                               (tm.tm_sec / 2));
}

}  // namespace

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
  while (rc == UNZ_OK) {
    unz_file_info64 info;
    char name[1024];
    if (unzGetCurrentFileInfo64(unz_, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) {
      error = "damaged: the zip directory is broken";
      return false;
    }
    unz64_file_pos pos;
    unzGetFilePos64(unz_, &pos);
    ZipEntry e;
    e.name = name;
    e.compressedSize = info.compressed_size;
    e.size = info.uncompressed_size;
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

bool ZipReader::stream(const ZipEntry& e, const std::function<bool(const char*, size_t)>& sink,
                       std::string& error) {
  if (e.method != 0 && e.method != Z_DEFLATED) {
    error = "entry " + e.name + " uses an unsupported compression";
    return false;
  }
  if (!seekTo(unz_, e) || unzOpenCurrentFile(unz_) != UNZ_OK) {
    error = "cannot open entry " + e.name;
    return false;
  }
  std::vector<char> buf(1 << 16);
  bool ok = true;
  for (;;) {
    int n = unzReadCurrentFile(unz_, buf.data(), static_cast<unsigned>(buf.size()));
    if (n < 0) {
      error = "damaged: zip entry " + e.name + " cannot be decompressed";
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!sink(buf.data(), static_cast<size_t>(n))) {
      ok = false;
      if (error.empty()) error = "stopped reading " + e.name;
      break;
    }
  }
  int rc = unzCloseCurrentFile(unz_);
  if (ok && rc != UNZ_OK) {
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
  int method = 0, level = 0;
  if (!seekTo(unz_, e) || unzOpenCurrentFile2(unz_, &method, &level, 1) != UNZ_OK) {
    error = "cannot open entry " + e.name;
    return false;
  }
  std::vector<char> buf(1 << 16);
  bool ok = true;
  uint64_t total = 0;
  for (;;) {
    int n = unzReadCurrentFile(unz_, buf.data(), static_cast<unsigned>(buf.size()));
    if (n < 0) {
      error = "damaged entry " + e.name;
      ok = false;
      break;
    }
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (!sink(buf.data(), static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  unzCloseCurrentFile(unz_);
  if (ok && total != e.compressedSize) {
    error = "entry " + e.name + " is cut short";
    ok = false;
  }
  return ok;
}

ZipWriter::~ZipWriter() {
  if (zip_) zipClose(zip_, nullptr);
}

bool ZipWriter::open(const std::string& path, std::string& error) {
  zip_ = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip_) error = "cannot write " + path;
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
  if (!openEntry(zip_, like.name, like.dosDate, like.externalAttributes, like.method, big)) {
    error = "cannot add " + like.name;
    return false;
  }
  bool ok = fill();
  if (zipCloseFileInZipRaw64(zip_, like.size, like.crc) != ZIP_OK) ok = false;
  if (!ok && error.empty()) error = "cannot copy " + like.name;
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
  if (!openEntry(zip_, name, dosNow(), 0, Z_DEFLATED, bytes.size()) || !writeStored(packed.data(), packed.size()) ||
      zipCloseFileInZipRaw64(zip_, bytes.size(), crc) != ZIP_OK) {
    error = "cannot write " + name;
    return false;
  }
  return true;
}

bool ZipWriter::beginDeflated(const std::string& name, uint64_t sizeHint, std::string& error) {
  if (!openEntry(zip_, name, dosNow(), 0, Z_DEFLATED, sizeHint + sizeHint / 64)) {
    error = "cannot write " + name;
    return false;
  }
  return true;
}

bool ZipWriter::endDeflated(uint64_t size, uint32_t crc, std::string& error) {
  if (zipCloseFileInZipRaw64(zip_, size, crc) != ZIP_OK) {
    error = "cannot finish a zip entry";
    return false;
  }
  return true;
}

bool ZipWriter::close(std::string& error) {
  int rc = zipClose(zip_, nullptr);
  zip_ = nullptr;
  if (rc != ZIP_OK) error = "cannot finish the zip file";
  return rc == ZIP_OK;
}

DeflateToZip::DeflateToZip(ZipWriter& zip)
    : deflate_([&zip](const char* p, size_t n) { return zip.writeStored(p, n); }) {}
