// The query engine on a 1,000,000-record table: reading the table through its cursor (what a
// conversion of the table reads), a saved SELECT * over it, and a join to a 1,000-record table
// grouped by the small table's key. One measure a process, so that each peak memory is its own.
//
//   bench_queries write DB.mdb [ROWS]
//   bench_queries table|select|join DB.mdb
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "source/database_file.h"
#include "source/jet/table_cursor.h"
#include "source/query/run_query.h"
#include "tools/accesswriter/access_writer.h"

namespace {

using namespace accesswriter;

constexpr uint64_t kSmallRows = 1000;

void write(const char* path, uint64_t rows) {
  std::vector<Field> big{{"Id", FieldType::Long}, {"GroupKey", FieldType::Long}, {"Label", FieldType::Text},
                         {"Measure", FieldType::Double}, {"Stamp", FieldType::DateTime}, {"Amount", FieldType::Currency},
                         {"Flag", FieldType::Boolean}, {"Small", FieldType::Integer}, {"Note", FieldType::Memo},
                         {"Ratio", FieldType::Single}};
  for (Field& f : big) f.size = 40;
  uint64_t n = 0;
  RowSource bigRows = [&](Row& row) {
    if (n >= rows) return false;
    ++n;
    uint64_t k = n * 2654435761u;
    row = {int64_t(n), int64_t(k % kSmallRows + 1), "item " + std::to_string(k % 100000), double(k % 1000000) / 128.0,
           Date{36526.0 + double(k % 9000)}, Currency{int64_t(k % 100000000)}, (k & 1) != 0, int64_t(k % 30000),
           "note " + std::to_string(n), double(k % 4096) / 8.0};
    return true;
  };
  std::vector<Field> small{{"Key", FieldType::Long}, {"Name", FieldType::Text}};
  small[1].size = 40;
  uint64_t m = 0;
  RowSource smallRows = [&](Row& row) {
    if (m >= kSmallRows) return false;
    ++m;
    row = {int64_t(m), "group " + std::to_string(m)};
    return true;
  };
  writeDatabase(path, {}, {Table{"Big", big, bigRows}, Table{"Small", small, smallRows}});
}

uint64_t drain(RecordStream& records) {
  uint64_t count = 0;
  std::vector<Variant> values;
  while (records.next(values)) ++count;
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_queries write|table|select|join DB [ROWS]\n");
    return 2;
  }
  std::string mode = argv[1];
  auto start = std::chrono::steady_clock::now();
  uint64_t records = 0;
  if (mode == "write") {
    write(argv[2], argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1000000);
    return 0;
  }
  auto file = openDatabaseFile(argv[2], "");
  if (mode == "table") {
    for (const CatalogTable& t : file->tables) {
      if (t.name != "Big") continue;
      TableCursor cursor(file, t);
      std::vector<Variant> values;
      while (cursor.next(values)) ++records;
    }
  } else {
    SavedQuery query{"Bench", QueryKind::Select, 0, "SELECT * FROM Big", {}};
    if (mode == "join")
      query.sql = "SELECT Small.Key, Small.Name, Count(*) AS Records, Sum(Big.Amount) AS Total "
                  "FROM Big INNER JOIN Small ON Big.GroupKey = Small.Key GROUP BY Small.Key, Small.Name";
    records = drain(*openQueryRecords(file, query, {}));
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s: %llu records, %.2f s wall, %.2f s CPU, peak %.1f MB\n", mode.c_str(),
              static_cast<unsigned long long>(records), seconds,
              usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
              usage.ru_maxrss / 1024.0);
  return 0;
}
