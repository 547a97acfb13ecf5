#include "source/table_cursor.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "platform/little_endian.h"
#include "platform/text_codec.h"
#include "source/com_error.h"
#include "source/complex_values.h"
#include "source/dao_types.h"
#include "source/jet_format.h"
#include "source/jet_header_mask.h"
#include "source/quiet_stderr.h"

namespace {

constexpr int kMaxColumns = 256;
constexpr unsigned kMaxIndexes = 1000;
constexpr unsigned kMaxRowsPerPage = 1000;
constexpr int kMaxOverflowHops = 64;

int16_t daoTypeOf(int mdbType) {
  switch (mdbType) {
    case MDB_BOOL: return dbBoolean;
    case MDB_BYTE: return dbByte;
    case MDB_INT: return dbInteger;
    case MDB_LONGINT: return dbLong;
    case MDB_MONEY: return dbCurrency;
    case MDB_FLOAT: return dbSingle;
    case MDB_DOUBLE: return dbDouble;
    case MDB_DATETIME: return dbDate;
    case MDB_BINARY: return dbBinary;
    case MDB_TEXT: return dbText;
    case MDB_OLE: return dbLongBinary;
    case MDB_MEMO: return dbMemo;
    case MDB_REPID: return dbGUID;
    case MDB_NUMERIC: return dbDecimal;
    case jetfmt::kTypeComplex: return dbAttachment;  // refined from the complex-column catalog
    case jetfmt::kTypeBigInt: return dbBigInt;
    case jetfmt::kTypeDateTimeExtended: return dbDateTimeExtended;
    default: return dbBinary;  // a kind we do not know: its raw bytes
  }
}

// The fixed size a value of the type needs, 0 for variable-length types.
int neededSize(int mdbType) {
  switch (mdbType) {
    case MDB_BYTE: return 1;
    case MDB_INT: return 2;
    case MDB_LONGINT: case MDB_FLOAT: case jetfmt::kTypeComplex: return 4;
    case MDB_MONEY: case MDB_DOUBLE: case MDB_DATETIME: case jetfmt::kTypeBigInt: return 8;
    case MDB_REPID: return 16;
    case MDB_NUMERIC: return jetfmt::kNumericSize;
    case MDB_MEMO: case MDB_OLE: return jetfmt::kLvRefSize;
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

// Proleptic Gregorian date of a day count from 0001-01-01.
void civilFromDayNumber(int64_t days, ExtendedDateValue& out) {
  int64_t z = days - 719162 + 719468;  // from 1970-01-01, then from 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  out.year = static_cast<int16_t>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
  out.month = static_cast<uint8_t>(m);
  out.day = static_cast<uint8_t>(d);
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
    : file_(std::move(file)), tableName_(table.name), definitionPage_(table.definitionPage) {
  try {
    open(table);
  } catch (...) {
    release();
    throw;
  }
}

void TableCursor::release() {
  complex_.clear();
  QuietStderr quiet;
  if (table_) mdb_free_tabledef(table_);
  if (mdb_) mdb_close(mdb_);
  table_ = nullptr;
  mdb_ = nullptr;
}

void TableCursor::open(const CatalogTable& table) {
  if (table.definitionPage == 0 || table.definitionPage >= file_->header.pageCount)
    damaged("table definition page " + std::to_string(table.definitionPage) + " lies outside the file");
  QuietStderr quiet;
  mdb_ = mdb_clone_handle(file_->mdb);
  if (!mdb_) damaged("cannot read the table");
  entry_.mdb = mdb_;
  std::snprintf(entry_.object_name, sizeof entry_.object_name, "%s", table.name.c_str());
  entry_.object_type = MDB_TABLE;
  entry_.table_pg = table.definitionPage;
  table_ = mdb_read_table(&entry_);
  if (!table_) damaged("cannot read the table definition");
  // libmdb walks these without checks of its own.
  if (!table_->usage_map || table_->map_sz < 5 || table_->usage_map[0] > 1) damaged("damaged usage map");
  if (table_->num_cols == 0 || table_->num_cols > kMaxColumns)
    damaged("implausible column count " + std::to_string(table_->num_cols));
  if (table_->num_real_idxs > kMaxIndexes || table_->num_idxs > kMaxIndexes) damaged("implausible index count");
  if (!mdb_read_columns(table_) || table_->columns->len != table_->num_cols) damaged("cannot read the columns");
  // Records are read here, not through libmdb's stdio stream: one pread per page, from any thread.
  fd_ = mdb_->f && mdb_->f->stream ? fileno(mdb_->f->stream) : -1;
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0) damaged("cannot read the file");
  fileBytes_ = static_cast<uint64_t>(st.st_size);
  bitmapPage_.resize(file_->header.pageSize);
  longValuePage_.resize(file_->header.pageSize);
  declaredRows_ = table_->num_rows;
  for (unsigned i = 0; i < table_->num_cols; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, i));
    ColumnInfo info;
    info.name = col->name;
    info.mdbType = col->col_type;
    info.size = col->col_size;
    // libmdb 1.0 files the definition's scale byte under col_prec and the precision under col_scale.
    info.scale = col->col_prec;
    info.fixed = col->is_fixed != 0;
    info.daoType = daoTypeOf(col->col_type);
    if (col->col_num < 0 || col->col_num >= kMaxColumns) damaged("implausible column number");
    columns_.push_back(std::move(info));
  }
  if (file_->header.version != JetVersion::Jet3) readColumnFlags(table.definitionPage);
  complex_.resize(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) {
    ColumnInfo& info = columns_[i];
    if (info.mdbType != jetfmt::kTypeComplex || info.calculated) continue;
    auto found = file_->complexColumns.find({table.definitionPage, info.name});
    if (found == file_->complexColumns.end()) continue;
    info.daoType = found->second.daoType;
    if (found->second.valueTablePage != 0) complex_[i] = std::make_unique<ComplexColumnValues>(file_, found->second);
  }
  fields_.resize(table_->num_cols);
  mdb_rewind_table(table_);
}

// The extended flags of each column (calculated columns, complex keys), which libmdb does not
// keep: read from the column descriptors of the definition, across its continuation pages.
void TableCursor::readColumnFlags(uint32_t definitionPage) {
  std::vector<uint8_t> definition;
  std::unordered_set<uint32_t> seen;
  const size_t pageSize = file_->header.pageSize;
  size_t numColumns = table_->num_cols;
  size_t needed = 0;
  for (uint32_t page = definitionPage; page != 0;) {
    if (page >= file_->header.pageCount || !seen.insert(page).second) damaged("its definition pages point outside the file or loop");
    if (mdb_read_alt_pg(mdb_, page) != static_cast<ssize_t>(pageSize) || mdb_->alt_pg_buf[0] != jetfmt::kPageTableDef)
      damaged("a definition page is missing");
    const uint8_t* buf = mdb_->alt_pg_buf;
    if (definition.empty()) {
      definition.assign(buf, buf + pageSize);
      needed = jetfmt::kTdColumnsStart + static_cast<size_t>(table_->num_real_idxs) * jetfmt::kTdRealIndexEntrySize +
               numColumns * jetfmt::kColEntrySize;
    } else {
      definition.insert(definition.end(), buf + jetfmt::kTdContinuationData, buf + pageSize);
    }
    if (definition.size() >= needed) break;
    page = le::get32(buf + jetfmt::kTdNextPage);
  }
  if (definition.size() < needed) damaged("its column descriptors are cut short");
  const uint8_t* entry = definition.data() + jetfmt::kTdColumnsStart + static_cast<size_t>(table_->num_real_idxs) * jetfmt::kTdRealIndexEntrySize;
  for (size_t c = 0; c < numColumns; ++c, entry += jetfmt::kColEntrySize) {
    int number = le::get16(entry + jetfmt::kColNumber);
    for (unsigned i = 0; i < table_->num_cols; ++i) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, i));
      if (col->col_num != number) continue;
      columns_[i].extFlags = entry[jetfmt::kColExtFlags];
      columns_[i].flags = entry[jetfmt::kColFlags];
      columns_[i].calculated = (entry[jetfmt::kColExtFlags] & jetfmt::kColExtCalculated) != 0;
    }
  }
}

