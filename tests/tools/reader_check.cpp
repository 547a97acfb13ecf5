#include "tests/tools/reader_check.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace writertest {

using namespace accesswriter;

namespace {

const char kFieldSep = '\x1f';
const char kRowSep = '\x1e';
const char* const kNullMark = "\x02";

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == sep) {
      out.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

std::string hex(const std::string& bytes, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string currencyText(int64_t v) {
  uint64_t a = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
  char frac[8];
  std::snprintf(frac, sizeof frac, "%04llu", static_cast<unsigned long long>(a % 10000));
  return (v < 0 ? "-" : "") + std::to_string(a / 10000) + "." + frac;
}

// Date and time of a stored day number, seconds rounded, as "%Y-%m-%d %H:%M:%S".
std::string dateText(double days) {
  using namespace std::chrono;
  double whole = std::floor(days);
  long secs = long((days - whole) * 86400.0 + 0.5);
  year_month_day ymd{sys_days{year{1899} / December / 30} + std::chrono::days{long(whole)}};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02ld:%02ld:%02ld", int(ymd.year()),
                unsigned(ymd.month()), unsigned(ymd.day()), secs / 3600, (secs / 60) % 60, secs % 60);
  return buf;
}

const char* readerType(FieldType t) {
  switch (t) {
    case FieldType::Boolean: return "boolean";
    case FieldType::Byte: return "byte";
    case FieldType::Integer: return "integer";
    case FieldType::Long: return "long";
    case FieldType::Currency: return "currency";
    case FieldType::Single: return "float";
    case FieldType::Double: return "double";
    case FieldType::DateTime: return "datetime";
    case FieldType::Text: return "text";
    case FieldType::Memo: return "memo";
    case FieldType::Binary: return "ole";
    case FieldType::Guid: return "repid";
    case FieldType::Decimal: return "numeric";
    case FieldType::BigInt: return "bigint";
  }
  return "?";
}

std::string lowerGuid(const Guid& g) {
  std::string s = guidText(g).substr(1, 36);
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string bmpOnly(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    out += n == 4 ? std::string("??") : s.substr(i, n);
    i += n;
  }
  return out;
}

std::string canonicalDecimal(const std::string& text, int scale) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string whole, frac;
  while (i < text.size() && text[i] != '.') whole += text[i++];
  if (i < text.size()) frac = text.substr(i + 1);
  size_t lead = whole.find_first_not_of('0');
  whole = lead == std::string::npos ? "0" : whole.substr(lead);
  frac.resize(size_t(scale), '0');
  bool zero = whole == "0" && frac.find_first_not_of('0') == std::string::npos;
  return (negative && !zero ? "-" : "") + whole + (scale > 0 ? "." + frac : "");
}

