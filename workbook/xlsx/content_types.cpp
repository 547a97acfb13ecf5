#include <cstring>
#include <sstream>
#include <strings.h>

#include <pugixml.hpp>

#include "workbook/xlsx/parts.h"

namespace xlsx {

const char* const kWorksheetContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
static const char* const kMainContentType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
static const char* const kMacroEnabledMainContentType = "application/vnd.ms-excel.sheet.macroEnabled.main+xml";

std::string newContentTypes(const std::vector<std::string>& sheetParts, bool macroEnabled) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" +
      std::string(macroEnabled ? kMacroEnabledMainContentType : kMainContentType) + "\"/>"
      "<Override PartName=\"/xl/styles.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
  for (auto& p : sheetParts)
    s += "<Override PartName=\"/" + p + "\" ContentType=\"" + kWorksheetContentType + "\"/>";
  s += "</Types>";
  return s;
}

static bool samePart(const char* a, const std::string& b) {
  if (*a == '/') ++a;
  return strcasecmp(a, b.c_str()) == 0;
}

bool makeMainMacroEnabled(std::string& xml, const std::string& workbookPart) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration)) return false;
  bool changed = false;
  for (pugi::xml_node n : doc.document_element().children()) {
    pugi::xml_attribute type = n.attribute("ContentType");
    if (samePart(n.attribute("PartName").value(), workbookPart) && std::strcmp(type.value(), kMainContentType) == 0) {
      type = kMacroEnabledMainContentType;
      changed = true;
    }
  }
  if (!changed) return false;
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  xml = out.str();
  return true;
}

bool editContentTypes(std::string& xml, const ContentTypesEdit& edit, std::string& error) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration)) {
    error = "[Content_Types].xml is damaged";
    return false;
  }
  pugi::xml_node types = doc.document_element();
  for (pugi::xml_node n = types.first_child(); n;) {
    pugi::xml_node next = n.next_sibling();
    const char* part = n.attribute("PartName").value();
    for (auto& r : edit.removeParts)
      if (*part && samePart(part, r)) {
        types.remove_child(n);
        break;
      }
    n = next;
  }
  std::string overrideName = "Override";
  const char* rootName = types.name();
  if (const char* colon = std::strchr(rootName, ':'))
    overrideName = std::string(rootName, static_cast<size_t>(colon - rootName + 1)) + "Override";
  for (auto& p : edit.addWorksheets) {
    pugi::xml_node o = types.append_child(overrideName.c_str());
    o.append_attribute("PartName") = ("/" + p).c_str();
    o.append_attribute("ContentType") = kWorksheetContentType;
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  xml = out.str();
  return true;
}

}  // namespace xlsx
