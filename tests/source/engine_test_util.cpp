#include "tests/source/engine_test_util.h"

#include <cmath>
#include <cstdio>
#include <ctime>
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
      // "Order Details=2155 Orders=830": a name may hold blanks, so each entry runs to its =N.
      const std::string& list = cells[3];
      for (size_t from = 0, eq; (eq = list.find('=', from)) != std::string::npos;) {
        size_t end = list.find(' ', eq);
        if (end == std::string::npos) end = list.size();
        e.tables.emplace_back(list.substr(from, eq - from), std::stoi(list.substr(eq + 1, end - eq - 1)));
        from = end + 1;
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
    // A single's expectation is its exact value: the same single, whatever double stands for it.
    if (v.vt == VT_R4) return static_cast<float>(e.get<double>()) == static_cast<float>(v.real) ? true : mismatch("");
    if (v.vt == VT_R8) return e.get<double>() == v.real ? true : mismatch("");
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

nlohmann::json readExpectation(const std::filesystem::path& file) {
  std::ifstream in(file.string() + ".expected.json");
  return nlohmann::json::parse(in);
}

namespace {

// "YYYY-MM-DDTHH:MM[:SS[.f]]" as "YYYY-MM-DDTHH:MM:SS" and the fraction's digits without trailing zeros.
std::pair<std::string, std::string> isoParts(const std::string& iso) {
  std::string whole = iso.substr(0, 16) + (iso.size() >= 19 ? iso.substr(16, 3) : ":00");
  std::string fraction = iso.size() > 20 ? iso.substr(20) : "";
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return {whole, fraction};
}

std::string baseType(const std::string& type) { return type.substr(0, type.find('/')); }

std::string extendedIso(const ExtendedDateValue& d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute, d.second);
  std::string fraction = std::to_string(10000000 + d.fraction).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return std::string(buf) + (fraction.empty() ? "" : "." + fraction);
}

// To the millisecond, with ".fff" where there are milliseconds: Access keeps those of Now().
std::string oleIso(double day) {
  double whole = std::floor(day);
  int64_t ms = std::llround((day - whole) * 86400000);
  if (day < 0) {
    whole = std::trunc(day);
    ms = std::llround(std::fabs(day - whole) * 86400000);
  }
  int64_t unixSeconds = (static_cast<int64_t>(whole) - 25569) * 86400 + ms / 1000;
  time_t t = static_cast<time_t>(unixSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return std::string(buf) + (fraction.empty() ? "" : "." + fraction);
}

}  // namespace

bool sameAsExpectation(const Variant& v, const nlohmann::json& e, const std::string& columnType, std::string* why) {
  const std::string type = baseType(columnType);
  auto mismatch = [&](const std::string& got) {
    if (why) *why = "engine " + got + " (kind " + std::to_string(v.vt) + ") vs expected " + e.dump();
    return false;
  };
  if (e.is_object() && e.contains("complex")) {
    if (e["count"].get<int>() == 0) return v.vt == VT_NULL ? true : mismatch(toReaderJson(v).dump());
    if (e.value("unknown", false)) return v.vt == VT_BSTR ? true : mismatch(toReaderJson(v).dump());
    return v.vt == VT_BSTR && v.text == e["complex"].get<std::string>() ? true : mismatch(v.text);
  }
  if (type == "EXT_DATE_TIME" && e.is_string()) {
    if (v.vt != VT_EXT_DATE) return mismatch(toReaderJson(v).dump());
    auto [whole, fraction] = isoParts(e.get<std::string>());
    std::string want = whole + (fraction.empty() ? "" : "." + fraction.substr(0, 7));
    return extendedIso(v.extendedDate) == want ? true : mismatch(extendedIso(v.extendedDate));
  }
  if (type == "SHORT_DATE_TIME" && e.is_string()) {
    if (v.vt != VT_DATE) return mismatch(toReaderJson(v).dump());
    auto [whole, fraction] = isoParts(e.get<std::string>());
    std::string want = whole + (fraction.empty() ? "" : "." + fraction.substr(0, 3));
    return oleIso(v.real) == want ? true : mismatch(oleIso(v.real));
  }
  if (e.is_object() && e.contains("binary")) {
    std::string want = e["binary"];
    for (char& c : want) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return v.vt == VT_BYTES && hex(v.bytes) == want ? true : mismatch(toReaderJson(v).dump());
  }
  if (e.is_number() && (v.vt == VT_UI1 || v.vt == VT_I2 || v.vt == VT_I4))
    return e.is_number_integer() && e.get<int64_t>() == v.integer ? true : mismatch(std::to_string(v.integer));
  return sameAsReader(v, e, why);
}

bool readerAgreesWithExpectation(const nlohmann::json& reader, const nlohmann::json& e, const std::string& columnType) {
  const std::string type = baseType(columnType);
  if (e.is_null() || e.is_boolean() || e.is_number()) return reader == e;
  if (e.is_string()) {
    if (type == "EXT_DATE_TIME") return false;  // mdb-reader's own text form: nothing to referee
    if (type == "SHORT_DATE_TIME") {
      if (!reader.is_object() || !reader.contains("date")) return false;
      std::string iso = reader["date"];
      return iso.substr(0, 19) == isoParts(e.get<std::string>()).first && iso.substr(19) == ".000Z";
    }
    if (!reader.is_string()) return false;
    if (type == "GUID") return lowerGuid(reader.get<std::string>()) == lowerGuid(e.get<std::string>());
    return reader == e;
  }
  if (e.contains("decimal"))
    return reader.is_object() && reader.contains("decimal") && normalizeDecimal(reader["decimal"]) == normalizeDecimal(e["decimal"]);
  if (e.contains("bigint")) return reader.is_object() && reader.contains("bigint") && reader["bigint"] == e["bigint"];
  if (e.contains("binary")) {
    std::string want = e["binary"];
    for (char& c : want) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return reader.is_object() && reader.contains("bytes") && reader["bytes"] == want;
  }
  return false;  // complex values: mdb-reader lists attachments, not their joined text
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
