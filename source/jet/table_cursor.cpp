#include "source/jet/table_cursor.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/civil_date.h"
#include "platform/little_endian.h"
#include "platform/text_codec.h"
#include "source/com_error.h"
#include "source/jet/complex_values.h"
#include "source/dao_types.h"
#include "source/jet_format.h"

namespace {

constexpr unsigned kMaxRowsPerPage = 1000;
constexpr int kMaxOverflowHops = 64;

// The fixed size a value of the type needs, 0 for variable-length types.
int neededSize(int jetType) {
  switch (jetType) {
    case jetfmt::kTypeByte: return 1;
    case jetfmt::kTypeInteger: return 2;
    case jetfmt::kTypeLong: case jetfmt::kTypeSingle: case jetfmt::kTypeComplex: return 4;
    case jetfmt::kTypeCurrency: case jetfmt::kTypeDouble: case jetfmt::kTypeDateTime: case jetfmt::kTypeBigInt: return 8;
    case jetfmt::kTypeGuid: return 16;
    case jetfmt::kTypeNumeric: return jetfmt::kNumericSize;
    case jetfmt::kTypeMemo: case jetfmt::kTypeOle: return jetfmt::kLvRefSize;
    case jetfmt::kTypeDateTimeExtended: return jetfmt::kExtDateSize;
    default: return 0;
  }
}

std::string guidText(const uint8_t* p) {
  static const char* hex = "0123456789ABCDEF";
  // The first three groups are little-endian integers, the last two plain bytes.
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += hex[p[order[i]] >> 4];
    out += hex[p[order[i]] & 15];
  }
  out += '}';
  return out;
}

bool parseDigits(const uint8_t* p, size_t n, uint64_t& value) {
  value = 0;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    value = value * 10 + (p[i] - '0');
  }
  return true;
}

// The date of a day count from 0001-01-01.
void civilFromDayNumber(int64_t days, ExtendedDateValue& out) {
  constexpr int64_t kFirstDayFromUnix = daysFromCivil(1, 1, 1);
  const CivilDate date = civilFromDays(days + kFirstDayFromUnix);
  out.year = static_cast<int16_t>(date.year);
  out.month = static_cast<uint8_t>(date.month);
  out.day = static_cast<uint8_t>(date.day);
}

// A Date/Time Extended value from its ASCII digits; false when they are no date of years 1 to 9999.
bool parseExtendedDate(const uint8_t* p, size_t size, ExtendedDateValue& out) {
  uint64_t days = 0, ticks = 0;
  if (size < jetfmt::kExtDateTicks + jetfmt::kExtDateDigits) return false;
  if (!parseDigits(p + jetfmt::kExtDateDays, jetfmt::kExtDateDigits, days) ||
      !parseDigits(p + jetfmt::kExtDateTicks, jetfmt::kExtDateDigits, ticks))
    return false;
  constexpr uint64_t kLastDay = 3652058;  // 9999-12-31
  if (days > kLastDay || ticks >= 86400 * jetfmt::kTicksPerSecond) return false;
  civilFromDayNumber(static_cast<int64_t>(days), out);
  uint64_t seconds = ticks / jetfmt::kTicksPerSecond;
  out.hour = static_cast<uint8_t>(seconds / 3600);
  out.minute = static_cast<uint8_t>(seconds / 60 % 60);
  out.second = static_cast<uint8_t>(seconds % 60);
  out.fraction = static_cast<uint32_t>(ticks % jetfmt::kTicksPerSecond);
  return true;
}

Variant rawBytes(const uint8_t* p, size_t size) {
  Variant v;
  v.vt = VT_BYTES;
  v.bytes.assign(p, p + size);
  return v;
}

}  // namespace

TableCursor::TableCursor(std::shared_ptr<DatabaseFile> file, const CatalogTable& table)
    : file_(std::move(file)),
      pages_(*file_->pages),
      version_(file_->header.version),
      tableName_(table.name),
      definitionPage_(table.definitionPage),
      longValues_(*file_->pages, file_->header.version) {
  open(table);
}

TableCursor::~TableCursor() = default;

