// The values of one complex column (attachments, multi-valued fields, the version history of an
// append-only memo). They live in a hidden table, one record per value, each carrying the key
// that the owning record holds in the column. An index from key to record locations is built on
// the first look-up; the values themselves are read only when asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "source/database_file.h"
#include "source/jet/table_cursor.h"

class ComplexColumnValues {
 public:
  ComplexColumnValues(std::shared_ptr<DatabaseFile> file, const ComplexColumn& column);
  ~ComplexColumnValues();

  // The values behind `key`, joined with "; ": file names of attachments, multi-values in stored
  // order, versions newest first. False when there are none.
  bool joinedText(uint32_t key, std::string& text);

  // For an attachment column: each file behind `key`, in stored order, with its name and its
  // bytes as stored (most of them compressed, see source/whole_values.h). False for a column of
  // another kind. The index is built on the first call, or by prepare().
  bool forEachAttachment(uint32_t key,
                         const std::function<void(const std::string& name, const std::vector<uint8_t>& stored)>& each);
  // How many values stand behind `key`.
  size_t count(uint32_t key) {
    if (!indexed_) buildIndex();
    auto found = index_.find(key);
    return found == index_.end() ? 0 : found->second.size();
  }
  bool holdsAttachments() {
    if (!indexed_) buildIndex();
    return kind_ == Kind::Attachments && dataColumn_ >= 0;
  }
  void prepare() {
    if (!indexed_) buildIndex();
  }

 private:
  enum class Kind { Attachments, MultiValue, VersionHistory, Unknown };
  void buildIndex();

  std::shared_ptr<DatabaseFile> file_;
  ComplexColumn column_;
  std::unique_ptr<TableCursor> cursor_;
  Kind kind_ = Kind::Unknown;
  int keyColumn_ = -1, valueColumn_ = -1, modifiedColumn_ = -1, dataColumn_ = -1;
  bool indexed_ = false;
  std::unordered_map<uint32_t, std::vector<RowLocation>> index_;
};

// The text of one value of a multi-valued field.
std::string complexValueText(const Variant& value);
