#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include <pugixml.hpp>

#include "workbook/formats.h"
#include "workbook/xlsx/package.h"
#include "workbook/xlsx/parts.h"
#include "workbook/xlsx/worksheet.h"

namespace xlsx {

const char* const kFilterDatabaseName = "_xlnm._FilterDatabase";

// One font, the two fills Excel requires, one border and one cell format: the default look.
std::string newStyles() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<styleSheet xmlns=\"" + std::string(kMainNs) + "\">"
         "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/>"
         "<family val=\"2\"/></font></fonts>"
         "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
         "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
         "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
         "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
         "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
         "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
         "<dxfs count=\"0\"/><tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium9\" "
         "defaultPivotStyle=\"PivotStyleLight16\"/></styleSheet>";
}

namespace {

const char* localName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

pugi::xml_node childNamed(pugi::xml_node parent, const char* local) {
  for (pugi::xml_node n : parent.children())
    if (std::strcmp(localName(n.name()), local) == 0) return n;
  return {};
}

int countChildren(pugi::xml_node parent, const char* local) {
  int n = 0;
  for (pugi::xml_node c : parent.children())
    if (std::strcmp(localName(c.name()), local) == 0) ++n;
  return n;
}

std::string prefixOf(pugi::xml_node n) {
  const char* colon = std::strchr(n.name(), ':');
  return colon ? std::string(n.name(), static_cast<size_t>(colon - n.name() + 1)) : std::string();
}

// The child named local, made after the last of the elements that precede it in the schema's
// order when the part has none.
pugi::xml_node childOrMade(pugi::xml_node root, const std::string& prefix, const char* local,
                           std::initializer_list<const char*> before) {
  if (pugi::xml_node n = childNamed(root, local)) return n;
  pugi::xml_node after;
  for (const char* b : before)
    if (pugi::xml_node n = childNamed(root, b)) after = n;
  std::string name = prefix + local;
  return after ? root.insert_child_after(name.c_str(), after) : root.prepend_child(name.c_str());
}

bool parseStyles(pugi::xml_document& doc, const std::string& xml, std::string& error) {
  if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration) ||
      std::strcmp(localName(doc.document_element().name()), "styleSheet") != 0) {
    error = "the styles part is damaged";
    return false;
  }
  return true;
}

std::string save(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  return out.str();
}

std::string quotedSheetName(const std::string& name) {
  std::string q = "'";
  for (char c : name) {
    q += c;
    if (c == '\'') q += '\'';
  }
  return q + "'";
}

std::string absoluteRange(int r1, int c1, int r2, int c2) {
  auto cell = [](int r, int c) {
    std::string s = "$";
    appendColumnName(s, c);
    return s + "$" + std::to_string(r + 1);
  };
  return cell(r1, c1) + ":" + cell(r2, c2);
}

}  // namespace

int countCellFormats(const std::string& xml, std::string& error) {
  pugi::xml_document doc;
  if (!parseStyles(doc, xml, error)) return -1;
  return countChildren(childNamed(doc.document_element(), "cellXfs"), "xf");
}