void TableCursor::open(const CatalogTable& table) {
  if (table.definitionPage == 0 || table.definitionPage >= pages_.pageCount())
    damaged("table definition page " + std::to_string(table.definitionPage) + " lies outside the file");
  try {
    definition_ = readTableDefinition(pages_, version_, file_->header.codePage, table.definitionPage);
  } catch (const JetDamage& e) {
    damaged(e.what());
  }
  page_.resize(pages_.pageSize());
  bitmapPage_.resize(pages_.pageSize());
  complex_.resize(definition_.columns.size());
  for (size_t i = 0; i < definition_.columns.size(); ++i) {
    ColumnInfo& info = definition_.columns[i];
    if (info.jetType != jetfmt::kTypeComplex || info.calculated) continue;
    auto found = file_->complexColumns.find({table.definitionPage, info.name});
    if (found == file_->complexColumns.end()) continue;
    info.daoType = found->second.daoType;
    if (found->second.valueTablePage != 0) complex_[i] = std::make_unique<ComplexColumnValues>(file_, found->second);
  }
}

void TableCursor::damaged(const std::string& what) const {
  throw ComError(daoerror::kDatabaseCorrupt, "DAO.Recordset",
                 "The database is damaged (table '" + tableName_ + "': " + what + "): " + file_->path,
                 openreason::kDamagedPrefix + ("table '" + tableName_ + "': " + what));
}

void TableCursor::rewind() {
  currentPage_ = 0;
  pageLoaded_ = false;
  finished_ = false;
  row_ = 0;
  pagesVisited_ = 0;
}

// Reads a page into the page buffer, where records are cracked.
bool TableCursor::loadPage(uint32_t page) {
  bool ok = pages_.read(page, page_.data());
  loadedPage_ = ok ? page : 0;
  return ok;
}

// The first page after `after` that the table's usage map marks as its own; 0 past the last.
uint32_t TableCursor::nextMappedPage(uint32_t after) {
  const uint8_t* map = definition_.usageMap.data();
  const uint64_t mapSize = definition_.usageMap.size();
  const uint64_t pageCount = pages_.pageCount();
  if (walkAllPages_) return after + 1 < pageCount ? after + 1 : 0;
  auto firstSetBit = [](const uint8_t* bits, uint64_t from, uint64_t count, uint64_t& found) {
    for (uint64_t i = from; i < count; ++i) {
      uint8_t byte = bits[i / 8];
      if (byte == 0 && i % 8 == 0) {
        i += 7;
        continue;
      }
      if (byte & (1u << (i % 8))) {
        found = i;
        return true;
      }
    }
    return false;
  };
  uint64_t bit = 0;
  if (map[0] == jetfmt::kMapInline) {
    const uint32_t first = le::get32(map + jetfmt::kMapFirstPage);
    const uint64_t from = after >= first ? uint64_t{after} - first + 1 : 0;
    if (!firstSetBit(map + jetfmt::kMapInlineBits, from, (mapSize - jetfmt::kMapInlineBits) * 8, bit)) return 0;
    return static_cast<uint32_t>(first + bit);
  }
  const uint64_t perBitmap = (uint64_t{pages_.pageSize()} - jetfmt::kMapBitmapStart) * 8;
  const uint64_t bitmaps = (mapSize - jetfmt::kMapPageList) / 4;
  for (uint64_t m = (uint64_t{after} + 1) / perBitmap, from = (uint64_t{after} + 1) % perBitmap; m < bitmaps; ++m, from = 0) {
    const uint32_t bitmapPage = le::get32(map + jetfmt::kMapPageList + 4 * m);
    if (bitmapPage == 0) continue;
    if (bitmapPage != bitmapPageNumber_) {
      if (!pages_.read(bitmapPage, bitmapPage_.data())) {
        // Without the map, every page after this one is looked at.
        walkAllPages_ = true;
        return nextMappedPage(after);
      }
      bitmapPageNumber_ = bitmapPage;
    }
    if (firstSetBit(bitmapPage_.data() + jetfmt::kMapBitmapStart, from, perBitmap, bit))
      return static_cast<uint32_t>(m * perBitmap + bit);
  }
  return 0;
}

bool TableCursor::loadNextPage() {
  if (++pagesVisited_ > pages_.pageCount() + 1) damaged("its data pages form a loop");
  for (;;) {
    const uint32_t page = nextMappedPage(currentPage_);
    if (page == 0) return false;
    // A page of records that is not there is damage, not the end of the table.
    if (page >= pages_.pageCount()) damaged("a page of its records lies past the end of the file");
    if (!loadPage(page)) damaged("a page of its records cannot be read");
    currentPage_ = page;
    row_ = 0;
    // The usage map may name a page that no longer holds this table's records.
    if (page_[0] == jetfmt::kPageData && le::get32(page_.data() + jetfmt::kDpOwner) == definitionPage_) return true;
    if (++pagesVisited_ > pages_.pageCount() + 1) damaged("its data pages form a loop");
  }
}

