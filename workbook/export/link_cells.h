// Fields as a person reads them, with /CELLS=TYPED: a hyperlink field as a link cell, a rich-text
// memo (the HTML Access keeps) as its plain text.
#pragma once

#include <string>

#include "workbook/xl.h"

// A hyperlink field's value, "text#address#subaddress#tip", as a cell showing its text (or its
// address when it has none) that links to the address.
void writeHyperlinkCell(SheetHandle sheet, int row, int col, const std::string& stored);

// Access keeps a rich-text memo as HTML wrapped in <div> elements.
bool isRichText(const std::string& text);
// Tags dropped, <div>, <p> and <br> as line breaks, entities decoded.
std::string richTextToPlain(const std::string& html);
