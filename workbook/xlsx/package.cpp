// Loading and saving .xlsx books: which parts are copied as they stand, which are edited and
// which are made, and how a worksheet's rows are put together from its pieces.
#include "workbook/xlsx/package.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "workbook/formats.h"
#include "workbook/hyperlinks.h"

namespace xlsx {

namespace {

constexpr size_t kSmallPartLimit = 64u << 20;  // workbook, relationships, content types

const char* localType(const std::string& type) {
  size_t slash = type.rfind('/');
  return slash == std::string::npos ? type.c_str() : type.c_str() + slash + 1;
}

std::string folderOf(const std::string& part) {
  size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// A relationship target resolved against the folder of its source part.
std::string resolvePart(const std::string& folder, const std::string& target) {
  std::string path = target.empty() || target[0] != '/' ? folder + target : target.substr(1);
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string seg = path.substr(start, end - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    start = end + 1;
  }
  std::string out;
  for (auto& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

// The part name of a zip entry: some writers put backslashes where part names have slashes.
std::string partNameOf(std::string entryName) {
  std::replace(entryName.begin(), entryName.end(), '\\', '/');
  return entryName;
}

std::string relsPartOf(const std::string& part) {
  std::string folder = folderOf(part);
  return folder + "_rels/" + part.substr(folder.size()) + ".rels";
}

bool scanSheet(ZipReader& zip, SourceSheet& s, std::string& error) {
  SheetScanner scanner;
  bool first = true;
  bool utf16 = false;
  bool ok = zip.stream(*s.entry, [&](const char* p, size_t n) {
    if (first && n >= 2 && ((p[0] == '\xFF' && p[1] == '\xFE') || (p[0] == '\xFE' && p[1] == '\xFF')))
      utf16 = true;
    first = false;
    return scanner.feed(p, n, false, error);
  }, error);
  if (!ok || !scanner.feed(nullptr, 0, true, error)) {
    error = s.part + ": " + error;
    return false;
  }
  s.scan = scanner.result();
  // New rows are spliced into the part's bytes: only a UTF-8 part with sheetData takes them.
  s.worksheet = s.worksheet && !utf16 && s.scan.hasSheetData;
  return true;
}

// The ids of a sheet's link relationships: idPrefix and the link's number from 1.
std::string linkId(const std::string& idPrefix, uint32_t number) { return idPrefix + std::to_string(number); }

// One <hyperlink> per link of the sheet. In a loaded sheet each declares the relationships
// namespace itself, whatever the part's own prefixes are.
bool writeLinkElements(DeflateToZip& out, const XlSheet& sheet, const std::string& prefix,
                       const std::string& idPrefix, bool declareRelNs) {
  uint32_t number = 0;
  std::string element;
  return forEachHyperlink(sheet, [&](const Hyperlink& link) {
    ++number;
    element = "<" + prefix + "hyperlink ";
    if (declareRelNs) element += "xmlns:r=\"" + std::string(kRelNs) + "\" ";
    element += "ref=\"" + rangeText(link.row, link.col, link.row, link.col) + "\"";
    if (!link.address.empty()) element += " r:id=\"" + linkId(idPrefix, number) + "\"";
    if (!link.location.empty()) element += " location=\"" + attributeText(link.location) + "\"";
    element += "/>";
    return out.write(element);
  });
}

bool writeLinkRelationships(DeflateToZip& out, const XlSheet& sheet, const std::string& idPrefix) {
  uint32_t number = 0;
  std::string element;
  return forEachHyperlink(sheet, [&](const Hyperlink& link) {
    ++number;
    if (link.address.empty()) return true;
    element = "<Relationship Id=\"" + linkId(idPrefix, number) + "\" Type=\"" + kHyperlinkRelType +
              "\" Target=\"" + attributeText(addressUri(link.address)) + "\" TargetMode=\"External\"/>";
    return out.write(element);
  });
}

// The sheet's relationships part with its links added: `existing` is the loaded part, or empty.
bool writeSheetRelationships(ZipWriter& zip, const std::string& part, const std::string& existing,
                             const XlSheet& sheet, const std::string& idPrefix, std::string& error) {
  std::string head = newRelationshipsHead(), tail = newRelationshipsTail();
  if (!existing.empty()) {
    size_t end = existing.rfind("</");
    size_t emptyEnd = existing.rfind("/>");
    if (end != std::string::npos) {
      head = existing.substr(0, end);
      tail = existing.substr(end);
    } else if (emptyEnd != std::string::npos) {  // <Relationships .../>
      size_t nameStart = existing.rfind('<', emptyEnd) + 1;
      size_t nameEnd = existing.find_first_of(" \t\r\n/", nameStart);
      head = existing.substr(0, emptyEnd) + ">";
      tail = "</" + existing.substr(nameStart, nameEnd - nameStart) + ">" + existing.substr(emptyEnd + 2);
    } else {
      error = part + " is damaged";
      return false;
    }
  }
  if (!zip.beginDeflated(part, head.size() + tail.size() + 256 * uint64_t{sheet.linkCount}, error)) return false;
  DeflateToZip out(zip);
  bool ok = out.write(head) && writeLinkRelationships(out, sheet, idPrefix) && out.write(tail) && out.finish() &&
            zip.endDeflated(out.size(), out.crc(), error);
  if (!ok && error.empty()) error = "cannot write " + part + (errno ? std::string(": ") + std::strerror(errno) : "");
  return ok;
}

// An id prefix that begins none of the part's relationship ids.
std::string freeIdPrefix(const std::string& relsXml, std::string& error) {
  std::vector<Relationship> rels;
  if (!relsXml.empty() && !readRelationships(relsXml, rels, error)) return {};
  std::string prefix = "rIdLink";
  for (bool clash = true; clash;) {
    clash = false;
    for (const Relationship& r : rels) clash = clash || r.id.rfind(prefix, 0) == 0;
    if (clash) prefix += 'x';
  }
  return prefix;
}

// The worksheet's bytes as saved: pieces of the loaded part or a new head, the spooled rows,
// the row still being written, and the tail.
bool writeSheetEntry(ZipWriter& zip, Package* pkg, const XlSheet& sheet, const std::string& part,
                     bool selected, const std::string& idPrefix, std::string& error) {
  const SourceSheet* src = sheet.source >= 0 ? &pkg->sources[static_cast<size_t>(sheet.source)] : nullptr;
  std::string prefix = src ? src->scan.prefix : "";
  std::string pendingXml;
  if (sheet.pendingRow >= 0) {
    std::vector<Cell> cells = sheet.pending;
    std::sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) { return a.col < b.col; });
    appendRowXml(pendingXml, prefix, sheet.pendingRow, cells);
  }
  uint64_t hint = sheet.rows.rawSize() + pendingXml.size() + (src ? src->entry->size : 0) + 4096;
  if (!zip.beginDeflated(part, hint, error)) return false;
  DeflateToZip head(zip), tail(zip);
  bool ok = true;
  std::string tailXml;
  if (!src) {
    ok = head.write(withSheetLookHead(newSheetHead(sheet.firstWrittenRow, sheet.lastRow - 1, sheet.minCol,
                                                   sheet.maxCol, selected),
                                      sheet.look));
    tailXml = withSheetLookTail(newSheetTail(), sheet.look);
  } else {
    // Copy the loaded part up to the end of its rows, with the dimension widened.
    const SheetScan& scan = src->scan;
    std::string dimension;
    if (scan.hasDimension && sheet.firstWrittenRow >= 0) {
      int r1 = sheet.firstWrittenRow, c1 = sheet.minCol, r2 = sheet.lastRow - 1, c2 = sheet.maxCol;
      if (scan.dimensionKnown && !(scan.dimFirstRow == 0 && scan.dimLastRow == 0 &&
                                   scan.dimFirstCol == 0 && scan.dimLastCol == 0 && scan.lastRow == 0)) {
        r1 = std::min(r1, scan.dimFirstRow);
        c1 = std::min(c1, scan.dimFirstCol);
        r2 = std::max(r2, scan.dimLastRow);
        c2 = std::max(c2, scan.dimLastCol);
      }
      dimension = "<" + prefix + "dimension ref=\"" + rangeText(r1, c1, r2, c2) + "\"/>";
    }
    struct Edit {
      uint64_t start, end;
      std::string text;
      bool links = false;  // the sheet's links follow the text
      std::string after;   // and this text follows them
    };
    std::vector<Edit> edits;
    if (!dimension.empty()) edits.push_back({scan.dimensionStart, scan.dimensionEnd, dimension});
    if (scan.sheetDataEmptyTag) {
      edits.push_back({scan.sheetDataStart, scan.sheetDataEnd, "<" + prefix + "sheetData>"});
      tailXml = "</" + prefix + "sheetData>";
    }
    if (sheet.linkCount > 0) {
      Edit links{scan.linksAt, scan.linksAt, "<" + prefix + "hyperlinks>", true, "</" + prefix + "hyperlinks>"};
      if (scan.linksInside) links.text = links.after = "";
      if (scan.hyperlinksEmptyTag) links.end = scan.hyperlinksEnd;
      edits.push_back(links);
    }
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.start < b.start; });
    uint64_t pos = 0, skipUntil = 0;
    size_t nextEdit = 0;
    bool inTail = false;
    const uint64_t split = scan.sheetDataEmptyTag ? scan.sheetDataEnd : scan.insertAt;
    ok = pkg->zip.stream(*src->entry, [&](const char* p, size_t n) {
      const uint64_t end = pos + n;
      while (pos < end) {
        if (skipUntil > pos) {  // bytes replaced by an edit
          uint64_t to = std::min(end, skipUntil);
          p += to - pos;
          pos = to;
          continue;
        }
        DeflateToZip& out = inTail ? tail : head;
        if (nextEdit < edits.size() && edits[nextEdit].start <= pos) {
          const Edit& edit = edits[nextEdit++];
          if (!out.write(edit.text)) return false;
          if (edit.links && !(writeLinkElements(out, sheet, prefix, idPrefix, true) && out.write(edit.after)))
            return false;
          skipUntil = edit.end;
          continue;
        }
        if (!inTail && pos == split) {
          // The rows written here go between the head and the tail.
          if (!head.flush()) return false;
          if (sheet.rows.isOpen() && !sheet.rows.copyStored([&](const char* d, size_t k) {
                return zip.writeStored(d, k);
              }))
            return false;
          if (!tail.write(pendingXml) || !tail.write(tailXml)) return false;
          inTail = true;
          continue;
        }
        uint64_t stop = end;
        if (!inTail) stop = std::min(stop, split);
        if (nextEdit < edits.size()) stop = std::min(stop, edits[nextEdit].start);
        if (!out.write(p, static_cast<size_t>(stop - pos))) return false;
        p += stop - pos;
        pos = stop;
      }
      return true;
    }, error);
    if (ok && !inTail) {
      error = part + " changed since it was loaded";
      ok = false;
    }
    if (ok) ok = tail.finish();
    if (ok) {
      uint64_t size = head.size() + sheet.rows.rawSize() + tail.size();
      uint32_t crc = static_cast<uint32_t>(crc32_combine64(head.crc(), sheet.rows.rawCrc(),
                                                           static_cast<z_off64_t>(sheet.rows.rawSize())));
      crc = static_cast<uint32_t>(crc32_combine64(crc, tail.crc(), static_cast<z_off64_t>(tail.size())));
      ok = zip.endDeflated(size, crc, error);
    }
    if (!ok && error.empty()) error = "cannot write " + part + (errno ? std::string(": ") + std::strerror(errno) : "");
    return ok;
  }
  ok = ok && head.flush();
  if (ok && sheet.rows.isOpen())
    ok = sheet.rows.copyStored([&](const char* d, size_t k) { return zip.writeStored(d, k); });
  // Links go before the page margins, where the schema puts them.
  size_t margins = sheet.linkCount > 0 ? tailXml.find("<pageMargins") : std::string::npos;
  if (margins == std::string::npos) {
    ok = ok && tail.write(pendingXml) && tail.write(tailXml) && tail.finish();
  } else {
    ok = ok && tail.write(pendingXml) && tail.write(tailXml.data(), margins) && tail.write("<hyperlinks>") &&
         writeLinkElements(tail, sheet, "", idPrefix, false) && tail.write("</hyperlinks>") &&
         tail.write(tailXml.data() + margins, tailXml.size() - margins) && tail.finish();
  }
  if (ok) {
    uint64_t size = head.size() + sheet.rows.rawSize() + tail.size();
    uint32_t crc = static_cast<uint32_t>(crc32_combine64(head.crc(), sheet.rows.rawCrc(),
                                                         static_cast<z_off64_t>(sheet.rows.rawSize())));
    crc = static_cast<uint32_t>(crc32_combine64(crc, tail.crc(), static_cast<z_off64_t>(tail.size())));
    ok = zip.endDeflated(size, crc, error);
  }
  if (!ok && error.empty()) error = "cannot write " + part + (errno ? std::string(": ") + std::strerror(errno) : "");
  return ok;
}

bool sheetChanged(const XlSheet& s) { return s.rows.rawSize() > 0 || s.pendingRow >= 0 || s.linkCount > 0; }

bool saveNew(XlBook& book, const std::string& path, bool macroEnabled, std::string& error) {
  ZipWriter zip;
  if (!zip.open(path, error)) return false;
  std::vector<std::string> parts, targets, names;
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    targets.push_back("worksheets/sheet" + std::to_string(i + 1) + ".xml");
    parts.push_back("xl/" + targets.back());
    names.push_back(book.sheets[i]->name);
  }
  // Formats and autofilters of xl.h, when the book has any.
  std::string workbookXml = newWorkbook(names), stylesPart, stylesXml = newStyles();
  if (!addFilterNames(workbookXml, book, error) || !stylesForSave(book, stylesPart, stylesXml, error))
    return false;
  if (!zip.addBytes("[Content_Types].xml", newContentTypes(parts, macroEnabled), error) ||
      !zip.addBytes("_rels/.rels", newRootRelationships(), error) ||
      !zip.addBytes("xl/workbook.xml", workbookXml, error) ||
      !zip.addBytes("xl/_rels/workbook.xml.rels", newWorkbookRelationships(targets), error) ||
      !zip.addBytes("xl/styles.xml", stylesXml, error))
    return false;
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    const XlSheet& sheet = *book.sheets[i];
    if (!writeSheetEntry(zip, nullptr, sheet, parts[i], i == 0, "rId", error)) return false;
    if (sheet.linkCount > 0 && !writeSheetRelationships(zip, relsPartOf(parts[i]), "", sheet, "rId", error))
      return false;
  }
  return zip.close(error);
}

