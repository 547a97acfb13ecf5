// Loading and saving .xls books: the Workbook stream put together from the globals, the loaded
// sheets (copied, or extended with new cells) and the new sheets, inside a compound file.
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/text.h"
#include "workbook/formats.h"
#include "workbook/hyperlinks.h"
#include "workbook/spool.h"
#include "workbook/xls/compound_file.h"
#include "workbook/xls/formats.h"
#include "workbook/xls/globals.h"
#include "workbook/xls/records.h"
#include "workbook/xls/worksheet.h"

namespace xls {

namespace {

constexpr size_t kStreamLimit = size_t{1} << 30;
constexpr uint64_t kFileLimit = kStreamLimit + (kStreamLimit >> 2);  // room for the other streams

struct SheetPlan {
  const XlSheet* sheet;
  std::string head, tail;  // new sheets only
  uint64_t size = 0;
};

bool writeAll(std::FILE* f, const char* p, size_t n) { return std::fwrite(p, 1, n, f) == n; }
bool writeAll(std::FILE* f, const std::string& s) { return writeAll(f, s.data(), s.size()); }

// The HLINK records of the sheet's links, each handed to out; false when out refuses one.
// Links too long for a record are left out.
bool forEachLinkRecord(const XlSheet& sheet, const std::function<bool(const std::string&)>& out) {
  std::string record;
  return forEachHyperlink(sheet, [&](const Hyperlink& link) {
    record.clear();
    return !appendHyperlinkRecord(record, link) || out(record);
  });
}

uint64_t linkRecordsSize(const XlSheet& sheet) {
  uint64_t size = 0;
  forEachLinkRecord(sheet, [&](const std::string& r) {
    size += r.size();
    return true;
  });
  return size;
}

bool writeLinkRecords(std::FILE* out, const XlSheet& sheet) {
  return forEachLinkRecord(sheet, [&](const std::string& r) { return writeAll(out, r); });
}

// A loaded sheet's substream, with its DIMENSIONS and INDEX records brought up to date.
bool copyLoadedSheet(std::FILE* out, const Globals& g, const SourceSheet& src, const XlSheet& sheet,
                     uint64_t newStart) {
  std::string prefix = g.stream.substr(src.start, src.insertAt - src.start);
  bool grew = sheet.rows.rawSize() > 0;
  if (grew && src.dimensions) {
    char* d = &prefix[src.dimensions - src.start + 4];
    bool wasEmpty = src.dimLastRow == 0 || src.dimLastCol == 0;
    uint32_t r1 = static_cast<uint32_t>(sheet.firstWrittenRow), r2 = static_cast<uint32_t>(sheet.lastRow);
    uint16_t c1 = static_cast<uint16_t>(sheet.minCol), c2 = static_cast<uint16_t>(sheet.maxCol + 1);
    if (!wasEmpty) {
      r1 = std::min(r1, src.dimFirstRow);
      r2 = std::max(r2, src.dimLastRow);
      c1 = std::min(c1, src.dimFirstCol);
      c2 = std::max(c2, src.dimLastCol);
    }
    le::put32(d, r1);
    le::put32(d + 4, r2);
    le::put16(d + 8, c1);
    le::put16(d + 10, c2);
  }
  if (src.index && src.index + 4 + le::get16(&g.stream[src.index + 2]) <= src.insertAt) {
    // INDEX holds stream positions of the sheet's own records: they move with the sheet.
    char* ix = &prefix[src.index - src.start];
    uint16_t len = le::get16(ix + 2);
    char* b = ix + 4;
    int64_t delta = static_cast<int64_t>(newStart) - static_cast<int64_t>(src.start);
    if (grew) le::put32(b + 8, std::max<uint32_t>(le::get32(b + 8), static_cast<uint32_t>(sheet.lastRow)));
    for (size_t k = 12; k + 4 <= len; k += 4)
      if (le::get32(b + k)) le::put32(b + k, static_cast<uint32_t>(le::get32(b + k) + delta));
  }
  if (!writeAll(out, prefix)) return false;
  if (grew && !sheet.rows.copyStored([&](const char* p, size_t n) { return writeAll(out, p, n); }))
    return false;
  // New links go after the sheet's own, before the records that follow links.
  size_t linksAt = std::max(src.insertAt, src.linksAt);
  return writeAll(out, g.stream.data() + src.insertAt, linksAt - src.insertAt) && writeLinkRecords(out, sheet) &&
         writeAll(out, g.stream.data() + linksAt, src.end - linksAt);
}

}  // namespace

void startBook(XlBook& book) {
  book.xls = std::make_unique<Globals>();
  startGlobals(*book.xls);
}

// The load read the stream's records whole, so nothing fails here.
bool forEachLoadedLink(const XlBook& book, const std::function<void(const std::string&)>& each, std::string&) {
  if (!book.xls) return true;
  const Globals& g = *book.xls;
  RecordView r;
  for (const SourceSheet& src : g.sources) {
    if (!src.worksheet) continue;
    for (size_t off = src.start; off < src.end && readRecord(g.stream, off, r); off += 4 + r.body.size()) {
      std::string path;
      if (r.type == kHLink && hyperlinkFilePath(r.body, path)) each(path);
    }
  }
  return true;
}

bool loadBook(XlBook& book, const std::string& path, std::string& error) {
  auto g = std::make_unique<Globals>();
  CompoundFile& cf = g->container;
  if (!openCompoundFile(path, kFileLimit, cf, error)) return false;
  // Only the root's own Workbook stream: an embedded workbook has one inside its storage.
  g->workbookEntry = findRootStream(cf, "Workbook");
  if (g->workbookEntry < 0) {
    if (findRootStream(cf, "EncryptedPackage") >= 0) error = "the workbook is encrypted";
    else if (findRootStream(cf, "Book") >= 0) error = "Excel 95 workbooks (BIFF5) cannot be extended";
    else error = "not an .xls workbook (no Workbook stream)";
    return false;
  }
  if (cf.entries[static_cast<size_t>(g->workbookEntry)].size > kStreamLimit) {
    error = "the Workbook stream is too large";
    return false;
  }
  if (!readStream(cf, static_cast<size_t>(g->workbookEntry), g->stream, error) || !readGlobals(*g, error))
    return false;
  for (size_t i = 0; i < g->sources.size(); ++i) {
    const SourceSheet& src = g->sources[i];
    auto sheet = std::make_unique<XlSheet>();
    sheet->book = &book;
    const std::string& bs = src.boundSheet;
    // The name: a short unicode string after the 6 fixed bytes.
    size_t cch = static_cast<unsigned char>(bs[6]);
    bool wide = bs.size() > 7 && (bs[7] & 1);
    std::string name;
    for (size_t k = 0; k < cch; ++k) {
      size_t at = 8 + k * (wide ? 2 : 1);
      if (at + (wide ? 2 : 1) > bs.size()) break;
      char32_t c = wide ? le::get16(&bs[at]) : static_cast<unsigned char>(bs[at]);
      if (wide && c >= 0xD800 && c < 0xDC00 && at + 4 <= bs.size()) {
        char32_t lo = le::get16(&bs[at + 2]);
        if (lo >= 0xDC00 && lo < 0xE000) c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00), ++k;
      }
      appendUtf8(name, c);
    }
    sheet->name = name;
    sheet->source = static_cast<int>(i);
    sheet->writable = src.worksheet;
    sheet->lastRow = sheet->firstFreeRow = src.lastRow;
    book.sheets.push_back(std::move(sheet));
  }
  book.date1904 = g->date1904;
  book.xls = std::move(g);
  return true;
}

