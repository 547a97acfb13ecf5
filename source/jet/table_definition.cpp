#include "source/jet/table_definition.h"

#include <algorithm>
#include <unordered_set>

#include "platform/little_endian.h"
#include "platform/text_codec.h"
#include "source/dao_types.h"
#include "source/jet/pages.h"
#include "source/jet/row.h"
#include "source/jet_format.h"

namespace {

constexpr unsigned kMaxIndexes = 1000;
constexpr size_t kMaxDefinitionPages = 256;  // far more than 255 columns and their indexes take

// Where the fields of a definition stand in one format.
struct Layout {
  uint32_t rowCount, varColumns, columns, realIndexes, usageMap, columnsStart, realIndexEntry;
  uint32_t entrySize, number, varIndex, scale, flags, fixedOffset, length, nameLengthSize;
};

constexpr Layout kJet3{jetfmt::kTdRowCountJet3, jetfmt::kTdVarColumnsJet3, jetfmt::kTdColumnsJet3,
                       jetfmt::kTdRealIndexesJet3, jetfmt::kTdUsageMapJet3, jetfmt::kTdColumnsStartJet3,
                       jetfmt::kTdRealIndexEntrySizeJet3, jetfmt::kColEntrySizeJet3, jetfmt::kColNumberJet3,
                       jetfmt::kColVarIndexJet3, jetfmt::kColScaleJet3, jetfmt::kColFlagsJet3,
                       jetfmt::kColFixedOffsetJet3, jetfmt::kColLengthJet3, jetfmt::kColNameLengthSizeJet3};
constexpr Layout kJet4{jetfmt::kTdRowCount, jetfmt::kTdVarColumns, jetfmt::kTdColumns, jetfmt::kTdRealIndexes,
                       jetfmt::kTdUsageMap, jetfmt::kTdColumnsStart, jetfmt::kTdRealIndexEntrySize,
                       jetfmt::kColEntrySize, jetfmt::kColNumber, jetfmt::kColVarIndex, jetfmt::kColScale,
                       jetfmt::kColFlags, jetfmt::kColFixedOffset, jetfmt::kColLength, jetfmt::kColNameLengthSize};

int16_t daoTypeOf(int jetType) {
  switch (jetType) {
    case jetfmt::kTypeBoolean: return dbBoolean;
    case jetfmt::kTypeByte: return dbByte;
    case jetfmt::kTypeInteger: return dbInteger;
    case jetfmt::kTypeLong: return dbLong;
    case jetfmt::kTypeCurrency: return dbCurrency;
    case jetfmt::kTypeSingle: return dbSingle;
    case jetfmt::kTypeDouble: return dbDouble;
    case jetfmt::kTypeDateTime: return dbDate;
    case jetfmt::kTypeBinary: return dbBinary;
    case jetfmt::kTypeText: return dbText;
    case jetfmt::kTypeOle: return dbLongBinary;
    case jetfmt::kTypeMemo: return dbMemo;
    case jetfmt::kTypeGuid: return dbGUID;
    case jetfmt::kTypeNumeric: return dbDecimal;
    case jetfmt::kTypeComplex: return dbAttachment;  // refined from the complex-column catalog
    case jetfmt::kTypeBigInt: return dbBigInt;
    case jetfmt::kTypeDateTimeExtended: return dbDateTimeExtended;
    default: return dbBinary;  // a kind we do not know: its raw bytes
  }
}

// The definition's bytes as one stretch: the first page whole, then each continuation page
// after its header.
std::vector<uint8_t> readDefinitionBytes(const PageReader& pages, uint32_t first) {
  const uint32_t pageSize = pages.pageSize();
  std::vector<uint8_t> bytes, page(pageSize);
  std::unordered_set<uint32_t> seen;
  for (uint32_t number = first; number != 0;) {
    if (number >= pages.pageCount() || !seen.insert(number).second || seen.size() > kMaxDefinitionPages)
      throw JetDamage("its definition pages point outside the file or loop");
    if (!pages.read(number, page.data()) || page[0] != jetfmt::kPageTableDef)
      throw JetDamage(number == first ? "cannot read the table definition" : "a definition page is missing");
    if (bytes.empty()) bytes.assign(page.begin(), page.end());
    else bytes.insert(bytes.end(), page.begin() + jetfmt::kTdContinuationData, page.end());
    number = le::get32(page.data() + jetfmt::kTdNextPage);
  }
  return bytes;
}

// The row a page-and-row pointer names, copied.
std::vector<uint8_t> readPointedRow(const PageReader& pages, JetVersion version, uint32_t pageRow) {
  const uint32_t number = pointedPage(pageRow);
  std::vector<uint8_t> page(pages.pageSize());
  RowSlot slot;
  if (number == 0 || number >= pages.pageCount() || !pages.read(number, page.data()) ||
      !pointedRow(page.data(), pages.pageSize(), version, pageRow, slot))
    throw JetDamage("damaged usage map");
  return {page.begin() + slot.start, page.begin() + slot.start + slot.length};
}

}  // namespace

