// Hyperlinks of cells: kept per sheet in a temporary file until the book is saved, so a table of
// many linked values costs no memory, and written by each format in its own way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct XlBook;
struct XlSheet;

struct Hyperlink {
  int row = 0, col = 0;
  std::string address;   // a URL ("https://...", "mailto:...") or a file path, relative or absolute
  std::string location;  // a place inside the target (a cell, a bookmark); may be empty
};

// Keeps the link for the save; false (the book's error set) when it cannot be kept.
bool keepHyperlink(XlSheet& sheet, const Hyperlink& link);
// The sheet's links in the order they were added; `each` returns false to stop, and so does this.
bool forEachHyperlink(const XlSheet& sheet, const std::function<bool(const Hyperlink&)>& each);

// The addresses of the links of a loaded file's sheets (not of those written since), each handed
// to `each`; false with the book's error set when the file's links cannot be read.
bool forEachLoadedLinkAddress(const XlBook& book, const std::function<void(const std::string&)>& each);
// The addresses of the links written since the book was made or loaded.
bool forEachWrittenLinkAddress(const XlBook& book, const std::function<void(const std::string&)>& each);

// An address with a scheme of two letters or more ("https:", "mailto:"); a drive letter ("C:")
// and anything else is a file path.
bool isUrlAddress(const std::string& address);
// The address as a URI reference: a file path gets "/" separators and its blanks, non-ASCII
// and reserved characters percent-encoded; a URL is left as it is.
std::string addressUri(const std::string& address);
// A URI reference's file path: its percent-encoded bytes decoded. A URL is left as it is.
std::string uriAddress(const std::string& uri);
