// Fields as a person reads them, with /CELLS=TYPED: a hyperlink field as a link cell, a rich-text
// memo (the HTML Access keeps) as its plain text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workbook/xl.h"

struct OleContent;

// A hyperlink field's value, "text#address#subaddress#tip", as a cell showing its text (or its
// address when it has none) that links to the address; `look` is the link's cell format.
void writeHyperlinkCell(SheetHandle sheet, int row, int col, const std::string& stored, FormatHandle look = nullptr);

// An OLE object as Access's datasheet shows it: its kind as its header names it ("Bitmap Image",
// "Microsoft Word Document"), a package with its embedded file's name ("Package (report.pdf)"),
// bytes of no OLE wrapper as "Long binary data".
std::string oleObjectText(const OleContent& content);
std::string oleObjectText(const std::vector<uint8_t>& stored);

// Access keeps a rich-text memo as HTML wrapped in <div> elements.
bool isRichText(const std::string& text);
// Tags dropped, <div>, <p> and <br> as line breaks, entities decoded.
std::string richTextToPlain(const std::string& html);
