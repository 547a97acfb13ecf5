// Writing a million rows of ten mixed columns (sixteen sheets of 65,531 rows) into each format,
// and the same work through libxlsxwriter in constant-memory mode. Each run is a child process,
// so its peak memory (ru_maxrss) is its own.
//
//   bench_workbook [--sheets N] [--rows N] [--out DIR] [--only xlsx|xls|libxlsxwriter]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "workbook/xl.h"

#ifdef QUARLEX_BENCH_LIBXLSXWRITER
#include <xlsxwriter.h>
#endif

namespace {

int sheets = 16, rowsPerSheet = 65531;
constexpr int kCols = 10;

// The cells of one row: numbers, texts and booleans as a table export gives them.
struct RowValues {
  double id, price, serial, ratio;
  bool flag, other;
  char name[48], address[96], code[24], note[64];
};

void makeRow(long n, RowValues& v) {
  v.id = static_cast<double>(n);
  v.price = static_cast<double>(n % 100000) / 100.0;
  v.serial = 40000.0 + static_cast<double>(n % 9000);
  v.ratio = static_cast<double>(n) / 7.0;
  v.flag = n % 3 == 0;
  v.other = n % 5 == 0;
  std::snprintf(v.name, sizeof v.name, "Customer %ld", n);
  std::snprintf(v.address, sizeof v.address, "%ld Long Street, Building %ld, Springfield", n % 997, n % 13);
  std::snprintf(v.code, sizeof v.code, "C-%08ld", n * 7919 % 100000000);
  std::snprintf(v.note, sizeof v.note, "note %ld: ordered on time", n % 31);
}

bool runOurs(bool xml, const std::string& file) {
  BookHandle book = xml ? xlCreateXMLBookCA() : xlCreateBookCA();
  RowValues v;
  long n = 0;
  for (int s = 0; s < sheets; ++s) {
    SheetHandle sh = xlBookAddSheetA(book, ("Table" + std::to_string(s + 1)).c_str(), nullptr);
    if (!sh) return false;
    for (int r = 0; r < rowsPerSheet; ++r, ++n) {
      makeRow(n, v);
      xlSheetWriteNumA(sh, r, 0, v.id, nullptr);
      xlSheetWriteStrA(sh, r, 1, v.name, nullptr);
      xlSheetWriteNumA(sh, r, 2, v.price, nullptr);
      xlSheetWriteBoolA(sh, r, 3, v.flag, nullptr);
      xlSheetWriteStrA(sh, r, 4, v.address, nullptr);
      xlSheetWriteNumA(sh, r, 5, v.serial, nullptr);
      xlSheetWriteStrA(sh, r, 6, v.code, nullptr);
      xlSheetWriteNumA(sh, r, 7, v.ratio, nullptr);
      xlSheetWriteBoolA(sh, r, 8, v.other, nullptr);
      xlSheetWriteStrA(sh, r, 9, v.note, nullptr);
    }
  }
  bool ok = xlBookSaveA(book, file.c_str()) != 0;
  if (!ok) std::fprintf(stderr, "save failed: %s\n", xlBookErrorMessageA(book));
  xlBookReleaseA(book);
  return ok;
}

#ifdef QUARLEX_BENCH_LIBXLSXWRITER
bool runLibxlsxwriter(const std::string& file) {
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* wb = workbook_new_opt(file.c_str(), &options);
  if (!wb) return false;
  RowValues v;
  long n = 0;
  for (int s = 0; s < sheets; ++s) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, ("Table" + std::to_string(s + 1)).c_str());
    for (int r = 0; r < rowsPerSheet; ++r, ++n) {
      makeRow(n, v);
      auto row = static_cast<lxw_row_t>(r);
      worksheet_write_number(ws, row, 0, v.id, nullptr);
      worksheet_write_string(ws, row, 1, v.name, nullptr);
      worksheet_write_number(ws, row, 2, v.price, nullptr);
      worksheet_write_boolean(ws, row, 3, v.flag, nullptr);
      worksheet_write_string(ws, row, 4, v.address, nullptr);
      worksheet_write_number(ws, row, 5, v.serial, nullptr);
      worksheet_write_string(ws, row, 6, v.code, nullptr);
      worksheet_write_number(ws, row, 7, v.ratio, nullptr);
      worksheet_write_boolean(ws, row, 8, v.other, nullptr);
      worksheet_write_string(ws, row, 9, v.note, nullptr);
    }
  }
  return workbook_close(wb) == LXW_NO_ERROR;
}
#endif

void measure(const char* label, const std::string& file, bool (*work)(const std::string&)) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) _exit(work(file) ? 0 : 1);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cells = static_cast<double>(sheets) * rowsPerSheet * kCols;
  std::error_code ec;
  auto size = std::filesystem::file_size(file, ec);
  std::printf("%-16s %s  %8.2f s  %12.0f cells/s  peak %7.1f MB  file %8.1f MB\n", label,
              WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "ok    " : "FAILED", seconds,
              cells / seconds, usage.ru_maxrss / 1024.0, ec ? 0.0 : size / 1048576.0);
  std::fflush(stdout);
  std::filesystem::remove(file, ec);
}

}  // namespace

int main(int argc, char** argv) {
  std::string out = std::filesystem::temp_directory_path().string(), only;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--sheets")) sheets = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--rows")) rowsPerSheet = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--out")) out = argv[i + 1];
    else if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
  }
  std::printf("%d sheets x %d rows x %d columns = %.0f cells\n", sheets, rowsPerSheet, kCols,
              static_cast<double>(sheets) * rowsPerSheet * kCols);
  std::string base = out + "/quarlex-bench-" + std::to_string(getpid());
  if (only.empty() || only == "xlsx")
    measure("quarlex .xlsx", base + ".xlsx", [](const std::string& f) { return runOurs(true, f); });
  if (only.empty() || only == "xls")
    measure("quarlex .xls", base + ".xls", [](const std::string& f) { return runOurs(false, f); });
#ifdef QUARLEX_BENCH_LIBXLSXWRITER
  if (only.empty() || only == "libxlsxwriter")
    measure("libxlsxwriter", base + "-lxw.xlsx", runLibxlsxwriter);
#else
  std::printf("libxlsxwriter           not built (install libxlsxwriter-dev)\n");
#endif
  return 0;
}
