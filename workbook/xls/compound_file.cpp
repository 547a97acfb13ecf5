#include "workbook/xls/compound_file.h"

#include <cerrno>
#include <cstring>

#include "workbook/xls/records.h"

namespace xls {

using namespace cfb;

namespace {

constexpr uint32_t kWriteSectorSize = 1u << kSectorShift512;  // version 3 files, which every reader takes
constexpr uint32_t kLargestSectorCount = 0xFFFFFFF0;
constexpr size_t kWriteBuffer = 1 << 20;  // bytes the file takes per write

// Where sector i starts: the header fills the first sector-sized block.
uint64_t sectorOffset(const CompoundFile& cf, uint32_t i) { return (static_cast<uint64_t>(i) + 1) * cf.sectorSize; }

uint64_t sectorCount(const CompoundFile& cf) {
  return cf.data.size() <= cf.sectorSize ? 0 : (cf.data.size() - cf.sectorSize + cf.sectorSize - 1) / cf.sectorSize;
}

// Appends the sectors of a chain to out (each whole, the last one cut at the file's end), refusing
// loops and sectors outside the file or the table.
bool readChain(const CompoundFile& cf, uint32_t first, const std::vector<uint32_t>& table, uint64_t most,
               std::string& out) {
  uint64_t hops = 0;
  for (uint32_t s = first; s != kEndOfChain; s = table[s]) {
    if (s >= table.size() || ++hops > most) return false;
    uint64_t at = sectorOffset(cf, s);
    if (at >= cf.data.size()) return false;
    out.append(cf.data, static_cast<size_t>(at), static_cast<size_t>(std::min<uint64_t>(cf.sectorSize, cf.data.size() - at)));
  }
  return true;
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

void markReachable(CompoundFile& cf) {
  if (cf.entries.empty()) return;
  cf.entries[0].reachable = true;
  std::vector<uint32_t> todo{cf.entries[0].child};
  while (!todo.empty()) {
    uint32_t i = todo.back();
    todo.pop_back();
    if (i == kNoStream || i >= cf.entries.size() || cf.entries[i].reachable || i == 0) continue;
    CompoundEntry& e = cf.entries[i];
    if (e.type != kStorage && e.type != kStream) continue;
    e.reachable = true;
    todo.push_back(e.left);
    todo.push_back(e.right);
    if (e.type == kStorage) todo.push_back(e.child);
  }
}

}  // namespace

bool hasCompoundSignature(const char* bytes, size_t size) {
  return size >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

bool openCompoundFile(const std::string& path, uint64_t limit, CompoundFile& cf, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = std::strerror(errno);
    return false;
  }
  fseeko(f, 0, SEEK_END);
  off_t size = ftello(f);
  fseeko(f, 0, SEEK_SET);
  if (size < 0 || static_cast<uint64_t>(size) > limit) {
    std::fclose(f);
    error = size < 0 ? std::strerror(errno) : "the file is too large";
    return false;
  }
  cf.data.resize(static_cast<size_t>(size));
  size_t got = std::fread(cf.data.data(), 1, cf.data.size(), f);
  std::fclose(f);
  if (got != cf.data.size()) {
    error = "cannot read the file";
    return false;
  }
  if (!hasCompoundSignature(cf.data.data(), cf.data.size()) || cf.data.size() < kHeaderSize) {
    error = "not a compound file";
    return false;
  }
  const char* h = cf.data.data();
  uint16_t shift = le::get16(h + kHdrSectorShift);
  if (shift != kSectorShift512 && shift != kSectorShift4096) {
    error = "damaged: the compound file's sector size is wrong";
    return false;
  }
  cf.sectorSize = 1u << shift;
  uint32_t fatSectors = le::get32(h + kHdrFatSectors), firstDir = le::get32(h + kHdrFirstDirectorySector),
           firstMiniFat = le::get32(h + kHdrFirstMiniFatSector), firstDifat = le::get32(h + kHdrFirstDifatSector);
  uint64_t nSect = sectorCount(cf);
  if (fatSectors > nSect + 1) {
    error = "damaged: the compound file's allocation table is larger than the file";
    return false;
  }
  // The allocation table's own sectors: 109 in the header, the rest in a DIFAT chain.
  std::vector<uint32_t> fatList;
  for (size_t i = 0; i < kHeaderDifat && fatList.size() < fatSectors; ++i) fatList.push_back(le::get32(h + kHdrDifat + i * kSectorNumberSize));
  uint32_t perDifat = cf.sectorSize / kSectorNumberSize - 1;
  for (uint32_t d = firstDifat, hops = 0; fatList.size() < fatSectors && d != kEndOfChain && d != kFreeSect; ++hops) {
    uint64_t at = sectorOffset(cf, d);
    if (d >= nSect || hops > nSect || at + cf.sectorSize > cf.data.size()) {
      error = "damaged: the compound file's DIFAT is broken";
      return false;
    }
    const char* s = cf.data.data() + at;
    for (uint32_t i = 0; i < perDifat && fatList.size() < fatSectors; ++i) fatList.push_back(le::get32(s + i * kSectorNumberSize));
    d = le::get32(s + perDifat * kSectorNumberSize);
  }
  for (uint32_t s : fatList) {
    uint64_t at = sectorOffset(cf, s);
    if (s >= nSect || at >= cf.data.size()) {
      error = "damaged: the compound file's allocation table points outside the file";
      return false;
    }
    size_t bytes = static_cast<size_t>(std::min<uint64_t>(cf.sectorSize, cf.data.size() - at));
    for (size_t i = 0; i + kSectorNumberSize <= bytes; i += kSectorNumberSize) cf.fat.push_back(le::get32(cf.data.data() + at + i));
  }
  if (!readChain(cf, firstDir, cf.fat, nSect, cf.directory) || cf.directory.size() < kEntrySize) {
    error = "damaged: the compound file's directory is broken";
    return false;
  }
  cf.directory.resize(cf.directory.size() / kEntrySize * kEntrySize);
  for (size_t off = 0; off < cf.directory.size(); off += kEntrySize) {
    const char* e = cf.directory.data() + off;
    CompoundEntry entry;
    uint16_t bytes = le::get16(e + kDirNameLength);
    for (uint16_t i = 0; i + 1 < bytes && i < kDirNameBytes; i += 2) {
      char16_t c = le::get16(e + kDirName + i);
      if (!c) break;
      entry.name += c;
    }
    entry.type = static_cast<uint8_t>(e[kDirType]);
    entry.left = le::get32(e + kDirLeft);
    entry.right = le::get32(e + kDirRight);
    entry.child = le::get32(e + kDirChild);
    entry.start = le::get32(e + kDirStartSector);
    entry.size = le::get32(e + kDirSize);
    if (cf.sectorSize == 1u << kSectorShift4096) entry.size |= static_cast<uint64_t>(le::get32(e + kDirSizeHigh)) << 32;
    cf.entries.push_back(std::move(entry));
  }
  if (cf.entries[0].type != kRoot) {
    error = "damaged: the compound file has no root storage";
    return false;
  }
  markReachable(cf);
  // The mini stream (held by the root) and its allocation table.
  const CompoundEntry& root = cf.entries[0];
  if (root.size > 0) {
    if (!readChain(cf, root.start, cf.fat, nSect, cf.miniStream) || cf.miniStream.size() < root.size) {
      error = "damaged: the compound file's mini stream is broken";
      return false;
    }
    cf.miniStream.resize(static_cast<size_t>(root.size));
    std::string table;
    if (firstMiniFat != kEndOfChain && !readChain(cf, firstMiniFat, cf.fat, nSect, table)) {
      error = "damaged: the compound file's mini allocation table is broken";
      return false;
    }
    for (size_t i = 0; i + 4 <= table.size(); i += 4) cf.miniFat.push_back(le::get32(table.data() + i));
  }
  return true;
}

int findRootStream(const CompoundFile& cf, const char* name) {
  if (cf.entries.empty()) return -1;
  // The root's children form one tree through their left and right links.
  std::vector<uint32_t> todo{cf.entries[0].child};
  std::vector<bool> seen(cf.entries.size(), false);
  while (!todo.empty()) {
    uint32_t i = todo.back();
    todo.pop_back();
    if (i == kNoStream || i >= cf.entries.size() || seen[i]) continue;
    seen[i] = true;
    const CompoundEntry& e = cf.entries[i];
    // Only through the entries a save keeps: a link through a free entry, or back to the root,
    // is damage, and a stream found that way would be lost from the saved file.
    if (!e.reachable) continue;
    if (e.type == kStream && sameName(e.name, name)) return static_cast<int>(i);
    todo.push_back(e.left);
    todo.push_back(e.right);
  }
  return -1;
}

bool readStream(const CompoundFile& cf, size_t index, std::string& out, std::string& error) {
  const CompoundEntry& e = cf.entries.at(index);
  out.clear();
  if (e.size > cf.data.size()) {
    error = "damaged: a stream is larger than the file";
    return false;
  }
  out.reserve(static_cast<size_t>(e.size));
  bool ok;
  if (e.size >= kMiniCutoff) {
    ok = readChain(cf, e.start, cf.fat, sectorCount(cf), out);
  } else {
    ok = true;
    uint64_t hops = 0;
    for (uint32_t s = e.start; ok && out.size() < e.size; s = cf.miniFat[s]) {
      uint64_t at = static_cast<uint64_t>(s) * kMiniSectorSize;
      if (s >= cf.miniFat.size() || ++hops > cf.miniFat.size() || at >= cf.miniStream.size()) {
        ok = false;
        break;
      }
      out.append(cf.miniStream, static_cast<size_t>(at),
                 static_cast<size_t>(std::min<uint64_t>(kMiniSectorSize, cf.miniStream.size() - at)));
    }
  }
  if (!ok || out.size() < e.size) {
    error = "damaged: stream \"" + std::string(e.name.begin(), e.name.end()) + "\" is cut short";
    return false;
  }
  out.resize(static_cast<size_t>(e.size));
  return true;
}

bool writeCompoundFile(const std::string& path, const CompoundFile* original, int replaced, uint64_t size,
                       const StreamWriter& writeStream, std::string& error) {
  if (size > 0xFFFFFFFFull) {
    error = "the workbook stream is over 4 GB, more than an .xls file can hold";
    return false;
  }
  if (size < kMiniCutoff) {
    error = "internal: workbook stream below the cutoff";
    return false;
  }
  // The directory as it will be written, and where each stream's bytes come from.
  std::string dir;
  std::vector<uint64_t> sizes;
  if (original) {
    dir = original->directory;
    for (size_t i = 0; i < original->entries.size(); ++i) {
      const CompoundEntry& e = original->entries[i];
      bool stream = e.type == kStream && e.reachable;
      if (e.type != kRoot && !e.reachable) {
        // An entry no tree leads to is free space in every reader's eyes.
        std::memset(&dir[i * kEntrySize], 0, kEntrySize);
        le::put32(&dir[i * kEntrySize + kDirLeft], kNoStream);
        le::put32(&dir[i * kEntrySize + kDirRight], kNoStream);
        le::put32(&dir[i * kEntrySize + kDirChild], kNoStream);
      }
      sizes.push_back(static_cast<int>(i) == replaced ? size : stream ? e.size : 0);
    }
  } else {
    replaced = 1;
    dir.assign(4 * kEntrySize, '\0');
    auto entry = [&](size_t i, const char* name, uint8_t type, uint32_t child) {
      char* e = &dir[i * kEntrySize];
      size_t n = std::strlen(name);
      for (size_t k = 0; k < n; ++k) le::put16(e + kDirName + k * 2, static_cast<unsigned char>(name[k]));
      le::put16(e + kDirNameLength, static_cast<uint16_t>((n + 1) * 2));
      e[kDirType] = static_cast<char>(type);
      e[kDirColor] = static_cast<char>(kBlack);
      le::put32(e + kDirChild, child);
    };
    entry(0, "Root Entry", kRoot, 1);
    entry(1, "Workbook", kStream, kNoStream);
    for (size_t i = 0; i < 4; ++i) {
      le::put32(&dir[i * kEntrySize + kDirLeft], kNoStream);
      le::put32(&dir[i * kEntrySize + kDirRight], kNoStream);
      if (i != 0) le::put32(&dir[i * kEntrySize + kDirChild], kNoStream);
    }
    sizes = {0, size, 0, 0};
  }
  while (dir.size() % kWriteSectorSize) {
    size_t at = dir.size();
    dir.append(kEntrySize, '\0');
    le::put32(&dir[at + kDirLeft], kNoStream);
    le::put32(&dir[at + kDirRight], kNoStream);
    le::put32(&dir[at + kDirChild], kNoStream);
    sizes.push_back(0);
  }
  const size_t entryCount = dir.size() / kEntrySize;

  // Small streams go into the mini stream, in 64-byte sectors; the others into whole sectors.
  std::string mini;
  std::vector<uint32_t> miniFat;
  std::vector<uint32_t> starts(entryCount, kEndOfChain);
  uint64_t bigSectors = 0;
  std::string content;
  for (size_t i = 1; i < entryCount; ++i) {
    if (sizes[i] == 0) continue;
    if (sizes[i] >= kMiniCutoff) {
      starts[i] = static_cast<uint32_t>(bigSectors);
      bigSectors += (sizes[i] + kWriteSectorSize - 1) / kWriteSectorSize;
      continue;
    }
    if (!readStream(*original, i, content, error)) return false;
    uint32_t first = static_cast<uint32_t>(mini.size() / kMiniSectorSize);
    uint32_t count = static_cast<uint32_t>((content.size() + kMiniSectorSize - 1) / kMiniSectorSize);
    starts[i] = first;
    for (uint32_t k = 0; k < count; ++k) miniFat.push_back(k + 1 == count ? kEndOfChain : first + k + 1);
    mini += content;
    mini.resize(mini.size() + (kMiniSectorSize - mini.size() % kMiniSectorSize) % kMiniSectorSize, '\0');
  }
  const uint64_t miniSectors = (mini.size() + kWriteSectorSize - 1) / kWriteSectorSize;
  const uint64_t dirSectors = dir.size() / kWriteSectorSize;
  const uint64_t miniFatSectors = (miniFat.size() * 4 + kWriteSectorSize - 1) / kWriteSectorSize;
  const uint64_t perFat = kWriteSectorSize / kSectorNumberSize;
  const uint64_t fixed = bigSectors + miniSectors + dirSectors + miniFatSectors;
  uint64_t fat = 1, difat = 0;
  for (;;) {
    uint64_t need = (fixed + fat + difat + perFat - 1) / perFat;
    uint64_t needDifat = need > kHeaderDifat ? (need - kHeaderDifat + perFat - 2) / (perFat - 1) : 0;
    if (need == fat && needDifat == difat) break;
    fat = need;
    difat = needDifat;
  }
  if (fixed + fat + difat >= kLargestSectorCount) {
    error = "the workbook is too large for a compound file";
    return false;
  }
  const uint32_t miniStart = static_cast<uint32_t>(bigSectors);
  const uint32_t dirStart = static_cast<uint32_t>(miniStart + miniSectors);
  const uint32_t miniFatStart = static_cast<uint32_t>(dirStart + dirSectors);
  const uint32_t fatStart = static_cast<uint32_t>(miniFatStart + miniFatSectors);
  const uint32_t difatStart = static_cast<uint32_t>(fatStart + fat);

  // The allocation table: each run of sectors is one chain.
  std::vector<uint32_t> table(static_cast<size_t>(fat * perFat), kFreeSect);
  auto chainRun = [&](uint64_t first, uint64_t count) {
    for (uint64_t k = 0; k < count; ++k)
      table[static_cast<size_t>(first + k)] = k + 1 == count ? kEndOfChain : static_cast<uint32_t>(first + k + 1);
  };
  for (size_t i = 1; i < entryCount; ++i)
    if (sizes[i] >= kMiniCutoff) chainRun(starts[i], (sizes[i] + kWriteSectorSize - 1) / kWriteSectorSize);
  chainRun(miniStart, miniSectors);
  chainRun(dirStart, dirSectors);
  chainRun(miniFatStart, miniFatSectors);
  for (uint64_t k = 0; k < fat; ++k) table[static_cast<size_t>(fatStart + k)] = kFatSect;
  for (uint64_t k = 0; k < difat; ++k) table[static_cast<size_t>(difatStart + k)] = kDifSect;

  for (size_t i = 0; i < entryCount; ++i) {
    char* e = &dir[i * kEntrySize];
    if (i == 0) {
      le::put32(e + kDirStartSector, miniSectors ? miniStart : kEndOfChain);
      le::put32(e + kDirSize, static_cast<uint32_t>(mini.size()));
    } else if (static_cast<uint8_t>(e[kDirType]) == kStream) {
      le::put32(e + kDirStartSector, starts[i]);
      le::put32(e + kDirSize, static_cast<uint32_t>(sizes[i]));
    }
    le::put32(e + kDirSizeHigh, 0);  // the high half of the size, which version 3 files leave zero
  }

  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    error = std::strerror(errno);
    return false;
  }
  // The file goes out in large pieces: a workbook stream is tens of megabytes.
  std::vector<char> outBuffer(kWriteBuffer);
  std::setvbuf(out, outBuffer.data(), _IOFBF, outBuffer.size());
  std::string header(kHeaderSize, '\0');
  std::memcpy(header.data(), kSignature, sizeof kSignature);
  le::put16(&header[kHdrMinorVersion], kMinorVersion);
  le::put16(&header[kHdrMajorVersion], kMajorVersion3);
  le::put16(&header[kHdrByteOrder], kByteOrderLittleEndian);
  le::put16(&header[kHdrSectorShift], kSectorShift512);
  le::put16(&header[kHdrMiniSectorShift], kMiniSectorShift);
  le::put32(&header[kHdrFatSectors], static_cast<uint32_t>(fat));
  le::put32(&header[kHdrFirstDirectorySector], dirStart);
  le::put32(&header[kHdrMiniCutoff], kMiniCutoff);
  le::put32(&header[kHdrFirstMiniFatSector], miniFatSectors ? miniFatStart : kEndOfChain);
  le::put32(&header[kHdrMiniFatSectors], static_cast<uint32_t>(miniFatSectors));
  le::put32(&header[kHdrFirstDifatSector], difat ? difatStart : kEndOfChain);
  le::put32(&header[kHdrDifatSectors], static_cast<uint32_t>(difat));
  for (size_t i = 0; i < kHeaderDifat; ++i)
    le::put32(&header[kHdrDifat + i * kSectorNumberSize], i < fat ? fatStart + static_cast<uint32_t>(i) : kFreeSect);
  bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
  auto pad = [&](uint64_t written) {
    uint64_t n = (kWriteSectorSize - written % kWriteSectorSize) % kWriteSectorSize;
    static const char zeros[kWriteSectorSize] = {};
    return n == 0 || std::fwrite(zeros, 1, static_cast<size_t>(n), out) == n;
  };
  auto put = [&](const std::string& s) { return std::fwrite(s.data(), 1, s.size(), out) == s.size() && pad(s.size()); };

