#include <fstream>
#include <memory>
#include <string>

#include "tools/mkdb/databases.h"

namespace mkdb {

using namespace accesswriter;

namespace {

// A small deterministic generator, so every run writes the same shop.
struct Dice {
  uint64_t state = 20240611;
  uint32_t next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return uint32_t(state >> 33);
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

const char* const kFirst[] = {"Anna", "Björn", "Chloé", "Dmitri", "Eva", "François", "Grete",
                              "Hiroshi", "Inés", "Jan", "Katarzyna", "Lars", "Małgorzata", "Nils"};
const char* const kLast[] = {"Müller", "O'Brien", "Smith", "Søndergaard", "Łukasiewicz", "Tanaka",
                             "García", "Nowak", "Dubois", "Jensen", "Rossi", "Kowalski"};
const char* const kCities[] = {"Zürich", "Kraków", "København", "東京", "Zaragoza", "Lyon",
                               "Hamburg", "Ørsted", "Genève", "São Paulo"};
const char* const kProducts[] = {"Tea", "Coffee", "Cocoa", "Honey", "Jam", "Oats", "Rice",
                                 "Lentils", "Olive oil", "Vinegar"};
const char* const kKinds[] = {"organic", "classic", "premium", "fair-trade", "small pack"};

Row customer(Dice& d, int id) {
  std::string name = std::string(kFirst[d.below(14)]) + " " + kLast[d.below(12)];
  Row r;
  r.push_back(int64_t(id));
  r.push_back(name);
  if (id % 9 == 0) r.push_back(Null{});
  else r.push_back("customer" + std::to_string(id) + "@example.com");
  r.push_back(std::string(kCities[d.below(10)]));
  r.push_back(id % 4 != 0);
  r.push_back(Currency{int64_t(d.below(500)) * 100 * 10000 + 2500});
  r.push_back(Date{40179.0 + d.below(5000) + double(d.below(86400)) / 86400.0});
  if (id % 50 == 0) r.push_back(std::string(3000 + id, 'x') + " long notes end");
  else if (id % 7 == 0) r.push_back(Null{});
  else if (id % 11 == 0) r.push_back(std::string());
  else r.push_back("Prefers delivery before noon 🚚 (#" + std::to_string(id) + ")");
  Guid g;
  for (size_t b = 0; b < 16; ++b) g.bytes[b] = uint8_t(d.next());
  r.push_back(g);
  return r;
}

Row product(Dice& d, int id) {
  Row r;
  r.push_back(int64_t(id));
  r.push_back(std::string(kProducts[id % 10]) + ", " + kKinds[(id / 10) % 5]);
  r.push_back(int64_t(1 + id % 12));
  r.push_back(Currency{int64_t(99 + d.below(9000)) * 100});
  r.push_back(double(d.below(5000)) / 4.0);
  r.push_back(double(d.below(1000)) / 200.0 + 1.0);
  r.push_back(int64_t(d.below(2000)) - 100);
  r.push_back(id % 13 == 0);
  if (id % 5 == 0) r.push_back(Null{});
  else {
    std::string bytes = "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < 40 + id; ++i) bytes += char(d.next());
    r.push_back(Bytes{bytes});
  }
  r.push_back(Decimal{id % 3 == 0 ? "0.0700" : "0.1900"});
  return r;
}

}  // namespace

Summary writeSample(const std::filesystem::path& path) {
  Options options;
  options.format = formatFor(path);
  bool bigint = options.format == Format::Ace16;
  const int kCustomers = 200, kProductsCount = 100, kOrders = 300, kLines = 400;

  Table customers{"Customers",
                  {{"CustomerId", FieldType::Long},
                   {"Name", FieldType::Text, 60},
                   {"Email", FieldType::Text, 100},
                   {"City", FieldType::Text, 40},
                   {"Active", FieldType::Boolean},
                   {"CreditLimit", FieldType::Currency},
                   {"Joined", FieldType::DateTime},
                   {"Notes", FieldType::Memo},
                   {"CustomerGuid", FieldType::Guid}},
                  {}};
  auto dc = std::make_shared<Dice>();
  auto ic = std::make_shared<int>(0);
  customers.rows = [dc, ic](Row& row) {
    if (*ic >= kCustomers) return false;
    row = customer(*dc, ++*ic);
    return true;
  };

  Table products{"Products",
                 {{"ProductId", FieldType::Long},
                  {"ProductName", FieldType::Text, 80},
                  {"Category", FieldType::Byte},
                  {"UnitPrice", FieldType::Currency},
                  {"Weight", FieldType::Single},
                  {"Rating", FieldType::Double},
                  {"Stock", FieldType::Integer},
                  {"Discontinued", FieldType::Boolean},
                  {"Photo", FieldType::Binary},
                  {"TaxRate", FieldType::Decimal, 255, 5, 4}},
                 {}};
  auto dp = std::make_shared<Dice>();
  dp->state = 7;
  auto ip = std::make_shared<int>(0);
  products.rows = [dp, ip](Row& row) {
    if (*ip >= kProductsCount) return false;
    row = product(*dp, ++*ip);
    return true;
  };

  Table orders{"Orders",
               {{"OrderId", FieldType::Long},
                {"CustomerId", FieldType::Long},
                {"OrderDate", FieldType::DateTime},
                {"ShipDate", FieldType::DateTime},
                {"Total", FieldType::Currency},
                {"Comment", FieldType::Text, 255}},
               {}};
  if (bigint) orders.fields.push_back({"TrackingNumber", FieldType::BigInt});
  auto io = std::make_shared<int>(0);
  orders.rows = [io, bigint](Row& row) {
    if (*io >= kOrders) return false;
    int id = ++*io;
    double day = 44197.0 + id * 1.5;
    row = {int64_t(id), int64_t(1 + (id * 37) % kCustomers), Date{day},
           id % 6 == 0 ? Value{Null{}} : Value{Date{day + 2.25}},
           Currency{int64_t(id) * 123456 % 99999999},
           id % 4 == 0 ? Value{Null{}} : Value{"Order " + std::to_string(id) + " – thank you"}};
    if (bigint) row.push_back(int64_t(9007199254740993LL + id));
    return true;
  };

  Table lines{"Order Lines",
              {{"LineId", FieldType::Long},
               {"OrderId", FieldType::Long},
               {"ProductId", FieldType::Long},
               {"Quantity", FieldType::Integer},
               {"Price", FieldType::Currency},
               {"Discount", FieldType::Decimal, 255, 5, 2}},
              {}};
  auto il = std::make_shared<int>(0);
  lines.rows = [il](Row& row) {
    if (*il >= kLines) return false;
    int id = ++*il;
    row = {int64_t(id), int64_t(1 + (id - 1) * kOrders / kLines), int64_t(1 + (id * 13) % kProductsCount),
           int64_t(1 + id % 9), Currency{int64_t(99 + id * 7) * 100},
           id % 10 == 0 ? Value{Decimal{"12.50"}} : Value{Decimal{"0"}}};
    return true;
  };

  Table notes{"MSysNotes", {{"NoteId", FieldType::Long}, {"Note", FieldType::Text, 200}},
              rowsFrom({{int64_t(1), std::string("Not a system table, though its name looks like one")},
                        {int64_t(2), std::string("Converters skip tables named MSys...")},
                        {int64_t(3), Null{}},
                        {int64_t(4), std::string("")},
                        {int64_t(5), std::string("end")}})};

  Summary s = writeDatabase(path, options, {customers, products, orders, lines, notes});

  std::filesystem::path ini = path;
  ini.replace_extension("ini");
  std::ofstream out(ini, std::ios::binary | std::ios::trunc);
  out << "[FIELDS]\r\n"
         "CustomerId=Customer number\r\n"
         "Name=Customer name\r\n"
         "CreditLimit=Credit limit\r\n"
         "ProductName=Product\r\n"
         "UnitPrice=Unit price\r\n"
         "OrderDate=Ordered on\r\n";
  if (!out.flush()) throw Error("cannot write " + ini.string());
  return s;
}

}  // namespace mkdb
