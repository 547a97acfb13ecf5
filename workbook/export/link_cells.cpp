#include "workbook/export/link_cells.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/text_codec.h"
#include "source/ole_format.h"
#include "source/whole_values.h"
#include "workbook/book.h"

namespace {

constexpr char kLinkSeparator = '#';
// What Access's datasheet shows for an OLE field whose bytes carry no object header.
const char* const kNoObjectText = "Long binary data";

// A tag's name, lower case, from just after its "<" (and any "/").
std::string tagName(const std::string& html, size_t at) {
  if (at < html.size() && html[at] == '/') ++at;
  std::string name;
  while (at < html.size() && std::isalnum(static_cast<unsigned char>(html[at])))
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[at++])));
  return name;
}

// The character of an entity such as "amp" or "#233" or "#xE9"; 0 when it is none.
char32_t entityCharacter(const std::string& entity) {
  static const struct {
    const char* name;
    char32_t c;
  } kNamed[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
  if (entity.size() > 1 && entity[0] == '#') {
    bool hex = entity[1] == 'x' || entity[1] == 'X';
    char* end = nullptr;
    unsigned long c = std::strtoul(entity.c_str() + (hex ? 2 : 1), &end, hex ? 16 : 10);
    return end && *end == '\0' && c > 0 && c < 0x110000 && (c < 0xD800 || c > 0xDFFF) ? static_cast<char32_t>(c) : 0;
  }
  for (const auto& n : kNamed)
    if (entity == n.name) return n.c;
  return 0;
}

}  // namespace

void writeHyperlinkCell(SheetHandle sheet, int row, int col, const std::string& stored, FormatHandle look) {
  std::vector<std::string> parts(1);
  for (char c : stored) {
    if (c == kLinkSeparator && parts.size() < 4) parts.emplace_back();
    else parts.back() += c;
  }
  parts.resize(4);
  const std::string& text = parts[0];
  const std::string& address = parts[1];
  const std::string& location = parts[2];
  std::string shown = !text.empty() ? text : !address.empty() ? address : location;
  bool linked = !address.empty() || !location.empty();
  writeValidUtf8Cell(sheet, row, col, shown, linked ? look : nullptr);
  if (linked) xlSheetSetHyperlinkA(sheet, row, col, address.c_str(), location.empty() ? nullptr : location.c_str());
}

std::string oleObjectText(const OleContent& content) {
  // A package is named by its class, whatever its header calls the Packager.
  if (content.className == olefmt::kPackageClass)
    return content.name.empty() ? content.className : content.className + " (" + content.name + ")";
  std::string kind = !content.kind.empty() ? content.kind : content.className;
  return kind.empty() ? kNoObjectText : kind;
}

std::string oleObjectText(const std::vector<uint8_t>& stored) { return oleObjectText(oleContent(stored)); }

bool isRichText(const std::string& text) {
  auto startsWith = [&](const char* s) { return text.compare(0, std::strlen(s), s) == 0; };
  const std::string end = "</div>";
  return (startsWith("<div>") || startsWith("<div ")) && text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string richTextToPlain(const std::string& html) {
  std::string out;
  for (size_t i = 0; i < html.size();) {
    char c = html[i];
    if (c == '<') {
      size_t close = html.find('>', i);
      if (close == std::string::npos) break;
      std::string name = tagName(html, i + 1);
      bool opening = html[i + 1] != '/';
      if (name == "br" || (opening && (name == "div" || name == "p") && !out.empty() && out.back() != '\n'))
        out += '\n';
      i = close + 1;
    } else if (c == '&') {
      size_t semi = html.find(';', i);
      char32_t decoded = semi != std::string::npos && semi - i <= 10 ? entityCharacter(html.substr(i + 1, semi - i - 1)) : 0;
      if (decoded) {
        appendUtf8(out, decoded);
        i = semi + 1;
      } else {
        out += c;
        ++i;
      }
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}
