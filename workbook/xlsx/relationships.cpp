#include <cstring>
#include <sstream>

#include <pugixml.hpp>

#include "workbook/xlsx/parts.h"

namespace xlsx {

const char* const kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char* const kWorksheetRelType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";

const char* const kHyperlinkRelType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink";

static const char* kRelsHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";

std::string newRelationshipsHead() { return kRelsHead; }
std::string newRelationshipsTail() { return "</Relationships>"; }

std::string newRootRelationships() {
  return std::string(kRelsHead) +
         "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
         "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
}

std::string newWorkbookRelationships(const std::vector<std::string>& sheetTargets) {
  std::string s = kRelsHead;
  int id = 1;
  for (auto& t : sheetTargets)
    s += "<Relationship Id=\"rId" + std::to_string(id++) + "\" Type=\"" + kWorksheetRelType +
         "\" Target=\"" + t + "\"/>";
  s += "<Relationship Id=\"rId" + std::to_string(id) +
       "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
       "Target=\"styles.xml\"/></Relationships>";
  return s;
}

bool readRelationships(const std::string& xml, std::vector<Relationship>& out, std::string& error) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size())) {
    error = "a relationships part is damaged";
    return false;
  }
  for (pugi::xml_node n : doc.document_element().children()) {
    Relationship r{n.attribute("Id").value(), n.attribute("Type").value(),
                   n.attribute("Target").value(), {}};
    if (n.attribute("TargetMode") && std::strcmp(n.attribute("TargetMode").value(), "External") == 0)
      r.externalTarget = std::move(r.target), r.target.clear();  // outside the package
    out.push_back(std::move(r));
  }
  return true;
}

bool editRelationships(std::string& xml, const RelationshipsEdit& edit, std::string& error) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration)) {
    error = "a relationships part is damaged";
    return false;
  }
  pugi::xml_node root = doc.document_element();
  for (pugi::xml_node n = root.first_child(); n;) {
    pugi::xml_node next = n.next_sibling();
    for (auto& id : edit.removeIds)
      if (id == n.attribute("Id").value()) {
        root.remove_child(n);
        break;
      }
    n = next;
  }
  std::string childName = "Relationship";
  if (const char* colon = std::strchr(root.name(), ':'))
    childName = std::string(root.name(), static_cast<size_t>(colon - root.name() + 1)) + childName;
  for (auto& r : edit.add) {
    pugi::xml_node n = root.append_child(childName.c_str());
    n.append_attribute("Id") = r.id.c_str();
    n.append_attribute("Type") = r.type.c_str();
    n.append_attribute("Target") = r.target.c_str();
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  xml = out.str();
  return true;
}

}  // namespace xlsx
