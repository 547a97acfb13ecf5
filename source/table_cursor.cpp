#include "source/table_cursor.h"

#include <cstring>
#include <unordered_set>

#include "source/com_error.h"
#include "source/dao_types.h"
#include "source/quiet_stderr.h"
#include "source/text_decoding.h"

namespace {

// Column type bytes libmdb 1.0 has no names for.
constexpr int kMdbBigInt = 0x13;
constexpr int kMdbDateTimeExtended = 0x14;

constexpr int kMaxColumns = 256;
constexpr unsigned kMaxIndexes = 1000;
constexpr unsigned kMaxRowsPerPage = 1000;
constexpr int kLongValueHeader = 12;
constexpr int kRowOffsetMask = 0x1fff;
constexpr int kRowDeleted = 0x4000;
constexpr int kRowLookup = 0x8000;

uint32_t get24(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }
uint32_t get32(const uint8_t* p) { return get24(p) | (static_cast<uint32_t>(p[3]) << 24); }
uint64_t get64(const uint8_t* p) { return get32(p) | (static_cast<uint64_t>(get32(p + 4)) << 32); }

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
    case MDB_COMPLEX: return dbAttachment;  // refined from the complex-column catalog
    case kMdbBigInt: return dbBigInt;
    case kMdbDateTimeExtended: return dbText;
    default: return dbBinary;
  }
}

// The fixed size a value of the type needs, 0 for variable-length types.
int neededSize(int mdbType) {
  switch (mdbType) {
    case MDB_BYTE: return 1;
    case MDB_INT: return 2;
    case MDB_LONGINT: case MDB_FLOAT: case MDB_COMPLEX: return 4;
    case MDB_MONEY: case MDB_DOUBLE: case MDB_DATETIME: case kMdbBigInt: return 8;
    case MDB_REPID: return 16;
    case MDB_NUMERIC: return 17;
    case MDB_MEMO: case MDB_OLE: return kLongValueHeader;
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

}  // namespace

TableCursor::TableCursor(std::shared_ptr<DatabaseFile> file, const CatalogTable& table)
    : file_(std::move(file)), tableName_(table.name) {
  try {
    open(table);
  } catch (...) {
    release();
    throw;
  }
}

void TableCursor::release() {
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
    if (col->col_type == MDB_COMPLEX) {
      auto kind = file_->complexColumnTypes.find({table.definitionPage, info.name});
      if (kind != file_->complexColumnTypes.end()) info.daoType = kind->second;
    }
    if (col->col_num < 0 || col->col_num >= kMaxColumns) damaged("implausible column number");
    columns_.push_back(std::move(info));
  }
  fields_.resize(table_->num_cols);
  mdb_rewind_table(table_);
}

TableCursor::~TableCursor() { release(); }

void TableCursor::damaged(const std::string& what) const {
  throw ComError(daoerror::kDatabaseCorrupt, "DAO.Recordset",
                 "The database is damaged (table '" + tableName_ + "': " + what + "): " + file_->path);
}

void TableCursor::rewind() {
  mdb_rewind_table(table_);
  pageLoaded_ = false;
  finished_ = false;
  row_ = 0;
  pagesVisited_ = 0;
}

bool TableCursor::loadNextPage() {
  QuietStderr quiet;
  if (++pagesVisited_ > file_->header.pageCount + 1) damaged("its data pages form a loop");
  if (!mdb_read_next_dpg(table_)) return false;
  row_ = 0;
  return true;
}

