// Helpers of the engine tests: the shared files' manifest and value comparison with mdb-reader.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "source/engine.h"

namespace enginetest {

struct ManifestEntry {
  std::string file;
  std::string format;
  std::string password;
  std::vector<std::pair<std::string, int>> tables;  // catalog order
  bool encrypted = false;
};

std::vector<ManifestEntry> readManifest(const std::filesystem::path& folder);

// Text form of an engine value in mdb-reader's encoding, for comparison and messages.
nlohmann::json toReaderJson(const Variant& value);

// Whether an engine value equals what mdb-reader gave for the same cell.
bool sameAsReader(const Variant& value, const nlohmann::json& expected, std::string* why);

// NAME.expected.json beside a shared file: what a mature independent reader sees in it.
nlohmann::json readExpectation(const std::filesystem::path& file);

// Whether an engine value is the expectation's value of a column of that reader's type.
bool sameAsExpectation(const Variant& value, const nlohmann::json& expected, const std::string& type, std::string* why);

// Whether mdb-reader's value of a cell is the expectation's, so that the two can referee it.
bool readerAgreesWithExpectation(const nlohmann::json& reader, const nlohmann::json& expected, const std::string& type);

// Every value of a table as the engine reads it.
std::vector<std::vector<Variant>> readAll(Database& db, const std::string& table);

}  // namespace enginetest