TextRows libmdbRows(const std::filesystem::path& file, const std::string& table) {
  auto r = testsupport::runCommand({"mdb-export", "-H", "-Q", "-d", std::string(1, kFieldSep), "-R",
                                    std::string(1, kRowSep), "-0", kNullMark, "-b", "hex", "-D",
                                    "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", file.string(), table});
  EXPECT_EQ(r.exitCode, 0) << "mdb-export " << file << " " << table << ": " << r.err;
  // libmdb reports damage it works around (a map page of another table, a bad row) on stderr
  // only; the one complaint a sound file may cause is about Large Number fields it cannot print.
  for (const auto& line : split(r.err, '\n'))
    EXPECT_TRUE(line.empty() || line.find("unsupported data type 19") != std::string::npos)
        << "mdb-export " << file << " " << table << ": " << line;
  TextRows rows;
  std::vector<std::string> lines = split(r.out, kRowSep);
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (const auto& line : lines) {
    std::vector<std::optional<std::string>> row;
    for (auto& f : split(line, kFieldSep)) {
      if (f == kNullMark) row.push_back(std::nullopt);
      else row.push_back(f);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> libmdbTables(const std::filesystem::path& file) {
  auto r = testsupport::runCommand({"mdb-tables", "-1", file.string()});
  EXPECT_EQ(r.exitCode, 0) << "mdb-tables " << file << ": " << r.err;
  std::vector<std::string> names = split(r.out, '\n');
  if (!names.empty() && names.back().empty()) names.pop_back();
  return names;
}

void expectLibmdbValue(const Field& field, const Value& v, const std::optional<std::string>& actual,
                       const std::string& where) {
  if (field.type == FieldType::Boolean) {
    const bool* b = std::get_if<bool>(&v);
    EXPECT_EQ(actual, std::optional<std::string>((b && *b) ? "1" : "0")) << where;
    return;
  }
  if (field.type == FieldType::BigInt) return;  // libmdb 1.0 cannot print Large Number values
  if (std::holds_alternative<Null>(v)) {
    EXPECT_EQ(actual, std::nullopt) << where;
    return;
  }
  // libmdb cannot tell an empty text, memo or OLE value from a null one; mdb-export prints both
  // as null.
  const std::string* s = std::get_if<std::string>(&v);
  const Bytes* b = std::get_if<Bytes>(&v);
  if ((s && s->empty()) || (b && b->data.empty())) {
    EXPECT_TRUE(!actual || actual->empty()) << where << ": " << *actual;
    return;
  }
  ASSERT_TRUE(actual.has_value()) << where << ": libmdb read null";
  const std::string& a = *actual;
  switch (field.type) {
    case FieldType::Byte:
    case FieldType::Integer:
    case FieldType::Long: EXPECT_EQ(a, std::to_string(std::get<int64_t>(v))) << where; break;
    case FieldType::Currency: EXPECT_EQ(a, currencyText(std::get<Currency>(v).tenThousandths)) << where; break;
    case FieldType::Single: EXPECT_FLOAT_EQ(std::strtof(a.c_str(), nullptr), float(std::get<double>(v))) << where; break;
    case FieldType::Double: EXPECT_DOUBLE_EQ(std::strtod(a.c_str(), nullptr), std::get<double>(v)) << where; break;
    case FieldType::DateTime: EXPECT_EQ(a, dateText(std::get<Date>(v).days)) << where; break;
    case FieldType::Text:
    case FieldType::Memo: EXPECT_EQ(a, bmpOnly(std::get<std::string>(v))) << where; break;
    case FieldType::Binary: EXPECT_EQ(a, hex(std::get<Bytes>(v).data, true)) << where; break;
    case FieldType::Guid: {
      std::string g = guidText(std::get<Guid>(v));
      g.erase(24, 1);  // libmdb prints the last two groups as one
      // and mdb-export's binary mode hex-dumps that text
      EXPECT_EQ(a, hex(g, true)) << where;
      break;
    }
    case FieldType::Decimal:
      EXPECT_EQ(a, canonicalDecimal(std::get<Decimal>(v).text, field.scale)) << where;
      break;
    case FieldType::Boolean:
    case FieldType::BigInt: break;
  }
}

void expectReaderValue(const Field& field, const Value& v, const nlohmann::json& a, const std::string& where) {
  using nlohmann::json;
  if (field.type == FieldType::Boolean) {
    const bool* b = std::get_if<bool>(&v);
    EXPECT_EQ(a, json(b && *b)) << where;
    return;
  }
  if (std::holds_alternative<Null>(v)) {
    EXPECT_TRUE(a.is_null()) << where << ": " << a.dump().substr(0, 200);
    return;
  }
  switch (field.type) {
    case FieldType::Byte:
    case FieldType::Integer:
    case FieldType::Long: EXPECT_EQ(a, json(std::get<int64_t>(v))) << where; break;
    case FieldType::BigInt: EXPECT_EQ(a, json({{"bigint", std::to_string(std::get<int64_t>(v))}})) << where; break;
    case FieldType::Currency:
      EXPECT_EQ(a, json({{"decimal", currencyText(std::get<Currency>(v).tenThousandths)}})) << where;
      break;
    case FieldType::Single: EXPECT_EQ(a, json(double(float(std::get<double>(v))))) << where; break;
    case FieldType::Double: EXPECT_EQ(a, json(std::get<double>(v))) << where; break;
    case FieldType::DateTime: {
      double days = std::get<Date>(v).days;
      EXPECT_EQ(a.value("ms", int64_t(-1)), std::llround((days - 25569.0) * 86400.0 * 1000.0)) << where;
      break;
    }
    case FieldType::Text:
    case FieldType::Memo: EXPECT_EQ(a, json(std::get<std::string>(v))) << where; break;
    case FieldType::Binary: EXPECT_EQ(a, json({{"bytes", hex(std::get<Bytes>(v).data, false)}})) << where; break;
    case FieldType::Guid: EXPECT_EQ(a, json(lowerGuid(std::get<Guid>(v)))) << where; break;
    case FieldType::Decimal:
      EXPECT_EQ(a, json({{"decimal", canonicalDecimal(std::get<Decimal>(v).text, field.scale)}})) << where;
      break;
    case FieldType::Boolean: break;
  }
}

void expectTableReadsBack(const std::filesystem::path& file, const std::string& password, const Table& table,
                          uint64_t rowCount, const std::function<void(uint64_t, Row&)>& make) {
  TextRows lib = libmdbRows(file, table.name);
  nlohmann::json dump = testsupport::mdbReaderDump(file, password, table.name);
  ASSERT_TRUE(dump.is_object()) << file;
  const nlohmann::json& t = dump["tables"][0];
  EXPECT_EQ(t["name"], table.name);
  EXPECT_EQ(t["rowCount"], rowCount);
  ASSERT_EQ(t["rows"].size(), rowCount) << "mdb-reader rows of " << table.name;
  ASSERT_EQ(lib.size(), rowCount) << "libmdb rows of " << table.name;
  const nlohmann::json& cols = t["columns"];
  ASSERT_EQ(cols.size(), table.fields.size());
  for (size_t c = 0; c < table.fields.size(); ++c) {
    EXPECT_EQ(cols[c]["name"], table.fields[c].name);
    EXPECT_EQ(cols[c]["type"], readerType(table.fields[c].type)) << table.fields[c].name;
  }
  Row row;
  for (uint64_t i = 0; i < rowCount; ++i) {
    make(i, row);
    ASSERT_EQ(lib[i].size(), table.fields.size()) << "libmdb record " << i;
    for (size_t c = 0; c < table.fields.size(); ++c) {
      std::string where = table.name + " record " + std::to_string(i) + " field " + table.fields[c].name;
      expectLibmdbValue(table.fields[c], row[c], lib[i][c], "libmdb: " + where);
      expectReaderValue(table.fields[c], row[c], t["rows"][i][c], "mdb-reader: " + where);
    }
    if (::testing::Test::HasFailure()) return;  // one bad record says enough
  }
}

}  // namespace writertest