bool saveLoaded(XlBook& book, Package& pkg, const std::string& path, bool macroEnabled, std::string& error) {
  bool anyDeleted = std::find(pkg.deleted.begin(), pkg.deleted.end(), true) != pkg.deleted.end();
  std::vector<const XlSheet*> added;
  for (auto& s : book.sheets)
    if (s->source < 0) added.push_back(s.get());
  bool structure = anyDeleted || !added.empty();

  // Parts that go: the deleted sheets with their relationships, and the calculation chain,
  // which would name cells of a deleted sheet (Excel rebuilds it).
  std::vector<std::string> dropParts;
  ContentTypesEdit types;
  RelationshipsEdit rels;
  WorkbookEdit wb;
  if (anyDeleted) {
    for (size_t i = 0; i < pkg.sources.size(); ++i) {
      if (!pkg.deleted[i]) continue;
      dropParts.push_back(pkg.sources[i].part);
      dropParts.push_back(relsPartOf(pkg.sources[i].part));
      rels.removeIds.push_back(pkg.sources[i].relId);
      wb.deletedNames.push_back(pkg.sources[i].name);
    }
    for (auto& r : pkg.relationships)
      if (std::strcmp(localType(r.type), "calcChain") == 0) {
        dropParts.push_back(resolvePart(folderOf(pkg.workbookPart), r.target));
        rels.removeIds.push_back(r.id);
      }
  }
  types.removeParts = dropParts;
  // Positions of the kept sheets in the saved book.
  wb.newPosition.assign(pkg.sources.size(), -1);
  for (size_t i = 0; i < book.sheets.size(); ++i)
    if (book.sheets[i]->source >= 0) wb.newPosition[static_cast<size_t>(book.sheets[i]->source)] = static_cast<int>(i);
  // New parts and ids that clash with nothing in the package.
  std::vector<std::string> addedParts;
  std::string folder = folderOf(pkg.workbookPart);
  int partNo = 1, idNo = 1;
  for (const XlSheet* s : added) {
    std::string part;
    do part = "xl/worksheets/sheet" + std::to_string(partNo++) + ".xml";
    while (pkg.zip.find(part) || std::find(addedParts.begin(), addedParts.end(), part) != addedParts.end());
    std::string id;
    for (;;) {
      id = "rId" + std::to_string(1000 + idNo++);
      bool clash = false;
      for (auto& r : pkg.relationships) clash = clash || r.id == id;
      if (!clash) break;
    }
    addedParts.push_back(part);
    types.addWorksheets.push_back(part);
    std::string target = folder == "xl/" ? part.substr(3) : "/" + part;
    rels.add.push_back({id, kWorksheetRelType, target, {}});
    wb.added.push_back({s->name, id});
  }

  std::string workbookXml = pkg.workbookXml, relsXml = pkg.workbookRels, typesXml = pkg.contentTypes;
  if (structure && (!editWorkbook(workbookXml, wb, error) || !addFilterNames(workbookXml, book, error) ||
                    !editRelationships(relsXml, rels, error) || !editContentTypes(typesXml, types, error)))
    return false;
  // A .xlsm that an earlier version saved with the plain type gets the one Excel asks for.
  bool typesChanged = structure;
  if (macroEnabled && makeMainMacroEnabled(typesXml, pkg.workbookPart)) typesChanged = true;
  std::string stylesPart, stylesXml;  // formats of xl.h go after the book's own
  if (!stylesForSave(book, stylesPart, stylesXml, error)) return false;

  // Sheets that take new rows, by part name.
  std::vector<std::pair<std::string, const XlSheet*>> changed;
  for (auto& s : book.sheets)
    if (s->source >= 0 && sheetChanged(*s))
      changed.emplace_back(pkg.sources[static_cast<size_t>(s->source)].part, s.get());

  // Sheets that take links: their relationships parts as loaded (empty when they have none)
  // and the id prefix their new relationships take.
  struct LinkedSheet {
    const XlSheet* sheet;
    std::string relsPart, relsXml, idPrefix;
    bool loadedRels = false;
  };
  std::vector<LinkedSheet> linked;
  for (auto& s : book.sheets) {
    if (s->linkCount == 0) continue;
    LinkedSheet l{s.get(), {}, {}, "rId", false};
    if (s->source >= 0) {
      l.relsPart = relsPartOf(pkg.sources[static_cast<size_t>(s->source)].part);
      if (const ZipEntry* e = pkg.zip.find(l.relsPart)) {
        l.relsPart = partNameOf(e->name);
        l.loadedRels = true;
        if (!pkg.zip.read(*e, kSmallPartLimit, l.relsXml, error)) return false;
      }
      l.idPrefix = freeIdPrefix(l.relsXml, error);
      if (l.idPrefix.empty()) return false;
    } else {
      l.relsPart = relsPartOf(addedParts[static_cast<size_t>(std::find(added.begin(), added.end(), s.get()) - added.begin())]);
    }
    linked.push_back(std::move(l));
  }
  auto linksOf = [&](const XlSheet* s) -> const LinkedSheet* {
    for (const LinkedSheet& l : linked)
      if (l.sheet == s) return &l;
    return nullptr;
  };

  ZipWriter zip;
  if (!zip.open(path, error)) return false;
  for (const ZipEntry& e : pkg.zip.entries()) {
    const std::string name = partNameOf(e.name);
    auto is = [&](const std::string& part) { return strcasecmp(name.c_str(), part.c_str()) == 0; };
    if (std::any_of(dropParts.begin(), dropParts.end(), is)) continue;
    auto relsOfLinked = std::find_if(linked.begin(), linked.end(),
                                     [&](const LinkedSheet& l) { return l.loadedRels && is(l.relsPart); });
    if (relsOfLinked != linked.end()) {
      if (!writeSheetRelationships(zip, e.name, relsOfLinked->relsXml, *relsOfLinked->sheet, relsOfLinked->idPrefix,
                                   error))
        return false;
      continue;
    }
    bool ok;
    if (typesChanged && is("[Content_Types].xml")) ok = zip.addBytes(e.name, typesXml, error);
    else if (structure && is(pkg.workbookPart)) ok = zip.addBytes(e.name, workbookXml, error);
    else if (structure && is(pkg.workbookRelsPart)) ok = zip.addBytes(e.name, relsXml, error);
    else if (!stylesPart.empty() && is(stylesPart)) ok = zip.addBytes(e.name, stylesXml, error);
    else {
      auto c = std::find_if(changed.begin(), changed.end(), [&](auto& p) { return is(p.first); });
      if (c != changed.end()) {
        const LinkedSheet* l = linksOf(c->second);
        ok = writeSheetEntry(zip, &pkg, *c->second, e.name, false, l ? l->idPrefix : "rId", error);
      } else {
        ok = zip.addStored(e, [&] {
          return pkg.zip.streamStored(e, [&](const char* p, size_t n) { return zip.writeStored(p, n); },
                                      error);
        }, error);
      }
    }
    if (!ok) return false;
  }
  for (size_t i = 0; i < added.size(); ++i)
    if (!writeSheetEntry(zip, &pkg, *added[i], addedParts[i], false, "rId", error)) return false;
  for (const LinkedSheet& l : linked)
    if (!l.loadedRels && !writeSheetRelationships(zip, l.relsPart, "", *l.sheet, l.idPrefix, error)) return false;
  return zip.close(error);
}

}  // namespace