bool addFormatsToStyles(std::string& xml, const XlBook& book, std::string& error) {
  pugi::xml_document doc;
  if (!parseStyles(doc, xml, error)) return false;
  pugi::xml_node root = doc.document_element();
  const std::string p = prefixOf(root);

  // Number formats: the codes of the book's formats, each once, after the part's own ids.
  pugi::xml_node numFmts = childNamed(root, "numFmts");
  unsigned nextId = kFirstCustomNumFmtId;
  for (pugi::xml_node n : numFmts.children())
    nextId = std::max(nextId, n.attribute("numFmtId").as_uint() + 1);
  std::map<std::string, unsigned> ids;
  for (auto& f : book.formats) {
    if (f->numFormat.empty() || ids.count(f->numFormat)) continue;
    if (!numFmts) numFmts = root.prepend_child((p + "numFmts").c_str());
    pugi::xml_node n = numFmts.append_child((p + "numFmt").c_str());
    n.append_attribute("numFmtId") = nextId;
    n.append_attribute("formatCode") = f->numFormat.c_str();
    ids[f->numFormat] = nextId++;
  }
  if (numFmts) {
    if (!numFmts.attribute("count")) numFmts.append_attribute("count");
    numFmts.attribute("count") = countChildren(numFmts, "numFmt");
  }

  // A bold copy of the default font, when a format asks for bold.
  pugi::xml_node fonts = childNamed(root, "fonts");
  int boldFont = -1;
  if (std::any_of(book.formats.begin(), book.formats.end(), [](auto& f) { return f->bold; })) {
    pugi::xml_node first = childNamed(fonts, "font");
    if (!first) {
      error = "the styles part has no fonts";
      return false;
    }
    boldFont = countChildren(fonts, "font");
    pugi::xml_node bold = fonts.append_copy(first);
    if (!childNamed(bold, "b")) bold.prepend_child((p + "b").c_str());
    if (!fonts.attribute("count")) fonts.append_attribute("count");
    fonts.attribute("count") = countChildren(fonts, "font");
  }

  pugi::xml_node cellXfs =
      childOrMade(root, p, "cellXfs", {"numFmts", "fonts", "fills", "borders", "cellStyleXfs"});
  for (auto& f : book.formats) {
    pugi::xml_node xf = cellXfs.append_child((p + "xf").c_str());
    xf.append_attribute("numFmtId") = f->numFormat.empty() ? 0u : ids[f->numFormat];
    xf.append_attribute("fontId") = f->bold ? boldFont : 0;
    xf.append_attribute("fillId") = 0;
    xf.append_attribute("borderId") = 0;
    xf.append_attribute("xfId") = 0;
    if (!f->numFormat.empty()) xf.append_attribute("applyNumberFormat") = 1;
    if (f->bold) xf.append_attribute("applyFont") = 1;
  }
  if (!cellXfs.attribute("count")) cellXfs.append_attribute("count");
  cellXfs.attribute("count") = countChildren(cellXfs, "xf");
  xml = save(doc);
  return true;
}

bool addFilterNames(std::string& xml, const XlBook& book, std::string& error) {
  bool any = std::any_of(book.sheets.begin(), book.sheets.end(), [](auto& s) { return s->look.filter; });
  if (!any) return true;
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration)) {
    error = "the workbook part is damaged";
    return false;
  }
  pugi::xml_node wb = doc.document_element();
  const std::string p = prefixOf(wb);
  pugi::xml_node names = childOrMade(wb, p, "definedNames",
                                     {"fileVersion", "fileSharing", "workbookPr", "workbookProtection",
                                      "bookViews", "sheets", "functionGroups", "externalReferences"});
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    const XlSheet& s = *book.sheets[i];
    if (!s.look.filter) continue;
    pugi::xml_node n = names.append_child((p + "definedName").c_str());
    n.append_attribute("name") = kFilterDatabaseName;
    n.append_attribute("localSheetId") = static_cast<unsigned>(i);
    n.append_attribute("hidden") = 1;
    const SheetLook& l = s.look;
    n.text().set((quotedSheetName(s.name) + "!" +
                  absoluteRange(l.filterFirstRow, l.filterFirstCol, l.filterLastRow, l.filterLastCol)).c_str());
  }
  xml = save(doc);
  return true;
}

