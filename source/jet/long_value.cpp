#include "source/jet/long_value.h"

#include <unordered_set>

#include "platform/little_endian.h"
#include "source/jet/pages.h"
#include "source/jet/row.h"
#include "source/jet_format.h"

LongValueReader::LongValueReader(const PageReader& pages, JetVersion version)
    : pages_(pages), version_(version), page_(pages.pageSize()) {}

// The row that a long value's page-and-row pointer names: where it starts on page_ and how long
// it is. False when the page cannot be read, is no data page, or the row does not fit it.
bool LongValueReader::findRow(uint32_t pageRow, size_t& start, size_t& length) {
  const uint32_t page = pointedPage(pageRow);
  if (page != pageNumber_) {
    pageNumber_ = 0;
    if (!pages_.read(page, page_.data())) return false;
    pageNumber_ = page;
  }
  RowSlot slot;
  if (!pointedRow(page_.data(), pages_.pageSize(), version_, pageRow, slot)) return false;
  start = slot.start;
  length = slot.length;
  return true;
}

void LongValueReader::read(const uint8_t* head, size_t size, const std::string& column, std::vector<uint8_t>& out) {
  // The top two bits of the first word say where the value lives, the rest is its length.
  const uint32_t length = le::get32(head) & jetfmt::kLvLengthMask;
  const uint8_t kind = head[3] & jetfmt::kLvKindMask;
  auto fail = [&column](const char* what) { throw JetDamage("long value of column '" + column + "' " + what); };
  out.clear();
  if (length > pages_.fileSize()) fail("is longer than the file");
  if (kind == jetfmt::kLvInline) {
    if (length > size - jetfmt::kLvRefSize) fail("overruns its record");
    out.assign(head + jetfmt::kLvRefSize, head + jetfmt::kLvRefSize + length);
    return;
  }
  if (kind != jetfmt::kLvSinglePage && kind != jetfmt::kLvMultiPage) fail("has an unknown kind");
  out.reserve(length);
  uint32_t pageRow = le::get32(head + jetfmt::kLvPageRow);
  std::unordered_set<uint32_t> seen;
  while (out.size() < length || kind == jetfmt::kLvSinglePage) {
    const uint32_t page = pointedPage(pageRow);
    if (page == 0 || page >= pages_.pageCount() || (kind == jetfmt::kLvMultiPage && !seen.insert(pageRow).second))
      fail("points outside the file or loops");
    size_t offset = 0, rowLength = 0;
    if (!findRow(pageRow, offset, rowLength)) fail("is missing");
    const uint8_t* data = page_.data() + offset;
    if (kind == jetfmt::kLvSinglePage) {
      if (rowLength < length) fail("is cut short");
      out.assign(data, data + length);
      return;
    }
    if (rowLength < jetfmt::kLvNextSize) fail("is cut short");
    const uint32_t next = le::get32(data);
    const size_t take = std::min<size_t>(rowLength - jetfmt::kLvNextSize, length - out.size());
    out.insert(out.end(), data + jetfmt::kLvNextSize, data + jetfmt::kLvNextSize + take);
    if (out.size() >= length) break;
    if (next == 0) fail("is cut short");
    pageRow = next;
  }
}