unsigned TableCursor::rowCountOfLoadedPage() const {
  unsigned rows = rowCountOfPage(page_.data(), version_);
  if (rows > kMaxRowsPerPage) damaged("implausible record count on a data page");
  return rows;
}

bool TableCursor::slotOf(unsigned row, RowSlot& slot) const {
  return rowSlot(page_.data(), pages_.pageSize(), version_, row, slot);
}

bool TableCursor::next(std::vector<Variant>& values) {
  if (finished_) return false;
  for (;;) {
    if (!pageLoaded_) {
      if (!loadNextPage()) {
        finished_ = true;
        return false;
      }
      pageLoaded_ = true;
    }
    if (row_ >= rowCountOfLoadedPage()) {
      pageLoaded_ = false;
      continue;
    }
    unsigned row = row_++;
    RowSlot slot;
    bool fits = slotOf(row, slot);
    // Deleted rows and the moved data of overflowed records are no records; the walk takes a
    // moved record where its pointer stands.
    if (slot.flags & jetfmt::kRowNotARecord) continue;
    if (!fits) damaged("a record lies outside its page");
    if (slot.length == 0) continue;
    lastRow_ = static_cast<uint16_t>(row);
    if (slot.flags & jetfmt::kRowOverflow) {
      RowSlot data = followOverflow(slot);
      crackAndDecode(data, values);
      loadDataPage(currentPage_, "a data page");
    } else {
      crackAndDecode(slot, values);
    }
    return true;
  }
}

bool TableCursor::readAt(RowLocation at, std::vector<Variant>& values) {
  loadDataPage(at.page, "a record");
  bool found = false;
  RowSlot slot;
  if (at.row < rowCountOfLoadedPage() && slotOf(at.row, slot) && !(slot.flags & jetfmt::kRowNotARecord) && slot.length > 0) {
    if (slot.flags & jetfmt::kRowOverflow) slot = followOverflow(slot);
    crackAndDecode(slot, values);
    found = true;
  }
  if (pageLoaded_) loadDataPage(currentPage_, "a data page");
  return found;
}

// Loads one of this table's data pages into the page buffer; anything else is damage.
void TableCursor::loadDataPage(uint32_t page, const char* what) {
  if (page == 0 || page >= pages_.pageCount()) damaged(std::string(what) + " points outside the file");
  if (loadedPage_ == page) return;
  if (!loadPage(page)) damaged(std::string(what) + " cannot be read");
  const uint8_t* pg = page_.data();
  if (pg[0] != jetfmt::kPageData || le::get32(pg + jetfmt::kDpOwner) != definitionPage_)
    damaged(std::string(what) + " points to a page that holds none of the table's records");
}

// Follows an overflow pointer (and any pointer it leads to) to the row that holds the record's
// data, which is then on the loaded page.
RowSlot TableCursor::followOverflow(RowSlot pointer) {
  for (int hop = 0; hop < kMaxOverflowHops; ++hop) {
    if (pointer.length < jetfmt::kOverflowPointerSize) damaged("an overflow pointer is cut short");
    const uint8_t* p = page_.data() + pointer.start;
    unsigned row = p[jetfmt::kOverflowRow];
    uint32_t page = le::get24(p + jetfmt::kOverflowPage);
    loadDataPage(page, "an overflow pointer");
    RowSlot slot;
    if (row >= rowCountOfLoadedPage() || !slotOf(row, slot) || slot.length == 0) damaged("an overflow pointer leads to no row");
    if (!(slot.flags & jetfmt::kRowOverflow)) return slot;
    pointer = slot;
  }
  damaged("its overflow pointers form a loop");
}

void TableCursor::crackAndDecode(const RowSlot& slot, std::vector<Variant>& values) {
  try {
    crackRow(definition_, version_, page_.data(), slot, fields_);
  } catch (const JetDamage& e) {
    damaged(e.what());
  }
  const std::vector<ColumnInfo>& columns = definition_.columns;
  values.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    if (!wanted_.empty() && !wanted_[i]) {
      values[i] = Variant();
      continue;
    }
    // The value's old text buffer takes the next text decoded: no allocation per text.
    textBuffer_.swap(values[i].text);
    try {
      values[i] = decode(i, fields_[i]);
    } catch (...) {
      values[i] = Variant();  // not half of the record before's value
      throw;
    }
  }
}

