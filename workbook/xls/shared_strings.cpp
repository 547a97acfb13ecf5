#include "workbook/xls/shared_strings.h"

#include <cerrno>
#include <cstring>
#include <algorithm>

#include "platform/text_codec.h"
#include "workbook/spool.h"
#include "workbook/xls/records.h"

namespace xls {

namespace {

// Flags of a string's header.
constexpr uint8_t kHighByte = 0x01, kExtSt = 0x04, kRichSt = 0x08;
constexpr size_t kSstHeader = 8;        // total and unique counts before the first string
constexpr size_t kMostBuckets = 128;    // EXTSST entries Excel writes at most
constexpr uint16_t kMostPerBucket = 0x8000;  // doubled once more it would not fit its field
constexpr size_t kRecordHeader = 4;

// One string as the table holds it.
struct SstString {
  uint16_t length = 0;  // characters (UTF-16 units)
  uint8_t flags = 0;
  bool narrow = false;  // every character was stored as a single byte
  std::u16string chars;
  std::string runs, ext;  // rich text runs (4 bytes each) and phonetic data, as stored
};

// Reads the strings of the loaded records one by one, across CONTINUE boundaries.
class LoadedReader {
 public:
  explicit LoadedReader(const std::string& records) : data_(records) {}

  bool start(std::string& error) {
    if (!nextRecord(true) || end_ - pos_ < kSstHeader) return fail(error);
    pos_ += kSstHeader;
    return true;
  }
  bool atEnd() {
    while (pos_ == end_) if (!nextRecord(false)) return true;
    return false;
  }
  bool read(SstString& s, std::string& error) {
    std::string head;
    if (!bytes(3, head)) return fail(error);
    s.length = le::get16(head.data());
    s.flags = static_cast<uint8_t>(head[2]);
    uint16_t runCount = 0;
    uint32_t extSize = 0;
    std::string more;
    if (s.flags & kRichSt) {
      if (!bytes(2, more)) return fail(error);
      runCount = le::get16(more.data());
    }
    if (s.flags & kExtSt) {
      if (!bytes(4, more)) return fail(error);
      extSize = le::get32(more.data());
    }
    s.chars.clear();
    bool wide = s.flags & kHighByte, allNarrow = !wide;
    for (size_t left = s.length; left;) {
      if (pos_ == end_) {
        // Characters go on in the next record, which starts with its own high-byte flag.
        if (!nextRecord(false) || pos_ == end_) return fail(error);
        wide = static_cast<uint8_t>(data_[pos_++]) & kHighByte;
        allNarrow = allNarrow && !wide;
      }
      size_t unit = wide ? 2 : 1;
      size_t take = std::min(left, (end_ - pos_) / unit);
      if (take == 0) return fail(error);
      for (size_t k = 0; k < take; ++k) {
        char16_t c = wide ? le::get16(&data_[pos_ + 2 * k]) : static_cast<unsigned char>(data_[pos_ + k]);
        s.chars += c;
      }
      pos_ += take * unit;
      left -= take;
    }
    s.narrow = allNarrow || s.length == 0;
    if (!bytes(size_t{runCount} * 4, s.runs) || !bytes(extSize, s.ext)) return fail(error);
    return true;
  }

