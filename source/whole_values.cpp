#include "source/whole_values.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include <zlib.h>

#include "platform/compound_file_format.h"
#include "platform/little_endian.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/text_codec.h"
#include "source/jet/complex_values.h"
#include "source/dao_types.h"
#include "source/engine.h"
#include "source/jet_format.h"
#include "source/linked_tables.h"
#include "source/ole_format.h"

namespace {

// The largest attached file decoded; a length beyond it is damage, not a file.
constexpr uint64_t kLargestAttachment = uint64_t{2} << 30;

// Reads the stored bytes front to back; every read is checked against their end.
struct Reader {
  const uint8_t* data;
  size_t size, at;
  bool ok = true;
  bool has(size_t n) const { return ok && at <= size && size - at >= n; }
  uint32_t u32() {
    if (!has(4)) return ok = false, 0;
    uint32_t v = le::get32(data + at);
    at += 4;
    return v;
  }
  uint16_t u16() {
    if (!has(2)) return ok = false, 0;
    uint16_t v = le::get16(data + at);
    at += 2;
    return v;
  }
  // A text of n bytes, its terminating NUL (if any) dropped.
  std::string text(size_t n) {
    if (!has(n)) return ok = false, std::string();
    std::string s(reinterpret_cast<const char*>(data + at), n);
    at += n;
    if (size_t nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
    return s;
  }
  std::string lengthPrefixed() { return text(u32()); }
  std::string nulEnded() {
    const uint8_t* end = has(1) ? static_cast<const uint8_t*>(std::memchr(data + at, 0, size - at)) : nullptr;
    if (!end) return ok = false, std::string();
    return text(static_cast<size_t>(end - (data + at)) + 1);
  }
  // A UTF-16LE text of n units, cut at its terminating NUL (if any).
  std::string utf16(size_t units) {
    if (units > (size - std::min(at, size)) / 2) return ok = false, std::string();
    std::string out = decodeUtf16Le(data + at, 2 * units);
    at += 2 * units;
    if (size_t nul = out.find('\0'); nul != std::string::npos) out.resize(nul);
    return out;
  }
};

// A text of an old code page: bytes outside ASCII are kept only when they are valid UTF-8.
std::string ansiText(const std::string& text) {
  bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? text : std::string();
}

// The Packager's native data: the embedded file and its name, or a link.
void unwrapPackage(const uint8_t* data, size_t size, size_t base, OleContent& content) {
  Reader r{data, size, 0};
  if (r.u16() != olefmt::kPackageSignature) return;
  std::string name = r.nulEnded();
  r.nulEnded();  // the file's source path
  uint32_t kind = r.u32();
  if (!r.ok) return;
  if (kind == olefmt::kPackageLinkedFile) {
    content.linked = true;
    return;
  }
  if (kind != olefmt::kPackageEmbeddedFile) return;
  r.lengthPrefixed();  // the temporary path the Packager used
  uint32_t fileSize = r.u32();
  if (!r.ok || !r.has(fileSize)) return;
  content.offset = base + r.at;
  content.size = fileSize;
  content.name = fileNameOfStoredPath(ansiText(name));
  r.at += fileSize;
  // The same paths in UTF-16: temporary path, file name, source path.
  r.utf16(r.u32());
  std::string wideName = r.has(4) ? r.utf16(r.u32()) : std::string();
  if (r.ok && !wideName.empty()) content.name = fileNameOfStoredPath(wideName);
}

}  // namespace

OleContent oleContent(const std::vector<uint8_t>& stored) {
  OleContent content;
  content.size = stored.size();  // without a wrapper: the bytes as stored
  const uint8_t* p = stored.data();
  if (stored.size() < olefmt::kAccessFixedSize || le::get16(p) != olefmt::kAccessSignature) return content;
  Reader r{p, stored.size(), le::get16(p + olefmt::kAccessHeaderLength)};
  size_t classAt = le::get16(p + olefmt::kAccessClassOffset), classLength = le::get16(p + olefmt::kAccessClassLength);
  if (classAt + classLength <= stored.size())
    content.className = ansiText(Reader{p, stored.size(), classAt}.text(classLength));
  size_t nameAt = le::get16(p + olefmt::kAccessNameOffset), nameLength = le::get16(p + olefmt::kAccessNameLength);
  if (nameAt + nameLength <= stored.size()) content.kind = ansiText(Reader{p, stored.size(), nameAt}.text(nameLength));
  r.u32();  // OLE version
  uint32_t format = r.u32();
  if (!r.ok) return content;
  if (format == olefmt::kFormatLinked) {
    content.linked = true;
    return content;
  }
  if (format != olefmt::kFormatEmbedded) return content;
  std::string className = r.lengthPrefixed();
  r.lengthPrefixed();  // topic
  r.lengthPrefixed();  // item
  uint32_t nativeSize = r.u32();
  if (!r.ok) return content;
  if (!className.empty()) content.className = ansiText(className);
  size_t native = r.at;
  size_t nativeBytes = std::min<size_t>(nativeSize, stored.size() - native);
  content.offset = native;
  content.size = nativeBytes;
  if (content.className == olefmt::kPackageClass) unwrapPackage(p + native, nativeBytes, native, content);
  return content;
}

bool decodeAttachment(const std::vector<uint8_t>& stored, std::vector<uint8_t>& file, std::string& why) {
  file.clear();
  if (stored.size() < jetfmt::kAttachmentWrapperSize) {
    why = "shorter than its header";
    return false;
  }
  const uint32_t kind = le::get32(stored.data());
  const uint64_t contentLength = le::get32(stored.data() + jetfmt::kAttachmentContentLength);
  const uint8_t* body = stored.data() + jetfmt::kAttachmentWrapperSize;
  const size_t bodySize = stored.size() - jetfmt::kAttachmentWrapperSize;
  if (contentLength > kLargestAttachment) {
    why = "an implausible length";
    return false;
  }
  std::vector<uint8_t> content;
  if (kind == jetfmt::kAttachmentRaw) {
    content.assign(body, body + std::min<size_t>(bodySize, contentLength));
  } else if (kind == jetfmt::kAttachmentCompressed) {
    content.resize(contentLength);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
      why = "no memory to decompress it";
      return false;
    }
    z.next_in = const_cast<Bytef*>(body);
    z.avail_in = static_cast<uInt>(bodySize);
    z.next_out = content.data();
    z.avail_out = static_cast<uInt>(content.size());
    int rc = inflate(&z, Z_FINISH);
    content.resize(z.total_out);
    inflateEnd(&z);
    if (rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR) {
      why = "its compressed data is damaged";
      return false;
    }
  } else {
    why = "a storage kind of no known meaning (" + std::to_string(kind) + ")";
    return false;
  }
  if (content.size() < contentLength || content.size() < jetfmt::kAttachmentHeaderLengthSize) {
    why = "cut short";
    return false;
  }
  const uint32_t headerLength = le::get32(content.data());
  if (headerLength < jetfmt::kAttachmentHeaderLengthSize || headerLength > contentLength) {
    why = "a damaged header";
    return false;
  }
  file.assign(content.begin() + headerLength, content.begin() + static_cast<ptrdiff_t>(contentLength));
  return true;
}

