#include "workbook/xls/compound_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "workbook/xls/records.h"

namespace xls {

namespace {

constexpr uint32_t kFreeSect = 0xFFFFFFFF, kEndOfChain = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD,
                   kDifSect = 0xFFFFFFFC, kNoStream = 0xFFFFFFFF;
constexpr char kSignature[8] = {'\xD0', '\xCF', '\x11', '\xE0', '\xA1', '\xB1', '\x1A', '\xE1'};
constexpr uint32_t kMiniCutoff = 4096;
constexpr size_t kHeaderDifat = 109;

struct Reader {
  std::string data;  // the whole file
  uint32_t sectorSize = 512;
  std::vector<uint32_t> fat, miniFat;
  uint64_t sectorCount() const { return data.size() <= 512 ? 0 : (data.size() - 512 + sectorSize - 1) / sectorSize; }
  const char* sector(uint32_t i) const { return data.data() + 512 + static_cast<uint64_t>(i) * sectorSize; }
  size_t sectorBytes(uint32_t i) const {
    uint64_t start = 512 + static_cast<uint64_t>(i) * sectorSize;
    return start >= data.size() ? 0 : static_cast<size_t>(std::min<uint64_t>(sectorSize, data.size() - start));
  }
  // Follows a chain, refusing loops and sectors outside the file.
  bool chain(uint32_t first, std::vector<uint32_t>& out, const std::vector<uint32_t>& table,
             uint64_t limitCount) const {
    for (uint32_t s = first; s != kEndOfChain;) {
      if (s >= table.size() || out.size() > limitCount) return false;
      out.push_back(s);
      s = table[s];
    }
    return true;
  }
};

std::u16string entryName(const char* e) {
  uint16_t bytes = get16(e + 64);
  std::u16string n;
  for (uint16_t i = 0; i + 1 < bytes && i < 64; i += 2) {
    char16_t c = get16(e + i);
    if (!c) break;
    n += c;
  }
  return n;
}

bool sameName(const std::u16string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool readWorkbookStream(const std::string& path, size_t limit, std::string& stream, std::string& error) {
  Reader r;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = std::strerror(errno);
    return false;
  }
  fseeko(f, 0, SEEK_END);
  off_t size = ftello(f);
  fseeko(f, 0, SEEK_SET);
  if (size < 512) {
    std::fclose(f);
    error = "not an .xls workbook (too short for a compound file)";
    return false;
  }
  if (static_cast<uint64_t>(size) > limit + (limit >> 2) + (1 << 20)) {
    std::fclose(f);
    error = "the file is too large";
    return false;
  }
  r.data.resize(static_cast<size_t>(size));
  size_t got = std::fread(r.data.data(), 1, r.data.size(), f);
  std::fclose(f);
  if (got != r.data.size()) {
    error = "cannot read the file";
    return false;
  }
  const char* h = r.data.data();
  if (std::memcmp(h, kSignature, 8) != 0) {
    error = "not an .xls workbook (no compound file signature)";
    return false;
  }
  uint16_t shift = get16(h + 30);
  if (shift != 9 && shift != 12) {
    error = "damaged compound file (sector size)";
    return false;
  }
  r.sectorSize = 1u << shift;
  uint32_t fatSectors = get32(h + 44), firstDir = get32(h + 48), cutoff = get32(h + 56),
           firstMiniFat = get32(h + 60), miniFatSectors = get32(h + 64), firstDifat = get32(h + 68);
  uint64_t nSect = r.sectorCount();
  if (fatSectors > nSect + 1 || miniFatSectors > nSect + 1) {
    error = "damaged compound file (allocation table)";
    return false;
  }
  // The allocation table's own sectors: 109 in the header, the rest in a DIFAT chain.
  std::vector<uint32_t> fatList;
  for (size_t i = 0; i < kHeaderDifat && fatList.size() < fatSectors; ++i) fatList.push_back(get32(h + 76 + i * 4));
  uint32_t perDifat = r.sectorSize / 4 - 1;
  for (uint32_t d = firstDifat, hops = 0; fatList.size() < fatSectors && d != kEndOfChain && d != kFreeSect; ++hops) {
    if (d >= nSect || hops > nSect) {
      error = "damaged compound file (DIFAT)";
      return false;
    }
    const char* s = r.sector(d);
    if (r.sectorBytes(d) < r.sectorSize) break;
    for (uint32_t i = 0; i < perDifat && fatList.size() < fatSectors; ++i) fatList.push_back(get32(s + i * 4));
    d = get32(s + perDifat * 4);
  }
  for (uint32_t s : fatList) {
    if (s >= nSect) {
      error = "damaged compound file (allocation table)";
      return false;
    }
    const char* p = r.sector(s);
    size_t bytes = r.sectorBytes(s);
    for (size_t i = 0; i + 4 <= bytes; i += 4) r.fat.push_back(get32(p + i));
  }
  std::vector<uint32_t> dirChain;
  if (!r.chain(firstDir, dirChain, r.fat, nSect)) {
    error = "damaged compound file (directory)";
    return false;
  }
  std::string dir;
  for (uint32_t s : dirChain) dir.append(r.sector(s), r.sectorBytes(s));
  if (dir.size() < 128) {
    error = "damaged compound file (directory)";
    return false;
  }
  const char* root = dir.data();
  const char* book = nullptr;
  bool oldBook = false;
  for (size_t off = 0; off + 128 <= dir.size(); off += 128) {
    const char* e = dir.data() + off;
    if (e[66] == 2) {
      std::u16string n = entryName(e);
      if (sameName(n, "Workbook")) book = e;
      else if (sameName(n, "Book")) oldBook = true;
    }
  }
  if (!book) {
    error = oldBook ? "an Excel 5 or 95 workbook, which is not supported"
                    : "not an .xls workbook (no Workbook stream)";
    return false;
  }
  uint64_t streamSize = get32(book + 120);
  if (r.sectorSize == 4096) streamSize |= static_cast<uint64_t>(get32(book + 124)) << 32;
  if (streamSize > limit || streamSize > r.data.size()) {
    error = "the Workbook stream is too large or damaged";
    return false;
  }
  uint32_t start = get32(book + 116);
  stream.clear();
  stream.reserve(static_cast<size_t>(streamSize));
  if (streamSize >= cutoff) {
    std::vector<uint32_t> c;
    if (!r.chain(start, c, r.fat, nSect)) {
      error = "damaged compound file (Workbook stream chain)";
      return false;
    }
    for (uint32_t s : c) {
      if (stream.size() >= streamSize) break;
      stream.append(r.sector(s), std::min<size_t>(r.sectorBytes(s), static_cast<size_t>(streamSize - stream.size())));
    }
  } else {
    // Small streams live in the mini stream, which the root entry holds in 64-byte pieces.
    std::vector<uint32_t> mfc, rootChain;
    if (!r.chain(firstMiniFat, mfc, r.fat, nSect) || !r.chain(get32(root + 116), rootChain, r.fat, nSect)) {
      error = "damaged compound file (mini stream)";
      return false;
    }
    for (uint32_t s : mfc) {
      const char* p = r.sector(s);
      for (size_t i = 0; i + 4 <= r.sectorBytes(s); i += 4) r.miniFat.push_back(get32(p + i));
    }
    std::string mini;
    for (uint32_t s : rootChain) mini.append(r.sector(s), r.sectorBytes(s));
    std::vector<uint32_t> c;
    if (!r.chain(start, c, r.miniFat, mini.size() / 64 + 1)) {
      error = "damaged compound file (mini stream chain)";
      return false;
    }
    for (uint32_t s : c) {
      if (stream.size() >= streamSize) break;
      uint64_t at = static_cast<uint64_t>(s) * 64;
      if (at + 64 > mini.size()) {
        error = "damaged compound file (mini stream)";
        return false;
      }
      stream.append(mini.data() + at, std::min<size_t>(64, static_cast<size_t>(streamSize - stream.size())));
    }
  }
  if (stream.size() != streamSize) {
    error = "damaged compound file (Workbook stream cut short)";
    return false;
  }
  return true;
}

bool writeCompoundFile(const std::string& path, std::FILE* source, uint64_t size, std::string& error) {
  // Streams under the mini-stream cutoff would need a mini stream: the caller pads to the cutoff.
  if (size > 0xFFFFFFFFull) {
    error = "the workbook stream is over 4 GB, more than an .xls file can hold";
    return false;
  }
  if (size < kMiniCutoff) {
    error = "internal: workbook stream below the cutoff";
    return false;
  }
  const uint64_t dataSectors = (size + 511) / 512;
  // Table sectors: FAT entries cover data, directory, FAT and DIFAT sectors alike.
  uint64_t fat = 1, difat = 0;
  for (;;) {
    uint64_t need = (dataSectors + 1 + fat + difat + 127) / 128;
    uint64_t needDifat = need > kHeaderDifat ? (need - kHeaderDifat + 126) / 127 : 0;
    if (need == fat && needDifat == difat) break;
    fat = need;
    difat = needDifat;
  }
  if (dataSectors + 1 + fat + difat >= 0xFFFFFFF0ull) {
    error = "the workbook is too large for a compound file";
    return false;
  }
  const uint32_t dirSector = static_cast<uint32_t>(dataSectors);
  const uint32_t fatStart = dirSector + 1;
  const uint32_t difatStart = fatStart + static_cast<uint32_t>(fat);

  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    error = std::string("cannot write the file: ") + std::strerror(errno);
    return false;
  }
  std::string header(512, '\0');
  std::memcpy(header.data(), kSignature, 8);
  put16(&header[24], 0x003E);
  put16(&header[26], 0x0003);
  put16(&header[28], 0xFFFE);
  put16(&header[30], 9);
  put16(&header[32], 6);
  put32(&header[44], static_cast<uint32_t>(fat));
  put32(&header[48], dirSector);
  put32(&header[56], kMiniCutoff);
  put32(&header[60], kEndOfChain);
  put32(&header[68], difat ? difatStart : kEndOfChain);
  put32(&header[72], static_cast<uint32_t>(difat));
  for (size_t i = 0; i < kHeaderDifat; ++i)
    put32(&header[76 + i * 4], i < fat ? fatStart + static_cast<uint32_t>(i) : kFreeSect);
  bool ok = std::fwrite(header.data(), 1, 512, out) == 512;

