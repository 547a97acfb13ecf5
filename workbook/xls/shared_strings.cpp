#include "workbook/xls/shared_strings.h"

#include <cerrno>
#include <cstring>
#include <functional>

#include "workbook/spool.h"
#include "workbook/xls/records.h"

namespace xls {

namespace {

// Flags of a string's header.
constexpr uint8_t kHighByte = 0x01, kExtSt = 0x04, kRichSt = 0x08;
constexpr size_t kSstHeader = 8;        // total and unique counts before the first string
constexpr size_t kMostBuckets = 128;    // EXTSST entries Excel writes at most
constexpr uint16_t kLeastPerBucket = 8;

// One string as the table holds it.
struct SstString {
  uint16_t length = 0;  // characters (UTF-16 units)
  uint8_t flags = 0;
  std::u16string chars;
  std::string compressed;  // the characters as single bytes when the whole string was stored so
  std::string runs, ext;   // rich text runs (4 bytes each) and phonetic data, as stored
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
    s.length = get16(head.data());
    s.flags = static_cast<uint8_t>(head[2]);
    uint16_t runCount = 0;
    uint32_t extSize = 0;
    std::string more;
    if (s.flags & kRichSt) {
      if (!bytes(2, more)) return fail(error);
      runCount = get16(more.data());
    }
    if (s.flags & kExtSt) {
      if (!bytes(4, more)) return fail(error);
      extSize = get32(more.data());
    }
    s.chars.clear();
    s.compressed.clear();
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
        char16_t c = wide ? get16(&data_[pos_ + 2 * k]) : static_cast<unsigned char>(data_[pos_ + k]);
        s.chars += c;
      }
      pos_ += take * unit;
      left -= take;
    }
    if (allNarrow)
      for (char16_t c : s.chars) s.compressed += static_cast<char>(c);
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
    uint16_t type = get16(&data_[next_]), size = get16(&data_[next_ + 2]);
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

// Reads the strings added here back from the temporary file.
class SpoolReader {
 public:
  explicit SpoolReader(std::FILE* f) : f_(f) {}
  bool start() { return !f_ || (std::fflush(f_) == 0 && fseeko(f_, 0, SEEK_SET) == 0); }
  bool read(SstString& s) {
    unsigned char head[3];
    if (std::fread(head, 1, 3, f_) != 3) return false;
    s.length = static_cast<uint16_t>(head[0] | head[1] << 8);
    s.flags = head[2];
    s.runs.clear();
    s.ext.clear();
    s.chars.clear();
    s.compressed.clear();
    bool wide = s.flags & kHighByte;
    std::string raw(size_t{s.length} * (wide ? 2 : 1), '\0');
    if (!raw.empty() && std::fread(raw.data(), 1, raw.size(), f_) != raw.size()) return false;
    if (wide) {
      for (size_t k = 0; k < s.length; ++k) s.chars += static_cast<char16_t>(get16(&raw[2 * k]));
    } else {
      s.compressed = std::move(raw);
      for (char c : s.compressed) s.chars += static_cast<unsigned char>(c);
    }
    return true;
  }

 private:
  std::FILE* f_;
};

// Cuts the strings into records: SST first, then CONTINUE records, each body at most
// kMaxRecordData bytes. Records are sent whole to the sink.
class Framer {
 public:
  Framer(const std::function<bool(const std::string&)>& sink, SstLayout& layout, uint32_t total, uint32_t unique)
      : sink_(sink), layout_(layout) {
    add32(body_, total);
    add32(body_, unique);
  }
  bool add(const SstString& s, uint32_t index) {
    bool narrow = !s.compressed.empty() || s.length == 0;
    uint8_t flags = static_cast<uint8_t>((s.flags & (kExtSt | kRichSt)) | (narrow ? 0 : kHighByte));
    std::string head;
    add16(head, s.length);
    head += static_cast<char>(flags);
    if (flags & kRichSt) add16(head, static_cast<uint16_t>(s.runs.size() / 4));
    if (flags & kExtSt) add32(head, static_cast<uint32_t>(s.ext.size()));
    size_t unit = narrow ? 1 : 2;
    // The header and the first character (both halves of a surrogate pair) share a record.
    if (room() < head.size() + (s.length ? 2 * unit : 0) && !flush(false)) return false;
    if (index % layout_.stringsPerBucket == 0)
      layout_.buckets.emplace_back(written_ + 4 + body_.size(), static_cast<uint16_t>(4 + body_.size()));
    body_ += head;
    for (size_t k = 0; k < s.length;) {
      size_t take = std::min<size_t>(s.length - k, room() / unit);
      // A surrogate pair is not split between records: readers decode each piece on its own.
      if (!narrow && take > 0 && k + take < s.length && s.chars[k + take - 1] >= 0xD800 &&
          s.chars[k + take - 1] < 0xDC00)
        --take;
      if (take == 0) {
        // A string that runs on repeats its high-byte flag at the start of the next record.
        if (!flush(false)) return false;
        body_ += static_cast<char>(narrow ? 0 : kHighByte);
        continue;
      }
      if (narrow) {
        body_.append(s.compressed, k, take);
      } else {
        for (size_t j = 0; j < take; ++j) add16(body_, s.chars[k + j]);
      }
      k += take;
    }
    for (size_t k = 0; k < s.runs.size(); k += 4) {
      if (room() < 4 && !flush(false)) return false;
      body_.append(s.runs, k, 4);
    }
    for (size_t k = 0; k < s.ext.size();) {
      if (room() == 0 && !flush(false)) return false;
      size_t take = std::min(room(), s.ext.size() - k);
      body_.append(s.ext, k, take);
      k += take;
    }
    return true;
  }
  bool finish() { return flush(true); }