std::string withSheetLookHead(std::string head, const SheetLook& look) {
  if (look.frozenRows > 0 || look.frozenCols > 0) {
    const std::string view = "workbookViewId=\"0\"/>";
    size_t at = head.find(view);
    if (at != std::string::npos) {
      const char* pane = look.frozenRows > 0 && look.frozenCols > 0 ? "bottomRight"
                         : look.frozenRows > 0                     ? "bottomLeft"
                                                                   : "topRight";
      std::string topLeft = rangeText(look.frozenRows, look.frozenCols, look.frozenRows, look.frozenCols);
      std::string xml = "workbookViewId=\"0\"><pane";
      if (look.frozenCols > 0) xml += " xSplit=\"" + std::to_string(look.frozenCols) + "\"";
      if (look.frozenRows > 0) xml += " ySplit=\"" + std::to_string(look.frozenRows) + "\"";
      xml += " topLeftCell=\"" + topLeft + "\" activePane=\"" + pane + "\" state=\"frozen\"/>";
      xml += "<selection pane=\"" + std::string(pane) + "\" activeCell=\"" + topLeft + "\" sqref=\"" + topLeft +
             "\"/></sheetView>";
      head.replace(at, view.size(), xml);
    }
  }
  std::vector<ColumnWidth> runs = columnRuns(look);
  if (!runs.empty()) {
    std::string cols = "<cols>";
    for (const ColumnWidth& c : runs) {
      cols += "<col min=\"" + std::to_string(c.first + 1) + "\" max=\"" + std::to_string(c.last + 1) + "\" width=\"";
      appendNumber(cols, c.width);
      cols += "\" customWidth=\"1\"/>";
    }
    cols += "</cols>";
    size_t at = head.rfind("<sheetData>");
    if (at != std::string::npos) head.insert(at, cols);
  }
  return head;
}

std::string withSheetLookTail(std::string tail, const SheetLook& look) {
  if (!look.filter) return tail;
  size_t at = tail.find("<pageMargins");
  if (at == std::string::npos) return tail;
  tail.insert(at, "<autoFilter ref=\"" +
                      rangeText(look.filterFirstRow, look.filterFirstCol, look.filterLastRow, look.filterLastCol) +
                      "\"/>");
  return tail;
}

}  // namespace xlsx

// The loaded book's styles part, read from the package.
namespace xlsx {

namespace {

constexpr size_t kStylesPartLimit = 64u << 20;

const ZipEntry* stylesEntry(const Package& pkg) {
  for (const Relationship& r : pkg.relationships) {
    size_t slash = r.type.rfind('/');
    if (r.type.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, "styles") != 0) continue;
    std::string path;
    if (!r.target.empty() && r.target[0] == '/') {
      path = r.target.substr(1);
    } else {
      size_t cut = pkg.workbookPart.rfind('/');
      path = cut == std::string::npos ? std::string() : pkg.workbookPart.substr(0, cut + 1);
      std::string target = r.target;
      while (target.rfind("../", 0) == 0) {
        target.erase(0, 3);
        size_t up = path.empty() ? std::string::npos : path.rfind('/', path.size() - 2);
        path = up == std::string::npos ? std::string() : path.substr(0, up + 1);
      }
      path += target;
    }
    return pkg.zip.find(path);
  }
  return nullptr;
}

bool readStyles(Package& pkg, const ZipEntry*& entry, std::string& xml, std::string& error) {
  entry = stylesEntry(pkg);
  if (!entry) {
    error = "the workbook has no styles part";
    return false;
  }
  return pkg.zip.read(*entry, kStylesPartLimit, xml, error);
}

}  // namespace

int cellFormatCount(const XlBook& book, std::string& error) {
  if (!book.xlsx) return 1;  // newStyles() holds one
  const ZipEntry* entry = nullptr;
  std::string xml;
  if (!readStyles(*book.xlsx, entry, xml, error)) return -1;
  return countCellFormats(xml, error);
}

bool stylesForSave(const XlBook& book, std::string& part, std::string& xml, std::string& error) {
  part.clear();
  if (book.formats.empty()) return true;
  if (!book.xlsx) {
    part = "xl/styles.xml";
    xml = newStyles();
    return addFormatsToStyles(xml, book, error);
  }
  const ZipEntry* entry = nullptr;
  if (!readStyles(*book.xlsx, entry, xml, error) || !addFormatsToStyles(xml, book, error)) return false;
  part = entry->name;
  return true;
}

}  // namespace xlsx
