#include "tests/source/engine_test_util.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace enginetest {

std::vector<ManifestEntry> readManifest(const std::filesystem::path& folder) {
  std::vector<ManifestEntry> out;
  std::ifstream in(folder / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) cells.push_back(cell);
    if (cells.size() < 4) continue;
    ManifestEntry e;
    e.file = cells[0];
    e.format = cells[1];
    e.password = cells[2];
    e.encrypted = e.format.find("encrypted") != std::string::npos;
    if (!e.encrypted && cells[3] != "(none)") {
      std::stringstream ts(cells[3]);
      std::string item;
      while (ts >> item) {
        auto eq = item.rfind('=');
        e.tables.emplace_back(item.substr(0, eq), std::stoi(item.substr(eq + 1)));
      }
    }
    out.push_back(e);
  }
  return out;
}

namespace {

std::string decimalText(bool negative, unsigned __int128 magnitude, int scale) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude > 0);
  while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  return (negative ? "-" : "") + digits;
}

// "42.0000", "42" and "42.0" are the same number; "-0" is "0".
std::string normalizeDecimal(std::string s) {
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char b[3];
  for (uint8_t c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

std::string lowerGuid(std::string s) {
  std::string out;
  for (char c : s)
    if (c != '{' && c != '}') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

nlohmann::json toReaderJson(const Variant& v) {
  switch (v.vt) {
    case VT_NULL: return nullptr;
    case VT_BOOL: return v.integer != 0;
    case VT_UI1: case VT_I2: case VT_I4: return v.integer;
    case VT_R4: case VT_R8: return v.real;
    case VT_I8: return {{"bigint", std::to_string(v.integer)}};
    case VT_CY: {
      bool neg = v.integer < 0;
      unsigned __int128 m = neg ? static_cast<unsigned __int128>(-(v.integer + 1)) + 1 : static_cast<unsigned __int128>(v.integer);
      return {{"decimal", decimalText(neg, m, 4)}};
    }
    case VT_DECIMAL: {
      unsigned __int128 m = (static_cast<unsigned __int128>(v.decimal.hi32) << 64) | v.decimal.lo64;
      return {{"decimal", decimalText(v.decimal.negative, m, v.decimal.scale)}};
    }
    case VT_DATE: return {{"ms", std::floor((v.real - 25569) * 86400 * 1000 + 0.5)}};
    case VT_BSTR: return v.text;
    case VT_BYTES: return {{"bytes", hex(v.bytes)}};
    default: return {{"kind", v.vt}};
  }
}

bool sameAsReader(const Variant& v, const nlohmann::json& e, std::string* why) {
  auto mismatch = [&](const std::string& detail) {
    if (why) *why = "engine " + toReaderJson(v).dump() + " vs mdb-reader " + e.dump() + " " + detail;
    return false;
  };
  if (e.is_null()) return v.vt == VT_NULL ? true : mismatch("");
  if (e.is_boolean()) return v.vt == VT_BOOL && (v.integer != 0) == e.get<bool>() ? true : mismatch("");
  if (e.is_number()) {
    if (v.vt == VT_UI1 || v.vt == VT_I2 || v.vt == VT_I4) return e.is_number_integer() && e.get<int64_t>() == v.integer ? true : mismatch("");
    if (v.vt == VT_R4 || v.vt == VT_R8) return e.get<double>() == v.real ? true : mismatch("");
    return mismatch("kind");
  }
  if (e.is_string()) {
    if (v.vt != VT_BSTR) return mismatch("kind");
    if (v.text.size() == 38 && v.text[0] == '{') return lowerGuid(v.text) == lowerGuid(e.get<std::string>()) ? true : mismatch("");
    return v.text == e.get<std::string>() ? true : mismatch("");
  }
  if (e.contains("float")) return (v.vt == VT_R4 || v.vt == VT_R8) && std::isnan(v.real) == (e["float"] == "NaN") ? true : mismatch("");
  if (e.contains("date")) return v.vt == VT_DATE && toReaderJson(v)["ms"].get<double>() == e["ms"].get<double>() ? true : mismatch("");
  if (e.contains("decimal"))
    return (v.vt == VT_CY || v.vt == VT_DECIMAL) &&
                   normalizeDecimal(toReaderJson(v)["decimal"]) == normalizeDecimal(e["decimal"])
               ? true
               : mismatch("");
  if (e.contains("bigint")) return v.vt == VT_I8 && std::to_string(v.integer) == e["bigint"].get<std::string>() ? true : mismatch("");
  if (e.contains("bytes")) return v.vt == VT_BYTES && hex(v.bytes) == e["bytes"].get<std::string>() ? true : mismatch("");
  if (e.contains("attachments")) return v.vt == VT_NULL ? true : mismatch("attachments are null here");
  return mismatch("unknown encoding");
}

std::vector<std::vector<Variant>> readAll(Database& db, const std::string& table) {
  std::vector<std::vector<Variant>> rows;
  auto rs = db.OpenRecordset(table);
  Fields fields = rs->Fields();
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
    std::vector<Variant> row;
    for (int i = 0; i < fields.Count(); ++i) row.push_back(fields.Item(i).Value());
    rows.push_back(std::move(row));
  }
  rs->Close();
  return rows;
}

}  // namespace enginetest
