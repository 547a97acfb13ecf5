#include "tools/accesswriter/table_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "platform/text_codec.h"
#include "tools/accesswriter/encoding.h"

namespace accesswriter {
namespace {

constexpr size_t kMaxNameUnits = 64;  // Access's limit for table and field names

const char* typeName(FieldType t) {
  switch (t) {
    case FieldType::Boolean: return "Yes/No";
    case FieldType::Byte: return "Byte";
    case FieldType::Integer: return "Integer";
    case FieldType::Long: return "Long Integer";
    case FieldType::Currency: return "Currency";
    case FieldType::Single: return "Single";
    case FieldType::Double: return "Double";
    case FieldType::DateTime: return "Date/Time";
    case FieldType::Text: return "Text";
    case FieldType::Memo: return "Memo";
    case FieldType::Binary: return "OLE Object";
    case FieldType::Guid: return "Replication ID";
    case FieldType::Decimal: return "Decimal";
    case FieldType::BigInt: return "Large Number";
  }
  return "?";
}

const char* kindName(const Value& v) {
  static const char* const kNames[] = {"null", "bool", "integer", "double", "Currency", "Date",
                                       "Decimal", "text", "Bytes", "Guid"};
  return kNames[v.index()];
}

// Type code, stored length (0 for variable), and whether the column is fixed-length.
void typeFacts(const Field& f, uint8_t& code, uint16_t& length, bool& fixed, bool& longValue) {
  fixed = true;
  longValue = false;
  switch (f.type) {
    case FieldType::Boolean: code = fmt::kTypeBoolean; length = 0; return;
    case FieldType::Byte: code = fmt::kTypeByte; length = 1; return;
    case FieldType::Integer: code = fmt::kTypeInteger; length = 2; return;
    case FieldType::Long: code = fmt::kTypeLong; length = 4; return;
    case FieldType::Currency: code = fmt::kTypeCurrency; length = 8; return;
    case FieldType::Single: code = fmt::kTypeSingle; length = 4; return;
    case FieldType::Double: code = fmt::kTypeDouble; length = 8; return;
    case FieldType::DateTime: code = fmt::kTypeDateTime; length = 8; return;
    case FieldType::Guid: code = fmt::kTypeGuid; length = 16; return;
    case FieldType::Decimal: code = fmt::kTypeNumeric; length = fmt::kNumericSize; return;
    case FieldType::BigInt: code = fmt::kTypeBigInt; length = 8; return;
    case FieldType::Text: code = fmt::kTypeText; length = uint16_t(2 * f.size); fixed = false; return;
    case FieldType::Memo: code = fmt::kTypeMemo; length = 0; fixed = false; longValue = true; return;
    case FieldType::Binary: code = fmt::kTypeOle; length = 0; fixed = false; longValue = true; return;
  }
}

std::u16string checkedName(const std::string& file, const std::string& what, const std::string& name) {
  std::u16string units;
  try {
    units = enc::utf16FromUtf8(name);
  } catch (const std::invalid_argument& e) {
    throw Error(file + ": " + what + " name is not UTF-8 (" + e.what() + ")");
  }
  if (units.empty() || units.size() > kMaxNameUnits)
    throw Error(file + ": " + what + " name \"" + name + "\" must have 1 to 64 characters");
  return units;
}

std::u16string foldCase(std::u16string s) {
  for (auto& c : s)
    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
  return s;
}

}  // namespace

TableLayout layoutTable(const std::string& file, const Table& table, const Options& options,
                        bool system) {
  TableLayout t;
  t.name = table.name;
  t.system = system;
  checkedName(file, "table", table.name);
  std::string where = file + ": table \"" + table.name + "\"";
  if (table.fields.empty() || table.fields.size() > fmt::kMaxColumns)
    throw Error(where + " must have 1 to 255 fields");

  std::vector<std::u16string> names;
  std::vector<std::u16string> folded;
  uint32_t fixedSize = 0;
  for (size_t i = 0; i < table.fields.size(); ++i) {
    const Field& f = table.fields[i];
    std::u16string units = checkedName(file, "field", f.name);
    std::u16string key = foldCase(units);
    if (std::find(folded.begin(), folded.end(), key) != folded.end())
      throw Error(where + " has the field name \"" + f.name + "\" twice");
    folded.push_back(key);
    names.push_back(units);
    std::string fw = where + ", field \"" + f.name + "\"";
    if (f.type == FieldType::Text && (f.size < 1 || f.size > 255))
      throw Error(fw + ": a Text size must be 1 to 255");
    if (f.type == FieldType::Decimal &&
        (f.precision < 1 || f.precision > 28 || f.scale < 0 || f.scale > f.precision))
      throw Error(fw + ": a Decimal needs precision 1 to 28 and scale 0 to precision");
    if (f.type == FieldType::BigInt && options.format != Format::Ace16)
      throw Error(fw + ": Large Number fields exist only in Access 2016 (Ace16) files");
    if (f.calculated && (options.format == Format::Jet4 || f.type == FieldType::Text || f.type == FieldType::Memo ||
                         f.type == FieldType::Binary || f.type == FieldType::Guid))
      throw Error(fw + ": only fixed-size results and Decimals can be calculated, in .accdb files");

    ColumnLayout c;
    c.field = f;
    typeFacts(f, c.typeCode, c.length, c.fixed, c.longValue);
    if (f.calculated) {
      // A calculated result is a variable-length value inside its wrapper.
      c.fixed = false;
      c.length = fmt::kCalcFixedColumnLength;
    }
    c.compressed = options.compressText && (f.type == FieldType::Text || f.type == FieldType::Memo);
    c.number = uint16_t(i);
    if (c.fixed) {
      c.fixedOffset = uint16_t(fixedSize);
      fixedSize += c.length;
    } else {
      c.varIndex = t.varCount++;
    }
    t.columns.push_back(c);
  }
  t.fixedSize = uint16_t(fixedSize);

  size_t size = fmt::kTdColumnsStart + fmt::kColEntrySize * t.columns.size() + 2;
  for (const auto& n : names) size += 2 + 2 * n.size();
  t.definition.assign(size, 0);
  uint8_t* d = t.definition.data();
  d[0] = fmt::kPageTableDef;
  d[1] = 0x01;
  d[fmt::kTdTableType] = system ? fmt::kTableTypeSystem : fmt::kTableTypeUser;
  le::put16(d + fmt::kTdMaxColumns, uint16_t(t.columns.size()));
  le::put16(d + fmt::kTdVarColumns, t.varCount);
  le::put16(d + fmt::kTdColumns, uint16_t(t.columns.size()));
  size_t pos = fmt::kTdColumnsStart;
  for (const auto& c : t.columns) {
    uint8_t* e = d + pos;
    e[fmt::kColType] = c.typeCode;
    le::put16(e + fmt::kColNumber, c.number);
    le::put16(e + fmt::kColVarIndex, c.fixed ? c.number : c.varIndex);
    le::put16(e + fmt::kColRowNumber, c.number);
    if (c.field.type == FieldType::Decimal) {
      e[fmt::kColPrecision] = uint8_t(c.field.precision);
      e[fmt::kColScale] = uint8_t(c.field.scale);
    } else if (c.field.type == FieldType::Text || c.field.type == FieldType::Memo) {
      le::put16(e + fmt::kColSortOrder, fmt::kLangGeneral);
    }
    e[fmt::kColFlags] = uint8_t(fmt::kColFlagNullable | (c.fixed ? fmt::kColFlagFixed : 0) |
                                (system ? fmt::kColFlagUpdatable : 0));
    e[fmt::kColExtFlags] = uint8_t((c.compressed ? fmt::kColExtCompressedUnicode : 0) |
                                   (c.field.calculated ? fmt::kColExtCalculated : 0));
    le::put16(e + fmt::kColFixedOffset, c.fixedOffset);
    le::put16(e + fmt::kColLength, c.length);
    pos += fmt::kColEntrySize;
  }
  for (const auto& n : names) {
    le::put16(d + pos, uint16_t(2 * n.size()));
    pos += 2;
    for (char16_t u : n) {
      le::put16(d + pos, uint16_t(u));
      pos += 2;
    }
  }
  le::put16(d + pos, fmt::kTdEnd);
  return t;
}

void reserveDefinitionPages(PageFile& file, TableLayout& t) {
  size_t size = t.definition.size();
  size_t pages = 1;
  if (size > fmt::kPageSize) {
    size_t per = fmt::kPageSize - fmt::kTdContinuationData;
    pages += (size - fmt::kPageSize + per - 1) / per;
  }
  for (size_t i = 0; i < pages; ++i) t.definitionPages.push_back(file.allocate());
}

void writeDefinition(PageFile& file, TableLayout& t, uint32_t usageMapRow, uint32_t freeMapRow) {
  uint8_t* d = t.definition.data();
  uint64_t rows = std::min<uint64_t>(t.rowCount, std::numeric_limits<uint32_t>::max());
  le::put32(d + fmt::kTdRowCount, uint32_t(rows));
  le::put32(d + fmt::kTdUsageMap, usageMapRow);
  le::put32(d + fmt::kTdFreeMap, freeMapRow);
  le::put32(d + fmt::kTdLength, uint32_t(t.definition.size() - fmt::kTdContinuationData));
  size_t pos = 0;
  for (size_t i = 0; i < t.definitionPages.size(); ++i) {
    PageBytes page{};
    size_t start = i == 0 ? 0 : fmt::kTdContinuationData;
    size_t n = std::min(t.definition.size() - pos, fmt::kPageSize - start);
    std::memcpy(page.data() + start, d + pos, n);
    pos += n;
    page[0] = fmt::kPageTableDef;
    page[1] = 0x01;
    le::put16(&page[fmt::kTdFreeSpace], uint16_t(fmt::kPageSize - start - n));
    uint32_t next = i + 1 < t.definitionPages.size() ? t.definitionPages[i + 1] : 0;
    le::put32(&page[fmt::kTdNextPage], next);
    file.write(t.definitionPages[i], page);
  }
}

TableStream::TableStream(PageFile& file, TableLayout& layout)
    : file_(file), t_(layout), fixed_(layout.fixedSize), var_(layout.varCount),
      mask_((layout.columns.size() + 7) / 8), ownerTag_(4) {
  le::put32(ownerTag_.data(), layout.definitionPages.at(0));
}

void TableStream::fail(size_t column, const std::string& why) const {
  throw Error(file_.name() + ": table \"" + t_.name + "\", record " + std::to_string(t_.rowCount + 1) +
              ", field \"" + t_.columns[column].field.name + "\": " + why);
}

uint32_t TableStream::storeLongValue(const std::vector<uint8_t>& data, uint8_t& kind) {
  if (data.size() <= fmt::kMaxRowSize) {
    kind = fmt::kLvSinglePage;
    if (!lval_.fits(data.size())) {
      if (lval_.isOpen()) lval_.flush(file_);
      lval_.open(file_.allocate(), fmt::kLvalTag);
    }
    return lval_.add(data.data(), data.size());
  }
  // A chain of rows, each "next pointer + data". The short last piece shares the table's
  // long-value page; the full pieces before it fill pages of their own.
  kind = fmt::kLvMultiPage;
  size_t chunks = (data.size() + fmt::kLvChunkData - 1) / fmt::kLvChunkData;
  size_t lastOffset = (chunks - 1) * fmt::kLvChunkData;
  std::vector<uint8_t> piece(4 + fmt::kLvChunkData);
  size_t lastSize = data.size() - lastOffset;
  std::memset(piece.data(), 0, 4);
  std::memcpy(piece.data() + 4, data.data() + lastOffset, lastSize);
  if (!lval_.fits(4 + lastSize)) {
    if (lval_.isOpen()) lval_.flush(file_);
    lval_.open(file_.allocate(), fmt::kLvalTag);
  }
  uint32_t lastPtr = lval_.add(piece.data(), 4 + lastSize);
  std::vector<uint32_t> pages(chunks - 1);
  for (auto& p : pages) p = file_.allocate();
  for (size_t k = 0; k + 1 < chunks; ++k) {
    uint32_t next = k + 2 < chunks ? pages[k + 1] << 8 : lastPtr;
    le::put32(piece.data(), next);
    std::memcpy(piece.data() + 4, data.data() + k * fmt::kLvChunkData, fmt::kLvChunkData);
    chunk_.open(pages[k], fmt::kLvalTag);
    chunk_.add(piece.data(), piece.size());
    chunk_.flush(file_);
  }
  return pages.empty() ? lastPtr : pages[0] << 8;
}

// A calculated result in its wrapper, or the bytes given as they are.
void TableStream::addCalculated(size_t column, const Value& v) {
  const ColumnLayout& c = t_.columns[column];
  std::vector<uint8_t>& out = var_[c.varIndex];
  mask_[c.number / 8] |= uint8_t(1u << (c.number % 8));
  if (const Bytes* raw = std::get_if<Bytes>(&v)) {
    out.assign(raw->data.begin(), raw->data.end());
    return;
  }
  uint8_t result[16] = {};
  size_t n = 0;
  const int64_t* integer = std::get_if<int64_t>(&v);
  const double* real = std::get_if<double>(&v);
  switch (c.field.type) {
    case FieldType::Boolean:
      if (const bool* b = std::get_if<bool>(&v)) result[0] = *b ? 0xFF : 0, n = 1;
      break;
    case FieldType::Byte: if (integer) result[0] = uint8_t(*integer), n = 1; break;
    case FieldType::Integer: if (integer) le::put16(result, uint16_t(*integer)), n = 2; break;
    case FieldType::Long: if (integer) le::put32(result, uint32_t(*integer)), n = 4; break;
    case FieldType::BigInt: if (integer) le::put64(result, uint64_t(*integer)), n = 8; break;
    case FieldType::Single: if (real) enc::putFloat(result, float(*real)), n = 4; break;
    case FieldType::Double: if (real) enc::putDouble(result, *real), n = 8; break;
    case FieldType::Currency:
      if (const Currency* m = std::get_if<Currency>(&v)) le::put64(result, uint64_t(m->tenThousandths)), n = 8;
      break;
    case FieldType::DateTime:
      if (const Date* d = std::get_if<Date>(&v)) enc::putDouble(result, d->days), n = 8;
      break;
    case FieldType::Decimal:
      if (const Decimal* x = std::get_if<Decimal>(&v)) {
        try {
          n = enc::calculatedDecimalBytes(x->text, result);
        } catch (const std::invalid_argument& e) {
          fail(column, e.what());
        }
      }
      break;
    default: break;
  }
  if (n == 0) fail(column, std::string("a calculated ") + typeName(c.field.type) + " field does not take " + kindName(v));
  out.assign(fmt::kCalcWrapperSize + n, 0);
  le::put32(&out[fmt::kCalcLength], uint32_t(n));
  std::memcpy(&out[fmt::kCalcData], result, n);
}

void TableStream::add(const Row& row) {
  if (row.size() != t_.columns.size())
    throw Error(file_.name() + ": table \"" + t_.name + "\", record " + std::to_string(t_.rowCount + 1) +
                " has " + std::to_string(row.size()) + " values for " +
                std::to_string(t_.columns.size()) + " fields");
  std::fill(fixed_.begin(), fixed_.end(), 0);
  std::fill(mask_.begin(), mask_.end(), 0);
  for (auto& v : var_) v.clear();

  for (size_t i = 0; i < row.size(); ++i) {
    const ColumnLayout& c = t_.columns[i];
    const Value& v = row[i];
    if (std::holds_alternative<Null>(v)) continue;
    if (c.field.calculated) {
      addCalculated(i, v);
      continue;
    }
    auto expect = [&](const char* kind) {
      fail(i, std::string("a ") + typeName(c.field.type) + " field takes " + kind + ", not " +
                  kindName(v));
    };
    uint8_t* f = fixed_.data() + c.fixedOffset;
    auto integer = [&](int64_t lo, int64_t hi) {
      const int64_t* n = std::get_if<int64_t>(&v);
      if (!n) expect("an integer");
      if (*n < lo || *n > hi) fail(i, std::to_string(*n) + " is out of range for a " + typeName(c.field.type));
      return *n;
    };
    switch (c.field.type) {
      case FieldType::Boolean: {
        const bool* b = std::get_if<bool>(&v);
        if (!b) expect("a bool");
        if (!*b) continue;  // No is a clear bit, like null
        break;
      }
      case FieldType::Byte: f[0] = uint8_t(integer(0, 255)); break;
      case FieldType::Integer: le::put16(f, uint16_t(integer(-32768, 32767))); break;
      case FieldType::Long: le::put32(f, uint32_t(integer(INT32_MIN, INT32_MAX))); break;
      case FieldType::BigInt: le::put64(f, uint64_t(integer(INT64_MIN, INT64_MAX))); break;
      case FieldType::Currency: {
        const Currency* m = std::get_if<Currency>(&v);
        if (!m) expect("a Currency");
        le::put64(f, uint64_t(m->tenThousandths));
        break;
      }
      case FieldType::Single:
      case FieldType::Double: {
        const double* x = std::get_if<double>(&v);
        if (!x) expect("a double");
        if (c.field.type == FieldType::Single) enc::putFloat(f, float(*x));
        else enc::putDouble(f, *x);
        break;
      }
      case FieldType::DateTime: {
        const Date* x = std::get_if<Date>(&v);
        if (!x) expect("a Date");
        enc::putDouble(f, x->days);
        break;
      }
      case FieldType::Guid: {
        const Guid* g = std::get_if<Guid>(&v);
        if (!g) expect("a Guid");
        std::memcpy(f, g->bytes.data(), 16);
        break;
      }
      case FieldType::Decimal: {
        const Decimal* x = std::get_if<Decimal>(&v);
        if (!x) expect("a Decimal");
        try {
          enc::numericBytes(x->text, c.field.precision, c.field.scale, f);
        } catch (const std::invalid_argument& e) {
          fail(i, e.what());
        }
        break;
      }
      case FieldType::Text:
      case FieldType::Memo: {
        const std::string* s = std::get_if<std::string>(&v);
        if (!s) expect("a text");
        std::u16string units;
        try {
          units = enc::utf16FromUtf8(*s);
        } catch (const std::invalid_argument& e) {
          fail(i, e.what());
        }
        if (c.field.type == FieldType::Text && units.size() > size_t(c.field.size))
          fail(i, "text of " + std::to_string(units.size()) + " characters exceeds the size " +
                      std::to_string(c.field.size));
        var_[c.varIndex] = encodeAccessText(units, c.compressed);
        break;
      }
      case FieldType::Binary: {
        const Bytes* b = std::get_if<Bytes>(&v);
        if (!b) expect("Bytes");
        var_[c.varIndex].assign(b->data.begin(), b->data.end());
        break;
      }
    }
    mask_[c.number / 8] |= uint8_t(1u << (c.number % 8));
  }

  // Size with every long value as a bare reference, then inline those that fit.
  size_t size = 2 + fixed_.size() + mask_.size();
  if (t_.varCount > 0) size += 2 * (size_t(t_.varCount) + 1) + 2;
  for (const auto& c : t_.columns) {
    if (c.fixed) continue;
    bool present = mask_[c.number / 8] & (1u << (c.number % 8));
    if (c.longValue) {
      if (!present) continue;
      if (var_[c.varIndex].size() > fmt::kLvMaxLength)
        fail(c.number, "value of " + std::to_string(var_[c.varIndex].size()) + " bytes exceeds 16 MiB");
      size += fmt::kLvRefSize;
    } else {
      size += var_[c.varIndex].size();
    }
  }
  if (size > fmt::kMaxRowSize)
    throw Error(file_.name() + ": table \"" + t_.name + "\", record " + std::to_string(t_.rowCount + 1) +
                " needs " + std::to_string(size) + " bytes; a record holds at most " +
                std::to_string(fmt::kMaxRowSize));
  size_t room = fmt::kMaxRowSize - size;
  for (const auto& c : t_.columns) {
    if (!c.longValue || !(mask_[c.number / 8] & (1u << (c.number % 8)))) continue;
    std::vector<uint8_t>& data = var_[c.varIndex];
    std::vector<uint8_t> ref(fmt::kLvRefSize, 0);
    uint32_t length = uint32_t(data.size());
    ref[0] = uint8_t(length);
    ref[1] = uint8_t(length >> 8);
    ref[2] = uint8_t(length >> 16);
    if (data.size() <= fmt::kLvInlineLimit && data.size() <= room) {
      room -= data.size();
      ref[3] = fmt::kLvInline;
      ref.insert(ref.end(), data.begin(), data.end());
    } else {
      uint8_t kind = 0;
      le::put32(&ref[4], storeLongValue(data, kind));
      ref[3] = kind;
    }
    data.swap(ref);
  }

  row_.clear();
  row_.resize(2);
  le::put16(row_.data(), uint16_t(t_.columns.size()));
  row_.insert(row_.end(), fixed_.begin(), fixed_.end());
  if (t_.varCount > 0) {
    std::vector<uint16_t> offsets(t_.varCount + 1);
    for (size_t j = 0; j < var_.size(); ++j) {
      offsets[j] = uint16_t(row_.size());
      row_.insert(row_.end(), var_[j].begin(), var_[j].end());
    }
    offsets[t_.varCount] = uint16_t(row_.size());
    for (size_t j = offsets.size(); j-- > 0;) {
      row_.push_back(uint8_t(offsets[j]));
      row_.push_back(uint8_t(offsets[j] >> 8));
    }
    row_.push_back(uint8_t(t_.varCount));
    row_.push_back(uint8_t(t_.varCount >> 8));
  }
  row_.insert(row_.end(), mask_.begin(), mask_.end());

  if (!data_.fits(row_.size())) {
    if (data_.isOpen()) data_.flush(file_);
    uint32_t page = file_.allocate();
    data_.open(page, ownerTag_.data());
    t_.dataPages.push_back(page);
  }
  data_.add(row_.data(), row_.size());
  ++t_.rowCount;
}

void TableStream::finish() {
  if (data_.isOpen()) data_.flush(file_);
  if (lval_.isOpen()) lval_.flush(file_);
}

}  // namespace accesswriter