Variant TableCursor::decode(size_t index, const FieldExtent& field) {
  const ColumnInfo& column = definition_.columns[index];
  Variant v;
  if (column.jetType == jetfmt::kTypeBoolean && !column.calculated) {
    // A Yes/No value lives in the null mask: a set bit is Yes.
    v.vt = VT_BOOL;
    v.integer = field.isNull ? 0 : -1;
    return v;
  }
  if (field.isNull) {
    v.vt = VT_NULL;
    return v;
  }
  const int size = static_cast<int>(field.size);
  const uint8_t* p = page_.data() + field.start;
  if (column.calculated) {
    if (column.jetType == jetfmt::kTypeMemo) {
      if (size < static_cast<int>(jetfmt::kLvRefSize)) {
        v.vt = VT_NULL;
        return v;
      }
      std::vector<uint8_t> raw;
      readLongValue(p, static_cast<size_t>(size), column, raw);
      return decodeCalculated(column, raw.data(), raw.size());
    }
    return decodeCalculated(column, p, static_cast<size_t>(size));
  }
  if (column.jetType == jetfmt::kTypeComplex && complex_[index]) {
    if (size < static_cast<int>(jetfmt::kComplexKeySize)) damaged("value of column '" + column.name + "' is too short");
    std::string text;
    if (complex_[index]->joinedText(le::get32(p), text)) {
      v.vt = VT_BSTR;
      v.text = std::move(text);
      v.integer = le::get32(p);  // the key of the values, for those who read them whole
    } else {
      v.vt = VT_NULL;
    }
    return v;
  }
  int need = neededSize(column.jetType);
  if (need > 0 && size < need) {
    // A variable-length slot left empty by the engine is a null; a short fixed value is damage.
    if (size == 0 && (column.jetType == jetfmt::kTypeMemo || column.jetType == jetfmt::kTypeOle)) {
      v.vt = VT_NULL;
      return v;
    }
    damaged("value of column '" + column.name + "' is too short");
  }
  return decodeBytes(column, p, static_cast<size_t>(size));
}

// A calculated column's stored result, unwrapped and decoded as a value of its result type. A
// stored value shorter than the wrapper is the result itself; a result without data is No for a
// Yes/No column and null for the others.
Variant TableCursor::decodeCalculated(const ColumnInfo& column, const uint8_t* p, size_t size) {
  Variant v;
  size_t length = size;
  if (size >= jetfmt::kCalcData) {
    length = le::get32(p + jetfmt::kCalcLength);
    if (length > size - jetfmt::kCalcData)
      damaged("value of column '" + column.name + "' states " + std::to_string(length) + " bytes but holds " +
              std::to_string(size - jetfmt::kCalcData));
    p += jetfmt::kCalcData;
  }
  if (column.jetType == jetfmt::kTypeBoolean) {
    v.vt = VT_BOOL;
    v.integer = length >= 1 && p[0] != 0 ? -1 : 0;
    return v;
  }
  if (column.jetType == jetfmt::kTypeMemo) {
    v.vt = VT_BSTR;
    v.text = decodeAccessText(p, length);
    return v;
  }
  int need = column.jetType == jetfmt::kTypeNumeric ? static_cast<int>(jetfmt::kCalcDecimalMagnitude) : neededSize(column.jetType);
  if (need > 0 && length < static_cast<size_t>(need)) {
    v.vt = VT_NULL;
    return v;
  }
  if (column.jetType == jetfmt::kTypeNumeric) {
    // Its own layout, with its own scale: the magnitude in whole 32-bit words, most significant
    // first, as many as the value states (a division's result holds more than a sum's).
    size_t stated = le::get16(p + jetfmt::kCalcDecimalLength);
    size_t room = length - jetfmt::kCalcDecimalMagnitude;
    if (stated >= jetfmt::kCalcDecimalMagnitude - jetfmt::kCalcDecimalScale)
      room = std::min(room, stated - (jetfmt::kCalcDecimalMagnitude - jetfmt::kCalcDecimalScale));
    size_t bytes = std::min<size_t>(room / 4 * 4, 16);
    unsigned __int128 magnitude = 0;
    const uint8_t* m = p + jetfmt::kCalcDecimalMagnitude;
    size_t pos = 0;
    if (bytes % 8 != 0) {
      magnitude = le::get32(m);
      pos = 4;
    }
    for (; pos < bytes; pos += 8) magnitude = (magnitude << 64) | le::get64(m + pos);
    if ((magnitude >> 96) != 0) damaged("decimal value of column '" + column.name + "' exceeds 96 bits");
    v.vt = VT_DECIMAL;
    v.decimal.negative = p[jetfmt::kCalcDecimalSign] != 0;
    v.decimal.hi32 = static_cast<uint32_t>(magnitude >> 64);
    v.decimal.lo64 = static_cast<uint64_t>(magnitude);
    if (p[jetfmt::kCalcDecimalScale] > jetfmt::kNumericLargestScale)
      damaged("decimal value of column '" + column.name + "' has " + std::to_string(p[jetfmt::kCalcDecimalScale]) +
              " digits after the point");
    v.decimal.scale = p[jetfmt::kCalcDecimalScale];
    return v;
  }
  return decodeBytes(column, p, length);
}

