// Writes Access databases (.mdb Jet4, .accdb ACE) of exactly chosen content, for tests,
// demos and benchmarks. Rows stream from a callback; pages go to disk as they fill, so a
// table of millions of records needs no more memory than one of ten.
//
//   accesswriter::Table t{"Customers", {{"Id", FieldType::Long}, {"Name", FieldType::Text, 50}},
//                         accesswriter::rowsFrom({{int64_t{1}, std::string("Ann")}})};
//   accesswriter::writeDatabase("shop.mdb", {}, {t});
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace accesswriter {

enum class Format {
  Jet4,   // Access 2000-2003 .mdb
  Ace12,  // Access 2007 .accdb
  Ace16,  // Access 2016 .accdb: the only one that has Large Number fields
};

enum class FieldType {
  Boolean,   // Yes/No: lives in the row's null mask, so it is never null (a null writes No)
  Byte,      // 0..255
  Integer,   // 16-bit
  Long,      // 32-bit Long Integer
  Currency,  // 64-bit ten-thousandths
  Single,    // float
  Double,
  DateTime,  // double day number since 1899-12-30
  Text,      // up to `size` characters (1..255)
  Memo,      // Memo / Long Text, any length (stored inline or on long-value pages)
  Binary,    // OLE Object: any bytes, stored like a memo
  Guid,      // Replication ID
  Decimal,   // Numeric with `precision` (1..28) and `scale` (0..precision)
  BigInt,    // Large Number, 64-bit; Ace16 only
};

struct Field {
  std::string name;
  FieldType type = FieldType::Long;
  int size = 255;      // Text only: maximum number of characters (UTF-16 units)
  int precision = 18;  // Decimal only
  int scale = 0;       // Decimal only
  // The stored result of an expression (Access 2010 and later; fixed-size types but Guid, and
  // Decimal, each value with the scale its text is written with, up to 28 digits after the point).
  // A Bytes value in such a field is stored as it is, wrapper or not.
  bool calculated = false;
};

// Value kinds. Which kind a field takes: Boolean bool; Byte, Integer, Long, BigInt int64_t;
// Currency Currency; Single, Double double; DateTime Date; Text, Memo std::string (UTF-8);
// Binary Bytes; Guid Guid; Decimal Decimal. Null goes anywhere.
struct Null {};
struct Currency {
  int64_t tenThousandths = 0;  // 12.3456 is 123456
};
struct Date {
  double days = 0;  // as stored: whole days since 1899-12-30, the fraction is the time of day
};
struct Decimal {
  std::string text;  // "-1234.56": at most the field's scale in decimals, at most 28 digits
};
struct Bytes {
  std::string data;
};
struct Guid {
  std::array<uint8_t, 16> bytes{};  // as stored: Data1..Data3 little-endian, then Data4
};

using Value = std::variant<Null, bool, int64_t, double, Currency, Date, Decimal, std::string, Bytes, Guid>;
using Row = std::vector<Value>;  // one value per field, in field order

// Fills `row` with the next record and returns true, or returns false when there are no more.
// `row` keeps its previous contents between calls (reuse its storage).
using RowSource = std::function<bool(Row& row)>;

struct Table {
  std::string name;  // any name Access allows; "MSys..." names are ordinary user tables here
  std::vector<Field> fields;
  RowSource rows;  // empty: a table without records
};

// A table of another database, named in the catalog and holding no records of its own (a "split"
// database's front end links to the tables of its back end).
struct Link {
  std::string name;         // the name this database gives it
  std::string database;     // the linked file's path as stored (Windows paths are fine)
  std::string foreignName;  // the table's name in that file
  std::string connect;      // "" or ";PWD=..." for an Access file; "Excel 12.0 Xml;...", "ODBC;DSN=..." otherwise
  bool odbc = false;        // a table of an ODBC source rather than of a file
};

// A catalog row of an object that is no table (a form, report, macro or module): a name and a
// type, nothing more, so that readers can be shown to pass it by.
struct CatalogObject {
  std::string name;
  int type = 0;  // MSysObjects.Type, e.g. jetfmt::kObjectReport
};

struct Options {
  Format format = Format::Jet4;
  std::string password;        // database password (at most 20 characters); empty for none
  double creationDate = 45658.5;  // stored in the header; Access masks the password with it
  bool compressText = true;    // Text and Memo use Access's compressed Unicode where it fits
  uint32_t pageKey = 0;        // Jet4: non-zero RC4-encodes every page but the header with it
  std::vector<Link> links;     // listed in the catalog after the tables, in this order
  std::vector<CatalogObject> objects;  // listed after the links
};

struct Summary {
  std::vector<uint64_t> rowCounts;  // records written, per table in the given order
  uint64_t pages = 0;               // pages in the file (4096 bytes each)
};

// Raised for bad input (unknown value kind for a field, text too long, BigInt outside Ace16,
// file too large) and for I/O failures; the message names the file, table, field and record.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the database; tables appear in readers' catalogs in the given order.
Summary writeDatabase(const std::filesystem::path& file, const Options& options,
                      const std::vector<Table>& tables);

// A RowSource over rows held in memory (for small tables in tests).
RowSource rowsFrom(std::vector<Row> rows);

// "{01234567-89AB-CDEF-0123-456789ABCDEF}" for a stored GUID, as Access shows it, and back
// (throws Error on malformed text).
std::string guidText(const Guid& guid);
Guid guidFromText(const std::string& text);

}  // namespace accesswriter