  // The stream, padded to whole sectors.
  std::vector<char> buf(1 << 16);
  uint64_t left = size;
  if (ok && fseeko(source, 0, SEEK_SET) != 0) ok = false;
  while (ok && left) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, buf.size()));
    if (std::fread(buf.data(), 1, want, source) != want || std::fwrite(buf.data(), 1, want, out) != want) ok = false;
    left -= want;
  }
  uint64_t pad = dataSectors * 512 - size;
  std::string zeros(512, '\0');
  if (ok && pad && std::fwrite(zeros.data(), 1, pad, out) != pad) ok = false;

  // Directory: the root storage and the Workbook stream.
  std::string dir(512, '\0');
  auto entry = [&](size_t i, const char* name, uint8_t type, uint32_t child, uint32_t start, uint32_t bytes) {
    char* e = &dir[i * 128];
    size_t n = std::strlen(name);
    for (size_t k = 0; k < n; ++k) put16(e + k * 2, static_cast<unsigned char>(name[k]));
    put16(e + 64, static_cast<uint16_t>((n + 1) * 2));
    e[66] = static_cast<char>(type);
    e[67] = 1;  // black
    put32(e + 68, kNoStream);
    put32(e + 72, kNoStream);
    put32(e + 76, child);
    put32(e + 116, start);
    put32(e + 120, bytes);
  };
  entry(0, "Root Entry", 5, 1, kEndOfChain, 0);
  entry(1, "Workbook", 2, kNoStream, 0, static_cast<uint32_t>(size));
  for (size_t i = 2; i < 4; ++i) {
    put32(&dir[i * 128 + 68], kNoStream);
    put32(&dir[i * 128 + 72], kNoStream);
    put32(&dir[i * 128 + 76], kNoStream);
  }
  if (ok && std::fwrite(dir.data(), 1, 512, out) != 512) ok = false;

  // FAT, written sector by sector.
  std::string sec;
  auto fatEntry = [&](uint64_t i) -> uint32_t {
    if (i < dataSectors) return i + 1 == dataSectors ? kEndOfChain : static_cast<uint32_t>(i + 1);
    if (i == dirSector) return kEndOfChain;
    if (i >= fatStart && i < difatStart) return kFatSect;
    if (i >= difatStart && i < difatStart + difat) return kDifSect;
    return kFreeSect;
  };
  for (uint64_t s = 0; ok && s < fat; ++s) {
    sec.assign(512, '\0');
    for (uint64_t k = 0; k < 128; ++k) put32(&sec[k * 4], fatEntry(s * 128 + k));
    if (std::fwrite(sec.data(), 1, 512, out) != 512) ok = false;
  }
  // DIFAT sectors list the FAT sectors beyond the header's 109.
  for (uint64_t d = 0; ok && d < difat; ++d) {
    sec.assign(512, '\0');
    for (uint64_t k = 0; k < 127; ++k) {
      uint64_t f = kHeaderDifat + d * 127 + k;
      put32(&sec[k * 4], f < fat ? fatStart + static_cast<uint32_t>(f) : kFreeSect);
    }
    put32(&sec[508], d + 1 < difat ? difatStart + static_cast<uint32_t>(d + 1) : kEndOfChain);
    if (std::fwrite(sec.data(), 1, 512, out) != 512) ok = false;
  }
  if (std::fclose(out) != 0) ok = false;
  if (!ok) error = std::string("cannot write the file: ") + std::strerror(errno);
  return ok;
}

}  // namespace xls