Variant TableCursor::decodeBytes(const ColumnInfo& column, const uint8_t* p, size_t size) {
  Variant v;
  const bool jet3 = version_ == JetVersion::Jet3;
  switch (column.jetType) {
    case jetfmt::kTypeByte: v.vt = VT_UI1; v.integer = p[0]; break;
    case jetfmt::kTypeInteger: v.vt = VT_I2; v.integer = static_cast<int16_t>(le::get16(p)); break;
    case jetfmt::kTypeLong: v.vt = VT_I4; v.integer = static_cast<int32_t>(le::get32(p)); break;
    case jetfmt::kTypeCurrency: v.vt = VT_CY; v.integer = static_cast<int64_t>(le::get64(p)); break;
    case jetfmt::kTypeBigInt: v.vt = VT_I8; v.integer = static_cast<int64_t>(le::get64(p)); break;
    case jetfmt::kTypeSingle: {
      uint32_t bits = le::get32(p);
      float f;
      std::memcpy(&f, &bits, 4);
      v.vt = VT_R4;
      v.real = singleAsShown(f);
      break;
    }
    case jetfmt::kTypeDouble:
    case jetfmt::kTypeDateTime: {
      uint64_t bits = le::get64(p);
      std::memcpy(&v.real, &bits, 8);
      v.vt = column.jetType == jetfmt::kTypeDouble ? VT_R8 : VT_DATE;
      break;
    }
    case jetfmt::kTypeGuid: v.vt = VT_BSTR; v.text = guidText(p); break;
    case jetfmt::kTypeNumeric: {
      // A sign byte, then four little-endian 32-bit words, the most significant first.
      if (le::get32(p + jetfmt::kNumericWord3) != 0)
        damaged("decimal value of column '" + column.name + "' exceeds 96 bits");
      v.vt = VT_DECIMAL;
      v.decimal.negative = (p[jetfmt::kNumericSign] & jetfmt::kNumericNegative) != 0;
      v.decimal.hi32 = le::get32(p + jetfmt::kNumericWord2);
      v.decimal.lo64 = (static_cast<uint64_t>(le::get32(p + jetfmt::kNumericWord1)) << 32) |
                       le::get32(p + jetfmt::kNumericWord0);
      if (column.scale < 0 || column.scale > jetfmt::kNumericLargestScale) damaged("implausible decimal scale");
      v.decimal.scale = static_cast<uint8_t>(column.scale);
      break;
    }
    case jetfmt::kTypeText:
      v.vt = VT_BSTR;
      if (jet3) {
        v.text = decodeCodePageText(p, size, file_->header.codePage);
      } else {
        v.text.swap(textBuffer_);
        decodeAccessTextInto(v.text, p, size);
      }
      break;
    case jetfmt::kTypeDateTimeExtended:
      if (!parseExtendedDate(p, size, v.extendedDate)) return rawBytes(p, size);
      v.vt = VT_EXT_DATE;
      break;
    case jetfmt::kTypeMemo: {
      readLongValue(p, size, column, longValueBytes_);
      const std::vector<uint8_t>& raw = longValueBytes_;
      v.vt = VT_BSTR;
      if (jet3) {
        v.text = decodeCodePageText(raw.data(), raw.size(), file_->header.codePage);
      } else {
        v.text.swap(textBuffer_);
        decodeAccessTextInto(v.text, raw.data(), raw.size());
      }
      break;
    }
    case jetfmt::kTypeOle:
      v.vt = VT_BYTES;
      readLongValue(p, size, column, v.bytes);
      break;
    default:
      // Binary values, and kinds we have no meaning for (a complex column whose values cannot
      // be found among them): the raw bytes.
      return rawBytes(p, size);
  }
  return v;
}

void TableCursor::readLongValue(const uint8_t* head, size_t size, const ColumnInfo& column, std::vector<uint8_t>& out) {
  try {
    longValues_.read(head, size, column.name, out);
  } catch (const JetDamage& e) {
    damaged(e.what());
  }
}
