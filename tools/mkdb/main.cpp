// quarlex-mkdb: writes Access databases for demos and benchmarks.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/mkdb/databases.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: quarlex-mkdb --sample PATH\n"
               "       quarlex-mkdb --synthetic PATH --rows N --columns M [--tables T]\n"
               "PATH ending in .mdb writes an Access 2000-2003 file, .accdb an Access 2016 file.\n");
  return 2;
}

bool number(const char* text, uint64_t& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (*end || text[0] == '-') return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode, path;
  uint64_t rows = 0, columns = 0, tables = 1;
  bool haveRows = false, haveColumns = false, haveTables = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if ((a == "--sample" || a == "--synthetic") && next && mode.empty()) {
      mode = a;
      path = next;
      ++i;
    } else if (a == "--rows" && number(next, rows)) {
      haveRows = true;
      ++i;
    } else if (a == "--columns" && number(next, columns)) {
      haveColumns = true;
      ++i;
    } else if (a == "--tables" && number(next, tables)) {
      haveTables = true;
      ++i;
    } else {
      std::fprintf(stderr, "quarlex-mkdb: unexpected argument \"%s\"\n", a.c_str());
      return usage();
    }
  }
  try {
    if (mode == "--sample" && !haveRows && !haveColumns && !haveTables) {
      auto s = mkdb::writeSample(path);
      std::printf("%s: %llu pages\n", path.c_str(), static_cast<unsigned long long>(s.pages));
      return 0;
    }
    if (mode == "--synthetic" && haveRows && haveColumns) {
      if (columns < 1 || columns > 255) {
        std::fprintf(stderr, "quarlex-mkdb: --columns must be 1 to 255\n");
        return 2;
      }
      if (tables < 1 || tables > 1000) {
        std::fprintf(stderr, "quarlex-mkdb: --tables must be 1 to 1000\n");
        return 2;
      }
      auto s = mkdb::writeSynthetic(path, rows, int(columns), int(tables));
      std::printf("%s: %llu records, %llu pages\n", path.c_str(),
                  static_cast<unsigned long long>(s.rowCounts.at(0)),
                  static_cast<unsigned long long>(s.pages));
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quarlex-mkdb: %s\n", e.what());
    return 1;
  }
  return usage();
}