 private:
  bool fail(std::string& error) {
    error = "damaged: the shared strings";
    return false;
  }
  // The next record's body; the first must be the SST record, the others CONTINUE records.
  bool nextRecord(bool first) {
    if (next_ + 4 > data_.size()) return false;
    uint16_t type = le::get16(&data_[next_]), size = le::get16(&data_[next_ + 2]);
    if (type != (first ? kSst : kContinue) || next_ + 4 + size > data_.size()) return false;
    pos_ = next_ + 4;
    end_ = pos_ + size;
    next_ = end_;
    return true;
  }
  // Bytes that are no characters may run on into the next record as they are.
  bool bytes(size_t n, std::string& out) {
    out.clear();
    while (out.size() < n) {
      if (pos_ == end_ && !nextRecord(false)) return false;
      size_t take = std::min(n - out.size(), end_ - pos_);
      out.append(data_, pos_, take);
      pos_ += take;
    }
    return true;
  }
  const std::string& data_;
  size_t pos_ = 0, end_ = 0, next_ = 0;
};

std::string systemFailure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Ends the record being filled: it goes whole to the temporary file, and the next one is a
// CONTINUE record.
bool endRecord(SharedStrings& sst, std::string& error) {
  char header[kRecordHeader];
  le::put16(header, sst.records.rawSize() == 0 ? kSst : kContinue);
  le::put16(header + 2, static_cast<uint16_t>(sst.body.size()));
  errno = 0;
  if (!sst.records.isOpen() && !sst.records.open(false, &error)) return false;
  if (!sst.records.write(std::string_view(header, sizeof header)) || !sst.records.write(sst.body)) {
    error = systemFailure("cannot write a temporary file");
    return false;
  }
  sst.body.clear();
  return true;
}

// Notes where string number `sst.framed` starts, every so many strings. The index holds at most
// kMostBuckets entries: when one more would pass that, every other entry goes and the strings per
// entry double.
void noteStringStart(SharedStrings& sst) {
  SstIndex& ix = sst.index;
  if (sst.framed % ix.stringsPerBucket != 0) return;
  ix.buckets.emplace_back(sst.records.rawSize() + kRecordHeader + sst.body.size(),
                          static_cast<uint16_t>(kRecordHeader + sst.body.size()));
  if (ix.buckets.size() <= kMostBuckets) return;
  if (ix.stringsPerBucket >= kMostPerBucket) {
    ix.buckets.pop_back();  // past what the index can cover; readers search on from the last entry
    return;
  }
  for (size_t k = 0; 2 * k < ix.buckets.size(); ++k) ix.buckets[k] = ix.buckets[2 * k];
  ix.buckets.resize((ix.buckets.size() + 1) / 2);
  ix.stringsPerBucket = static_cast<uint16_t>(ix.stringsPerBucket * 2);
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }

// Frames one string: its header and first character (both halves of a surrogate pair) share a
// record; characters run on into CONTINUE records, each starting with the high-byte flag again.
// The characters come as UTF-16 units, or as bytes when they are ASCII.
template <typename Unit>
bool frameString(SharedStrings& sst, std::basic_string_view<Unit> chars, bool narrow, uint8_t flags,
                 std::string_view runs, std::string_view ext, std::string& error) {
  std::string& body = sst.body;
  auto room = [&] { return kMaxRecordData - body.size(); };
  flags = static_cast<uint8_t>((flags & (kExtSt | kRichSt)) | (narrow ? 0 : kHighByte));
  const size_t length = chars.size();
  size_t headSize = 3 + (flags & kRichSt ? 2 : 0) + (flags & kExtSt ? 4 : 0);
  size_t unit = narrow ? 1 : 2;
  if (room() < headSize + (length ? 2 * unit : 0) && !endRecord(sst, error)) return false;
  noteStringStart(sst);
  ++sst.framed;
  le::add16(body, static_cast<uint16_t>(length));
  body += static_cast<char>(flags);
  if (flags & kRichSt) le::add16(body, static_cast<uint16_t>(runs.size() / 4));
  if (flags & kExtSt) le::add32(body, static_cast<uint32_t>(ext.size()));
  for (size_t k = 0; k < length;) {
    size_t take = std::min(length - k, room() / unit);
    // A surrogate pair is not split between records: readers decode each piece on its own.
    if (!narrow && take > 0 && k + take < length && isHighSurrogate(chars[k + take - 1])) --take;
    if (take == 0) {
      if (!endRecord(sst, error)) return false;
      body += static_cast<char>(narrow ? 0 : kHighByte);
      continue;
    }
    size_t at = body.size();
    body.resize(at + take * unit);
    char* out = &body[at];
    if (narrow) {
      for (size_t j = 0; j < take; ++j) out[j] = static_cast<char>(chars[k + j]);
    } else {
      for (size_t j = 0; j < take; ++j) le::put16(out + 2 * j, chars[k + j]);
    }
    k += take;
  }
  for (size_t k = 0; k < runs.size(); k += 4) {
    if (room() < 4 && !endRecord(sst, error)) return false;
    body.append(runs.substr(k, 4));
  }
  for (size_t k = 0; k < ext.size();) {
    if (room() == 0 && !endRecord(sst, error)) return false;
    size_t take = std::min(room(), ext.size() - k);
    body.append(ext.substr(k, take));
    k += take;
  }
  return true;
}

// The first record starts with the two counts, filled in when the table is written; the loaded
// strings come first, as they were.
bool startFraming(SharedStrings& sst, std::string& error) {
  if (sst.started) return true;
  sst.body.reserve(kMaxRecordData);
  sst.body.assign(kSstHeader, '\0');
  if (!sst.loaded.empty()) {
    LoadedReader reader(sst.loaded);
    if (!reader.start(error)) return false;
    SstString s;
    while (!reader.atEnd()) {
      if (!reader.read(s, error) ||
          !frameString(sst, std::u16string_view(s.chars), s.narrow, s.flags, s.runs, s.ext, error))
        return false;
    }
  }
  sst.started = true;
  return true;
}

}  // namespace

bool readLoadedStrings(SharedStrings& sst, std::string& error) {
  LoadedReader reader(sst.loaded);
  if (!reader.start(error)) return false;
  SstString s;
  uint32_t count = 0;
  while (!reader.atEnd()) {
    if (!reader.read(s, error)) return false;
    ++count;
  }
  // The count in the SST record is not always right; the strings themselves are.
  sst.loadedUnique = count;
  return true;
}

bool addSharedString(SharedStrings& sst, std::u16string_view text, uint32_t& index, std::string& error) {
  if (!startFraming(sst, error)) return false;
  bool narrow = true;
  for (char16_t c : text) narrow = narrow && c <= 0xFF;
  if (!frameString(sst, text, narrow, 0, {}, {}, error)) return false;
  index = sst.count();
  ++sst.added;
  return true;
}

bool addSharedStringUtf8(SharedStrings& sst, std::string_view utf8, uint32_t& index, std::string& error) {
  bool ascii = true;
  for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (!ascii) {
    sst.scratch = utf8ToUtf16(utf8);
    return addSharedString(sst, sst.scratch, index, error);
  }
  if (!startFraming(sst, error) || !frameString(sst, utf8, true, 0, {}, {}, error)) return false;
  index = sst.count();
  ++sst.added;
  return true;
}

bool sharedStringsSize(SharedStrings& sst, uint64_t& size, std::string& error) {
  if (!startFraming(sst, error)) return false;
  size = sst.records.rawSize() + kRecordHeader + sst.body.size();
  return true;
}

bool writeSharedStrings(SharedStrings& sst, std::FILE* out, std::string& error) {
  if (!startFraming(sst, error)) return false;
  // The counts go at these bytes of the first record, whole or still being filled.
  char counts[kSstHeader];
  le::put32(counts, sst.loadedTotal + sst.added);
  le::put32(counts + 4, sst.count());
  const uint64_t countsAt = kRecordHeader;
  auto put = [&](const char* p, size_t n, uint64_t at) {
    if (at >= countsAt + kSstHeader || at + n <= countsAt) return std::fwrite(p, 1, n, out) == n;
    std::string patched(p, n);
    for (size_t k = 0; k < kSstHeader; ++k)
      if (countsAt + k >= at && countsAt + k < at + n) patched[countsAt + k - at] = counts[k];
    return std::fwrite(patched.data(), 1, n, out) == n;
  };
  uint64_t at = 0;
  bool ok = !sst.records.isOpen() || sst.records.copyStored([&](const char* p, size_t n) {
    bool written = put(p, n, at);
    at += n;
    return written;
  });
  char header[kRecordHeader];
  le::put16(header, at == 0 ? kSst : kContinue);
  le::put16(header + 2, static_cast<uint16_t>(sst.body.size()));
  ok = ok && put(header, sizeof header, at);
  ok = ok && put(sst.body.data(), sst.body.size(), at + kRecordHeader);
  if (!ok) error = systemFailure("cannot write the shared strings");
  return ok;
}

std::string extSstBody(const SstIndex& index, uint64_t sstOffset) {
  std::string body;
  le::add16(body, index.stringsPerBucket);
  for (const auto& [position, inRecord] : index.buckets) {
    le::add32(body, static_cast<uint32_t>(sstOffset + position));
    le::add16(body, inRecord);
    le::add16(body, 0);
  }
  return body;
}

}  // namespace xls
