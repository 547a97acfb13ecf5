#include "workbook/xls/shared_strings.h"

#include <cstring>
#include <unistd.h>
#include <vector>

#include "workbook/spool.h"
#include "workbook/xls/records.h"

namespace xls {

namespace {

bool finishRecord(SharedStrings& sst, std::string& error) {
  if (!sst.spool && !(sst.spool = openTemporaryFile())) {
    error = std::string("cannot create a temporary file: ") + std::strerror(errno);
    return false;
  }
  std::string rec;
  addRecord(rec, sst.currentIsFirst && sst.spoolBytes == 0 ? kSst : kContinue, sst.current);
  if (std::fwrite(rec.data(), 1, rec.size(), sst.spool) != rec.size()) {
    error = "cannot write a temporary file";
    return false;
  }
  sst.spoolBytes += rec.size();
  sst.current.clear();
  return true;
}

}  // namespace

bool addSharedString(SharedStrings& sst, const std::u16string& text, uint32_t& index, std::string& error) {
  if (sst.currentIsFirst && sst.spoolBytes == 0 && sst.current.empty()) sst.current.assign(8, '\0');
  bool wide = false;
  for (char16_t c : text) wide = wide || c > 0xFF;
  const size_t unit = wide ? 2 : 1;
  // The count and flags must share a record with at least one character.
  if (sst.current.size() + 3 + (text.empty() ? 0 : unit) > kMaxRecordData && !finishRecord(sst, error))
    return false;
  add16(sst.current, static_cast<uint16_t>(text.size()));
  sst.current += static_cast<char>(wide ? 1 : 0);
  for (size_t i = 0; i < text.size(); ++i) {
    // A surrogate pair stays in one record: readers decode each record's piece on its own.
    bool pair = wide && text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size();
    if (sst.current.size() + unit * (pair ? 2 : 1) > kMaxRecordData) {
      // A string that runs on into a CONTINUE record repeats its flags there.
      if (!finishRecord(sst, error)) return false;
      sst.current += static_cast<char>(wide ? 1 : 0);
    }
    if (wide) add16(sst.current, text[i]);
    else sst.current += static_cast<char>(text[i]);
  }
  index = sst.count();
  ++sst.added;
  return true;
}

uint64_t sharedStringsSize(const SharedStrings& sst) {
  uint64_t size = sst.loaded.size() + sst.spoolBytes;
  if (!sst.current.empty()) size += 4 + sst.current.size();
  if (sst.loaded.empty() && sst.spoolBytes == 0 && sst.current.empty()) size += 4 + 8;
  return size;
}

bool writeSharedStrings(SharedStrings& sst, std::FILE* out) {
  uint32_t total = sst.loadedTotal + sst.added, unique = sst.count();
  std::string counts;
  add32(counts, total);
  add32(counts, unique);
  if (!sst.loaded.empty()) {
    std::string head = sst.loaded.substr(0, 12);
    std::memcpy(&head[4], counts.data(), 8);
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size()) return false;
    if (std::fwrite(sst.loaded.data() + 12, 1, sst.loaded.size() - 12, out) != sst.loaded.size() - 12)
      return false;
  } else if (sst.spoolBytes) {
    if (std::fflush(sst.spool) != 0 || pwrite(fileno(sst.spool), counts.data(), 8, 4) != 8) return false;
  } else if (!sst.current.empty()) {
    std::memcpy(&sst.current[0], counts.data(), 8);
  } else {
    std::string rec;
    addRecord(rec, kSst, counts);
    return std::fwrite(rec.data(), 1, rec.size(), out) == rec.size();
  }
  if (sst.spoolBytes) {
    if (std::fflush(sst.spool) != 0) return false;
    std::vector<char> buf(1 << 16);
    for (uint64_t pos = 0; pos < sst.spoolBytes;) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), sst.spoolBytes - pos));
      ssize_t got = pread(fileno(sst.spool), buf.data(), want, static_cast<off_t>(pos));
      if (got <= 0 || std::fwrite(buf.data(), 1, static_cast<size_t>(got), out) != static_cast<size_t>(got))
        return false;
      pos += static_cast<uint64_t>(got);
    }
  }
  if (!sst.current.empty()) {
    std::string rec;
    addRecord(rec, sst.currentIsFirst && sst.spoolBytes == 0 ? kSst : kContinue, sst.current);
    if (std::fwrite(rec.data(), 1, rec.size(), out) != rec.size()) return false;
  }
  return true;
}

}  // namespace xls
