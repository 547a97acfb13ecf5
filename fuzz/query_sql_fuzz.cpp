// libFuzzer entry point for the SQL of saved queries: each input is the SQL text of a query,
// parsed, translated and run as a saved query of the demo shop database (every field type, some
// hundred records a table, a few saved queries of its own to build on), every parameter given a
// value. A ComError is the expected answer to SQL Access would refuse; a crash, a sanitizer
// report, leaked memory or a hang is a finding. Runs are bounded in engine steps and time, so a
// cross join of every table ends in a ComError rather than a timeout.
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/memory_file.h"
#include "source/com_error.h"
#include "source/dao_types.h"
#include "source/database_file.h"
#include "source/query/run_query.h"
#include "source/saved_query.h"
#include "tools/mkdb/databases.h"

namespace {

constexpr size_t kLongestSql = 8192;
// Well under libFuzzer's timeout: one step may format a long text, hence the time too.
constexpr QueryBounds kBounds{20000, 2000};
constexpr int kMostRecords = 500;

// Queries the inputs may name in FROM: a plain select, a parameter query and a crosstab.
const SavedQuery kSavedQueries[] = {
    {"Big Orders", QueryKind::Select, 0, "SELECT OrderId, CustomerId, Total FROM Orders WHERE Total > 500;", {}},
    {"Orders Since", QueryKind::Select, 0,
     "PARAMETERS [Since] DateTime; SELECT * FROM Orders WHERE OrderDate >= [Since];", {{"Since", dbDate}}},
    {"Lines by Product", QueryKind::Crosstab, 0,
     "TRANSFORM Sum(Quantity) AS Q SELECT ProductId FROM [Order Lines] GROUP BY ProductId PIVOT Discount;", {}},
};

std::shared_ptr<DatabaseFile> shop;

QueryKind kindOf(const std::string& sql) {
  size_t at = 0;
  while (at < sql.size() && (std::isspace(static_cast<unsigned char>(sql[at])) || sql[at] == '(')) ++at;
  std::string word;
  while (at < sql.size() && std::isalpha(static_cast<unsigned char>(sql[at])) && word.size() < 9)
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[at++])));
  return word == "TRANSFORM" ? QueryKind::Crosstab : QueryKind::Select;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Written once into a folder of its own and kept open: the reader holds the file from here on.
  static ScratchFolder folder("query-sql-fuzz");
  const std::filesystem::path path = folder.path() / "shop.accdb";
  mkdb::writeSample(path);
  shop = openDatabaseFile(path.string(), "");
  for (const SavedQuery& q : kSavedQueries) shop->queries.push_back(q);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kLongestSql) return 0;
  std::string sql(reinterpret_cast<const char*>(data), size);
  const QueryKind kind = kindOf(sql);
  const SavedQuery query{"Fuzz", kind, 0, std::move(sql), {}};
  try {
    QueryParameterValues values;
    for (const QueryParameter& p : queryParameters(shop, query)) values.push_back({p.name, "1"});
    auto records = openQueryRecords(shop, query, values, kBounds);
    std::vector<Variant> row;
    for (int read = 0; read < kMostRecords && records->next(row); ++read) {
    }
  } catch (const ComError&) {
  }
  return 0;
}
