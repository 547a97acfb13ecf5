#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>
#include <sstream>

#include <pugixml.hpp>

#include "workbook/xlsx/parts.h"

namespace xlsx {


std::string attributeText(const std::string& text) {
  std::string out;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (c >= 0x20 || c == '\t') out += ch;  // XML holds no other control characters
    }
  }
  return out;
}

std::string newWorkbook(const std::vector<std::string>& names) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<workbook xmlns=\"" + std::string(kMainNs) + "\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
      "<workbookPr/><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>";
  for (size_t i = 0; i < names.size(); ++i)
    s += "<sheet name=\"" + attributeText(names[i]) + "\" sheetId=\"" + std::to_string(i + 1) +
         "\" r:id=\"rId" + std::to_string(i + 1) + "\"/>";
  s += "</sheets><calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/></workbook>";
  return s;
}

static const char* localName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

static pugi::xml_node childNamed(pugi::xml_node parent, const char* local) {
  for (pugi::xml_node n : parent.children())
    if (std::strcmp(localName(n.name()), local) == 0) return n;
  return {};
}

// The attribute holding the relationship id (r:id, whatever the prefix).
static pugi::xml_attribute relIdAttribute(pugi::xml_node sheet) {
  for (pugi::xml_attribute a : sheet.attributes())
    if (std::strcmp(localName(a.name()), "id") == 0 && std::strchr(a.name(), ':')) return a;
  return {};
}

bool readWorkbookSheets(const std::string& xml, std::vector<WorkbookSheet>& out, std::string& error) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size())) {
    error = "the workbook part is damaged";
    return false;
  }
  pugi::xml_node wb = doc.document_element();
  if (std::strcmp(localName(wb.name()), "workbook") != 0) {
    error = "not an Excel workbook";
    return false;
  }
  for (pugi::xml_node s : childNamed(wb, "sheets").children()) {
    if (std::strcmp(localName(s.name()), "sheet") != 0) continue;
    out.push_back({s.attribute("name").value(), relIdAttribute(s).value()});
  }
  return true;
}

// Writes a sheet name as a formula writes it before "!".
static std::string quotedSheet(const std::string& name) {
  std::string q = "'";
  for (char c : name) {
    q += c;
    if (c == '\'') q += '\'';
  }
  return q + "'";
}

static bool identifierChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' ||
         static_cast<unsigned char>(c) >= 0x80;
}

std::string refErrorForSheet(const std::string& formula, const std::string& sheet) {
  std::string out;
  const std::string quoted = quotedSheet(sheet) + "!";
  const std::string plain = sheet + "!";
  bool inString = false;
  for (size_t i = 0; i < formula.size();) {
    char c = formula[i];
    if (c == '"') {
      inString = !inString;
      out += c;
      ++i;
      continue;
    }
    if (!inString) {
      if (strncasecmp(formula.c_str() + i, quoted.c_str(), quoted.size()) == 0) {
        out += "#REF!";
        i += quoted.size();
        continue;
      }
      if ((i == 0 || !identifierChar(formula[i - 1])) &&
          strncasecmp(formula.c_str() + i, plain.c_str(), plain.size()) == 0) {
        out += "#REF!";
        i += plain.size();
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

bool editWorkbook(std::string& xml, const WorkbookEdit& edit, std::string& error) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration)) {
    error = "the workbook part is damaged";
    return false;
  }
  pugi::xml_node wb = doc.document_element();
  pugi::xml_node sheets = childNamed(wb, "sheets");
  std::string prefix;
  if (const char* colon = std::strchr(sheets.name(), ':'))
    prefix.assign(sheets.name(), static_cast<size_t>(colon - sheets.name() + 1));

  // Sheets: drop the deleted ones, keep the rest in order, append the added ones.
  unsigned maxId = 0;
  int index = 0;
  std::string relPrefix;
  for (pugi::xml_node s = sheets.first_child(); s;) {
    pugi::xml_node next = s.next_sibling();
    if (std::strcmp(localName(s.name()), "sheet") == 0) {
      maxId = std::max(maxId, s.attribute("sheetId").as_uint());
      if (pugi::xml_attribute a = relIdAttribute(s)) {
        relPrefix.assign(a.name(), static_cast<size_t>(std::strchr(a.name(), ':') - a.name()));
      }
      if (index < static_cast<int>(edit.newPosition.size()) && edit.newPosition[static_cast<size_t>(index)] < 0)
        sheets.remove_child(s);
      ++index;
    }
    s = next;
  }
  if (relPrefix.empty()) {
    // Find the prefix bound to the relationships namespace, or bind one.
    for (pugi::xml_attribute a : wb.attributes())
      if (std::strncmp(a.name(), "xmlns:", 6) == 0 && std::strcmp(a.value(), kRelNs) == 0)
        relPrefix = a.name() + 6;
    if (relPrefix.empty()) {
      relPrefix = "qxr";
      wb.append_attribute("xmlns:qxr") = kRelNs;
    }
  }
  // The prefix may be declared on each old sheet element rather than on the root (openpyxl
  // writes it so); a new sheet then declares it itself.
  const std::string relDeclaration = "xmlns:" + relPrefix;
  pugi::xml_attribute rootDeclaration = wb.attribute(relDeclaration.c_str());
  bool declaredAtRoot = rootDeclaration && std::strcmp(rootDeclaration.value(), kRelNs) == 0;
  for (auto& a : edit.added) {
    pugi::xml_node n = sheets.append_child((prefix + "sheet").c_str());
    if (!declaredAtRoot) n.append_attribute(relDeclaration.c_str()) = kRelNs;
    n.append_attribute("name") = a.name.c_str();
    n.append_attribute("sheetId") = ++maxId;
    n.append_attribute((relPrefix + ":id").c_str()) = a.relId.c_str();
  }
  int count = 0;
  for (pugi::xml_node s : sheets.children())
    if (std::strcmp(localName(s.name()), "sheet") == 0) ++count;

  auto mapped = [&](int old) {
    if (old < 0 || old >= static_cast<int>(edit.newPosition.size())) return -1;
    return edit.newPosition[static_cast<size_t>(old)];
  };

  // Defined names: sheet-level names follow their sheet or go with it; references to a deleted
  // sheet become #REF!.
  if (pugi::xml_node names = childNamed(wb, "definedNames")) {
    for (pugi::xml_node n = names.first_child(); n;) {
      pugi::xml_node next = n.next_sibling();
      if (pugi::xml_attribute local = n.attribute("localSheetId")) {
        int to = mapped(local.as_int(-1));
        if (to < 0) {
          names.remove_child(n);
          n = next;
          continue;
        }
        local.set_value(to);
      }
      if (!edit.deletedNames.empty()) {
        std::string text = n.text().get();
        for (auto& d : edit.deletedNames) text = refErrorForSheet(text, d);
        if (text != n.text().get()) n.text().set(text.c_str());
      }
      n = next;
    }
    if (!names.first_child()) wb.remove_child(names);
  }

  // The active and first visible tab must name existing sheets.
  if (pugi::xml_node views = childNamed(wb, "bookViews")) {
    for (pugi::xml_node v : views.children()) {
      for (const char* attr : {"activeTab", "firstSheet"}) {
        pugi::xml_attribute a = v.attribute(attr);
        if (!a) continue;
        int to = mapped(a.as_int(0));
        if (to < 0 || to >= count) to = 0;
        a.set_value(to);
      }
    }
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  xml = out.str();
  return true;
}

}  // namespace xlsx