 private:
  size_t room() const { return kMaxRecordData - body_.size(); }
  bool flush(bool last) {
    if (body_.empty() && !last) return true;
    std::string rec;
    addRecord(rec, first_ ? kSst : kContinue, body_);
    first_ = false;
    written_ += rec.size();
    body_.clear();
    return sink_(rec);
  }
  const std::function<bool(const std::string&)>& sink_;
  SstLayout& layout_;
  std::string body_;
  bool first_ = true;
  uint64_t written_ = 0;
};

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

bool addSharedString(SharedStrings& sst, const std::u16string& text, uint32_t& index, std::string& error) {
  if (!sst.spool && !(sst.spool = openTemporaryFile())) {
    error = std::string("cannot create a temporary file: ") + std::strerror(errno);
    return false;
  }
  bool wide = false;
  for (char16_t c : text) wide = wide || c > 0xFF;
  std::string entry;
  add16(entry, static_cast<uint16_t>(text.size()));
  entry += static_cast<char>(wide ? kHighByte : 0);
  for (char16_t c : text) {
    if (wide) add16(entry, c);
    else entry += static_cast<char>(c);
  }
  if (std::fwrite(entry.data(), 1, entry.size(), sst.spool) != entry.size()) {
    error = std::string("cannot write a temporary file: ") + std::strerror(errno);
    return false;
  }
  index = sst.count();
  ++sst.added;
  return true;
}

bool layOutSharedStrings(SharedStrings& sst, std::FILE* out, SstLayout& layout, std::string& error) {
  layout = SstLayout{};
  uint32_t unique = sst.count();
  layout.stringsPerBucket = static_cast<uint16_t>(
      std::max<uint32_t>(kLeastPerBucket, (unique + kMostBuckets - 1) / kMostBuckets));
  std::function<bool(const std::string&)> sink = [&](const std::string& rec) {
    layout.size += rec.size();
    if (out && std::fwrite(rec.data(), 1, rec.size(), out) != rec.size()) {
      error = std::string("cannot write a temporary file: ") + std::strerror(errno);
      return false;
    }
    return true;
  };
  Framer framer(sink, layout, sst.loadedTotal + sst.added, unique);
  uint32_t index = 0;
  SstString s;
  if (!sst.loaded.empty()) {
    LoadedReader reader(sst.loaded);
    if (!reader.start(error)) return false;
    while (!reader.atEnd()) {
      if (!reader.read(s, error) || !framer.add(s, index++)) return false;
    }
  }
  SpoolReader spool(sst.spool);
  if (!spool.start()) {
    error = "cannot read back the temporary file of the shared strings";
    return false;
  }
  for (uint32_t k = 0; k < sst.added; ++k) {
    if (!spool.read(s)) {
      error = "cannot read back the temporary file of the shared strings";
      return false;
    }
    if (!framer.add(s, index++)) return false;
  }
  if (sst.spool && fseeko(sst.spool, 0, SEEK_END) != 0) {
    error = "cannot read back the temporary file of the shared strings";
    return false;
  }
  return framer.finish();
}

std::string extSstBody(const SstLayout& layout, uint64_t sstOffset) {
  std::string body;
  add16(body, layout.stringsPerBucket);
  for (const auto& [position, inRecord] : layout.buckets) {
    add32(body, static_cast<uint32_t>(sstOffset + position));
    add16(body, inRecord);
    add16(body, 0);
  }
  return body;
}

}  // namespace xls
