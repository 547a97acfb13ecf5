#include "workbook/xls/worksheet.h"

#include <algorithm>
#include <cstring>

#include "platform/text_codec.h"
#include "workbook/text.h"
#include "workbook/xls/records.h"

namespace xls {

bool appendCellRecords(std::string& out, int row, const std::vector<Cell>& cells, uint16_t xf,
                       SharedStrings& sst, std::string& error) {
  for (const Cell& c : cells) {
    std::string body;
    le::add16(body, static_cast<uint16_t>(row));
    le::add16(body, static_cast<uint16_t>(c.col));
    le::add16(body, c.xf != 0 ? static_cast<uint16_t>(c.xf) : xf);  // a cell format of xl.h, or the default
    switch (c.kind) {
      case CellKind::Number:
        addDouble(body, c.number);
        addRecord(out, kNumber, body);
        break;
      case CellKind::Boolean:
        body += static_cast<char>(c.number != 0 ? 1 : 0);
        body += '\0';
        addRecord(out, kBoolErr, body);
        break;
      case CellKind::NumError:
        body += static_cast<char>(kErrorNum);
        body += '\1';
        addRecord(out, kBoolErr, body);
        break;
      case CellKind::Text: {
        uint32_t index;
        if (!addSharedStringUtf8(sst, c.text, index, error)) return false;
        le::add32(body, index);
        addRecord(out, kLabelSst, body);
        break;
      }
    }
  }
  return true;
}

namespace {

void addBytes(std::string& out, const unsigned char (&bytes)[16]) { out.append(reinterpret_cast<const char*>(bytes), 16); }

void addUtf16(std::string& out, const std::u16string& text) {
  for (char16_t c : text) le::add16(out, static_cast<uint16_t>(c));
}

// A length-prefixed string of the link object: its count of characters, the terminator included.
void addLinkString(std::string& out, const std::string& utf8) {
  std::u16string text = toUtf16(utf8);
  le::add32(out, static_cast<uint32_t>(text.size() + 1));
  addUtf16(out, text);
  le::add16(out, 0);
}

// A file path as a file moniker: the "..\" steps up counted apart, backslashes between names,
// an 8-bit copy for old readers and the full path in UTF-16.
void addFileMoniker(std::string& out, std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  uint16_t up = 0;
  while (path.rfind("..\\", 0) == 0) path.erase(0, 3), ++up;
  std::u16string wide = toUtf16(path);
  addBytes(out, kFileMonikerClsid);
  le::add16(out, up);
  le::add32(out, static_cast<uint32_t>(wide.size() + 1));
  for (char16_t c : wide) out += c < 0x80 ? static_cast<char>(c) : '?';
  out += '\0';
  le::add16(out, kFileMonikerEndServer);
  le::add16(out, kFileMonikerVersion);
  out.append(kFileMonikerReserved, '\0');
  const uint32_t pathBytes = static_cast<uint32_t>(wide.size() * 2);
  le::add32(out, pathBytes + 6);
  le::add32(out, pathBytes);
  le::add16(out, kFileMonikerUnicodeKey);
  addUtf16(out, wide);
}

}  // namespace

bool hyperlinkFilePath(std::string_view body, std::string& path) {
  size_t at = kHLinkFlagsOffset;
  auto has = [&](size_t n) { return at <= body.size() && body.size() - at >= n; };
  auto u16 = [&] { return has(2) ? le::get16(body.data() + (at += 2) - 2) : 0u; };
  auto u32 = [&] { return has(4) ? le::get32(body.data() + (at += 4) - 4) : 0u; };
  if (!has(4)) return false;
  uint32_t flags = u32();
  if (!(flags & kHLinkHasMoniker) || (flags & kHLinkMonikerAsString)) return false;
  if (flags & kHLinkHasDisplayName) at += size_t{u32()} * 2;
  if (flags & kHLinkHasFrameName) at += size_t{u32()} * 2;
  if (!has(16) || std::memcmp(body.data() + at, kFileMonikerClsid, 16) != 0) return false;
  at += 16;
  uint16_t up = static_cast<uint16_t>(u16());
  uint32_t ansiLength = u32();
  if (!has(ansiLength)) return false;
  std::string name(body.substr(at, ansiLength));
  if (size_t nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
  at += ansiLength + 4 + kFileMonikerReserved;  // end server, version, reserved
  if (uint32_t extra = u32(); extra > 0 && has(extra)) {
    uint32_t bytes = u32();
    u16();  // the key of the UTF-16 path
    if (!has(bytes)) return false;
    name = decodeUtf16Le(reinterpret_cast<const uint8_t*>(body.data() + at), bytes);
  }
  std::replace(name.begin(), name.end(), '\\', '/');
  path.clear();
  for (uint16_t i = 0; i < up; ++i) path += "../";
  path += name;
  return !name.empty();
}

bool appendHyperlinkRecord(std::string& out, const Hyperlink& link) {
  std::string body;
  le::add16(body, static_cast<uint16_t>(link.row));
  le::add16(body, static_cast<uint16_t>(link.row));
  le::add16(body, static_cast<uint16_t>(link.col));
  le::add16(body, static_cast<uint16_t>(link.col));
  addBytes(body, kHLinkClsid);
  le::add32(body, kHLinkStreamVersion);
  const bool url = isUrlAddress(link.address);
  const bool absolute = url || (!link.address.empty() && link.address[0] == '/');
  uint32_t flags = (link.address.empty() ? 0 : kHLinkHasMoniker) | (absolute ? kHLinkIsAbsolute : 0) |
                   (link.location.empty() ? 0 : kHLinkHasLocation);
  le::add32(body, flags);
  if (url) {
    std::u16string wide = toUtf16(link.address);
    addBytes(body, kUrlMonikerClsid);
    le::add32(body, static_cast<uint32_t>((wide.size() + 1) * 2));
    addUtf16(body, wide);
    le::add16(body, 0);
  } else if (!link.address.empty()) {
    addFileMoniker(body, link.address);
  }
  if (!link.location.empty()) addLinkString(body, link.location);
  if (body.size() > kMaxRecordData) return false;
  addRecord(out, kHLink, body);
  return true;
}

std::string newSheetHead(uint32_t firstRow, uint32_t lastRow, uint16_t firstCol, uint16_t lastCol) {
  std::string out, b;
  le::add16(b, kBiff8);
  le::add16(b, kBofWorksheet);
  le::add16(b, 0x0DBB);
  le::add16(b, 0x07CC);
  le::add32(b, 0x00000041);
  le::add32(b, 0x00000006);
  addRecord(out, kBof, b);
  b.clear();
  le::add16(b, 0);
  le::add16(b, 255);
  addRecord(out, kDefaultRowHeight, b);
  b.clear();
  le::add16(b, 0x04C1);
  addRecord(out, kWsBool, b);
  b.clear();
  le::add32(b, firstRow);
  le::add32(b, lastRow);
  le::add16(b, firstCol);
  le::add16(b, lastCol);
  le::add16(b, 0);
  addRecord(out, kDimensions, b);
  return out;
}

std::string newSheetTail(bool selected) {
  std::string out, b;
  // Grid lines, headers, zeros, outline symbols shown; the first sheet selected and active.
  le::add16(b, static_cast<uint16_t>(0x00B6 | (selected ? 0x0600 : 0)));
  le::add16(b, 0);
  le::add16(b, 0);
  le::add32(b, 64);
  le::add16(b, 0);
  le::add16(b, 0);
  le::add32(b, 0);
  addRecord(out, kWindow2, b);
  addRecord(out, kEof, "");
  return out;
}

static bool isCellTable(uint16_t t) {
  switch (t) {
    case kRow: case kBlank: case kNumber: case kLabel: case kBoolErr: case kFormula: case kString:
    case kRk: case kMulRk: case kMulBlank: case kLabelSst: case kRString: case kDbCell:
    case kShrFmla: case kArray: case kTable: case 0x0206: case 0x0406:
      return true;
    default:
      return false;
  }
}

bool scanSheet(std::string_view s, SourceSheet& src, std::string& error) {
  RecordView r;
  if (!readRecord(s, src.start, r) || r.type != kBof || r.body.size() < 4 || le::get16(r.body.data()) != kBiff8) {
    error = "damaged: a sheet has no start record";
    return false;
  }
  src.worksheet = le::get16(r.body.data() + 2) == kBofWorksheet;
  int depth = 0;
  bool inCells = false;
  size_t off = src.start;
  for (;;) {
    if (!readRecord(s, off, r)) {
      error = "damaged: a sheet is cut short";
      return false;
    }
    size_t next = off + 4 + r.body.size();
    if (r.type == kBof) {
      ++depth;
    } else if (r.type == kEof) {
      if (--depth == 0) {
        if (src.linksAt == 0) src.linksAt = off;
        src.end = next;
        break;
      }
    } else if (depth == 1) {
      if (r.type == kDimensions && r.body.size() >= 12) {
        src.dimensions = off;
        src.insertAt = next;
        src.dimFirstRow = le::get32(r.body.data());
        src.dimLastRow = le::get32(r.body.data() + 4);
        src.dimFirstCol = le::get16(r.body.data() + 8);
        src.dimLastCol = le::get16(r.body.data() + 10);
      } else if (r.type == kWsBool && r.body.size() >= 2 && (r.body[0] & kWsBoolDialog)) {
        src.worksheet = false;  // a dialog sheet: kept as it is, never written to
      } else if ((r.type == kDVal || r.type == kCodeName || r.type == kSheetExt) && src.linksAt == 0) {
        src.linksAt = off;
        inCells = false;
      } else if (r.type == kIndex && r.body.size() >= 16) {
        src.index = off;
      } else if (isCellTable(r.type)) {
        inCells = true;
        if (r.type != kDbCell && r.type != kString && r.type != kShrFmla && r.type != kArray &&
            r.type != kTable && r.body.size() >= 2)
          src.lastRow = std::max(src.lastRow, le::get16(r.body.data()) + 1);
        src.insertAt = next;
      } else if (r.type == kContinue && inCells) {
        src.insertAt = next;
      } else {
        inCells = false;
      }
    }
    off = next;
  }
  // Cells can only be added behind a sheet's DIMENSIONS record.
  src.worksheet = src.worksheet && src.dimensions != 0;
  return true;
}

}  // namespace xls
