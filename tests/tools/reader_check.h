// Reading what the writer wrote through both independent readers (libmdb's mdb-export and
// mdb-reader) and comparing every value with the value that was written.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/accesswriter/access_writer.h"

namespace writertest {

using TextRows = std::vector<std::vector<std::optional<std::string>>>;  // nullopt: null

// mdb-export's rows of one table (no header), nulls told apart from empty texts.
TextRows libmdbRows(const std::filesystem::path& file, const std::string& table);

// mdb-tables' list of user tables, one name a line.
std::vector<std::string> libmdbTables(const std::filesystem::path& file);

// Compares one value as libmdb printed it / as mdb-reader decoded it with the written value.
// `where` goes into the failure message.
void expectLibmdbValue(const accesswriter::Field& field, const accesswriter::Value& written,
                       const std::optional<std::string>& actual, const std::string& where);
void expectReaderValue(const accesswriter::Field& field, const accesswriter::Value& written,
                       const nlohmann::json& actual, const std::string& where);

// Writes `rows` again from `make` and checks every value of `table` in `file` both ways.
// `make(i, row)` must give the same row for the same i as when the file was written.
void expectTableReadsBack(const std::filesystem::path& file, const std::string& password,
                          const accesswriter::Table& table, uint64_t rowCount,
                          const std::function<void(uint64_t, accesswriter::Row&)>& make);

// The text of `s` with every character outside the Basic Multilingual Plane replaced by "??",
// which is what libmdb 1.0 prints for them (it converts from UCS-2, not UTF-16).
std::string bmpOnly(const std::string& s);

// Canonical decimal text with exactly `scale` decimals, as both readers print it.
std::string canonicalDecimal(const std::string& text, int scale);

}  // namespace writertest