bool TableCursor::next(std::vector<Variant>& values) {
  if (finished_) return false;
  const int rowCountOffset = mdb_->fmt->row_count_offset;
  for (;;) {
    if (!pageLoaded_) {
      if (!loadNextPage()) {
        finished_ = true;
        return false;
      }
      pageLoaded_ = true;
    }
    unsigned rows = static_cast<unsigned>(mdb_get_int16(mdb_->pg_buf, rowCountOffset));
    if (rows > kMaxRowsPerPage) damaged("implausible record count on a data page");
    if (row_ >= rows) {
      pageLoaded_ = false;
      continue;
    }
    int row = static_cast<int>(row_++);
    int start = 0;
    size_t length = 0;
    if (mdb_find_row(mdb_, row, &start, &length) != 0 || length == 0) continue;
    if (start & kRowDeleted) continue;
    bool lookup = (start & kRowLookup) != 0;
    start &= kRowOffsetMask;
    int cracked;
    if (crackIsQuiet(start, length)) {
      cracked = mdb_crack_row(table_, start, length, fields_.data());
    } else {
      QuietStderr quiet;
      cracked = mdb_crack_row(table_, start, length, fields_.data());
    }
    if (cracked < 0) {
      if (lookup) continue;  // a pointer to a record stored elsewhere, not a record itself
      damaged("a record's layout is invalid");
    }
    values.resize(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) values[i] = decode(columns_[i], fields_[i]);
    return true;
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

Variant TableCursor::decode(const ColumnInfo& column, const MdbField& field) {
  Variant v;
  if (column.mdbType == MDB_BOOL) {
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
  int need = neededSize(column.mdbType);
  if (need > 0 && size < need) {
    // A variable-length slot left empty by the engine is a null; a short fixed value is damage.
    if (size == 0 && (column.mdbType == MDB_MEMO || column.mdbType == MDB_OLE)) {
      v.vt = VT_NULL;
      return v;
    }
    damaged("value of column '" + column.name + "' is too short");
  }
  switch (column.mdbType) {
    case MDB_BYTE: v.vt = VT_UI1; v.integer = p[0]; break;
    case MDB_INT: v.vt = VT_I2; v.integer = static_cast<int16_t>(p[0] | (p[1] << 8)); break;
    case MDB_LONGINT: v.vt = VT_I4; v.integer = static_cast<int32_t>(get32(p)); break;
    case MDB_MONEY: v.vt = VT_CY; v.integer = static_cast<int64_t>(get64(p)); break;
    case kMdbBigInt: v.vt = VT_I8; v.integer = static_cast<int64_t>(get64(p)); break;
    case MDB_FLOAT: {
      uint32_t bits = get32(p);
      float f;
      std::memcpy(&f, &bits, 4);
      v.vt = VT_R4;
      v.real = f;
      break;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
      uint64_t bits = get64(p);
      std::memcpy(&v.real, &bits, 8);
      v.vt = column.mdbType == MDB_DOUBLE ? VT_R8 : VT_DATE;
      break;
    }
    case MDB_REPID: v.vt = VT_BSTR; v.text = guidText(p); break;
    case MDB_NUMERIC: {
      // A sign byte, then four little-endian 32-bit words, the most significant first.
      if (get32(p + 1) != 0) damaged("decimal value of column '" + column.name + "' exceeds 96 bits");
      v.vt = VT_DECIMAL;
      v.decimal.negative = (p[0] & 0x80) != 0;
      v.decimal.hi32 = get32(p + 5);
      v.decimal.lo64 = (static_cast<uint64_t>(get32(p + 9)) << 32) | get32(p + 13);
      if (column.scale < 0 || column.scale > 28) damaged("implausible decimal scale");
      v.decimal.scale = static_cast<uint8_t>(column.scale);
      break;
    }
    case MDB_TEXT:
    case kMdbDateTimeExtended:
      v.vt = VT_BSTR;
      v.text = file_->header.version == JetVersion::Jet3 ? decodeJet3Text(p, size, file_->header.codePage)
                                                          : decodeJet4Text(p, size);
      break;
    case MDB_BINARY:
      v.vt = VT_BYTES;
      v.bytes.assign(p, p + size);
      break;
    case MDB_MEMO: {
      std::vector<uint8_t> raw = readLongValue(p, size, column);
      v.vt = VT_BSTR;
      v.text = file_->header.version == JetVersion::Jet3 ? decodeJet3Text(raw.data(), raw.size(), file_->header.codePage)
                                                          : decodeJet4Text(raw.data(), raw.size());
      break;
    }
    case MDB_OLE:
      v.vt = VT_BYTES;
      v.bytes = readLongValue(p, size, column);
      break;
    case MDB_COMPLEX:
    default:
      // Attachments and multi-valued fields keep their values in hidden tables: no value here.
      v.vt = VT_NULL;
      break;
  }
  return v;
}

std::vector<uint8_t> TableCursor::readLongValue(const uint8_t* head, size_t size, const ColumnInfo& column) {
  // The top two bits of the first word say where the value lives, the rest is its length.
  const uint32_t length = get32(head) & 0x3FFFFFFFu;
  const uint8_t kind = head[3] & 0xC0;
  std::vector<uint8_t> out;
  if (length > file_->header.fileSize) damaged("long value of column '" + column.name + "' is longer than the file");
  if (kind == 0x80) {  // stored in the record itself
    if (length > size - kLongValueHeader) damaged("long value of column '" + column.name + "' overruns its record");
    out.assign(head + kLongValueHeader, head + kLongValueHeader + length);
    return out;
  }
  if (kind != 0x40 && kind != 0) damaged("long value of column '" + column.name + "' has an unknown kind");
  out.reserve(length);
  uint32_t pageRow = get32(head + 4);
  std::unordered_set<uint32_t> seen;
  QuietStderr quiet;
  while (out.size() < length || kind == 0x40) {
    uint32_t page = pageRow >> 8;
    if (page == 0 || page >= file_->header.pageCount || !seen.insert(pageRow).second)
      damaged("long value of column '" + column.name + "' points outside the file or loops");
    void* buf = nullptr;
    int offset = 0;
    size_t rowLength = 0;
    if (mdb_find_pg_row(mdb_, static_cast<int>(pageRow), &buf, &offset, &rowLength) != 0 || mdb_->alt_pg_buf[0] != MDB_PAGE_DATA)
      damaged("long value of column '" + column.name + "' is missing");
    const uint8_t* data = static_cast<const uint8_t*>(buf) + offset;
    if (kind == 0x40) {  // one row on another page
      if (rowLength < length) damaged("long value of column '" + column.name + "' is cut short");
      out.assign(data, data + length);
      return out;
    }
    if (rowLength < 4) damaged("long value of column '" + column.name + "' is cut short");
    uint32_t next = get32(data);
    size_t take = std::min<size_t>(rowLength - 4, length - out.size());
    out.insert(out.end(), data + 4, data + 4 + take);
    if (out.size() >= length) break;
    if (next == 0) damaged("long value of column '" + column.name + "' is cut short");
    pageRow = next;
  }
  return out;
}