TableDefinition readTableDefinition(const PageReader& pages, JetVersion version, uint16_t codePage, uint32_t page) {
  const bool jet3 = version == JetVersion::Jet3;
  const Layout& at = jet3 ? kJet3 : kJet4;
  const std::vector<uint8_t> bytes = readDefinitionBytes(pages, page);
  const uint8_t* d = bytes.data();
  TableDefinition table;
  table.rowCount = le::get32(d + at.rowCount);
  table.varColumns = le::get16(d + at.varColumns);
  const unsigned columns = le::get16(d + at.columns);
  const uint32_t realIndexes = le::get32(d + at.realIndexes);
  if (columns == 0 || columns > jetfmt::kMaxColumns + 1) throw JetDamage("implausible column count " + std::to_string(columns));
  if (realIndexes > kMaxIndexes) throw JetDamage("implausible index count");

  size_t pos = at.columnsStart + size_t{realIndexes} * at.realIndexEntry;
  if (pos + size_t{columns} * at.entrySize > bytes.size()) throw JetDamage("its column descriptors are cut short");
  table.columns.resize(columns);
  for (ColumnInfo& c : table.columns) {
    const uint8_t* e = d + pos;
    c.jetType = e[0];
    c.number = le::get16(e + at.number);
    c.varIndex = le::get16(e + at.varIndex);
    c.fixedOffset = le::get16(e + at.fixedOffset);
    c.flags = e[at.flags];
    c.fixed = (c.flags & jetfmt::kColFlagFixed) != 0;
    c.size = c.jetType == jetfmt::kTypeBoolean ? 0 : le::get16(e + at.length);
    if (c.jetType == jetfmt::kTypeNumeric) c.scale = e[at.scale];
    if (!jet3) {
      c.extFlags = e[jetfmt::kColExtFlags];
      c.calculated = (c.extFlags & jetfmt::kColExtCalculated) != 0;
    }
    c.daoType = daoTypeOf(c.jetType);
    pos += at.entrySize;
  }
  for (ColumnInfo& c : table.columns) {
    if (pos + at.nameLengthSize > bytes.size()) throw JetDamage("its column names are cut short");
    const size_t length = jet3 ? d[pos] : le::get16(d + pos);
    pos += at.nameLengthSize;
    if (pos + length > bytes.size()) throw JetDamage("its column names are cut short");
    c.name = jet3 ? decodeCodePageText(d + pos, length, codePage) : decodeAccessText(d + pos, length);
    pos += length;
  }
  // The engine's order; a stable sort keeps a damaged definition's equal numbers as stored.
  std::stable_sort(table.columns.begin(), table.columns.end(),
                   [](const ColumnInfo& a, const ColumnInfo& b) { return a.number < b.number; });

  table.usageMap = readPointedRow(pages, version, le::get32(d + at.usageMap));
  if (table.usageMap.size() < jetfmt::kMapInlineBits || table.usageMap[0] > jetfmt::kMapReference)
    throw JetDamage("damaged usage map");
  return table;
}