bool saveBook(XlBook& book, const std::string& tempPath, std::string& error) {
  Globals& g = *book.xls;
  for (auto& s : book.sheets) {
    if (!flushPendingRow(*s)) {
      error = book.error;
      return false;
    }
    errno = 0;
    if (!s->tempFailure.empty()) {
      error = s->tempFailure;
      return false;
    }
    if (s->rows.isOpen() && !s->rows.sync()) {
      error = "the temporary file of sheet \"" + s->name + "\" failed" + (errno ? std::string(": ") + std::strerror(errno) : "");
      return false;
    }
  }
  std::vector<SavedSheet> saved;
  std::vector<SheetPlan> plans;
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    const XlSheet& s = *book.sheets[i];
    SavedSheet sv;
    sv.name = s.name;
    SheetPlan plan{&s, {}, {}, 0};
    if (s.source >= 0) {
      sv.source = &g.sources[static_cast<size_t>(s.source)];
      plan.size = sv.source->end - sv.source->start + s.rows.rawSize() + linkRecordsSize(s);
    } else {
      bool any = s.firstWrittenRow >= 0;
      plan.head = newSheetHead(any ? static_cast<uint32_t>(s.firstWrittenRow) : 0,
                               any ? static_cast<uint32_t>(s.lastRow) : 0,
                               any ? static_cast<uint16_t>(s.minCol) : 0,
                               any ? static_cast<uint16_t>(s.maxCol + 1) : 0);
      plan.tail = newSheetTail(i == 0);
      addSheetLook(s.look, g.cellXf, plan.head, plan.tail);
      plan.size = plan.head.size() + s.rows.rawSize() + plan.tail.size() + linkRecordsSize(s);
    }
    saved.push_back(sv);
    plans.push_back(std::move(plan));
  }
  // Globals twice: once for their size, which fixes where the sheets start, then for real.
  uint64_t sstSize = 0;
  if (!sharedStringsSize(g.sst, sstSize, error)) return false;
  g.extSst = extSstBody(g.sst.index, 0);
  std::string before, after;
  buildGlobals(g, saved, before, after);
  addBookLook(book, before);
  uint64_t pos = before.size() + sstSize + after.size();
  for (size_t i = 0; i < saved.size(); ++i) {
    if (pos > 0xFFFFFFFFull) {
      error = "the workbook is over 4 GB, more than an .xls file can hold";
      return false;
    }
    saved[i].offset = static_cast<uint32_t>(pos);
    pos += plans[i].size;
  }
  // The strings' index points at where they start: after the globals with the look added.
  g.extSst = extSstBody(g.sst.index, before.size());
  buildGlobals(g, saved, before, after);
  addBookLook(book, before);
  // A stream below the cutoff would go into the mini stream; zeros after the last sheet keep
  // it in whole sectors instead, and readers stop at the last sheet's end.
  const uint64_t streamSize = std::max<uint64_t>(pos, cfb::kMiniCutoff);

  auto writeStream = [&](std::FILE* out, std::string& failure) {
    bool ok = writeAll(out, before) && writeSharedStrings(g.sst, out, failure) && writeAll(out, after);
    for (size_t i = 0; ok && i < plans.size(); ++i) {
      const XlSheet& s = *plans[i].sheet;
      if (saved[i].source) {
        ok = copyLoadedSheet(out, g, *saved[i].source, s, saved[i].offset);
      } else {
        // The links go between the sheet's view records and its EOF, the tail's last record.
        const std::string& tail = plans[i].tail;
        const size_t eof = tail.size() - 4;
        ok = writeAll(out, plans[i].head) &&
             (!s.rows.isOpen() || s.rows.copyStored([&](const char* p, size_t n) { return writeAll(out, p, n); })) &&
             writeAll(out, tail.data(), eof) && writeLinkRecords(out, s) && writeAll(out, tail.data() + eof, 4);
      }
    }
    if (ok && pos < streamSize) ok = writeAll(out, std::string(static_cast<size_t>(streamSize - pos), '\0'));
    return ok;
  };
  return writeCompoundFile(tempPath, g.container.entries.empty() ? nullptr : &g.container, g.workbookEntry,
                           streamSize, writeStream, error);
}

void forgetSheet(XlBook& book, const XlSheet& sheet) {
  if (sheet.source >= 0) book.xls->deleted[static_cast<size_t>(sheet.source)] = true;
}

bool appendRow(XlSheet& sheet, int row, const std::vector<Cell>& cells, std::string& out) {
  std::string error;
  if (!appendCellRecords(out, row, cells, sheet.book->xls->cellXf, sheet.book->xls->sst, error))
    return fail(sheet.book, error);
  return true;
}

}  // namespace xls
