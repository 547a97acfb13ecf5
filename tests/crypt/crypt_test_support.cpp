#include "tests/crypt/crypt_test_support.h"

#include <cstdio>
#include <span>

#include "source/engine.h"
#include "tests/support/test_support.h"

namespace crypttest {
namespace {

nlohmann::json valueJson(const Variant& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return nullptr;
    case VT_BSTR: return v.text;
    case VT_R4:
    case VT_R8:
    case VT_DATE: return v.real;
    case VT_DECIMAL: return decimalToText(v.decimal);
    case VT_BYTES: {
      std::string hex;
      char digits[3];
      for (uint8_t b : v.bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        hex += digits;
      }
      return {{"bytes", hex}};
    }
    case VT_EXT_DATE: {
      const ExtendedDateValue& d = v.extendedDate;
      return {d.year, d.month, d.day, d.hour, d.minute, d.second, d.fraction};
    }
    default: return v.integer;  // Yes/No, the integers, currency
  }
}

}  // namespace

CipherResult openCipherOfFile(const std::string& path, const std::string& password) {
  std::string bytes = testsupport::readFileBytes(path);
  auto data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::span<const unsigned char> header(data, std::min<size_t>(bytes.size(), kAccessPageSize));
  return openOfficeCipher(header, bytes.size(), path, password);
}

std::string decryptPages(const std::string& encrypted, const OfficePageCipher& cipher) {
  std::string plain = encrypted;
  auto data = reinterpret_cast<unsigned char*>(plain.data());
  for (size_t page = 0; (page + 1) * kAccessPageSize <= plain.size(); ++page) {
    std::span<unsigned char, kAccessPageSize> bytes(data + page * kAccessPageSize, kAccessPageSize);
    if (!cipher.decryptPage(static_cast<uint32_t>(page), bytes)) return {};
  }
  return plain;
}

nlohmann::json engineDump(const std::string& path, const std::string& password) {
  std::shared_ptr<Database> db;
  try {
    db = DBEngine(EngineFlavour::Dao120).OpenDatabase(path, 0, true, ";pwd=" + password);
  } catch (const ComError&) {
    return nlohmann::json();
  }
  nlohmann::json tables = nlohmann::json::array();
  ::TableDefs defs = db->TableDefs();
  for (int t = 0; t < defs.Count(); ++t) {
    std::string name = defs.Item(t).Name();
    if (name.rfind("MSys", 0) == 0) continue;
    nlohmann::json rows = nlohmann::json::array();
    auto rs = db->OpenRecordset(name);
    ::Fields fields = rs->Fields();
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
      nlohmann::json row = nlohmann::json::array();
      for (int f = 0; f < fields.Count(); ++f) row.push_back(valueJson(fields.Item(f).Value()));
      rows.push_back(std::move(row));
    }
    tables.push_back({{"name", name}, {"rows", std::move(rows)}});
  }
  return {{"tables", std::move(tables)}};
}

}  // namespace crypttest
