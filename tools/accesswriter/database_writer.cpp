// The whole file: header, catalog, tables, usage maps.
#include <cmath>
#include <cstring>
#include <memory>
#include <system_error>

#include "source/jet_header_mask.h"
#include "tools/accesswriter/access_writer.h"
#include "tools/accesswriter/encoding.h"
#include "tools/accesswriter/page_file.h"
#include "tools/accesswriter/table_writer.h"

namespace accesswriter {
namespace {

const uint8_t kNoOwner[4] = {0, 0, 0, 0};

Table catalogTable() {
  return Table{"MSysObjects",
               {{"Id", FieldType::Long},
                {"ParentId", FieldType::Long},
                {"Name", FieldType::Text, 128},
                {"Type", FieldType::Integer},
                {"DateCreate", FieldType::DateTime},
                {"DateUpdate", FieldType::DateTime},
                {"Flags", FieldType::Long},
                {"Database", FieldType::Memo},
                {"Connect", FieldType::Memo},
                {"ForeignName", FieldType::Text, 128},
                {"Lv", FieldType::Binary},
                {"LvProp", FieldType::Binary},
                {"LvModule", FieldType::Binary},
                {"LvExtra", FieldType::Binary}},
               {}};
}

// Columns of catalogTable() that only links fill.
constexpr size_t kCatalogDatabase = 7, kCatalogConnect = 8, kCatalogForeignName = 9;
constexpr uint32_t kFirstLinkId = 0x00C00000;

Row catalogRow(uint32_t id, uint32_t parent, const std::string& name, int type, uint32_t flags,
               double date) {
  Row r(14, Null{});
  r[0] = int64_t(int32_t(id));
  r[1] = int64_t(int32_t(parent));
  r[2] = name;
  r[3] = int64_t(type);
  r[4] = Date{date};
  r[5] = Date{date};
  r[6] = int64_t(int32_t(flags));
  return r;
}

// The used-pages map of a table: the inline kind when its pages span little, otherwise the
// reference kind, whose bitmap pages are written here.
std::vector<uint8_t> usageMap(PageFile& file, const std::vector<uint32_t>& pages) {
  std::vector<uint8_t> row;
  if (pages.empty()) {
    row.assign(5, 0);
    return row;
  }
  uint32_t first = pages.front(), last = pages.back();
  uint32_t span = last - first + 1;
  if (span <= fmt::kMapInlineMaxBytes * 8) {
    row.assign(5 + (span + 7) / 8, 0);
    row[0] = fmt::kMapInline;
    le::put32(&row[1], first);
    for (uint32_t p : pages) row[5 + (p - first) / 8] |= uint8_t(1u << ((p - first) % 8));
    return row;
  }
  uint32_t maps = last / fmt::kPagesPerBitmapPage + 1;
  row.assign(1 + 4 * size_t(maps), 0);
  row[0] = fmt::kMapReference;
  size_t i = 0;
  for (uint32_t m = 0; m < maps; ++m) {
    uint32_t base = m * fmt::kPagesPerBitmapPage;
    if (i == pages.size() || pages[i] >= base + fmt::kPagesPerBitmapPage) continue;
    PageBytes bitmap{};
    bitmap[0] = fmt::kPageUsageBitmap;
    bitmap[1] = 0x01;
    for (; i < pages.size() && pages[i] < base + fmt::kPagesPerBitmapPage; ++i) {
      uint32_t bit = pages[i] - base;
      bitmap[fmt::kMapBitmapStart + bit / 8] |= uint8_t(1u << (bit % 8));
    }
    uint32_t page = file.allocate();
    file.write(page, bitmap);
    le::put32(&row[1 + 4 * size_t(m)], page);
  }
  return row;
}

PageBytes headerPage(const Options& o) {
  PageBytes p{};
  p[0] = fmt::kPageHeader;
  p[1] = fmt::kHdrMagic;
  const char* engine = o.format == Format::Jet4 ? "Standard Jet DB" : "Standard ACE DB";
  std::memcpy(&p[fmt::kHdrEngineName], engine, std::strlen(engine) + 1);
  p[fmt::kHdrVersion] = o.format == Format::Jet4    ? fmt::kVersionJet4
                        : o.format == Format::Ace12 ? fmt::kVersionAce12
                                                    : fmt::kVersionAce16;
  le::put16(&p[fmt::kHdrCodePage], fmt::kCodePage1252);
  le::put32(&p[fmt::kHdrDbKey], o.pageKey);  // non-zero: every other page is RC4-encoded
  le::put16(&p[fmt::kHdrLangId], fmt::kLangGeneral);
  enc::putDouble(&p[fmt::kHdrCreationDate], o.creationDate);
  // The password, UTF-16LE padded with zeros, masked with the creation day repeated.
  std::u16string units = enc::utf16FromUtf8(o.password);
  uint8_t mask[4];
  le::put32(mask, uint32_t(int32_t(std::floor(o.creationDate))));
  for (uint32_t i = 0; i < fmt::kHdrPasswordBytes; ++i) {
    uint8_t b = 0;
    if (i / 2 < units.size()) b = uint8_t(units[i / 2] >> (8 * (i % 2)));
    p[fmt::kHdrPassword + i] = b ^ mask[i % 4];
  }
  fmt::toggleHeaderMask(p.data(), p.size());
  return p;
}

std::string upper(const std::string& s) {
  std::string r = s;
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return r;
}

Summary writeAll(PageFile& file, const Options& options, const std::vector<Table>& tables) {
  const std::string& name = file.name();
  std::u16string password;
  try {
    password = enc::utf16FromUtf8(options.password);
  } catch (const std::invalid_argument& e) {
    throw Error(name + ": the password is not UTF-8 (" + e.what() + ")");
  }
  if (password.size() > fmt::kHdrPasswordBytes / 2)
    throw Error(name + ": a database password has at most 20 characters");
  if (options.pageKey != 0 && options.format != Format::Jet4)
    throw Error(name + ": only Jet4 files encode their pages with a key");
  file.encodePages(options.pageKey);

  std::vector<std::string> names;
  for (const auto& t : tables) names.push_back(t.name);
  for (const auto& l : options.links) names.push_back(l.name);
  std::vector<std::string> seen{"MSYSOBJECTS"};
  for (const auto& tableName : names) {
    std::string key = upper(tableName);
    for (const auto& s : seen)
      if (s == key)
        throw Error(name + ": the table name \"" + tableName + "\" is " +
                    (key == "MSYSOBJECTS" ? "the catalog's own" : "used twice"));
    seen.push_back(key);
  }

  uint32_t header = file.allocate();
  uint32_t holder = file.allocate();
  Table catalog = catalogTable();
  TableLayout catalogLayout = layoutTable(name, catalog, options, true);
  reserveDefinitionPages(file, catalogLayout);
  if (header != 0 || holder != 1 || catalogLayout.definitionPages != std::vector<uint32_t>{fmt::kCatalogPage})
    throw Error(name + ": internal page layout error");

  std::vector<TableLayout> layouts;
  layouts.reserve(tables.size());
  for (const auto& t : tables) {
    layouts.push_back(layoutTable(name, t, options, false));
    reserveDefinitionPages(file, layouts.back());
  }

  Summary summary;
  Row row;
  for (size_t i = 0; i < tables.size(); ++i) {
    TableStream stream(file, layouts[i]);
    while (tables[i].rows) {
      bool more = false;
      try {
        more = tables[i].rows(row);
      } catch (const std::exception& e) {
        throw Error(name + ": table \"" + tables[i].name + "\", record " +
                    std::to_string(layouts[i].rowCount + 1) + ": " + e.what());
      }
      if (!more) break;
      stream.add(row);
    }
    stream.finish();
    summary.rowCounts.push_back(layouts[i].rowCount);
  }

  {
    // Readers list tables in the catalog's row order, which is the caller's order.
    TableStream stream(file, catalogLayout);
    double date = options.creationDate;
    stream.add(catalogRow(fmt::kContainerTablesId, fmt::kContainerRootId, "Tables",
                          fmt::kObjectContainer, 0, date));
    stream.add(catalogRow(fmt::kCatalogPage, fmt::kContainerTablesId, "MSysObjects",
                          fmt::kObjectTable, fmt::kFlagSystemObject, date));
    for (const auto& t : layouts)
      stream.add(catalogRow(t.definitionPages[0], fmt::kContainerTablesId, t.name,
                            fmt::kObjectTable, 0, date));
    // A link's Id names no page of this file: ids far above its pages keep them apart.
    uint32_t linkId = kFirstLinkId;
    for (const auto& l : options.links) {
      Row r = catalogRow(linkId++, fmt::kContainerTablesId, l.name,
                         l.odbc ? fmt::kObjectOdbcTable : fmt::kObjectLinkedTable, 0, date);
      r[kCatalogDatabase] = l.database;
      r[kCatalogConnect] = l.connect;
      r[kCatalogForeignName] = l.foreignName;
      stream.add(r);
    }
    for (const auto& o : options.objects)
      stream.add(catalogRow(linkId++, fmt::kContainerRootId, o.name, o.type, 0, date));
    stream.finish();
  }

  RowPage maps;
  maps.open(holder, kNoOwner);
  std::vector<uint8_t> emptyMap(5, 0);
  uint32_t freeMap = maps.add(emptyMap.data(), emptyMap.size());
  auto place = [&](TableLayout& t) {
    std::vector<uint8_t> map = usageMap(file, t.dataPages);
    if (!maps.fits(map.size())) {
      maps.flush(file);
      maps.open(file.allocate(), kNoOwner);
    }
    uint32_t used = maps.add(map.data(), map.size());
    writeDefinition(file, t, used, freeMap);
  };
  place(catalogLayout);
  for (auto& t : layouts) place(t);
  maps.flush(file);

  file.write(0, headerPage(options));
  summary.pages = file.pageCount();
  return summary;
}

}  // namespace

Summary writeDatabase(const std::filesystem::path& path, const Options& options,
                      const std::vector<Table>& tables) {
  PageFile file(path);
  try {
    Summary s = writeAll(file, options, tables);
    file.finish();
    return s;
  } catch (...) {
    // A half-written database must not look like a finished one.
    std::error_code ec;
    std::filesystem::remove(path, ec);
    throw;
  }
}

RowSource rowsFrom(std::vector<Row> rows) {
  auto held = std::make_shared<std::vector<Row>>(std::move(rows));
  auto next = std::make_shared<size_t>(0);
  return [held, next](Row& row) {
    if (*next >= held->size()) return false;
    row = (*held)[(*next)++];
    return true;
  };
}

std::string guidText(const Guid& g) {
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static const char kHex[] = "0123456789ABCDEF";
  std::string s = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
    uint8_t b = g.bytes[size_t(kOrder[i])];
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s + "}";
}

Guid guidFromText(const std::string& text) {
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string hex;
  for (char c : text)
    if (c != '{' && c != '}' && c != '-') hex += c;
  auto nibble = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw Error("malformed GUID \"" + text + "\"");
  };
  if (hex.size() != 32) throw Error("malformed GUID \"" + text + "\"");
  Guid g;
  for (int i = 0; i < 16; ++i)
    g.bytes[size_t(kOrder[i])] = uint8_t(nibble(hex[2 * size_t(i)]) * 16 + nibble(hex[2 * size_t(i) + 1]));
  return g;
}

}  // namespace accesswriter