TableCursor::~TableCursor() { release(); }

void TableCursor::damaged(const std::string& what) const {
  throw ComError(daoerror::kDatabaseCorrupt, "DAO.Recordset",
                 "The database is damaged (table '" + tableName_ + "': " + what + "): " + file_->path,
                 openreason::kDamagedPrefix + ("table '" + tableName_ + "': " + what));
}

void TableCursor::rewind() {
  mdb_rewind_table(table_);
  pageLoaded_ = false;
  finished_ = false;
  row_ = 0;
  pagesVisited_ = 0;
}

// A page as libmdb reads it: what the file holds, zeros past its end, decoded when the file's
// pages are RC4-encoded. False when the page starts past the end or the read fails.
bool TableCursor::readPage(uint32_t page, uint8_t* into) const {
  const size_t pageSize = file_->header.pageSize;
  const uint64_t at = static_cast<uint64_t>(page) * pageSize;
  if (at > fileBytes_) return false;
  size_t got = 0;
  while (got < pageSize) {
    ssize_t n = pread(fd_, into + got, pageSize - got, static_cast<off_t>(at + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  std::memset(into + got, 0, pageSize - got);
  if (page != 0 && mdb_->f->db_key != 0) jetfmt::togglePageEncoding(mdb_->f->db_key, page, into, pageSize);
  return true;
}

// Reads a page into libmdb's page buffer, where cracking a record looks for it.
bool TableCursor::loadPage(uint32_t page) {
  bool ok = readPage(page, mdb_->pg_buf);
  mdb_->cur_pg = ok ? page : 0;
  mdb_->cur_pos = 0;
  return ok;
}

// The first page after `after` that the table's usage map marks as its own; 0 past the last.
uint32_t TableCursor::nextMappedPage(uint32_t after) {
  const uint8_t* map = table_->usage_map;
  const uint64_t mapSize = table_->map_sz;
  if (walkAllPages_) return after + 1 < file_->header.pageCount ? after + 1 : 0;
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
  const uint64_t perBitmap = (uint64_t{file_->header.pageSize} - jetfmt::kMapBitmapStart) * 8;
  const uint64_t bitmaps = (mapSize - jetfmt::kMapPageList) / 4;
  for (uint64_t m = (uint64_t{after} + 1) / perBitmap, from = (uint64_t{after} + 1) % perBitmap; m < bitmaps; ++m, from = 0) {
    const uint32_t bitmapPage = le::get32(map + jetfmt::kMapPageList + 4 * m);
    if (bitmapPage == 0) continue;
    if (bitmapPage != bitmapPageNumber_) {
      if (!readPage(bitmapPage, bitmapPage_.data())) {
        // As libmdb does: without the map, every page after this one is looked at.
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
  if (++pagesVisited_ > file_->header.pageCount + 1) damaged("its data pages form a loop");
  for (;;) {
    const uint32_t page = nextMappedPage(table_->cur_phys_pg);
    // A page the map names that cannot be read ends the table, as it does in libmdb.
    if (page == 0 || !loadPage(page)) return false;
    table_->cur_phys_pg = page;
    currentPage_ = page;
    row_ = 0;
    // The usage map may name a page that no longer holds this table's records.
    const uint8_t* pg = mdb_->pg_buf;
    if (pg[0] == jetfmt::kPageData && le::get32(pg + jetfmt::kDpOwner) == definitionPage_) return true;
    if (++pagesVisited_ > file_->header.pageCount + 1) damaged("its data pages form a loop");
  }
}

unsigned TableCursor::rowCountOfPage() const {
  const uint32_t at = file_->header.version == JetVersion::Jet3 ? jetfmt::kDpRowCountJet3 : jetfmt::kDpRowCount;
  unsigned rows = le::get16(mdb_->pg_buf + at);
  if (rows > kMaxRowsPerPage) damaged("implausible record count on a data page");
  return rows;
}

// The row's offset flags and its extent on a page; false when the extent does not fit.
bool TableCursor::slotOf(const uint8_t* pg, unsigned row, RowSlot& slot) const {
  const bool jet3 = file_->header.version == JetVersion::Jet3;
  const uint32_t offsets = jet3 ? jetfmt::kDpRowOffsetsJet3 : jetfmt::kDpRowOffsets;
  const unsigned pageSize = file_->header.pageSize;
  if (offsets + 2 * (row + 1) > pageSize) return false;
  uint16_t raw = le::get16(pg + offsets + 2 * row);
  slot.flags = raw & ~jetfmt::kRowOffsetMask;
  slot.start = raw & jetfmt::kRowOffsetMask;
  unsigned end = row == 0 ? pageSize : (le::get16(pg + offsets + 2 * (row - 1)) & jetfmt::kRowOffsetMask);
  if (slot.start < offsets || end > pageSize || end < slot.start) return false;
  slot.length = end - slot.start;
  return true;
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
    if (row_ >= rowCountOfPage()) {
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
  if (at.row < rowCountOfPage() && slotOf(at.row, slot) && !(slot.flags & jetfmt::kRowNotARecord) && slot.length > 0) {
    if (slot.flags & jetfmt::kRowOverflow) slot = followOverflow(slot);
    crackAndDecode(slot, values);
    found = true;
  }
  if (pageLoaded_) loadDataPage(currentPage_, "a data page");
  return found;
}

// Loads one of this table's data pages into the page buffer; anything else is damage.
void TableCursor::loadDataPage(uint32_t page, const char* what) {
  if (page == 0 || page >= file_->header.pageCount) damaged(std::string(what) + " points outside the file");
  if (mdb_->cur_pg == page) return;
  if (!loadPage(page)) damaged(std::string(what) + " cannot be read");
  const uint8_t* pg = mdb_->pg_buf;
  if (pg[0] != jetfmt::kPageData || le::get32(pg + jetfmt::kDpOwner) != definitionPage_)
    damaged(std::string(what) + " points to a page that holds none of the table's records");
}

// Follows an overflow pointer (and any pointer it leads to) to the row that holds the record's
// data, which is then on the loaded page.
TableCursor::RowSlot TableCursor::followOverflow(RowSlot pointer) {
  for (int hop = 0; hop < kMaxOverflowHops; ++hop) {
    if (pointer.length < jetfmt::kOverflowPointerSize) damaged("an overflow pointer is cut short");
    const uint8_t* p = mdb_->pg_buf + pointer.start;
    unsigned row = p[jetfmt::kOverflowRow];
    uint32_t page = le::get24(p + jetfmt::kOverflowPage);
    loadDataPage(page, "an overflow pointer");
    RowSlot slot;
    if (row >= rowCountOfPage() || !slotOf(row, slot) || slot.length == 0) damaged("an overflow pointer leads to no row");
    if (!(slot.flags & jetfmt::kRowOverflow)) return slot;
    pointer = slot;
  }
  damaged("its overflow pointers form a loop");
}

void TableCursor::crackAndDecode(const RowSlot& slot, std::vector<Variant>& values) {
  int cracked;
  if (crackIsQuiet(static_cast<int>(slot.start), slot.length)) {
    cracked = mdb_crack_row(table_, static_cast<int>(slot.start), slot.length, fields_.data());
  } else {
    QuietStderr quiet;
    cracked = mdb_crack_row(table_, static_cast<int>(slot.start), slot.length, fields_.data());
  }
  if (cracked < 0) damaged("a record's layout is invalid");
  values.resize(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) {
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

// Silencing standard error costs system calls, too many for every record. This repeats the
// checks after which mdb_crack_row of a Jet4 record complains, so well-formed records go to
// libmdb directly; anything else (and every Jet3 record) is cracked with standard error silenced.
bool TableCursor::crackIsQuiet(int start, size_t length) const {
  if (file_->header.version == JetVersion::Jet3) return false;
  const unsigned char* pg = mdb_->pg_buf;
  const size_t pageSize = static_cast<size_t>(mdb_->fmt->pg_size);
  if (start < 0 || length < 4 || static_cast<size_t>(start) + length > pageSize) return false;
  const unsigned rowStart = static_cast<unsigned>(start);
  const unsigned rowEnd = rowStart + static_cast<unsigned>(length) - 1;
  const unsigned rowCols = static_cast<unsigned>(mdb_get_int16(const_cast<unsigned char*>(pg), static_cast<int>(rowStart)));
  const unsigned bitmaskSize = (rowCols + 7) / 8;
  if (bitmaskSize + 1 >= rowEnd) return false;
  unsigned rowVarCols = 0;
  unsigned offsets[kMaxColumns + 2] = {};
  if (table_->num_var_cols > 0) {
    if (rowEnd < bitmaskSize + 1) return false;
    rowVarCols = static_cast<unsigned>(mdb_get_int16(const_cast<unsigned char*>(pg), static_cast<int>(rowEnd - bitmaskSize - 1)));
    if (rowVarCols > kMaxColumns || bitmaskSize + 3 + rowVarCols * 2 + 2 > rowEnd) return false;
    for (unsigned i = 0; i < rowVarCols + 1; ++i)
      offsets[i] = static_cast<unsigned>(mdb_get_int16(const_cast<unsigned char*>(pg), static_cast<int>(rowEnd - bitmaskSize - 3 - i * 2)));
  }
  if (rowVarCols > rowCols) return false;
  const unsigned rowFixedCols = rowCols - rowVarCols;
  unsigned fixedFound = 0;
  for (unsigned i = 0; i < table_->num_cols; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, i));
    long fieldStart = 0, fieldSize = 0;
    if (col->is_fixed && fixedFound < rowFixedCols) {
      fieldStart = static_cast<long>(rowStart) + col->fixed_offset + 2;
      fieldSize = col->col_size;
      ++fixedFound;
    } else if (!col->is_fixed && col->var_col_num < rowVarCols) {
      fieldStart = static_cast<long>(rowStart) + offsets[col->var_col_num];
      fieldSize = static_cast<long>(offsets[col->var_col_num + 1]) - static_cast<long>(offsets[col->var_col_num]);
    }
    if (fieldSize < 0 || fieldStart + fieldSize > static_cast<long>(rowStart + length)) return false;
  }
  return true;
}

Variant TableCursor::decode(size_t index, const MdbField& field) {
  const ColumnInfo& column = columns_[index];
  Variant v;
  if (column.mdbType == MDB_BOOL && !column.calculated) {
    // A Yes/No value lives in the null mask: a set bit is Yes.
    v.vt = VT_BOOL;
    v.integer = field.is_null ? 0 : -1;
    return v;
  }
  if (field.is_null) {
    v.vt = VT_NULL;
    return v;
  }
  int size = field.siz;
  if (field.start < 0 || size < 0 || field.start + size > static_cast<int>(mdb_->fmt->pg_size))
    damaged("a value lies outside its page");
  const uint8_t* p = mdb_->pg_buf + field.start;
  if (column.calculated) {
    if (column.mdbType == MDB_MEMO) {
      if (size < static_cast<int>(jetfmt::kLvRefSize)) {
        v.vt = VT_NULL;
        return v;
      }
      std::vector<uint8_t> raw = readLongValue(p, static_cast<size_t>(size), column);
      return decodeCalculated(column, raw.data(), raw.size());
    }
    return decodeCalculated(column, p, static_cast<size_t>(size));
  }
  if (column.mdbType == jetfmt::kTypeComplex && complex_[index]) {
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
  int need = neededSize(column.mdbType);
  if (need > 0 && size < need) {
    // A variable-length slot left empty by the engine is a null; a short fixed value is damage.
    if (size == 0 && (column.mdbType == MDB_MEMO || column.mdbType == MDB_OLE)) {
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
  if (column.mdbType == MDB_BOOL) {
    v.vt = VT_BOOL;
    v.integer = length >= 1 && p[0] != 0 ? -1 : 0;
    return v;
  }
  if (column.mdbType == MDB_MEMO) {
    v.vt = VT_BSTR;
    v.text = decodeAccessText(p, length);
    return v;
  }
  int need = column.mdbType == MDB_NUMERIC ? static_cast<int>(jetfmt::kCalcDecimalMagnitude) : neededSize(column.mdbType);
  if (need > 0 && length < static_cast<size_t>(need)) {
    v.vt = VT_NULL;
    return v;
  }
  if (column.mdbType == MDB_NUMERIC) {
    // Its own layout: the magnitude in whole 32-bit words, most significant first.
    size_t bytes = std::min<size_t>((length - jetfmt::kCalcDecimalMagnitude) / 4 * 4, 16);
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
    if (p[jetfmt::kCalcDecimalScale] > 28) damaged("implausible decimal scale");
    v.decimal.scale = p[jetfmt::kCalcDecimalScale];
    return v;
  }
  return decodeBytes(column, p, length);
}

Variant TableCursor::decodeBytes(const ColumnInfo& column, const uint8_t* p, size_t size) {
  Variant v;
  const bool jet3 = file_->header.version == JetVersion::Jet3;
  switch (column.mdbType) {
    case MDB_BYTE: v.vt = VT_UI1; v.integer = p[0]; break;
    case MDB_INT: v.vt = VT_I2; v.integer = static_cast<int16_t>(le::get16(p)); break;
    case MDB_LONGINT: v.vt = VT_I4; v.integer = static_cast<int32_t>(le::get32(p)); break;
    case MDB_MONEY: v.vt = VT_CY; v.integer = static_cast<int64_t>(le::get64(p)); break;
    case jetfmt::kTypeBigInt: v.vt = VT_I8; v.integer = static_cast<int64_t>(le::get64(p)); break;
    case MDB_FLOAT: {
      uint32_t bits = le::get32(p);
      float f;
      std::memcpy(&f, &bits, 4);
      v.vt = VT_R4;
      v.real = f;
      break;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
      uint64_t bits = le::get64(p);
      std::memcpy(&v.real, &bits, 8);
      v.vt = column.mdbType == MDB_DOUBLE ? VT_R8 : VT_DATE;
      break;
    }
    case MDB_REPID: v.vt = VT_BSTR; v.text = guidText(p); break;
    case MDB_NUMERIC: {
      // A sign byte, then four little-endian 32-bit words, the most significant first.
      if (le::get32(p + 1) != 0) damaged("decimal value of column '" + column.name + "' exceeds 96 bits");
      v.vt = VT_DECIMAL;
      v.decimal.negative = (p[0] & jetfmt::kNumericNegative) != 0;
      v.decimal.hi32 = le::get32(p + 5);
      v.decimal.lo64 = (static_cast<uint64_t>(le::get32(p + 9)) << 32) | le::get32(p + 13);
      if (column.scale < 0 || column.scale > 28) damaged("implausible decimal scale");
      v.decimal.scale = static_cast<uint8_t>(column.scale);
      break;
    }
    case MDB_TEXT:
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
    case MDB_MEMO: {
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
    case MDB_OLE:
      v.vt = VT_BYTES;
      v.bytes = readLongValue(p, size, column);
      break;
    default:
      // Binary values, and kinds we have no meaning for (a complex column whose values cannot
      // be found among them): the raw bytes.
      return rawBytes(p, size);
  }
  return v;
}

// The row that a long value's page-and-row pointer names, on its page (kept for the next value,
// which often lies on the same page): where the row starts and how long it is. False when the
// page cannot be read, is no data page, or the row's extent does not fit it.
bool TableCursor::findLongValueRow(uint32_t pageRow, size_t& start, size_t& length) {
  const uint32_t page = pageRow >> 8;
  const unsigned row = pageRow & 0xFF;
  if (page != longValuePageNumber_) {
    longValuePageNumber_ = 0;
    if (!readPage(page, longValuePage_.data())) return false;
    longValuePageNumber_ = page;
  }
  RowSlot slot;
  if (longValuePage_[0] != jetfmt::kPageData || !slotOf(longValuePage_.data(), row, slot)) return false;
  start = slot.start;
  length = slot.length;
  return true;
}

std::vector<uint8_t> TableCursor::readLongValue(const uint8_t* head, size_t size, const ColumnInfo& column) {
  std::vector<uint8_t> out;
  readLongValue(head, size, column, out);
  return out;
}

void TableCursor::readLongValue(const uint8_t* head, size_t size, const ColumnInfo& column, std::vector<uint8_t>& out) {
  // The top two bits of the first word say where the value lives, the rest is its length.
  const uint32_t length = le::get32(head) & jetfmt::kLvLengthMask;
  const uint8_t kind = head[3] & jetfmt::kLvKindMask;
  out.clear();
  if (length > file_->header.fileSize) damaged("long value of column '" + column.name + "' is longer than the file");
  if (kind == jetfmt::kLvInline) {
    if (length > size - jetfmt::kLvRefSize) damaged("long value of column '" + column.name + "' overruns its record");
    out.assign(head + jetfmt::kLvRefSize, head + jetfmt::kLvRefSize + length);
    return;
  }
  if (kind != jetfmt::kLvSinglePage && kind != jetfmt::kLvMultiPage)
    damaged("long value of column '" + column.name + "' has an unknown kind");
  out.reserve(length);
  uint32_t pageRow = le::get32(head + jetfmt::kLvPageRow);
  std::unordered_set<uint32_t> seen;
  while (out.size() < length || kind == jetfmt::kLvSinglePage) {
    uint32_t page = pageRow >> 8;
    if (page == 0 || page >= file_->header.pageCount || (kind == jetfmt::kLvMultiPage && !seen.insert(pageRow).second))
      damaged("long value of column '" + column.name + "' points outside the file or loops");
    size_t offset = 0, rowLength = 0;
    if (!findLongValueRow(pageRow, offset, rowLength)) damaged("long value of column '" + column.name + "' is missing");
    const uint8_t* data = longValuePage_.data() + offset;
    if (kind == jetfmt::kLvSinglePage) {
      if (rowLength < length) damaged("long value of column '" + column.name + "' is cut short");
      out.assign(data, data + length);
      return;
    }
    if (rowLength < 4) damaged("long value of column '" + column.name + "' is cut short");
    uint32_t next = le::get32(data);
    size_t take = std::min<size_t>(rowLength - 4, length - out.size());
    out.insert(out.end(), data + 4, data + 4 + take);
    if (out.size() >= length) break;
    if (next == 0) damaged("long value of column '" + column.name + "' is cut short");
    pageRow = next;
  }
}
