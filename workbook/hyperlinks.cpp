#include "workbook/hyperlinks.h"

#include <cerrno>
#include <cstring>

#include "platform/little_endian.h"
#include "workbook/book.h"
#include "workbook/formats.h"

namespace {
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool keepHyperlink(XlSheet& sheet, const Hyperlink& link) {
  std::string error;
  if (!sheet.links.isOpen() && !sheet.links.open(false, &error)) {
    if (sheet.tempFailure.empty()) sheet.tempFailure = error;  // the save must not drop the links
    return fail(sheet.book, error) != 0;
  }
  // Row, column, then the two texts, each after its length.
  std::string record;
  le::add32(record, static_cast<uint32_t>(link.row));
  le::add32(record, static_cast<uint32_t>(link.col));
  le::add32(record, static_cast<uint32_t>(link.address.size()));
  record += link.address;
  le::add32(record, static_cast<uint32_t>(link.location.size()));
  record += link.location;
  errno = 0;
  if (!sheet.links.write(record))
    return fail(sheet.book, "cannot write the temporary file of the links of sheet \"" + sheet.name + "\"" +
                                (errno ? std::string(": ") + std::strerror(errno) : std::string())) != 0;
  ++sheet.linkCount;
  return true;
}

bool forEachHyperlink(const XlSheet& sheet, const std::function<bool(const Hyperlink&)>& each) {
  if (sheet.linkCount == 0 || !sheet.links.isOpen()) return true;
  std::string pending;  // bytes of a record not yet whole
  Hyperlink link;
  bool stopped = false;
  bool copied = sheet.links.copyStored([&](const char* p, size_t n) {
    pending.append(p, n);
    size_t at = 0;
    for (;;) {
      if (pending.size() - at < 12) break;
      uint32_t addressSize = le::get32(pending.data() + at + 8);
      if (pending.size() - at < 16 + size_t{addressSize}) break;
      uint32_t locationSize = le::get32(pending.data() + at + 12 + addressSize);
      size_t whole = 16 + size_t{addressSize} + locationSize;
      if (pending.size() - at < whole) break;
      link.row = static_cast<int>(le::get32(pending.data() + at));
      link.col = static_cast<int>(le::get32(pending.data() + at + 4));
      link.address.assign(pending, at + 12, addressSize);
      link.location.assign(pending, at + 16 + addressSize, locationSize);
      at += whole;
      if (!each(link)) {
        stopped = true;
        return false;
      }
    }
    pending.erase(0, at);
    return true;
  });
  return copied && !stopped;
}

bool isUrlAddress(const std::string& address) {
  size_t colon = address.find(':');
  if (colon == std::string::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    char c = address[i];
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
  }
  return true;
}

std::string addressUri(const std::string& address) {
  if (isUrlAddress(address)) return address;
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri;
  for (char ch : address) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::strchr("-._~/!$&'()+,;=@", c) != nullptr;
    if (c == '\\') {
      uri += '/';
    } else if (plain && c != 0) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

bool forEachLoadedLinkAddress(const XlBook& book, const std::function<void(const std::string&)>& each) {
  std::string error;
  if (book.xml ? xlsx::forEachLoadedLink(book, each, error) : xls::forEachLoadedLink(book, each, error)) return true;
  fail(const_cast<XlBook*>(&book), error);
  return false;
}

bool forEachWrittenLinkAddress(const XlBook& book, const std::function<void(const std::string&)>& each) {
  for (const auto& sheet : book.sheets)
    if (!forEachHyperlink(*sheet, [&](const Hyperlink& link) {
          each(link.address);
          return true;
        }))
      return false;
  return true;
}

std::string uriAddress(const std::string& uri) {
  if (isUrlAddress(uri)) return uri;
  std::string out;
  for (size_t i = 0; i < uri.size(); ++i) {
    int high = i + 2 < uri.size() && uri[i] == '%' ? hexValue(uri[i + 1]) : -1;
    int low = high >= 0 ? hexValue(uri[i + 2]) : -1;
    if (low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += uri[i];
    }
  }
  return out;
}