void startBook(XlBook& book) { book.xlsx.reset(); }

bool forEachLoadedLink(const XlBook& book, const std::function<void(const std::string&)>& each, std::string& error) {
  if (!book.xlsx) return true;
  Package& pkg = *book.xlsx;
  for (const SourceSheet& src : pkg.sources) {
    const ZipEntry* e = src.worksheet ? pkg.zip.find(relsPartOf(src.part)) : nullptr;
    std::string xml;
    std::vector<Relationship> rels;
    if (!e) continue;
    if (!pkg.zip.read(*e, kSmallPartLimit, xml, error) || !readRelationships(xml, rels, error)) return false;
    for (const Relationship& r : rels)
      if (r.type == kHyperlinkRelType && !r.externalTarget.empty()) each(uriAddress(r.externalTarget));
  }
  return true;
}

bool loadBook(XlBook& book, const std::string& path, std::string& error) {
  auto pkg = std::make_unique<Package>();
  pkg->file = std::fopen(path.c_str(), "rb");
  if (!pkg->file) {
    error = std::strerror(errno);
    return false;
  }
  if (!pkg->zip.open(pkg->file, error)) return false;
  const ZipEntry* types = pkg->zip.find("[Content_Types].xml");
  const ZipEntry* rootRels = pkg->zip.find("_rels/.rels");
  if (!types || !rootRels) {
    error = "damaged: the package has no content types or relationships";
    return false;
  }
  std::string rootXml;
  std::vector<Relationship> root;
  if (!pkg->zip.read(*types, kSmallPartLimit, pkg->contentTypes, error) ||
      !pkg->zip.read(*rootRels, kSmallPartLimit, rootXml, error) ||
      !readRelationships(rootXml, root, error))
    return false;
  for (auto& r : root)
    if (std::strcmp(localType(r.type), "officeDocument") == 0 && !r.target.empty())
      pkg->workbookPart = resolvePart("", r.target);
  const ZipEntry* wbEntry = pkg->workbookPart.empty() ? nullptr : pkg->zip.find(pkg->workbookPart);
  if (!wbEntry) {
    error = "damaged: the package has no workbook part";
    return false;
  }
  pkg->workbookPart = partNameOf(wbEntry->name);
  pkg->workbookRelsPart = relsPartOf(pkg->workbookPart);
  const ZipEntry* wbRels = pkg->zip.find(pkg->workbookRelsPart);
  if (!wbRels) {
    error = "damaged: the workbook has no relationships part";
    return false;
  }
  pkg->workbookRelsPart = partNameOf(wbRels->name);
  std::vector<WorkbookSheet> listed;
  if (!pkg->zip.read(*wbEntry, kSmallPartLimit, pkg->workbookXml, error) ||
      !pkg->zip.read(*wbRels, kSmallPartLimit, pkg->workbookRels, error) ||
      !readRelationships(pkg->workbookRels, pkg->relationships, error) ||
      !readWorkbookSheets(pkg->workbookXml, listed, book.date1904, error))
    return false;
  std::string folder = folderOf(pkg->workbookPart);
  for (auto& w : listed) {
    SourceSheet s;
    s.name = w.name;
    s.relId = w.relId;
    for (auto& r : pkg->relationships)
      if (r.id == w.relId && !r.target.empty()) {
        s.part = resolvePart(folder, r.target);
        s.worksheet = std::strcmp(localType(r.type), "worksheet") == 0;
      }
    s.entry = s.part.empty() ? nullptr : pkg->zip.find(s.part);
    if (!s.entry) {
      error = "damaged: sheet \"" + w.name + "\" has no part in the package";
      return false;
    }
    s.part = partNameOf(s.entry->name);
    if (s.worksheet && !scanSheet(pkg->zip, s, error)) return false;
    pkg->sources.push_back(std::move(s));
  }
  pkg->deleted.assign(pkg->sources.size(), false);
  for (size_t i = 0; i < pkg->sources.size(); ++i) {
    auto sheet = std::make_unique<XlSheet>();
    sheet->book = &book;
    sheet->name = pkg->sources[i].name;
    sheet->source = static_cast<int>(i);
    sheet->writable = pkg->sources[i].worksheet;
    sheet->lastRow = sheet->firstFreeRow = pkg->sources[i].scan.lastRow;
    book.sheets.push_back(std::move(sheet));
  }
  book.xlsx = std::move(pkg);
  return true;
}

bool saveBook(XlBook& book, const std::string& tempPath, bool macroEnabled, std::string& error) {
  if (!book.xlsx) return saveNew(book, tempPath, macroEnabled, error);
  return saveLoaded(book, *book.xlsx, tempPath, macroEnabled, error);
}

void forgetSheet(XlBook& book, const XlSheet& sheet) {
  if (book.xlsx && sheet.source >= 0) book.xlsx->deleted[static_cast<size_t>(sheet.source)] = true;
}

void appendRow(const XlSheet& sheet, int row, const std::vector<Cell>& cells, std::string& out) {
  const std::string* prefix = nullptr;
  if (sheet.source >= 0 && sheet.book->xlsx) prefix = &sheet.book->xlsx->sources[static_cast<size_t>(sheet.source)].scan.prefix;
  static const std::string none;
  appendRowXml(out, prefix ? *prefix : none, row, cells);
}

}  // namespace xlsx