std::string contentExtension(const uint8_t* p, size_t n, const std::string& className) {
  struct Signature {
    size_t at;
    std::string_view bytes;
    const char* extension;
  };
  using namespace std::string_view_literals;
  static const Signature kSignatures[] = {
      {0, "\x89PNG\r\n\x1A\n"sv, ".png"},  {0, "\xFF\xD8\xFF"sv, ".jpg"},      {0, "GIF87a"sv, ".gif"},
      {0, "GIF89a"sv, ".gif"},             {0, "BM"sv, ".bmp"},                {0, "%PDF"sv, ".pdf"},
      {0, "PK\x03\x04"sv, ".zip"},         {0, "PK\x05\x06"sv, ".zip"},        {0, "{\\rtf"sv, ".rtf"},
      {0, "II*\0"sv, ".tif"},              {0, "MM\0*"sv, ".tif"},             {0, "\xD7\xCD\xC6\x9A"sv, ".wmf"},
      {40, " EMF"sv, ".emf"},              {0, "7z\xBC\xAF\x27\x1C"sv, ".7z"}, {0, "\x1F\x8B"sv, ".gz"},
      {0, "Rar!\x1A\x07"sv, ".rar"},       {8, "WAVE"sv, ".wav"},              {8, "AVI "sv, ".avi"},
      {0, "ID3"sv, ".mp3"},                {0, "OggS"sv, ".ogg"},              {4, "ftyp"sv, ".mp4"},
      {0, "<?xml"sv, ".xml"},              {0, "\0\0\1\0"sv, ".ico"},
  };
  constexpr std::string_view kCompoundFile(cfb::kSignature, sizeof cfb::kSignature);
  auto at = [&](size_t offset, std::string_view bytes) {
    return n >= offset + bytes.size() && std::memcmp(p + offset, bytes.data(), bytes.size()) == 0;
  };
  if (at(0, kCompoundFile)) {
    // Office's documents of before 2007: the object's class tells which one.
    if (className.rfind("Excel.", 0) == 0) return ".xls";
    if (className.rfind("PowerPoint.", 0) == 0) return ".ppt";
    if (className.rfind("Word.", 0) == 0 || className.empty()) return ".doc";
    return ".ole";
  }
  for (const Signature& s : kSignatures)
    if (at(s.at, s.bytes)) return s.extension;
  return ".bin";
}

AttachmentFiles::AttachmentFiles(std::shared_ptr<DatabaseFile> file, const ComplexColumn& column)
    : file_(file), column_(column.column), values_(std::make_unique<ComplexColumnValues>(file, column)) {
  // Indexed here, on the thread that opens it, before any reader thread starts.
  values_->prepare();
}

AttachmentFiles::~AttachmentFiles() = default;

size_t AttachmentFiles::count(uint32_t key) { return values_->count(key); }

bool AttachmentFiles::holdsFiles() { return values_->holdsAttachments(); }

void AttachmentFiles::forEach(uint32_t key,
                              const std::function<void(const std::string&, const std::vector<uint8_t>&)>& each) {
  std::vector<uint8_t> bytes;
  std::string why;
  values_->forEachAttachment(key, [&](const std::string& name, const std::vector<uint8_t>& stored) {
    if (!decodeAttachment(stored, bytes, why))
      throw ComError(daoerror::kDatabaseCorrupt, "DAO.Field",
                     "Attachment '" + name + "' of field '" + column_ + "' is damaged (" + why + "): " + file_->path);
    each(name, bytes);
  });
}

std::unique_ptr<AttachmentFiles> Database::OpenAttachments(const std::string& tableName,
                                                           const std::string& fieldName) const {
  if (!file_) return nullptr;
  for (const CatalogTable& table : file_->tables) {
    if (!asciiEqualsIgnoreCase(table.name, tableName)) continue;
    // A linked table's attachments live in the file that holds its records.
    TableSource source = resolveTable(file_, table);
    const auto& columns = source.file->complexColumns;
    auto found = columns.find({source.table->definitionPage, fieldName});
    if (found == columns.end() || found->second.daoType != dbAttachment || found->second.valueTablePage == 0)
      return nullptr;
    auto files = std::make_unique<AttachmentFiles>(source.file, found->second);
    return files->holdsFiles() ? std::move(files) : nullptr;
  }
  return nullptr;
}