  // The large streams, in directory order, as their sectors were planned.
  for (size_t i = 1; ok && i < entryCount; ++i) {
    if (sizes[i] < kMiniCutoff) continue;
    if (static_cast<int>(i) == replaced) {
      off_t start = ftello(out);
      errno = 0;
      ok = writeStream(out, error);
      if (ok && ftello(out) - start != static_cast<off_t>(size)) {
        // The sectors were planned for that size: anything else would leave a broken file.
        error = "internal: the stream came out at another size than planned";
        ok = false;
      }
      if (!ok && !error.empty()) {
        std::fclose(out);
        return false;
      }
      ok = ok && pad(size);
    } else {
      if (!readStream(*original, i, content, error)) {
        std::fclose(out);
        return false;
      }
      ok = put(content);
    }
  }
  content.clear();
  content.shrink_to_fit();
  ok = ok && put(mini) && put(dir);
  std::string words;
  for (uint32_t v : miniFat) le::add32(words, v);
  ok = ok && put(words);
  for (size_t k = 0; ok && k < table.size(); k += static_cast<size_t>(perFat)) {
    words.clear();
    for (size_t j = 0; j < perFat; ++j) le::add32(words, table[k + j]);
    ok = std::fwrite(words.data(), 1, words.size(), out) == words.size();
  }
  // DIFAT sectors list the allocation table's sectors beyond the header's 109.
  for (uint64_t d = 0; ok && d < difat; ++d) {
    words.clear();
    for (uint64_t k = 0; k + 1 < perFat; ++k) {
      uint64_t f = kHeaderDifat + d * (perFat - 1) + k;
      le::add32(words, f < fat ? fatStart + static_cast<uint32_t>(f) : kFreeSect);
    }
    le::add32(words, d + 1 < difat ? difatStart + static_cast<uint32_t>(d + 1) : kEndOfChain);
    ok = std::fwrite(words.data(), 1, words.size(), out) == words.size();
  }
  int writeErrno = ok ? 0 : errno;
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    writeErrno = errno;
  }
  if (!ok) error = writeErrno ? std::strerror(writeErrno) : "cannot write the file";
  return ok;
}

}  // namespace xls
