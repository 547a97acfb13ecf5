#include <cctype>
#include <memory>
#include <string>

#include "tools/mkdb/databases.h"

namespace mkdb {

using namespace accesswriter;

Format formatFor(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  for (auto& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".mdb" ? Format::Jet4 : Format::Ace16;
}

Summary writeSynthetic(const std::filesystem::path& path, uint64_t rows, int columns, int tables) {
  Options options;
  options.format = formatFor(path);
  // The mix repeats across the columns; the first column is the record number.
  std::vector<FieldType> mix{FieldType::Long,     FieldType::Text,    FieldType::Double,
                             FieldType::DateTime, FieldType::Currency, FieldType::Boolean,
                             FieldType::Integer,  FieldType::Memo,     FieldType::Decimal,
                             FieldType::Single,   FieldType::Byte,     FieldType::Guid};
  if (options.format == Format::Ace16) mix.push_back(FieldType::BigInt);
  std::vector<Field> fields;
  for (int c = 0; c < columns; ++c) {
    Field f;
    f.type = mix[size_t(c) % mix.size()];
    f.name = c == 0 ? "Id" : "Column" + std::to_string(c + 1);
    f.size = 40;
    f.precision = 12;
    f.scale = 2;
    fields.push_back(f);
  }
  // Each table counts its own records.
  auto makeSource = [rows, fields] {
    auto counter = std::make_shared<uint64_t>(0);
    return RowSource([rows, fields, counter](Row& row) {
      uint64_t& n = *counter;
      if (n >= rows) return false;
      ++n;
      row.resize(fields.size());
      for (size_t c = 0; c < fields.size(); ++c) {
        uint64_t k = n * 2654435761u + c * 40503u;
        if (c > 0 && k % 17 == 0) {
          row[c] = Null{};
          continue;
        }
        switch (fields[c].type) {
          case FieldType::Long: row[c] = int64_t(c == 0 ? n : k % 2000000000); break;
          case FieldType::Text: row[c] = "item " + std::to_string(k % 100000); break;
          case FieldType::Double: row[c] = double(k % 1000000) / 128.0; break;
          case FieldType::DateTime: row[c] = Date{36526.0 + double(k % 9000) + double(k % 86400) / 86400.0}; break;
          case FieldType::Currency: row[c] = Currency{int64_t(k % 100000000) - 50000000}; break;
          case FieldType::Boolean: row[c] = (k & 1) != 0; break;
          case FieldType::Integer: row[c] = int64_t(k % 65536) - 32768; break;
          case FieldType::Memo: row[c] = "note " + std::to_string(n) + " of the synthetic table"; break;
          case FieldType::Decimal: row[c] = Decimal{std::to_string(k % 1000000) + "." + std::to_string(10 + k % 90)}; break;
          case FieldType::Single: row[c] = double(k % 4096) / 8.0; break;
          case FieldType::Byte: row[c] = int64_t(k % 256); break;
          case FieldType::BigInt: row[c] = int64_t(k) * 1000003; break;
          case FieldType::Guid: {
            Guid g;
            for (size_t b = 0; b < 16; ++b) g.bytes[b] = uint8_t((k >> (b % 8 * 8)) ^ b);
            row[c] = g;
            break;
          }
          default: row[c] = Null{}; break;
        }
      }
      return true;
    });
  };
  std::vector<Table> list;
  for (int t = 0; t < tables; ++t)
    list.push_back(Table{t == 0 ? "Synthetic" : "Synthetic" + std::to_string(t + 1), fields, makeSource()});
  return writeDatabase(path, options, list);
}

}  // namespace mkdb
