#include "source/jet/complex_values.h"

#include <algorithm>
#include <charconv>

#include "source/jet_format.h"

namespace {

constexpr const char* kSeparator = "; ";
constexpr const char* kFileNameColumn = "FileName";
constexpr const char* kFileDataColumn = "FileData";
constexpr const char* kMultiValueColumn = "Value";

}  // namespace

std::string complexValueText(const Variant& v) {
  char buf[64];
  switch (v.vt) {
    case VT_BSTR: return v.text;
    case VT_UI1: case VT_I2: case VT_I4: case VT_I8: return std::to_string(v.integer);
    case VT_R4: return std::string(buf, std::to_chars(buf, buf + sizeof buf, static_cast<float>(v.real)).ptr);
    case VT_R8: return std::string(buf, std::to_chars(buf, buf + sizeof buf, v.real).ptr);
    case VT_DECIMAL: return decimalToText(v.decimal);
    case VT_BOOL: return v.integer != 0 ? "-1" : "0";
    case VT_BYTES: {
      static const char kHex[] = "0123456789ABCDEF";
      std::string text;
      for (uint8_t b : v.bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
      }
      return text;
    }
    default: return "";
  }
}

ComplexColumnValues::ComplexColumnValues(std::shared_ptr<DatabaseFile> file, const ComplexColumn& column)
    : file_(std::move(file)), column_(column) {}

ComplexColumnValues::~ComplexColumnValues() = default;

// The value table's columns tell its kind: attachments have file names, multi-valued fields one
// value column; a version history keeps each version with the time it was made.
void ComplexColumnValues::buildIndex() {
  indexed_ = true;
  CatalogTable table;
  table.name = column_.valueTable;
  table.definitionPage = column_.valueTablePage;
  cursor_ = std::make_unique<TableCursor>(file_, table);
  const auto& cols = cursor_->columns();
  for (size_t i = 0; i < cols.size(); ++i) {
    const ColumnInfo& c = cols[i];
    int index = static_cast<int>(i);
    if (keyColumn_ < 0 && c.jetType == jetfmt::kTypeLong && (c.extFlags & jetfmt::kColExtComplexKey)) keyColumn_ = index;
    else if (c.name == kFileNameColumn) valueColumn_ = index, kind_ = Kind::Attachments;
    else if (c.name == kFileDataColumn) dataColumn_ = index;
    else if (c.name == kMultiValueColumn && kind_ != Kind::Attachments) valueColumn_ = index, kind_ = Kind::MultiValue;
  }
  if (kind_ == Kind::Unknown) {
    // A version history: the text or memo of each version and the date-time it was made.
    for (size_t i = 0; i < cols.size(); ++i) {
      if (static_cast<int>(i) == keyColumn_) continue;
      if (cols[i].jetType == jetfmt::kTypeDateTime && modifiedColumn_ < 0) modifiedColumn_ = static_cast<int>(i);
      else if ((cols[i].jetType == jetfmt::kTypeMemo || cols[i].jetType == jetfmt::kTypeText) && valueColumn_ < 0)
        valueColumn_ = static_cast<int>(i);
    }
    if (valueColumn_ >= 0 && modifiedColumn_ >= 0) {
      kind_ = Kind::VersionHistory;
    } else {
      // A kind we know no meaning for: its first column of values, in stored order, so that a
      // value that is there never comes out as nothing.
      modifiedColumn_ = valueColumn_ = -1;
      for (size_t i = 0; i < cols.size() && valueColumn_ < 0; ++i)
        if (static_cast<int>(i) != keyColumn_ && !(cols[i].extFlags & jetfmt::kColExtComplexId)) valueColumn_ = static_cast<int>(i);
      if (valueColumn_ >= 0) kind_ = Kind::MultiValue;
    }
  }
  if (keyColumn_ < 0 || kind_ == Kind::Unknown) return;
  std::vector<bool> wanted(cols.size(), false);
  wanted[keyColumn_] = true;
  cursor_->selectColumns(wanted);
  std::vector<Variant> row;
  for (cursor_->rewind(); cursor_->next(row);)
    if (row[keyColumn_].vt == VT_I4) index_[static_cast<uint32_t>(row[keyColumn_].integer)].push_back(cursor_->location());
  wanted.assign(cols.size(), false);
  wanted[valueColumn_] = true;
  if (modifiedColumn_ >= 0) wanted[modifiedColumn_] = true;
  cursor_->selectColumns(wanted);
}

bool ComplexColumnValues::forEachAttachment(
    uint32_t key, const std::function<void(const std::string& name, const std::vector<uint8_t>& stored)>& each) {
  if (!indexed_) buildIndex();
  if (kind_ != Kind::Attachments || dataColumn_ < 0) return false;
  auto found = index_.find(key);
  if (found == index_.end()) return true;
  std::vector<bool> wanted(cursor_->columns().size(), false);
  wanted[static_cast<size_t>(valueColumn_)] = wanted[static_cast<size_t>(dataColumn_)] = true;
  cursor_->selectColumns(wanted);
  // One attachment in memory at a time.
  std::vector<Variant> row;
  static const std::vector<uint8_t> kNoBytes;
  for (const RowLocation& at : found->second) {
    if (!cursor_->readAt(at, row) || row[valueColumn_].isNull()) continue;
    const Variant& data = row[static_cast<size_t>(dataColumn_)];
    each(row[valueColumn_].vt == VT_BSTR ? row[valueColumn_].text : std::string(),
         data.vt == VT_BYTES ? data.bytes : kNoBytes);
  }
  return true;
}

bool ComplexColumnValues::joinedText(uint32_t key, std::string& text) {
  if (!indexed_) buildIndex();
  if (kind_ == Kind::Unknown) return false;
  auto found = index_.find(key);
  if (found == index_.end()) return false;
  struct Item {
    std::string text;
    double modified = 0;
  };
  std::vector<Item> items;
  std::vector<Variant> row;
  for (const RowLocation& at : found->second) {
    if (!cursor_->readAt(at, row) || row[valueColumn_].isNull()) continue;
    Item item{complexValueText(row[valueColumn_]), 0};
    if (modifiedColumn_ >= 0 && row[modifiedColumn_].vt == VT_DATE) item.modified = row[modifiedColumn_].real;
    items.push_back(std::move(item));
  }
  if (items.empty()) return false;
  if (kind_ == Kind::VersionHistory) {
    // Newest first; of versions made at the same time, the later stored one first.
    std::reverse(items.begin(), items.end());
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.modified > b.modified; });
  }
  text.clear();
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) text += kSeparator;
    text += items[i].text;
  }
  return true;
}
